// HiSLIP client (TCPIP::host::hislipN[,port]::INSTR) in synchronized mode:
// a synchronous channel for Data/DataEND and device-clear completion, an
// asynchronous one for status, remote/local, lock, maximum size and the start
// of a device clear.
//
// Replies carry the MessageID of the request they answer; anything else on
// the synchronous channel (a reply to a request given up on, Interrupted) is
// dropped, so a late reply is never taken for the next one. Responses on the
// asynchronous channel come in request order; one that was given up on is
// dropped when it arrives.
#pragma once

#include "hislipchannel.h"
#include "rsrcname.h"
#include "transport.h"

#include "protocol/hislip.h"

namespace lanvisa {

class HislipTransport : public Transport
{
public:
    /// Version offered in Initialize.
    static constexpr uint16_t kClientVersion = quarnel::protocol::hislip::kVersion11;
    /// Largest message we accept: data payloads are streamed into the caller's
    /// buffer, so a large size costs no memory and saves headers.
    static constexpr uint64_t kClientMaxMessageSize = 256ull << 20;
    /// Payload per message when the server announces nothing usable.
    static constexpr uint64_t kFallbackMaxMessageSize = 1u << 20;
    /// Extra wait past the deadline for the server's answer to a lock request
    /// that waited as long as the deadline allowed.
    static constexpr uint32_t kReplyGraceMs = 500;
    /// Budget for releasing a lock on close.
    static constexpr uint32_t kCloseTimeoutMs = 1000;

    explicit HislipTransport(const ResourceName& name);
    ~HislipTransport() override;

    ViStatus open(const Deadline& deadline, bool exclusiveLock) override;
    /// The same set-up over two sockets already connected to a server (fuzzing).
    ViStatus openOver(int syncFd, int asyncFd, const Deadline& deadline);
    void close() override;
    ViStatus write(const uint8_t* data, size_t size, bool end, const Deadline& deadline, size_t& written) override;
    ChunkResult readChunk(uint8_t* buf, size_t max, const ReadRules& rules, const Deadline& deadline) override;
    ViStatus clear(const Deadline& deadline) override;
    ViStatus readStb(const Deadline& deadline, uint16_t ioProtocol, uint8_t& stb) override;
    ViStatus gpibControlRen(uint16_t mode, const Deadline& deadline) override;
    bool hasEnd() const override { return true; }
    std::string peerAddress() const override { return m_sync.connection().peerAddress(); }
    LinkInfo info() const override;

private:
    ViStatus initialize(const Deadline& deadline);
    /// AsyncInitialize, the maximum size exchange and the lock, if asked for.
    ViStatus setUpAsync(const Deadline& deadline, bool exclusiveLock);
    /// Sends one asynchronous request and waits for its response of type `expected`.
    ViStatus asyncExchange(quarnel::protocol::hislip::Type request, uint8_t control, uint32_t parameter,
                           const std::vector<uint8_t>& payload, quarnel::protocol::hislip::Type expected,
                           const Deadline& deadline, quarnel::protocol::hislip::Header& response,
                           std::string* responsePayload = nullptr);
    /// Handles a message that is no answer on either channel: Error and
    /// FatalError give a status (VI_SUCCESS: the message was dropped).
    ViStatus unexpected(HislipChannel& channel, const quarnel::protocol::hislip::Header& h, const Deadline& deadline);
    /// RMT-delivered bit for the next message that carries it (then cleared).
    uint8_t takeRmtDelivered();
    void fail();  ///< the link cannot go on: both channels closed
    /// After a failure on `channel`: a channel that lost its framing ends the link.
    ViStatus checked(HislipChannel& channel, ViStatus st);
    ChunkResult checked(HislipChannel& channel, ChunkResult result);

    ResourceName m_name;
    HislipChannel m_sync;
    HislipChannel m_async;
    bool m_open = false;
    bool m_locked = false;
    uint16_t m_version = 0;
    uint16_t m_sessionId = 0;
    uint64_t m_maxPayload = kFallbackMaxMessageSize;  ///< payload per message we send
    uint32_t m_nextMessageId = quarnel::protocol::hislip::kFirstMessageId;
    uint32_t m_lastMessageId = quarnel::protocol::hislip::kFirstMessageId - quarnel::protocol::hislip::kMessageIdStep;
    bool m_rmtDelivered = false;
    /// Responses per asynchronous type still owed for requests given up on.
    uint8_t m_lateAsync[quarnel::protocol::hislip::kLastBaseType + 1] = {};

    // The reply message being read on the synchronous channel.
    bool m_inData = false;
    bool m_dataEnd = false;
    uint32_t m_dataMessageId = 0;
    uint64_t m_dataLeft = 0;
};

/// VISA status for a HiSLIP Error control code.
ViStatus statusFromHislipError(uint8_t code);

}  // namespace lanvisa
