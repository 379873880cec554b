// The portmapper of each instrument address (program 100000 version 2, over
// TCP and UDP): GETPORT for the VXI-11 core and abort channels, NULL, DUMP.
#include "portmapper.h"

#include "protocol/portmap.h"
#include "protocol/rpc.h"
#include "protocol/vxi11.h"

namespace quarnel {
namespace bench {

namespace p = protocol;

namespace {

constexpr size_t kMaxPortmapMessage = 4096;

/// Portmapper call on either transport; returns the reply body (empty: none).
std::vector<uint8_t> portmapReply(const ServerContext& ctx, const uint8_t* data, size_t size, Instrument instrument)
{
    p::XdrReader r(data, size);
    p::DecodedCall call;
    if (!p::decodeCallHeader(r, call))
        return {};
    const uint32_t xid = call.header.xid;
    p::XdrWriter w;
    if (call.rpcVersion != p::kRpcVersion) {
        p::encodeDeniedReply(w, xid, p::RejectStat::RpcMismatch, p::kRpcVersion, p::kRpcVersion);
        return w.take();
    }
    if (call.header.program != p::kPmapProgram) {
        p::encodeAcceptedReply(w, xid, p::AcceptStat::ProgUnavail);
        return w.take();
    }
    if (call.header.version != p::kPmapVersion) {
        p::encodeAcceptedReply(w, xid, p::AcceptStat::ProgMismatch, p::kPmapVersion, p::kPmapVersion);
        return w.take();
    }
    const int i = static_cast<int>(instrument);
    const uint32_t pmapPort = ctx.core.options.portmapperPort;
    switch (call.header.procedure) {
    case p::kPmapProcNull:
        p::encodeAcceptedReply(w, xid, p::AcceptStat::Success);
        return w.take();
    case p::kPmapProcGetPort: {
        p::PmapMapping m;
        if (!p::decodePmapMapping(r, m)) {
            p::encodeAcceptedReply(w, xid, p::AcceptStat::GarbageArgs);
            return w.take();
        }
        uint32_t port = 0;
        if (m.protocol == p::kIpProtoTcp && m.version == p::kDeviceCoreVersion) {
            if (m.program == p::kDeviceCoreProgram)
                port = ctx.ports[i].core;
            else if (m.program == p::kDeviceAsyncProgram)
                port = ctx.ports[i].abort;
        }
        if (m.program == p::kPmapProgram && m.version == p::kPmapVersion)
            port = pmapPort;
        p::encodeGetPortReply(w, xid, port);
        return w.take();
    }
    case p::kPmapProcDump: {  // the list of registered programs
        p::encodeAcceptedReply(w, xid, p::AcceptStat::Success);
        const p::PmapMapping list[] = {{p::kPmapProgram, p::kPmapVersion, p::kIpProtoTcp, pmapPort},
                                       {p::kPmapProgram, p::kPmapVersion, p::kIpProtoUdp, pmapPort},
                                       {p::kDeviceCoreProgram, 1, p::kIpProtoTcp, ctx.ports[i].core},
                                       {p::kDeviceAsyncProgram, 1, p::kIpProtoTcp, ctx.ports[i].abort}};
        for (const auto& m : list) {
            w.putBool(true);
            p::encodePmapMapping(w, m);
        }
        w.putBool(false);
        return w.take();
    }
    default:
        p::encodeAcceptedReply(w, xid, p::AcceptStat::ProcUnavail);
        return w.take();
    }
}

}  // namespace

void servePortmapTcp(const ServerContext& ctx, int fd, Instrument instrument)
{
    readRecords(ctx, fd, kMaxPortmapMessage, kMaxPortmapMessage, [&](const std::vector<uint8_t>& record) {
        const std::vector<uint8_t> body = portmapReply(ctx, record.data(), record.size(), instrument);
        const std::vector<uint8_t> framed = p::frameRecord(p::ByteView(body));
        return !body.empty() && sendAll(fd, framed.data(), framed.size());
    });
}

void serveUdpPortmap(const ServerContext& ctx, int fd, Instrument instrument)
{
    uint8_t buf[kMaxPortmapMessage];
    sockaddr_in peer;
    socklen_t len = sizeof peer;
    ssize_t n = ::recvfrom(fd, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&peer), &len);
    if (n <= 0)
        return;
    std::vector<uint8_t> body = portmapReply(ctx, buf, static_cast<size_t>(n), instrument);
    if (!body.empty())
        ::sendto(fd, body.data(), body.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&peer), len);
}

}  // namespace bench
}  // namespace quarnel
