#include "xdr.h"

#include "recordmark.h"

namespace quarnel {
namespace protocol {

void storeBigEndian32(uint8_t* p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

uint32_t loadBigEndian32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

XdrWriter XdrWriter::forRecord()
{
    XdrWriter w;
    w.m_buf.assign(kRecordMarkSize, 0);
    w.m_record = true;
    return w;
}

void XdrWriter::putUint32(uint32_t value)
{
    uint8_t b[kXdrUnit];
    storeBigEndian32(b, value);
    m_buf.insert(m_buf.end(), b, b + kXdrUnit);
}

void XdrWriter::putOpaque(const uint8_t* data, size_t size)
{
    putUint32(static_cast<uint32_t>(size));
    putFixedOpaque(data, size);
}

void XdrWriter::putFixedOpaque(const uint8_t* data, size_t size)
{
    if (size > 0)
        m_buf.insert(m_buf.end(), data, data + size);
    putPadding(size);
}

void XdrWriter::putPadding(size_t length)
{
    m_buf.insert(m_buf.end(), xdrPadding(length), uint8_t(0));
}

bool XdrWriter::finishRecord()
{
    if (!m_record || m_buf.size() < kRecordMarkSize)
        return false;
    const size_t body = m_buf.size() - kRecordMarkSize;
    if (body > kMaxFragmentLength)
        return false;
    storeBigEndian32(m_buf.data(), encodeFragmentHeader(static_cast<uint32_t>(body), true));
    return true;
}

bool XdrReader::getUint32(uint32_t& value)
{
    if (!m_ok || remaining() < kXdrUnit) {
        m_ok = false;
        return false;
    }
    value = loadBigEndian32(m_data + m_pos);
    m_pos += kXdrUnit;
    return true;
}

bool XdrReader::getInt32(int32_t& value)
{
    uint32_t u = 0;
    if (!getUint32(u))
        return false;
    value = static_cast<int32_t>(u);
    return true;
}

bool XdrReader::getBool(bool& value)
{
    uint32_t u = 0;
    if (!getUint32(u))
        return false;
    if (u > 1) {
        m_ok = false;
        return false;
    }
    value = (u == 1);
    return true;
}

bool XdrReader::getOpaque(ByteView& out, uint32_t maxLength)
{
    uint32_t len = 0;
    if (!getUint32(len))
        return false;
    // Compare in size_t: len + padding cannot overflow there.
    const size_t padded = size_t(len) + xdrPadding(len);
    if (len > maxLength || padded > remaining()) {
        m_ok = false;
        return false;
    }
    out = ByteView(m_data + m_pos, len);
    m_pos += padded;
    return true;
}

bool XdrReader::getString(std::string& out, uint32_t maxLength)
{
    ByteView v;
    if (!getOpaque(v, maxLength))
        return false;
    out = v.toString();
    return true;
}

bool XdrReader::skipOpaque(uint32_t maxLength)
{
    ByteView v;
    return getOpaque(v, maxLength);
}

}  // namespace protocol
}  // namespace quarnel
