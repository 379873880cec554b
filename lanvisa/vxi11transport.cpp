#include "vxi11transport.h"

#include "resolver.h"
#include "status.h"

#include "protocol/portmap.h"
#include "protocol/recordmark.h"

#include <algorithm>
#include <random>

namespace lanvisa {

namespace p = quarnel::protocol;

namespace {
/// VXI-11 leaves io_timeout 0 undefined; ask for at least this.
constexpr uint32_t kMinIoTimeoutMs = 10;
constexpr int32_t kClientIdMask = 0x7FFFFFFF;
}  // namespace

uint32_t ioTimeoutFor(const Deadline& deadline)
{
    return std::max(deadline.remainingMs(), kMinIoTimeoutMs);
}

Vxi11Transport::Vxi11Transport(const ResourceName& name, uint16_t portmapperPort)
    : m_name(name), m_portmapperPort(portmapperPort), m_rpc(m_core)
{
}

Vxi11Transport::~Vxi11Transport()
{
    close();
}

template <class Args, class Result>
ViStatus Vxi11Transport::coreCall(p::CoreProc proc, const Args& args, const Deadline& deadline, Result& result)
{
    const uint32_t xid = m_rpc.newXid();
    p::XdrWriter w = p::XdrWriter::forRecord();
    p::encodeCoreCall(w, xid, proc, args);
    if (!w.finishRecord())
        return VI_ERROR_INV_SIZE;
    std::vector<uint8_t> head;
    size_t offset = 0;
    const ViStatus st = m_rpc.call(w.bytes(), xid, deadline, head, offset);
    if (st != VI_SUCCESS)
        return st;
    p::XdrReader r(head.data() + offset, head.size() - offset);
    return p::decode(r, result) ? VI_SUCCESS : VI_ERROR_IO;
}

ViStatus Vxi11Transport::lookupCorePort(const std::vector<in_addr>& addresses, const Deadline& deadline, uint16_t& port)
{
    TcpConnection pmap;
    ViStatus st = pmap.connect(addresses, m_portmapperPort, deadline);
    if (st != VI_SUCCESS)
        return st;
    RpcChannel rpc(pmap);
    const uint32_t xid = rpc.newXid();
    p::XdrWriter w = p::XdrWriter::forRecord();
    p::encodeGetPortCall(w, xid, p::PmapMapping{p::kDeviceCoreProgram, p::kDeviceCoreVersion, p::kIpProtoTcp, 0});
    w.finishRecord();
    std::vector<uint8_t> head;
    size_t offset = 0;
    st = rpc.call(w.bytes(), xid, deadline, head, offset);
    if (st == VI_ERROR_IO || st == VI_ERROR_CONN_LOST)
        return VI_ERROR_RSRC_NFOUND;  // a port 111 service that is no portmapper
    if (st != VI_SUCCESS)
        return st;
    p::XdrReader r(head.data() + offset, head.size() - offset);
    uint32_t value = 0;
    if (!p::decodeGetPortResult(r, value) || value == 0)
        return VI_ERROR_RSRC_NFOUND;  // no VXI-11 core service registered
    port = static_cast<uint16_t>(value);
    return VI_SUCCESS;
}

ViStatus Vxi11Transport::open(const Deadline& deadline, bool exclusiveLock)
{
    // One lookup for the portmapper and the core channel.
    std::vector<in_addr> addresses;
    ViStatus st = resolveIpv4(m_name.host, deadline, addresses);
    if (st != VI_SUCCESS)
        return st;
    uint16_t port = m_name.corePort;
    if (port == 0) {
        st = lookupCorePort(addresses, deadline, port);
        if (st != VI_SUCCESS)
            return st;
    }
    st = m_core.connect(addresses, port, deadline);
    if (st != VI_SUCCESS)
        return st;
    m_core.setNoDelay(true);

    std::random_device rd;
    p::CreateLinkParms parms;
    parms.clientId = static_cast<int32_t>(rd() & kClientIdMask);
    parms.lockDevice = exclusiveLock;
    parms.lockTimeout = exclusiveLock ? deadline.remainingMs() : 0;
    parms.device = m_name.deviceName;
    p::CreateLinkResp resp;
    // A lock wait runs out on the server first; its "locked" answer gets the grace period.
    st = coreCall(p::CoreProc::CreateLink, parms, exclusiveLock ? deadline.extendedBy(kReplyGraceMs) : deadline, resp);
    if (st != VI_SUCCESS) {
        m_core.close();
        return st == VI_ERROR_IO ? VI_ERROR_RSRC_NFOUND : st;
    }
    if (resp.error != p::kErrNone) {
        m_core.close();
        return statusFromVxi11Error(resp.error, Vxi11Context::Open);
    }
    m_lid = resp.lid;
    m_linked = true;
    m_locked = exclusiveLock;
    // Never trust the announced size blindly: 0 means "unknown", huge is capped.
    m_maxRecvSize = resp.maxRecvSize == 0 ? kFallbackMaxRecvSize : std::min(resp.maxRecvSize, kMaxWriteChunk);
    return VI_SUCCESS;
}

void Vxi11Transport::close()
{
    if (m_linked && m_rpc.usable()) {
        p::DeviceError err;
        coreCall(p::CoreProc::DestroyLink, p::DeviceLink{m_lid}, Deadline::afterMs(kCloseTimeoutMs), err);
    }
    m_linked = false;
    m_locked = false;
    m_core.close();
}

ViStatus Vxi11Transport::write(const uint8_t* data, size_t size, bool end, const Deadline& deadline, size_t& written)
{
    written = 0;
    if (!m_linked)
        return VI_ERROR_CONN_LOST;
    const Deadline replyDeadline = deadline.extendedBy(kReplyGraceMs);
    do {
        const size_t chunk = std::min<size_t>(size - written, m_maxRecvSize);
        const bool last = written + chunk == size;
        p::DeviceWriteParms parms;
        parms.lid = m_lid;
        parms.ioTimeout = ioTimeoutFor(deadline);
        parms.lockTimeout = 0;
        parms.flags = (last && end) ? p::kFlagEnd : 0;
        parms.data = p::ByteView(data + written, chunk);
        p::DeviceWriteResp resp;
        const ViStatus st = coreCall(p::CoreProc::DeviceWrite, parms, replyDeadline, resp);
        if (st != VI_SUCCESS)
            return st;
        if (resp.size > chunk)
            return VI_ERROR_IO;  // claims more than was sent
        written += resp.size;
        if (resp.error != p::kErrNone)
            return statusFromVxi11Error(resp.error, Vxi11Context::Io);
        if (resp.size == 0 && chunk > 0)
            return VI_ERROR_IO;  // no progress and no reason given
    } while (written < size);
    return VI_SUCCESS;
}

ChunkResult Vxi11Transport::readChunk(uint8_t* buf, size_t max, const ReadRules& rules, const Deadline& deadline)
{
    if (!m_linked)
        return ChunkResult::failed(VI_ERROR_CONN_LOST);
    ChunkResult result;
    const uint32_t request = static_cast<uint32_t>(std::min<size_t>(max, kMaxReadRequest));
    p::DeviceReadParms parms;
    parms.lid = m_lid;
    parms.requestSize = request;
    parms.ioTimeout = ioTimeoutFor(deadline);
    parms.lockTimeout = 0;
    parms.flags = rules.termCharEnabled ? p::kFlagTermCharSet : 0;
    parms.termChar = rules.termCharEnabled ? rules.termChar : 0;

    const Deadline replyDeadline = deadline.extendedBy(kReplyGraceMs);
    const uint32_t xid = m_rpc.newXid();
    p::XdrWriter w = p::XdrWriter::forRecord();
    p::encodeCoreCall(w, xid, p::CoreProc::DeviceRead, parms);
    w.finishRecord();
    std::vector<uint8_t> head;
    result.status = m_rpc.sendCall(w.bytes(), replyDeadline);
    if (result.status == VI_SUCCESS)
        result.status = m_rpc.beginReply(xid, replyDeadline, head);
    if (result.status != VI_SUCCESS)
        return result;

    p::XdrReader r(head.data(), head.size());
    p::ReplyHeader h;
    int32_t error = 0;
    int32_t reason = 0;
    uint32_t length = 0;
    if (!p::decodeReplyHeader(r, h) || !h.succeeded() || !p::decodeReadRespHead(r, error, reason, length)
        || length > request) {
        // Never take more than was asked for: a longer reply is a protocol fault.
        m_rpc.endReply(replyDeadline);
        return ChunkResult::failed(VI_ERROR_IO);
    }
    const size_t inHead = std::min<size_t>(length, r.remaining());
    std::copy(head.data() + r.offset(), head.data() + r.offset() + inHead, buf);
    ViStatus st = m_rpc.readBody(buf + inHead, length - inHead, replyDeadline);
    if (st == VI_SUCCESS)
        st = m_rpc.endReply(replyDeadline);
    if (st != VI_SUCCESS)
        return ChunkResult::failed(st);  // data of an incomplete reply is not handed out
    result.count = length;
    result.end = (reason & p::kReasonEnd) != 0;
    result.termChar = (reason & p::kReasonChr) != 0;
    result.status = statusFromVxi11Error(error, Vxi11Context::Io);
    return result;
}

ViStatus Vxi11Transport::genericCall(p::CoreProc proc, const Deadline& deadline, std::vector<uint8_t>& head,
                                     size_t& offset)
{
    if (!m_linked)
        return VI_ERROR_CONN_LOST;
    const uint32_t xid = m_rpc.newXid();
    p::XdrWriter w = p::XdrWriter::forRecord();
    p::encodeCoreCall(w, xid, proc, p::DeviceGenericParms{m_lid, 0, 0, ioTimeoutFor(deadline)});
    w.finishRecord();
    return m_rpc.call(w.bytes(), xid, deadline.extendedBy(kReplyGraceMs), head, offset);
}

ViStatus Vxi11Transport::deviceErrorCall(p::CoreProc proc, const Deadline& deadline)
{
    std::vector<uint8_t> head;
    size_t offset = 0;
    const ViStatus st = genericCall(proc, deadline, head, offset);
    if (st != VI_SUCCESS)
        return st;
    p::XdrReader r(head.data() + offset, head.size() - offset);
    p::DeviceError e;
    return p::decode(r, e) ? statusFromVxi11Error(e.error, Vxi11Context::Io) : VI_ERROR_IO;
}

ViStatus Vxi11Transport::clear(const Deadline& deadline)
{
    return deviceErrorCall(p::CoreProc::DeviceClear, deadline);
}

ViStatus Vxi11Transport::gpibControlRen(uint16_t mode, const Deadline& deadline)
{
    switch (mode) {
    case VI_GPIB_REN_DEASSERT:
    case VI_GPIB_REN_DEASSERT_GTL:
    case VI_GPIB_REN_ADDRESS_GTL:
        return deviceErrorCall(p::CoreProc::DeviceLocal, deadline);
    case VI_GPIB_REN_ASSERT_ADDRESS:
    case VI_GPIB_REN_ASSERT_ADDRESS_LLO:
        return deviceErrorCall(p::CoreProc::DeviceRemote, deadline);
    default:
        // Asserting REN alone or local lockout has no core-channel call.
        return VI_ERROR_NSUP_OPER;
    }
}

LinkInfo Vxi11Transport::info() const
{
    LinkInfo i;
    i.exclusiveLock = m_locked;
    return i;
}

ViStatus Vxi11Transport::readStb(const Deadline& deadline, uint16_t, uint8_t& stb)
{
    std::vector<uint8_t> head;
    size_t offset = 0;
    ViStatus st = genericCall(p::CoreProc::DeviceReadStb, deadline, head, offset);
    if (st != VI_SUCCESS)
        return st;
    p::XdrReader r(head.data() + offset, head.size() - offset);
    p::DeviceReadStbResp resp;
    if (!p::decode(r, resp))
        return VI_ERROR_IO;
    stb = resp.stb;
    return statusFromVxi11Error(resp.error, Vxi11Context::Io);
}

}  // namespace lanvisa
