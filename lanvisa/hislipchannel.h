// One HiSLIP connection (synchronous or asynchronous channel): sends whole
// messages and reads headers and small payloads within a deadline, keeping
// the stream in step when a wait ends half-way through a header or payload.
#pragma once

#include "tcpconnection.h"

#include "protocol/hislip.h"

#include <string>

namespace lanvisa {

class HislipChannel
{
public:
    /// Longest text kept from an Error or FatalError payload; the rest is skipped.
    static constexpr size_t kMaxTextPayload = 1024;

    TcpConnection& connection() { return m_conn; }
    const TcpConnection& connection() const { return m_conn; }
    void close();
    /// False after a malformed header or a half-sent message: nothing more can be framed.
    bool usable() const { return !m_desynchronised && m_conn.isOpen() && !m_conn.broken(); }

    /// Sends header and payload in one go. A partial send desynchronises the channel.
    ViStatus send(quarnel::protocol::hislip::Type type, uint8_t control, uint32_t parameter, const uint8_t* payload,
                  size_t size, const Deadline& deadline);
    ViStatus send(quarnel::protocol::hislip::Type type, uint8_t control, uint32_t parameter, const Deadline& deadline)
    {
        return send(type, control, parameter, nullptr, 0, deadline);
    }
    /// Reads the next header (skipping what is left of a payload given up on).
    /// A wrong prologue: VI_ERROR_IO, and the channel is desynchronised.
    ViStatus readHeader(quarnel::protocol::hislip::Header& header, const Deadline& deadline);
    /// Reads a payload of `length` bytes, keeping at most `keep` of them in `out`.
    ViStatus readPayload(uint64_t length, size_t keep, std::string& out, const Deadline& deadline);
    /// Skips a payload; a time-out leaves the rest to be skipped before the next header.
    ViStatus skipPayload(uint64_t length, const Deadline& deadline);
    /// Payload bytes still to be dropped before the next header.
    void addSkip(uint64_t length) { m_skipLeft += length; }

private:
    ViStatus skipPending(const Deadline& deadline);

    TcpConnection m_conn;
    uint64_t m_skipLeft = 0;
    bool m_desynchronised = false;
};

}  // namespace lanvisa
