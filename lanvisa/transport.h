// The transport interface: what a session needs from one kind of instrument
// link. VXI-11, HiSLIP and raw SOCKET implement it; USBTMC would too.
// Every call takes the operation's deadline, so a VISA time-out is one budget
// for the whole operation however many wire exchanges it needs.
#pragma once

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

    static ChunkResult failed(ViStatus status)
    {
        ChunkResult r;
        r.status = status;
        return r;
    }
};

/// Attribute defaults that differ from VISA's for a kind of link.
struct ReadDefaults
{
    bool termCharEnabled = false;
    bool suppressEndEnabled = false;
};

/// What the session reports about the link through attributes.
struct LinkInfo
{
    bool exclusiveLock = false;
    /// HiSLIP only: negotiated version in VISA form (0x00100000 = 1.0) and the
    /// largest message accepted from the server, in KiB.
    ViVersion hislipVersion = 0;
    uint32_t maxMessageKb = 0;
};

class Transport
{
public:
    virtual ~Transport() = default;

    /// Connects and sets up the link. `exclusiveLock` asks for the device lock
    /// where the protocol has one.
    virtual ViStatus open(const Deadline& deadline, bool exclusiveLock) = 0;
    /// Releases the link; bounded time, never fails.
    virtual void close() = 0;
    /// Sends all bytes; `end` marks the last byte with END where the protocol can.
    virtual ViStatus write(const uint8_t* data, size_t size, bool end, const Deadline& deadline, size_t& written) = 0;
    /// Reads what arrives next, up to max bytes.
    virtual ChunkResult readChunk(uint8_t* buf, size_t max, const ReadRules& rules, const Deadline& deadline) = 0;
    /// Device clear; also drops input that belongs to earlier requests.
    virtual ViStatus clear(const Deadline& deadline) = 0;
    /// Status byte; `ioProtocol` is the session's VI_ATTR_IO_PROT.
    virtual ViStatus readStb(const Deadline& deadline, uint16_t ioProtocol, uint8_t& stb) = 0;
    /// viGpibControlREN with a mode of 0..6 (VI_GPIB_REN_*).
    virtual ViStatus gpibControlRen(uint16_t mode, const Deadline& deadline) = 0;
    /// True when the protocol marks message ends (END); false for raw sockets.
    virtual bool hasEnd() const = 0;
    /// Dotted address of the instrument once connected.
    virtual std::string peerAddress() const = 0;
    /// Socket options; transports without them report VI_ERROR_NSUP_ATTR.
    virtual ViStatus setNoDelay(bool) { return VI_ERROR_NSUP_ATTR; }
    virtual ViStatus setKeepAlive(bool) { return VI_ERROR_NSUP_ATTR; }
    /// VI_ATTR_IO_PROT values the link can honour.
    virtual bool acceptsIoProtocol(uint16_t protocol) const { return protocol == VI_PROT_NORMAL; }
    virtual ReadDefaults readDefaults() const { return ReadDefaults(); }
    virtual LinkInfo info() const { return LinkInfo(); }
};

}  // namespace lanvisa
