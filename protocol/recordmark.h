// ONC RPC record marking on TCP (RFC 5531 section 11): a record is one or more
// fragments, each preceded by a 4-byte big-endian header whose bit 31 marks
// the last fragment and whose bits 30..0 give the fragment length.
#pragma once

#include "xdr.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarnel {
namespace protocol {

constexpr size_t kRecordMarkSize = 4;
constexpr uint32_t kLastFragmentFlag = 0x80000000u;
constexpr uint32_t kMaxFragmentLength = 0x7FFFFFFFu;

struct FragmentHeader
{
    uint32_t length = 0;  ///< bytes of this fragment, header excluded
    bool last = false;    ///< last fragment of the record
};

/// Header word for a fragment of `length` bytes (length must be <= kMaxFragmentLength).
uint32_t encodeFragmentHeader(uint32_t length, bool last);
FragmentHeader decodeFragmentHeader(uint32_t word);

/// Frames `body` as one record split into fragments of at most maxFragment
/// bytes (at least 1). An empty body gives one empty last fragment.
std::vector<uint8_t> frameRecord(ByteView body, size_t maxFragment = kMaxFragmentLength);

/// Reassembles records from a byte stream fed in arbitrary pieces. Memory grows
/// only with bytes actually received and never past maxRecordSize: a fragment
/// header announcing more than that fails at once, before anything is stored.
class RecordAssembler
{
public:
    enum class Status {
        NeedMore,  ///< all input consumed, record not complete yet
        Complete,  ///< a record is ready in record(); later bytes were not consumed
        TooLarge   ///< the record exceeds maxRecordSize; the stream cannot be resynchronised
    };

    explicit RecordAssembler(size_t maxRecordSize);

    /// Consumes input up to the end of the next record; `consumed` tells how many
    /// bytes were used. After Complete, call takeRecord() or reset() before feeding on.
    Status feed(const uint8_t* data, size_t size, size_t& consumed);

    const std::vector<uint8_t>& record() const { return m_record; }
    std::vector<uint8_t> takeRecord();
    /// Drops any partial record and clears a failure.
    void reset();
    bool failed() const { return m_failed; }
    size_t maxRecordSize() const { return m_max; }

private:
    size_t m_max;
    std::vector<uint8_t> m_record;
    uint8_t m_header[kRecordMarkSize] = {};
    size_t m_headerFill = 0;
    size_t m_fragmentLeft = 0;
    bool m_inFragment = false;
    bool m_lastFragment = false;
    bool m_complete = false;
    bool m_failed = false;
};

}  // namespace protocol
}  // namespace quarnel
