// VXI-11 core channel client: portmapper lookup, create_link, device_write
// split at maxRecvSize, device_read streamed into the caller's buffer, and the
// Device_GenericParms calls. One core connection per session.
#pragma once

#include "rpcchannel.h"
#include "rsrcname.h"
#include "tcpconnection.h"
#include "transport.h"

#include "protocol/portmap.h"
#include "protocol/vxi11.h"

namespace lanvisa {

class Vxi11Transport : public Transport
{
public:
    /// Write chunk when a server announces maxRecvSize 0.
    static constexpr uint32_t kFallbackMaxRecvSize = 4096;
    /// Largest write chunk used whatever the server announces.
    static constexpr uint32_t kMaxWriteChunk = 1024 * 1024;
    /// Largest requestSize of one device_read.
    static constexpr uint32_t kMaxReadRequest = 64 * 1024 * 1024;
    /// Extra wait past the VISA deadline for the server's own io_timeout reply.
    static constexpr uint32_t kReplyGraceMs = 500;
    /// Budget for destroy_link on close.
    static constexpr uint32_t kCloseTimeoutMs = 1000;

    explicit Vxi11Transport(const ResourceName& name, uint16_t portmapperPort = quarnel::protocol::kPmapPort);
    ~Vxi11Transport() override;

    ViStatus open(const Deadline& deadline, bool exclusiveLock) override;
    void close() override;
    ViStatus write(const uint8_t* data, size_t size, bool end, const Deadline& deadline, size_t& written) override;
    ChunkResult readChunk(uint8_t* buf, size_t max, const ReadRules& rules, const Deadline& deadline) override;
    ViStatus clear(const Deadline& deadline) override;
    ViStatus readStb(const Deadline& deadline, uint16_t ioProtocol, uint8_t& stb) override;
    ViStatus gpibControlRen(uint16_t mode, const Deadline& deadline) override;
    bool hasEnd() const override { return true; }
    std::string peerAddress() const override { return m_core.peerAddress(); }
    LinkInfo info() const override;

    uint32_t maxRecvSize() const { return m_maxRecvSize; }

private:
    ViStatus lookupCorePort(const std::vector<in_addr>& addresses, const Deadline& deadline, uint16_t& port);
    ViStatus genericCall(quarnel::protocol::CoreProc proc, const Deadline& deadline, std::vector<uint8_t>& head,
                         size_t& offset);
    /// A Device_GenericParms call whose result is a Device_Error.
    ViStatus deviceErrorCall(quarnel::protocol::CoreProc proc, const Deadline& deadline);
    template <class Args, class Result>
    ViStatus coreCall(quarnel::protocol::CoreProc proc, const Args& args, const Deadline& deadline, Result& result);

    ResourceName m_name;
    uint16_t m_portmapperPort;
    TcpConnection m_core;
    RpcChannel m_rpc;
    int32_t m_lid = 0;
    bool m_linked = false;
    bool m_locked = false;
    uint32_t m_maxRecvSize = kFallbackMaxRecvSize;
};

/// io_timeout for a call that must finish by `deadline`.
uint32_t ioTimeoutFor(const Deadline& deadline);

}  // namespace lanvisa
