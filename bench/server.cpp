#include "server.h"

#include "protocol/portmap.h"
#include "protocol/recordmark.h"
#include "protocol/rpc.h"
#include "protocol/vxi11.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace quarnel {
namespace bench {

namespace p = protocol;

namespace {

// Records larger than this are refused (the connection is closed): writes
// up to four times maxRecvSize still get their error 5 answered.
size_t maxRecord(uint32_t maxRecvSize) { return 4 * static_cast<size_t>(maxRecvSize) + 4096; }
constexpr uint32_t kMaxIoWaitMs = 24u * 3600u * 1000u;
// A large raw-socket reply goes out in pieces of this size: one send() of a
// whole 40 MB block streamed measurably slower on loopback (10-20 %) than
// pieces of a few MB.
constexpr size_t kRawSendPiece = 4u << 20;

/// Sends every piece, in order, with as few system calls as the socket allows.
bool sendAllv(int fd, iovec *pieces, size_t count)
{
    while (count > 0) {
        if (pieces->iov_len == 0) {
            ++pieces;
            --count;
            continue;
        }
        msghdr msg{};
        msg.msg_iov = pieces;
        msg.msg_iovlen = count;
        ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        size_t left = static_cast<size_t>(n);
        while (left > 0 && count > 0) {
            size_t take = std::min(left, pieces->iov_len);
            pieces->iov_base = static_cast<char *>(pieces->iov_base) + take;
            pieces->iov_len -= take;
            left -= take;
            if (pieces->iov_len == 0) {
                ++pieces;
                --count;
            }
        }
    }
    return true;
}

bool sendAll(int fd, const void *data, size_t size)
{
    iovec piece{const_cast<void *>(data), size};
    return sendAllv(fd, &piece, 1);
}

std::string peerName(const sockaddr_in &a)
{
    char buf[INET_ADDRSTRLEN] = {0};
    inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf);
    return std::string(buf) + ":" + std::to_string(ntohs(a.sin_port));
}

/// Waits for input on fd or the wake pipe. Returns 1 (fd readable), 0 (timeout),
/// -1 (stop or error).
int waitReadable(int fd, int wakeFd, int timeoutMs)
{
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    for (;;) {
        int r = ::poll(fds, 2, timeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (fds[1].revents)
            return -1;
        if (r == 0)
            return 0;
        return 1;
    }
}

const char *procedureName(uint32_t proc)
{
    switch (static_cast<p::CoreProc>(proc)) {
    case p::CoreProc::CreateLink: return "create_link";
    case p::CoreProc::DeviceWrite: return "device_write";
    case p::CoreProc::DeviceRead: return "device_read";
    case p::CoreProc::DeviceReadStb: return "device_readstb";
    case p::CoreProc::DeviceTrigger: return "device_trigger";
    case p::CoreProc::DeviceClear: return "device_clear";
    case p::CoreProc::DeviceRemote: return "device_remote";
    case p::CoreProc::DeviceLocal: return "device_local";
    case p::CoreProc::DeviceLock: return "device_lock";
    case p::CoreProc::DeviceUnlock: return "device_unlock";
    case p::CoreProc::DeviceEnableSrq: return "device_enable_srq";
    case p::CoreProc::DeviceDocmd: return "device_docmd";
    case p::CoreProc::DestroyLink: return "destroy_link";
    case p::CoreProc::CreateIntrChan: return "create_intr_chan";
    case p::CoreProc::DestroyIntrChan: return "destroy_intr_chan";
    }
    return "";
}

bool validDeviceName(const std::string &name)
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

} // namespace

// ---- one VXI-11 core connection ----------------------------------------------------------

class CoreSession
{
public:
    CoreSession(Server &server, Core &core, int fd, Instrument instrument, int connection)
        : s(server), core(core), fd(fd), inst(instrument), conn(connection)
    {
    }
    ~CoreSession() { releaseAll(); }

