// Formatted I/O for viPrintf/viScanf/viQueryf: printf- and scanf-like
// conversions over a session's message stream. Pure code: the scanner pulls
// bytes through a callback, so it is tested without any device.
//
// Write conversions: flags [-+ #0], width and precision (digits or *), length
// h/l/ll, and d i u o x X c s f F e E g G, plus %%.
// Read conversions: d i (short/int/long/long long by h/l/ll; NR1/NR2/NR3 text
// is rounded, 488.2 #H/#Q/#B accepted), f e g E G (float, double with l),
// s (width counts the NUL), c with a count (no NUL, stops at the message end),
// t (to the message end) and T (to the first LF), '*' to skip, '#' to take the
// width from an int* that then receives the count. Anything else: VI_ERROR_NSUP_FMT.
#pragma once

#include "visa.h"

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lanvisa {

/// A va_list that several functions consume in turn (viQueryf: write
/// arguments first, then read arguments).
struct VaArgs
{
    va_list ap;
};

/// Called after each conversion with the text so far; may send part of it
/// and return an error (a time-out) that ends the formatting.
using PrintProgress = std::function<ViStatus(std::string& out)>;

/// Appends the formatted text to `out`. VI_ERROR_INV_FMT for a malformed
/// format or a width or precision above 65536, VI_ERROR_NSUP_FMT for an
/// unsupported conversion.
ViStatus formatPrint(const char* format, VaArgs& args, std::string& out, const PrintProgress& progress = {});

/// The bytes of one reply message, fetched on demand.
class ScanInput
{
public:
    /// Appends the next bytes of the message to `out` and sets `ended` when the
    /// message is complete (END or termination character). Returns the read status.
    using Refill = std::function<ViStatus(std::vector<uint8_t>& out, bool& ended)>;

    explicit ScanInput(Refill refill) : m_refill(std::move(refill)) {}

    /// Next byte, or -1 at the end of the message or after an error (see status()).
    int peek();
    void advance() { ++m_pos; }
    /// Copies up to n bytes of the message; fewer only at its end.
    size_t take(char* dst, size_t n);
    /// Reads and drops the rest of the message, with bounded memory.
    ViStatus drain();
    /// First failure of the refill callback, VI_SUCCESS if none.
    ViStatus status() const { return m_status; }

private:
    bool ensure();

    Refill m_refill;
    std::vector<uint8_t> m_buf;
    size_t m_pos = 0;
    bool m_ended = false;
    ViStatus m_status = VI_SUCCESS;
};

/// Parses the message by `format`, storing through the pointers in args.
/// A conversion that meets the end of the message after at least one
/// assignment ends the scan with success (the rest of the format is ignored);
/// data that does not match, or a message that ends before anything was
/// assigned, gives VI_ERROR_INV_FMT. Read errors (time-out, ...) are returned as is.
ViStatus formatScan(const char* format, VaArgs& args, ScanInput& in);

}  // namespace lanvisa
