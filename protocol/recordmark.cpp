#include "recordmark.h"

#include <algorithm>

namespace quarnel {
namespace protocol {

uint32_t encodeFragmentHeader(uint32_t length, bool last)
{
    return (length & kMaxFragmentLength) | (last ? kLastFragmentFlag : 0u);
}

FragmentHeader decodeFragmentHeader(uint32_t word)
{
    FragmentHeader h;
    h.length = word & kMaxFragmentLength;
    h.last = (word & kLastFragmentFlag) != 0;
    return h;
}

std::vector<uint8_t> frameRecord(ByteView body, size_t maxFragment)
{
    maxFragment = std::max<size_t>(1, std::min<size_t>(maxFragment, kMaxFragmentLength));
    const size_t fragments = body.size == 0 ? 1 : (body.size + maxFragment - 1) / maxFragment;
    std::vector<uint8_t> out;
    out.reserve(body.size + fragments * kRecordMarkSize);
    size_t pos = 0;
    do {
        const size_t n = std::min(maxFragment, body.size - pos);
        const bool last = pos + n == body.size;
        uint8_t h[kRecordMarkSize];
        storeBigEndian32(h, encodeFragmentHeader(static_cast<uint32_t>(n), last));
        out.insert(out.end(), h, h + kRecordMarkSize);
        if (n > 0)
            out.insert(out.end(), body.data + pos, body.data + pos + n);
        pos += n;
    } while (pos < body.size);
    return out;
}

RecordAssembler::RecordAssembler(size_t maxRecordSize) : m_max(maxRecordSize)
{
}

RecordAssembler::Status RecordAssembler::feed(const uint8_t* data, size_t size, size_t& consumed)
{
    consumed = 0;
    if (m_failed)
        return Status::TooLarge;
    if (m_complete)
        return Status::Complete;
    while (consumed < size) {
        if (!m_inFragment) {
            const size_t n = std::min(kRecordMarkSize - m_headerFill, size - consumed);
            std::copy(data + consumed, data + consumed + n, m_header + m_headerFill);
            m_headerFill += n;
            consumed += n;
            if (m_headerFill < kRecordMarkSize)
                break;
            m_headerFill = 0;
            const FragmentHeader h = decodeFragmentHeader(loadBigEndian32(m_header));
            if (h.length > m_max - m_record.size()) {
                m_failed = true;
                m_record.clear();
                m_record.shrink_to_fit();
                return Status::TooLarge;
            }
            m_fragmentLeft = h.length;
            m_lastFragment = h.last;
            m_inFragment = true;
        }
        const size_t n = std::min(m_fragmentLeft, size - consumed);
        m_record.insert(m_record.end(), data + consumed, data + consumed + n);
        consumed += n;
        m_fragmentLeft -= n;
        if (m_fragmentLeft == 0) {
            m_inFragment = false;
            if (m_lastFragment) {
                m_complete = true;
                return Status::Complete;
            }
        }
    }
    return Status::NeedMore;
}

std::vector<uint8_t> RecordAssembler::takeRecord()
{
    std::vector<uint8_t> r = std::move(m_record);
    m_record.clear();
    m_complete = false;
    return r;
}

void RecordAssembler::reset()
{
    m_record.clear();
    m_headerFill = 0;
    m_fragmentLeft = 0;
    m_inFragment = false;
    m_lastFragment = false;
    m_complete = false;
    m_failed = false;
}

}  // namespace protocol
}  // namespace quarnel