    void run()
    {
        p::RecordAssembler assembler(maxRecord(core.options.maxRecvSize));
        std::vector<char> buf(65536);
        while (!s.stopping()) {
            if (waitReadable(fd, s.wakeFd(), -1) != 1)
                return;
            ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
            if (n <= 0)
                return;
            size_t off = 0;
            while (off < static_cast<size_t>(n)) {
                size_t used = 0;
                auto st = assembler.feed(reinterpret_cast<const uint8_t *>(buf.data()) + off,
                                         static_cast<size_t>(n) - off, used);
                off += used;
                if (st == p::RecordAssembler::Status::TooLarge)
                    return; // cannot resynchronise the stream
                if (st == p::RecordAssembler::Status::NeedMore)
                    break;
                std::vector<uint8_t> record = assembler.takeRecord();
                if (!handle(record))
                    return;
            }
        }
    }

private:
    struct Link
    {
        std::shared_ptr<Server::LinkShared> shared;
        LinkState state;
    };

    /// Returns false when the connection must close.
    bool handle(const std::vector<uint8_t> &record)
    {
        p::XdrReader r(record.data(), record.size());
        p::DecodedCall call;
        if (!p::decodeCallHeader(r, call))
            return false; // not an RPC call: nothing sensible to answer
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
                if (!s.interruptibleSleep(fault.delayMs))
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
        case p::CoreProc::CreateLink: return createLink(r, xid, forcedError);
        case p::CoreProc::DeviceWrite: return deviceWrite(r, xid, forcedError);
        case p::CoreProc::DeviceRead: return deviceRead(r, xid, forcedError);
        case p::CoreProc::DeviceReadStb:
        case p::CoreProc::DeviceTrigger:
        case p::CoreProc::DeviceClear:
        case p::CoreProc::DeviceRemote:
        case p::CoreProc::DeviceLocal: return generic(r, xid, proc, name, forcedError);
        case p::CoreProc::DeviceLock: return deviceLock(r, xid, forcedError);
        case p::CoreProc::DeviceUnlock:
        case p::CoreProc::DestroyLink: return linkOnly(r, xid, proc, name, forcedError);
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

    void logProcedure(const std::string &name, p::XdrReader r, uint32_t proc)
    {
        if (proc == static_cast<uint32_t>(p::CoreProc::DeviceWrite)
            || proc == static_cast<uint32_t>(p::CoreProc::DeviceRead))
            return;
        int32_t lid = 0;
        if (proc != static_cast<uint32_t>(p::CoreProc::CreateLink))
            r.getInt32(lid);
        core.log(inst, LogKind::Procedure, Transport::Vxi11, conn, lid, name);
    }

    bool send(p::XdrWriter &w)
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
        std::unique_lock<std::mutex> lock(s.linkMutex);
        int &owner = s.lockOwner[static_cast<int>(inst)];
        if (owner == 0 || owner == lid)
            return p::kErrNone;
        if (!(flags & p::kFlagWaitLock))
            return p::kErrDeviceLocked;
        auto deadline = Clock::now() + std::chrono::milliseconds(std::min(lockTimeoutMs, kMaxIoWaitMs));
        bool freed = s.linkCv.wait_until(lock, deadline, [&] { return owner == 0 || s.stopping(); });
        return freed && owner == 0 ? p::kErrNone : p::kErrDeviceLocked;
    }

