// The transport interface: what a session needs from one kind of instrument
// link. VXI-11 and raw SOCKET implement it; HiSLIP and USBTMC would too.
// Every call takes the operation's deadline, so a VISA time-out is one budget
// for the whole operation however many wire exchanges it needs.
#ifndef QUARNEL_LANVISA_TRANSPORT_H
#define QUARNEL_LANVISA_TRANSPORT_H

#include "deadline.h"
#include "visa.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace lanvisa {

/// How the current read may end besides the count.
struct ReadRules
{
    bool termCharEnabled = false;
    uint8_t termChar = '\n';
    /// SOCKET only: with SUPPRESS_END_EN false a pause in the data counts as END.
    bool endOnPause = false;
};

/// Result of one readChunk: at most `max` bytes, possibly with END or the
/// termination character at its last byte. Bytes count even when status < 0.
struct ChunkResult
{
    ViStatus status = VI_SUCCESS;
    size_t count = 0;
    bool end = false;
    bool termChar = false;
};

class Transport
{
public:
    virtual ~Transport() = default;

    /// Connects and sets up the link. `exclusiveLock` asks for the device lock
    /// where the protocol has one.
    virtual ViStatus open(const Deadline &deadline, bool exclusiveLock) = 0;
    /// Releases the link; bounded time, never fails.
    virtual void close() = 0;
    /// Sends all bytes; `end` marks the last byte with END where the protocol can.
    virtual ViStatus write(const uint8_t *data, size_t size, bool end, const Deadline &deadline,
                           size_t &written) = 0;
    /// Reads what arrives next, up to max bytes.
    virtual ChunkResult readChunk(uint8_t *buf, size_t max, const ReadRules &rules, const Deadline &deadline) = 0;
    /// Device clear; also drops input that belongs to earlier requests.
    virtual ViStatus clear(const Deadline &deadline) = 0;
    virtual ViStatus readStb(const Deadline &deadline, uint8_t &stb) = 0;
    virtual ViStatus goToLocal(const Deadline &deadline) = 0;
    virtual ViStatus goToRemote(const Deadline &deadline) = 0;
    /// True when the protocol marks message ends (END); false for raw sockets.
    virtual bool hasEnd() const = 0;
    /// Dotted address of the instrument once connected.
    virtual std::string peerAddress() const = 0;
    /// Socket options; transports without them report VI_ERROR_NSUP_ATTR.
    virtual ViStatus setNoDelay(bool) { return VI_ERROR_NSUP_ATTR; }
    virtual ViStatus setKeepAlive(bool) { return VI_ERROR_NSUP_ATTR; }
};

} // namespace lanvisa

#endif
