// The VXI-11 core channel of one instrument connection: create_link and
// destroy_link, device_write into the instrument, device_read of its replies
// (waiting within io_timeout, END on the last byte), locks, and the generic
// calls (status byte, trigger, clear, remote/local).
#include "vxi11core.h"

#include "linkregistry.h"

#include "protocol/rpc.h"
#include "protocol/vxi11.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <sys/socket.h>

namespace quarnel {
namespace bench {

namespace p = protocol;

namespace {

// Records larger than this are refused (the connection is closed): writes
// up to four times maxRecvSize still get their error 5 answered.
size_t maxRecord(uint32_t maxRecvSize)
{
    return 4 * static_cast<size_t>(maxRecvSize) + 4096;
}
constexpr uint32_t kMaxIoWaitMs = 24u * 3600u * 1000u;

const char* procedureName(uint32_t proc)
{
    switch (static_cast<p::CoreProc>(proc)) {
    case p::CoreProc::CreateLink:
        return "create_link";
    case p::CoreProc::DeviceWrite:
        return "device_write";
    case p::CoreProc::DeviceRead:
        return "device_read";
    case p::CoreProc::DeviceReadStb:
        return "device_readstb";
    case p::CoreProc::DeviceTrigger:
        return "device_trigger";
    case p::CoreProc::DeviceClear:
        return "device_clear";
    case p::CoreProc::DeviceRemote:
        return "device_remote";
    case p::CoreProc::DeviceLocal:
        return "device_local";
    case p::CoreProc::DeviceLock:
        return "device_lock";
    case p::CoreProc::DeviceUnlock:
        return "device_unlock";
    case p::CoreProc::DeviceEnableSrq:
        return "device_enable_srq";
    case p::CoreProc::DeviceDocmd:
        return "device_docmd";
    case p::CoreProc::DestroyLink:
        return "destroy_link";
    case p::CoreProc::CreateIntrChan:
        return "create_intr_chan";
    case p::CoreProc::DestroyIntrChan:
        return "destroy_intr_chan";
    }
    return "";
}

bool validDeviceName(const std::string& name)
{
    // "inst0", "inst1", ... in any case: the LAN device names of an instrument.
    if (name.size() < 5 || name.size() > 12)
        return false;
    for (size_t i = 0; i < 4; ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != "inst"[i])
            return false;
    for (size_t i = 4; i < name.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

}  // namespace

class CoreSession
{
public:
    CoreSession(const ServerContext& context, int fd, Instrument instrument, int connection)
        : ctx(context), core(context.core), fd(fd), inst(instrument), conn(connection)
    {
    }
    ~CoreSession() { releaseAll(); }

    void run()
    {
        readRecords(ctx, fd, maxRecord(core.options.maxRecvSize), kReceiveBuffer,
                    [&](const std::vector<uint8_t>& record) { return handle(record); });
    }

private:
    struct Link
    {
        std::shared_ptr<LinkRegistry::Link> shared;
        LinkState state;
    };

    /// Returns false when the connection must close.
    bool handle(const std::vector<uint8_t>& record)
    {
        p::XdrReader r(record.data(), record.size());
        p::DecodedCall call;
        if (!p::decodeCallHeader(r, call))
            return false;  // not an RPC call: nothing sensible to answer
        const uint32_t xid = call.header.xid;
        if (call.rpcVersion != p::kRpcVersion) {
            p::XdrWriter w = p::XdrWriter::forRecord();
            p::encodeDeniedReply(w, xid, p::RejectStat::RpcMismatch, p::kRpcVersion, p::kRpcVersion);
            return send(w);
        }
        if (call.header.program != p::kDeviceCoreProgram) {
            p::XdrWriter w = p::XdrWriter::forRecord();
            p::encodeAcceptedReply(w, xid, p::AcceptStat::ProgUnavail);
            return send(w);
        }
        if (call.header.version != p::kDeviceCoreVersion) {
            p::XdrWriter w = p::XdrWriter::forRecord();
            p::encodeAcceptedReply(w, xid, p::AcceptStat::ProgMismatch, 1, 1);
            return send(w);
        }
        const uint32_t proc = call.header.procedure;
        std::string name = procedureName(proc);
        if (name.empty()) {
            p::XdrWriter w = p::XdrWriter::forRecord();
            p::encodeAcceptedReply(w, xid, p::AcceptStat::ProcUnavail);
            return send(w);
        }

        // Scripted faults on the procedure itself.
        Fault fault;
        bool faulted = false;
        {
            std::lock_guard<std::mutex> lock(core.mutex);
            faulted = core.faults.takeProcedureFault(inst, name, fault);
        }
        int32_t forcedError = 0;
        if (faulted) {
            switch (fault.kind) {
            case FaultKind::NoReply:
                logProcedure(name, r, proc);
                return true;
            case FaultKind::DropConnection:
                logProcedure(name, r, proc);
                return false;
            case FaultKind::SlowReply:
                if (!interruptibleSleep(ctx, fault.delayMs))
                    return false;
                break;
            case FaultKind::CommandError:
                forcedError = fault.vxiError ? fault.vxiError : p::kErrIo;
                break;
            default:
                break;
            }
        }

        switch (static_cast<p::CoreProc>(proc)) {
        case p::CoreProc::CreateLink:
            return createLink(r, xid, forcedError);
        case p::CoreProc::DeviceWrite:
            return deviceWrite(r, xid, forcedError);
        case p::CoreProc::DeviceRead:
            return deviceRead(r, xid, forcedError);
        case p::CoreProc::DeviceReadStb:
        case p::CoreProc::DeviceTrigger:
        case p::CoreProc::DeviceClear:
        case p::CoreProc::DeviceRemote:
        case p::CoreProc::DeviceLocal:
            return generic(r, xid, proc, name, forcedError);
        case p::CoreProc::DeviceLock:
            return deviceLock(r, xid, forcedError);
        case p::CoreProc::DeviceUnlock:
        case p::CoreProc::DestroyLink:
            return linkOnly(r, xid, proc, name, forcedError);
        case p::CoreProc::DeviceEnableSrq: {
            int32_t lid = 0;
            uint32_t enable = 0;
            p::ByteView handle;
            bool ok = r.getInt32(lid) && r.getUint32(enable) && r.getOpaque(handle, 40);
            if (!ok)
                return garbage(xid);
            core.log(inst, LogKind::Procedure, Transport::Vxi11, conn, lid, name);
            return replyError(xid, forcedError ? forcedError : links.count(lid) ? p::kErrNone : p::kErrInvalidLinkId);
        }
        case p::CoreProc::DeviceDocmd:
        case p::CoreProc::CreateIntrChan: {
            core.log(inst, LogKind::Procedure, Transport::Vxi11, conn, 0, name);
            if (static_cast<p::CoreProc>(proc) == p::CoreProc::DeviceDocmd) {
                // Device_DocmdResp: error, empty data_out.
                p::XdrWriter w = p::XdrWriter::forRecord();
                p::encodeAcceptedReply(w, xid, p::AcceptStat::Success);
                w.putInt32(forcedError ? forcedError : p::kErrOperationNotSupported);
                w.putUint32(0);
                return send(w);
            }
            return replyError(xid, forcedError ? forcedError : p::kErrOperationNotSupported);
        }
        case p::CoreProc::DestroyIntrChan:
            core.log(inst, LogKind::Procedure, Transport::Vxi11, conn, 0, name);
            return replyError(xid, forcedError ? forcedError : p::kErrChannelNotEstablished);
        }
        return garbage(xid);
    }

    void logProcedure(const std::string& name, p::XdrReader r, uint32_t proc)
    {
        if (proc == static_cast<uint32_t>(p::CoreProc::DeviceWrite)
            || proc == static_cast<uint32_t>(p::CoreProc::DeviceRead))
            return;
        int32_t lid = 0;
        if (proc != static_cast<uint32_t>(p::CoreProc::CreateLink))
            r.getInt32(lid);
        core.log(inst, LogKind::Procedure, Transport::Vxi11, conn, lid, name);
    }

    bool send(p::XdrWriter& w)
    {
        if (!w.finishRecord())
            return false;
        return sendAll(fd, w.bytes().data(), w.size());
    }

    bool garbage(uint32_t xid)
    {
        p::XdrWriter w = p::XdrWriter::forRecord();
        p::encodeAcceptedReply(w, xid, p::AcceptStat::GarbageArgs);
        return send(w);
    }

    bool replyError(uint32_t xid, int32_t error)
    {
        p::XdrWriter w = p::XdrWriter::forRecord();
        p::encodeCoreReply(w, xid, p::DeviceError{error});
        return send(w);
    }

    /// Waits for the device lock (VXI-11 B.5: waitlock blocks up to lock_timeout).
    int32_t acquireLock(int lid, int32_t flags, uint32_t lockTimeoutMs)
    {
        const uint32_t waitMs = (flags & p::kFlagWaitLock) ? lockTimeoutMs : 0;
        return ctx.links.mayUse(inst, lid, waitMs) ? p::kErrNone : p::kErrDeviceLocked;
    }

    bool createLink(p::XdrReader& r, uint32_t xid, int32_t forcedError)
    {
        p::CreateLinkParms parms;
        if (!p::decode(r, parms))
            return garbage(xid);
        core.log(inst, LogKind::Procedure, Transport::Vxi11, conn, 0, "create_link", parms.device);
        p::CreateLinkResp resp;
        resp.abortPort = ctx.ports[static_cast<int>(inst)].abort;
        resp.maxRecvSize = core.options.maxRecvSize;
        if (forcedError) {
            resp.error = forcedError;
        } else if (!validDeviceName(parms.device)) {
            resp.error = p::kErrInvalidAddress;
        } else if (static_cast<int>(links.size()) >= kMaxLinksPerConnection) {
            resp.error = p::kErrOutOfResources;
        } else {
            int lid = 0;
            auto shared = ctx.links.add(inst, conn, lid);
            if (parms.lockDevice && !ctx.links.lock(inst, lid, parms.lockTimeout)) {
                ctx.links.remove(lid);
                resp.error = p::kErrDeviceLocked;
            }
            if (!resp.error) {
                links[lid].shared = shared;
                resp.lid = lid;
            }
        }
        p::XdrWriter w = p::XdrWriter::forRecord();
        p::encodeCoreReply(w, xid, resp);
        return send(w);
    }

    bool deviceWrite(p::XdrReader& r, uint32_t xid, int32_t forcedError)
    {
        p::DeviceWriteParms parms;
        if (!p::decode(r, parms, static_cast<uint32_t>(maxRecord(core.options.maxRecvSize))))
            return garbage(xid);
        p::DeviceWriteResp resp;
        auto it = links.find(parms.lid);
        if (forcedError) {
            resp.error = forcedError;
        } else if (it == links.end()) {
            resp.error = p::kErrInvalidLinkId;
        } else if (parms.data.size > core.options.maxRecvSize) {
            resp.error = p::kErrParameter;  // nothing transferred (B.6.12)
        } else if (int32_t e = acquireLock(parms.lid, parms.flags, parms.lockTimeout)) {
            resp.error = e;
        } else {
            bool end = (parms.flags & p::kFlagEnd) != 0;
            Core::Outcome o = core.feed(inst, it->second.state, reinterpret_cast<const char*>(parms.data.data),
                                        parms.data.size, end, Transport::Vxi11, conn, parms.lid);
            if (o == Core::Outcome::Drop)
                return false;
            resp.size = static_cast<uint32_t>(parms.data.size);
        }
        p::XdrWriter w = p::XdrWriter::forRecord();
        p::encodeCoreReply(w, xid, resp);
        return send(w);
    }

    /// Device_ReadResp as one record: the head built here, the data straight
    /// from the reply buffer and its padding, in a single gathered send.
    bool readReply(uint32_t xid, int32_t error, int32_t reason, const char* data, uint32_t n)
    {
        p::XdrWriter w = p::XdrWriter::forRecord();
        p::encodeAcceptedReply(w, xid, p::AcceptStat::Success);
        p::encodeReadRespHead(w, error, reason, n);
        static const char zeros[p::kXdrUnit] = {0, 0, 0, 0};
        const size_t padding = p::xdrPadding(n);
        const size_t body = w.size() - p::kRecordMarkSize + n + padding;
        if (body > p::kMaxFragmentLength)
            return false;
        p::storeBigEndian32(w.bytes().data(), p::encodeFragmentHeader(static_cast<uint32_t>(body), true));
        iovec pieces[3] = {
            {w.bytes().data(), w.size()}, {const_cast<char*>(data), n}, {const_cast<char*>(zeros), padding}};
        return sendAllv(fd, pieces, 3);
    }

    bool deviceRead(p::XdrReader& r, uint32_t xid, int32_t forcedError)
    {
        p::DeviceReadParms parms;
        if (!p::decode(r, parms))
            return garbage(xid);
        auto it = links.find(parms.lid);
        if (forcedError)
            return readReply(xid, forcedError, 0, nullptr, 0);
        if (it == links.end())
            return readReply(xid, p::kErrInvalidLinkId, 0, nullptr, 0);
        if (int32_t e = acquireLock(parms.lid, parms.flags, parms.lockTimeout))
            return readReply(xid, e, 0, nullptr, 0);
        Link& link = it->second;
        PendingReply& reply = link.state.reply;

        // Wait for a reply that is ready, within io_timeout.
        auto deadline = Clock::now() + std::chrono::milliseconds(std::min(parms.ioTimeout, kMaxIoWaitMs));
        for (;;) {
            if (ctx.stopping)
                return false;
            if (link.shared->abort.exchange(false))
                return readReply(xid, p::kErrAbort, 0, nullptr, 0);
            auto now = Clock::now();
            if (reply.active && now >= reply.readyAt)
                break;
            if (now >= deadline) {
                if (!reply.active) {
                    // Asked to talk with nothing to say (488.2 query unterminated).
                    std::lock_guard<std::mutex> g(core.mutex);
                    core.engine(inst).pushError(scpi::QueryUnterminated);
                }
                return readReply(xid, p::kErrIoTimeout, 0, nullptr, 0);
            }
            if (ctx.links.sleep(*link.shared, reply.active ? std::min(deadline, reply.readyAt) : deadline))
                return readReply(xid, p::kErrAbort, 0, nullptr, 0);
        }

        if (reply.streamPeriodMs > 0 && reply.pos >= reply.size()) {
            // Scripted: the reply never ends; a piece of filler per period.
            const std::string& filler = streamFiller();
            size_t n = std::min<size_t>(parms.requestSize, filler.size());
            reply.readyAt = Clock::now() + std::chrono::milliseconds(reply.streamPeriodMs);
            return readReply(xid, p::kErrNone, n == parms.requestSize ? p::kReasonReqCnt : 0, filler.data(),
                             static_cast<uint32_t>(n));
        }
        size_t limit = reply.size();
        if (reply.dropAt >= 0)
            limit = std::min(limit, static_cast<size_t>(reply.dropAt));
        if (reply.pos >= limit && reply.dropAt >= 0)
            return false;  // scripted: the connection breaks here
        size_t n = std::min<size_t>({parms.requestSize, limit - reply.pos, kMaxReadChunk});
        int32_t reason = 0;
        // Held here: the reply may be cleared below while its bytes still go out.
        const std::shared_ptr<const std::string> bytes = reply.data;
        const char* start = reply.bytes() + reply.pos;
        if (parms.flags & p::kFlagTermCharSet) {
            const void* hit = memchr(start, parms.termChar, n);
            if (hit) {
                n = static_cast<size_t>(static_cast<const char*>(hit) - start) + 1;
                reason |= p::kReasonChr;
            }
        }
        if (reply.pos + n == reply.size() && reply.streamPeriodMs == 0)
            reason |= p::kReasonEnd;
        if (n == parms.requestSize)
            reason |= p::kReasonReqCnt;
        reply.pos += n;
        bool dropNow = reply.dropAt >= 0 && reply.pos >= static_cast<size_t>(reply.dropAt);
        if (reason & p::kReasonEnd)
            reply.clear();
        if (!readReply(xid, p::kErrNone, reason, start, static_cast<uint32_t>(n)))
            return false;
        if (dropNow) {
            // Give the partial data time to leave before the connection breaks.
            ::shutdown(fd, SHUT_RDWR);
            return false;
        }
        return true;
    }

    bool generic(p::XdrReader& r, uint32_t xid, uint32_t proc, const std::string& name, int32_t forcedError)
    {
        p::DeviceGenericParms parms;
        if (!p::decode(r, parms))
            return garbage(xid);
        core.log(inst, LogKind::Procedure, Transport::Vxi11, conn, parms.lid, name);
        auto it = links.find(parms.lid);
        int32_t error = forcedError;
        if (!error && it == links.end())
            error = p::kErrInvalidLinkId;
        if (!error)
            error = acquireLock(parms.lid, parms.flags, parms.lockTimeout);
        uint8_t stb = 0;
        if (!error) {
            Link& link = it->second;
            switch (static_cast<p::CoreProc>(proc)) {
            case p::CoreProc::DeviceReadStb: {
                std::lock_guard<std::mutex> lock(core.mutex);
                stb = core.engine(inst).statusByte(link.state.reply.unread());
                break;
            }
            case p::CoreProc::DeviceTrigger: {
                {
                    std::lock_guard<std::mutex> lock(core.mutex);
                    ExecContext exec;
                    exec.core = &core;
                    core.engine(inst).trigger(exec);
                }
                core.flushCallbacks();
                break;
            }
            case p::CoreProc::DeviceClear:
                // Device clear: input buffer and output queue emptied, parser reset.
                link.state.input.clear();
                link.state.reply.clear();
                link.shared->abort = false;
                break;
            default:
                break;  // remote/local: nothing changes what the bench answers
            }
        }
        p::XdrWriter w = p::XdrWriter::forRecord();
        if (static_cast<p::CoreProc>(proc) == p::CoreProc::DeviceReadStb)
            p::encodeCoreReply(w, xid, p::DeviceReadStbResp{error, stb});
        else
            p::encodeCoreReply(w, xid, p::DeviceError{error});
        return send(w);
    }

    bool deviceLock(p::XdrReader& r, uint32_t xid, int32_t forcedError)
    {
        int32_t lid = 0, flags = 0;
        uint32_t lockTimeout = 0;
        if (!(r.getInt32(lid) && r.getInt32(flags) && r.getUint32(lockTimeout)))
            return garbage(xid);
        core.log(inst, LogKind::Procedure, Transport::Vxi11, conn, lid, "device_lock");
        int32_t error = forcedError;
        if (!error && !links.count(lid))
            error = p::kErrInvalidLinkId;
        if (!error && ctx.links.holds(inst, lid))
            error = p::kErrDeviceLocked;
        if (!error && !ctx.links.lock(inst, lid, (flags & p::kFlagWaitLock) ? lockTimeout : 0))
            error = p::kErrDeviceLocked;
        return replyError(xid, error);
    }

    bool linkOnly(p::XdrReader& r, uint32_t xid, uint32_t proc, const std::string& name, int32_t forcedError)
    {
        p::DeviceLink parms;
        if (!p::decode(r, parms))
            return garbage(xid);
        core.log(inst, LogKind::Procedure, Transport::Vxi11, conn, parms.lid, name);
        int32_t error = forcedError;
        if (!error && !links.count(parms.lid))
            error = p::kErrInvalidLinkId;
        if (!error && static_cast<p::CoreProc>(proc) == p::CoreProc::DeviceUnlock && !ctx.links.unlock(inst, parms.lid))
            error = p::kErrNoLockHeld;
        else if (!error && static_cast<p::CoreProc>(proc) == p::CoreProc::DestroyLink)
            ctx.links.remove(parms.lid);
        if (!error && static_cast<p::CoreProc>(proc) == p::CoreProc::DestroyLink)
            links.erase(parms.lid);
        return replyError(xid, error);
    }

    void releaseAll()
    {
        // Locks belong to the connection and go with it (B.6.18).
        for (auto& entry : links)
            ctx.links.remove(entry.first);
        links.clear();
    }

    const ServerContext& ctx;
    Core& core;
    int fd;
    Instrument inst;
    int conn;
    std::map<int, Link> links;
};

void serveVxi11Core(const ServerContext& ctx, int fd, Instrument instrument, int connection)
{
    CoreSession session(ctx, fd, instrument, connection);
    session.run();
}

}  // namespace bench
}  // namespace quarnel