    bool createLink(p::XdrReader &r, uint32_t xid, int32_t forcedError)
    {
        p::CreateLinkParms parms;
        if (!p::decode(r, parms))
            return garbage(xid);
        core.log(inst, LogKind::Procedure, Transport::Vxi11, conn, 0, "create_link", parms.device);
        p::CreateLinkResp resp;
        resp.abortPort = s.abortPort(inst);
        resp.maxRecvSize = core.options.maxRecvSize;
        if (forcedError) {
            resp.error = forcedError;
        } else if (!validDeviceName(parms.device)) {
            resp.error = p::kErrInvalidAddress;
        } else if (static_cast<int>(links.size()) >= kMaxLinksPerConnection) {
            resp.error = p::kErrOutOfResources;
        } else {
            auto shared = std::make_shared<Server::LinkShared>();
            shared->instrument = inst;
            shared->connection = conn;
            int lid;
            {
                std::lock_guard<std::mutex> lock(s.linkMutex);
                lid = s.nextLinkId++;
                s.links[lid] = shared;
            }
            if (parms.lockDevice) {
                int32_t e = acquireLock(lid, p::kFlagWaitLock, parms.lockTimeout);
                if (e) {
                    std::lock_guard<std::mutex> lock(s.linkMutex);
                    s.links.erase(lid);
                    resp.error = e;
                } else {
                    std::lock_guard<std::mutex> lock(s.linkMutex);
                    s.lockOwner[static_cast<int>(inst)] = lid;
                }
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

    bool deviceWrite(p::XdrReader &r, uint32_t xid, int32_t forcedError)
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
            resp.error = p::kErrParameter; // nothing transferred (B.6.12)
        } else if (int32_t e = acquireLock(parms.lid, parms.flags, parms.lockTimeout)) {
            resp.error = e;
        } else {
            bool end = (parms.flags & p::kFlagEnd) != 0;
            Core::Outcome o = core.feed(inst, it->second.state, reinterpret_cast<const char *>(parms.data.data),
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
    bool readReply(uint32_t xid, int32_t error, int32_t reason, const char *data, uint32_t n)
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
        iovec pieces[3] = {{w.bytes().data(), w.size()},
                           {const_cast<char *>(data), n},
                           {const_cast<char *>(zeros), padding}};
        return sendAllv(fd, pieces, 3);
    }

    bool deviceRead(p::XdrReader &r, uint32_t xid, int32_t forcedError)
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
        Link &link = it->second;
        PendingReply &reply = link.state.reply;

        // Wait for a reply that is ready, within io_timeout.
        auto deadline = Clock::now() + std::chrono::milliseconds(std::min(parms.ioTimeout, kMaxIoWaitMs));
        {
            std::unique_lock<std::mutex> lock(s.linkMutex);
            for (;;) {
                if (s.stopping())
                    return false;
                if (link.shared->abort.exchange(false))
                    return readReply(xid, p::kErrAbort, 0, nullptr, 0);
                auto now = Clock::now();
                if (reply.active && now >= reply.readyAt)
                    break;
                if (now >= deadline) {
                    lock.unlock();
                    if (!reply.active) {
                        // Asked to talk with nothing to say (488.2 query unterminated).
                        std::lock_guard<std::mutex> g(core.mutex);
                        core.engine(inst).pushError(scpi::QueryUnterminated);
                    }
                    return readReply(xid, p::kErrIoTimeout, 0, nullptr, 0);
                }
                auto until = reply.active ? std::min(deadline, reply.readyAt) : deadline;
                s.linkCv.wait_until(lock, until);
            }
        }

        if (reply.streamPeriodMs > 0 && reply.pos >= reply.size()) {
            // Scripted: the reply never ends; a piece of filler per period.
            const std::string &filler = streamFiller();
            size_t n = std::min<size_t>(parms.requestSize, filler.size());
            reply.readyAt = Clock::now() + std::chrono::milliseconds(reply.streamPeriodMs);
            return readReply(xid, p::kErrNone, n == parms.requestSize ? p::kReasonReqCnt : 0, filler.data(),
                             static_cast<uint32_t>(n));
        }
        size_t limit = reply.size();
        if (reply.dropAt >= 0)
            limit = std::min(limit, static_cast<size_t>(reply.dropAt));
        if (reply.pos >= limit && reply.dropAt >= 0)
            return false; // scripted: the connection breaks here
        size_t n = std::min<size_t>({parms.requestSize, limit - reply.pos, kMaxReadChunk});
        int32_t reason = 0;
        // Held here: the reply may be cleared below while its bytes still go out.
        const std::shared_ptr<const std::string> bytes = reply.data;
        const char *start = reply.bytes() + reply.pos;
        if (parms.flags & p::kFlagTermCharSet) {
            const void *hit = memchr(start, parms.termChar, n);
            if (hit) {
                n = static_cast<size_t>(static_cast<const char *>(hit) - start) + 1;
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

    bool generic(p::XdrReader &r, uint32_t xid, uint32_t proc, const std::string &name, int32_t forcedError)
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
            Link &link = it->second;
            switch (static_cast<p::CoreProc>(proc)) {
            case p::CoreProc::DeviceReadStb: {
                std::lock_guard<std::mutex> lock(core.mutex);
                stb = core.engine(inst).statusByte(link.state.reply.unread());
                break;
            }
            case p::CoreProc::DeviceTrigger: {
                {
                    std::lock_guard<std::mutex> lock(core.mutex);
                    ExecContext ctx;
                    ctx.core = &core;
                    core.engine(inst).trigger(ctx);
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
                break; // remote/local: nothing changes what the bench answers
            }
        }
        p::XdrWriter w = p::XdrWriter::forRecord();
        if (static_cast<p::CoreProc>(proc) == p::CoreProc::DeviceReadStb)
            p::encodeCoreReply(w, xid, p::DeviceReadStbResp{error, stb});
        else
            p::encodeCoreReply(w, xid, p::DeviceError{error});
        return send(w);
    }

    bool deviceLock(p::XdrReader &r, uint32_t xid, int32_t forcedError)
    {
        int32_t lid = 0, flags = 0;
        uint32_t lockTimeout = 0;
        if (!(r.getInt32(lid) && r.getInt32(flags) && r.getUint32(lockTimeout)))
            return garbage(xid);
        core.log(inst, LogKind::Procedure, Transport::Vxi11, conn, lid, "device_lock");
        int32_t error = forcedError;
        if (!error && !links.count(lid))
            error = p::kErrInvalidLinkId;
        if (!error) {
            std::unique_lock<std::mutex> lock(s.linkMutex);
            if (s.lockOwner[static_cast<int>(inst)] == lid)
                error = p::kErrDeviceLocked;
        }
        if (!error)
            error = acquireLock(lid, flags, lockTimeout);
        if (!error) {
            std::lock_guard<std::mutex> lock(s.linkMutex);
            s.lockOwner[static_cast<int>(inst)] = lid;
        }
        return replyError(xid, error);
    }

    bool linkOnly(p::XdrReader &r, uint32_t xid, uint32_t proc, const std::string &name, int32_t forcedError)
    {
        p::DeviceLink parms;
        if (!p::decode(r, parms))
            return garbage(xid);
        core.log(inst, LogKind::Procedure, Transport::Vxi11, conn, parms.lid, name);
        int32_t error = forcedError;
        if (!error && !links.count(parms.lid))
            error = p::kErrInvalidLinkId;
        if (!error) {
            std::lock_guard<std::mutex> lock(s.linkMutex);
            int &owner = s.lockOwner[static_cast<int>(inst)];
            if (static_cast<p::CoreProc>(proc) == p::CoreProc::DeviceUnlock) {
                if (owner != parms.lid)
                    error = p::kErrNoLockHeld;
                else
                    owner = 0;
            } else {
                if (owner == parms.lid)
                    owner = 0;
                s.links.erase(parms.lid);
            }
            s.linkCv.notify_all();
        }
        if (!error && static_cast<p::CoreProc>(proc) == p::CoreProc::DestroyLink)
            links.erase(parms.lid);
        return replyError(xid, error);
    }

    void releaseAll()
    {
        // Locks belong to the connection and go with it (B.6.18).
        std::lock_guard<std::mutex> lock(s.linkMutex);
        for (auto &entry : links) {
            int &owner = s.lockOwner[static_cast<int>(inst)];
            if (owner == entry.first)
                owner = 0;
            s.links.erase(entry.first);
        }
        links.clear();
        s.linkCv.notify_all();
    }

    Server &s;
    Core &core;
    int fd;
    Instrument inst;
    int conn;
    std::map<int, Link> links;
};

// ---- server -----------------------------------------------------------------------------

Server::Server(Core &core) : m_core(core) {}

Server::~Server() { stop(); }

std::string Server::bindListener(const std::string &address, uint16_t port, bool udp, int &fd, uint16_t &bound)
{
    fd = -1;
    const char *what = udp ? "UDP" : "TCP";
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1)
        return "\"" + address + "\" is not an IPv4 address";
    int s = ::socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
    if (s < 0)
        return std::string("cannot create a socket: ") + std::strerror(errno);
    if (!udp) {
        int one = 1;
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    if (::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) < 0) {
        int e = errno;
        ::close(s);
        std::string where = address + ":" + std::to_string(port) + " (" + what + ")";
        if (e == EACCES || e == EPERM)
            return "cannot bind " + where + ": ports below 1024 need privilege. Run as root, or grant the "
                   "program the capability once, e.g. `sudo setcap cap_net_bind_service=+ep "
                   "$(command -v quarnel-bench)`; or choose another portmapper port (--pmap-port) "
                   "with a client that accepts host,port";
        if (e == EADDRINUSE)
            return "cannot bind " + where + ": the port is in use (another bench on this address, or a "
                   "system rpcbind listening on all addresses: stop it or use other addresses)";
        if (e == EADDRNOTAVAIL)
            return "cannot bind " + where + ": not an address of this machine (use 127.x.y.z)";
        return "cannot bind " + where + ": " + std::strerror(e);
    }
    if (!udp && ::listen(s, 16) < 0) {
        int e = errno;
        ::close(s);
        return "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(e);
    }
    sockaddr_in got;
    socklen_t len = sizeof got;
    ::getsockname(s, reinterpret_cast<sockaddr *>(&got), &len);
    bound = ntohs(got.sin_port);
    fd = s;
    return std::string();
}

bool Server::start(std::string &error)
{
    m_stopping = false;
    if (::pipe2(m_wakePipe, O_CLOEXEC) < 0) {
        error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    const Options &o = m_core.options;
    const std::string addresses[kInstrumentCount] = {o.scopeAddress, o.analyzerAddress, o.videoAddress};
    auto addListener = [&](int fd, Role role, int i) {
        std::unique_ptr<Listener> l(new Listener);
        l->fd = fd;
        l->role = role;
        l->instrument = static_cast<Instrument>(i);
        m_listeners.push_back(std::move(l));
    };
    for (int i = 0; i < kInstrumentCount; ++i) {
        for (int j = 0; j < i; ++j)
            if (addresses[i] == addresses[j]) {
                error = "the " + std::string(instrumentName(static_cast<Instrument>(i))) + " and the "
                        + instrumentName(static_cast<Instrument>(j)) + " need different addresses ("
                        + addresses[i] + ")";
                stop();
                return false;
            }
        int fd;
        uint16_t bound;
        std::string e = bindListener(addresses[i], o.corePort, false, fd, bound);
        if (e.empty()) {
            addListener(fd, Role::Core, i);
            m_ports[i].core = bound;
            e = bindListener(addresses[i], 0, false, fd, bound);
        }
        if (e.empty()) {
            addListener(fd, Role::Abort, i);
            m_ports[i].abort = bound;
            if (o.portmapperPort) {
                e = bindListener(addresses[i], o.portmapperPort, false, fd, bound);
                if (e.empty()) {
                    addListener(fd, Role::PortmapTcp, i);
                    e = bindListener(addresses[i], o.portmapperPort, true, fd, bound);
                    if (e.empty())
                        addListener(fd, Role::PortmapUdp, i);
                }
            }
        }
        if (e.empty() && o.rawPort) {
            e = bindListener(addresses[i], o.rawPort, false, fd, bound);
            if (e.empty())
                addListener(fd, Role::Raw, i);
        }
        if (!e.empty()) {
            error = e;
            stop();
            return false;
        }
    }
    m_acceptor = std::thread([this] { acceptLoop(); });
    return true;
}

void Server::stop()
{
    m_stopping = true;
    if (m_wakePipe[1] >= 0) {
        char c = 1;
        ssize_t ignored = ::write(m_wakePipe[1], &c, 1);
        (void)ignored;
    }
    {
        std::lock_guard<std::mutex> lock(linkMutex);
        linkCv.notify_all();
    }
    if (m_acceptor.joinable())
        m_acceptor.join();
    {
        std::lock_guard<std::mutex> lock(m_connMutex);
        for (auto &c : m_connections)
            ::shutdown(c->fd, SHUT_RDWR);
    }
    {
        std::lock_guard<std::mutex> lock(linkMutex);
        linkCv.notify_all();
    }
    std::list<std::unique_ptr<Connection>> all;
    {
        std::lock_guard<std::mutex> lock(m_connMutex);
        all.swap(m_connections);
    }
    for (auto &c : all) {
        if (c->thread.joinable())
            c->thread.join();
        ::close(c->fd);
    }
    for (auto &l : m_listeners)
        ::close(l->fd);
    m_listeners.clear();
    for (int &fd : m_wakePipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    for (auto &p : m_ports)
        p = Ports();
}

bool Server::interruptibleSleep(int ms)
{
    pollfd pfd{m_wakePipe[0], POLLIN, 0};
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return !m_stopping;
        int r = ::poll(&pfd, 1, static_cast<int>(left));
        if (r > 0 || m_stopping)
            return false;
    }
}

void Server::acceptLoop()
{
    std::vector<pollfd> fds;
    std::vector<Listener *> owners;
    for (auto &l : m_listeners) {
        fds.push_back(pollfd{l->fd, POLLIN, 0});
        owners.push_back(l.get());
    }
    fds.push_back(pollfd{m_wakePipe[0], POLLIN, 0});
    while (!m_stopping) {
        int r = ::poll(fds.data(), fds.size(), 1000);
        if (r < 0 && errno != EINTR)
            break;
        if (fds.back().revents)
            break;
        // Reap finished connections so their threads and sockets go.
        {
            std::lock_guard<std::mutex> lock(m_connMutex);
            for (auto it = m_connections.begin(); it != m_connections.end();) {
                if ((*it)->done) {
                    (*it)->thread.join();
                    ::close((*it)->fd);
                    it = m_connections.erase(it);
                } else {
                    ++it;
                }
            }
        }
        if (r <= 0)
            continue;
        for (size_t i = 0; i + 1 < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            Listener *l = owners[i];
            if (l->role == Role::PortmapUdp) {
                serveUdpPortmap(*l);
                continue;
            }
            sockaddr_in peer;
            socklen_t len = sizeof peer;
            int fd = ::accept4(l->fd, reinterpret_cast<sockaddr *>(&peer), &len, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            if (l->active >= kMaxConnectionsPerListener) {
                ::close(fd);
                continue;
            }
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ++l->active;
            int id = m_core.nextConnection++;
            std::unique_ptr<Connection> c(new Connection);
            c->fd = fd;
            Connection *raw = c.get();
            std::string name = peerName(peer);
            std::lock_guard<std::mutex> lock(m_connMutex);
            c->thread = std::thread([this, l, raw, id, name] { runConnection(l, raw, id, name); });
            m_connections.push_back(std::move(c));
        }
    }
}

void Server::runConnection(Listener *l, Connection *c, int id, std::string peer)
{
    Transport transport = l->role == Role::Raw ? Transport::Socket : Transport::Vxi11;
    bool logged = l->role == Role::Core || l->role == Role::Raw;
    if (logged)
        m_core.log(l->instrument, LogKind::Connection, transport, id, 0, "open", peer);
    switch (l->role) {
    case Role::PortmapTcp: servePortmapTcp(c->fd, l->instrument); break;
    case Role::Core: serveCore(c->fd, l->instrument, id); break;
    case Role::Abort: serveAbort(c->fd, l->instrument, id); break;
    case Role::Raw: serveRaw(c->fd, l->instrument, id); break;
    case Role::PortmapUdp: break;
    }
    ::shutdown(c->fd, SHUT_RDWR);
    if (logged)
        m_core.log(l->instrument, LogKind::Connection, transport, id, 0, "close", peer);
    --l->active;
    c->done = true;
}

std::vector<uint8_t> Server::portmapReply(const uint8_t *data, size_t size, Instrument instrument)
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
    const uint32_t pmapPort = m_core.options.portmapperPort;
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
                port = m_ports[i].core;
            else if (m.program == p::kDeviceAsyncProgram)
                port = m_ports[i].abort;
        }
        if (m.program == p::kPmapProgram && m.version == p::kPmapVersion)
            port = pmapPort;
        p::encodeGetPortReply(w, xid, port);
        return w.take();
    }
    case 4: { // DUMP: the list of registered programs
        p::encodeAcceptedReply(w, xid, p::AcceptStat::Success);
        const p::PmapMapping list[] = {{p::kPmapProgram, p::kPmapVersion, p::kIpProtoTcp, pmapPort},
                                       {p::kPmapProgram, p::kPmapVersion, p::kIpProtoUdp, pmapPort},
                                       {p::kDeviceCoreProgram, 1, p::kIpProtoTcp, m_ports[i].core},
                                       {p::kDeviceAsyncProgram, 1, p::kIpProtoTcp, m_ports[i].abort}};
        for (const auto &m : list) {
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

// Reads RPC records from fd and answers each through handle(record, reply)
// until the peer goes, a record is too large, or handle refuses (false).
template <class Handle> void Server::serveRecords(int fd, Handle &&handle)
{
    p::RecordAssembler assembler(4096);
    char buf[4096];
    while (!m_stopping) {
        if (waitReadable(fd, m_wakePipe[0], -1) != 1)
            return;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return;
        size_t off = 0;
        while (off < static_cast<size_t>(n)) {
            size_t used = 0;
            auto st = assembler.feed(reinterpret_cast<uint8_t *>(buf) + off, static_cast<size_t>(n) - off, used);
            off += used;
            if (st == p::RecordAssembler::Status::TooLarge)
                return;
            if (st == p::RecordAssembler::Status::NeedMore)
                break;
            const std::vector<uint8_t> record = assembler.takeRecord();
            std::vector<uint8_t> framed;
            if (!handle(record, framed) || !sendAll(fd, framed.data(), framed.size()))
                return;
        }
    }
}

void Server::servePortmapTcp(int fd, Instrument instrument)
{
    serveRecords(fd, [&](const std::vector<uint8_t> &record, std::vector<uint8_t> &framed) {
        std::vector<uint8_t> body = portmapReply(record.data(), record.size(), instrument);
        if (body.empty())
            return false;
        framed = p::frameRecord(p::ByteView(body));
        return true;
    });
}

void Server::serveUdpPortmap(Listener &l)
{
    uint8_t buf[2048];
    sockaddr_in peer;
    socklen_t len = sizeof peer;
    ssize_t n = ::recvfrom(l.fd, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&peer), &len);
    if (n <= 0)
        return;
    std::vector<uint8_t> body = portmapReply(buf, static_cast<size_t>(n), l.instrument);
    if (!body.empty())
        ::sendto(l.fd, body.data(), body.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&peer), len);
}

void Server::serveCore(int fd, Instrument instrument, int connectionId)
{
    CoreSession session(*this, m_core, fd, instrument, connectionId);
    session.run();
}

void Server::serveAbort(int fd, Instrument instrument, int connectionId)
{
    serveRecords(fd, [&](const std::vector<uint8_t> &record, std::vector<uint8_t> &framed) {
        p::XdrReader r(record.data(), record.size());
        p::DecodedCall call;
        if (!p::decodeCallHeader(r, call))
            return false;
        p::XdrWriter w = p::XdrWriter::forRecord();
        p::DeviceLink link;
        if (call.header.program != p::kDeviceAsyncProgram) {
            p::encodeAcceptedReply(w, call.header.xid, p::AcceptStat::ProgUnavail);
        } else if (call.header.procedure != 1) {
            p::encodeAcceptedReply(w, call.header.xid, p::AcceptStat::ProcUnavail);
        } else if (!p::decode(r, link)) {
            p::encodeAcceptedReply(w, call.header.xid, p::AcceptStat::GarbageArgs);
        } else {
            m_core.log(instrument, LogKind::Procedure, Transport::Vxi11, connectionId, link.lid, "device_abort");
            int32_t error = p::kErrInvalidLinkId;
            {
                std::lock_guard<std::mutex> lock(linkMutex);
                auto it = links.find(link.lid);
                if (it != links.end() && it->second->instrument == instrument) {
                    it->second->abort = true;
                    error = p::kErrNone;
                }
                linkCv.notify_all();
            }
            p::encodeCoreReply(w, call.header.xid, p::DeviceError{error});
        }
        if (!w.finishRecord())
            return false;
        framed = w.take();
        return true;
    });
}

void Server::serveRaw(int fd, Instrument instrument, int connectionId)
{
    // Messages run one at a time: a reply leaves before the next message is
    // taken, so a client may send several queries without waiting.
    LinkState state;
    std::string received;
    std::vector<char> buf(65536);
    while (!m_stopping) {
        PendingReply &reply = state.reply;
        if (reply.streamPeriodMs > 0 && reply.pos >= reply.size() && !received.empty())
            reply.clear(); // a new message ends a scripted endless reply
        while (!reply.active && !received.empty()) {
            size_t nl = received.find('\n');
            size_t take = nl == std::string::npos ? received.size() : nl + 1;
            std::string chunk = received.substr(0, take);
            received.erase(0, take);
            if (m_core.feed(instrument, state, chunk.data(), chunk.size(), false, Transport::Socket, connectionId, 0)
                == Core::Outcome::Drop)
                return;
        }
        int timeout = -1;
        if (reply.active) {
            auto now = Clock::now();
            if (now >= reply.readyAt) {
                const bool streaming = reply.streamPeriodMs > 0 && reply.pos >= reply.size();
                if (streaming && !sendAll(fd, streamFiller().data(), streamFiller().size()))
                    return;
                size_t limit = reply.size();
                if (reply.dropAt >= 0)
                    limit = std::min(limit, static_cast<size_t>(reply.dropAt));
                for (size_t at = reply.pos; at < limit;) {
                    size_t piece = std::min(limit - at, kRawSendPiece);
                    if (!sendAll(fd, reply.bytes() + at, piece))
                        return;
                    at += piece;
                }
                reply.pos = limit;
                if (reply.dropAt >= 0)
                    return; // scripted: the connection breaks here
                if (reply.streamPeriodMs > 0)
                    reply.readyAt = Clock::now() + std::chrono::milliseconds(reply.streamPeriodMs);
                else
                    reply.clear();
                continue;
            }
            timeout = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(reply.readyAt - now).count() + 1);
        }
        // Bound what waits unread behind a slow reply.
        if (received.size() > kMaxProgramMessage)
            return;
        int w = waitReadable(fd, m_wakePipe[0], timeout);
        if (w < 0)
            return;
        if (w == 0)
            continue;
        ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        if (n <= 0)
            return;
        received.append(buf.data(), static_cast<size_t>(n));
    }
}

} // namespace bench
} // namespace quarnel
