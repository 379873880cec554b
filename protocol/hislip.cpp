#include "hislip.h"

#include <algorithm>

namespace quarnel {
namespace protocol {
namespace hislip {

namespace {
constexpr int kByteBits = 8;
constexpr int kHalfWordBits = 16;
constexpr uint32_t kLowHalf = 0xFFFFu;

void storeBigEndian64(uint8_t* p, uint64_t v)
{
    for (int i = 7; i >= 0; --i, v >>= kByteBits)
        p[i] = static_cast<uint8_t>(v);
}

uint64_t loadBigEndian64(const uint8_t* p)
{
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v = (v << kByteBits) | p[i];
    return v;
}
}  // namespace

void encodeHeader(uint8_t* out, const Header& h)
{
    out[0] = kPrologue0;
    out[1] = kPrologue1;
    out[2] = h.type;
    out[3] = h.control;
    storeBigEndian32(out + 4, h.parameter);
    storeBigEndian64(out + 8, h.length);
}

bool decodeHeader(const uint8_t* in, Header& h)
{
    if (in[0] != kPrologue0 || in[1] != kPrologue1)
        return false;
    h.type = in[2];
    h.control = in[3];
    h.parameter = loadBigEndian32(in + 4);
    h.length = loadBigEndian64(in + 8);
    return true;
}

std::vector<uint8_t> encodeMessage(Type type, uint8_t control, uint32_t parameter, ByteView payload)
{
    std::vector<uint8_t> out(kHeaderSize + payload.size);
    encodeHeader(out.data(), Header{static_cast<uint8_t>(type), control, parameter, payload.size});
    std::copy(payload.data, payload.data + payload.size, out.begin() + kHeaderSize);
    return out;
}

uint32_t initializeParameter(uint16_t version, const char vendor[2])
{
    return (uint32_t(version) << kHalfWordBits) | (uint32_t(uint8_t(vendor[0])) << kByteBits) | uint8_t(vendor[1]);
}

uint16_t versionOf(uint32_t parameter)
{
    return static_cast<uint16_t>(parameter >> kHalfWordBits);
}

uint32_t initializeResponseParameter(uint16_t version, uint16_t sessionId)
{
    return (uint32_t(version) << kHalfWordBits) | sessionId;
}

uint16_t sessionIdOf(uint32_t parameter)
{
    return static_cast<uint16_t>(parameter & kLowHalf);
}

uint16_t negotiatedVersion(uint16_t client, uint16_t server)
{
    return std::min(client, server);
}

std::vector<uint8_t> encodeMaximumSize(uint64_t size)
{
    std::vector<uint8_t> out(kMaximumSizePayload);
    storeBigEndian64(out.data(), size);
    return out;
}

bool decodeMaximumSize(ByteView payload, uint64_t& size)
{
    if (payload.size != kMaximumSizePayload)
        return false;
    size = loadBigEndian64(payload.data);
    return true;
}

MessageAssembler::Status MessageAssembler::feed(const uint8_t* data, size_t size, size_t& consumed)
{
    consumed = 0;
    while (true) {
        switch (m_state) {
        case State::Broken:
            return Status::BadHeader;
        case State::Ready:
            return Status::Complete;
        case State::Header: {
            const size_t k = std::min(kHeaderSize - m_headerFill, size - consumed);
            std::copy(data + consumed, data + consumed + k, m_headerBytes + m_headerFill);
            m_headerFill += k;
            consumed += k;
            if (m_headerFill < kHeaderSize)
                return Status::NeedMore;
            if (!decodeHeader(m_headerBytes, m_header)) {
                m_state = State::Broken;
                return Status::BadHeader;
            }
            m_left = m_header.length;
            m_payload.clear();
            if (m_left > m_max) {
                m_state = State::Skip;
                return Status::TooLarge;
            }
            m_state = State::Payload;
            break;
        }
        case State::Payload: {
            const size_t k = static_cast<size_t>(std::min<uint64_t>(m_left, size - consumed));
            m_payload.insert(m_payload.end(), data + consumed, data + consumed + k);
            consumed += k;
            m_left -= k;
            if (m_left > 0)
                return Status::NeedMore;
            m_state = State::Ready;
            return Status::Complete;
        }
        case State::Skip: {
            const size_t k = static_cast<size_t>(std::min<uint64_t>(m_left, size - consumed));
            consumed += k;
            m_left -= k;
            if (m_left > 0)
                return Status::NeedMore;
            m_headerFill = 0;
            m_state = State::Header;
            if (consumed == size)
                return Status::NeedMore;
            break;
        }
        }
    }
}

void MessageAssembler::next()
{
    if (m_state == State::Ready) {
        m_headerFill = 0;
        m_payload.clear();
        m_state = State::Header;
    }
}

}  // namespace hislip
}  // namespace protocol
}  // namespace quarnel
