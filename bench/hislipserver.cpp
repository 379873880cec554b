#include "hislipserver.h"

#include "protocol/hislip.h"

#include <sys/socket.h>

#include <algorithm>
#include <cctype>

namespace quarnel {
namespace bench {

namespace hs = protocol::hislip;

namespace {

constexpr uint16_t kServerVersion = hs::kVersion11;
constexpr char kVendorId[2] = {'Q', 'B'};
/// Payload per message sent to a client that announced no maximum.
constexpr uint64_t kDefaultClientPayload = 1u << 20;

/// Sub-addresses of an instrument: "hislip0", "hislip1", ... in any case.
bool validSubAddress(const std::string& s)
{
    static const char prefix[] = "hislip";
    if (s.size() <= sizeof prefix - 1 || s.size() > 12)
        return false;
    for (size_t i = 0; i < s.size(); ++i)
        if (i < sizeof prefix - 1 ? std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]
                                  : !std::isdigit(static_cast<unsigned char>(s[i])))
            return false;
    return true;
}

const char* remoteLocalName(uint8_t code)
{
    return code == hs::kRenDeassert || code == hs::kRenDeassertGtl || code == hs::kRenAddressGtl ? "device_local"
                                                                                                 : "device_remote";
}

}  // namespace

std::shared_ptr<HislipSession> HislipSessions::create(Instrument instrument)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto count = std::count_if(m_sessions.begin(), m_sessions.end(),
                                     [&](const auto& e) { return e.second->instrument == instrument; });
    if (count >= kMaxHislipSessions)
        return nullptr;
    while (m_sessions.count(m_nextId))
        ++m_nextId;
    auto s = std::make_shared<HislipSession>();
    s->id = m_nextId++;
    s->instrument = instrument;
    s->expectedId = hs::kFirstMessageId;
    m_sessions[s->id] = s;
    return s;
}

std::shared_ptr<HislipSession> HislipSessions::attach(uint16_t id, Instrument instrument, int fd)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_sessions.find(id);
    if (it == m_sessions.end() || it->second->instrument != instrument)
        return nullptr;
    std::lock_guard<std::mutex> sessionLock(it->second->mutex);
    if (it->second->asyncFd >= 0 || it->second->syncFd < 0)
        return nullptr;
    it->second->asyncFd = fd;
    return it->second;
}

void HislipSessions::remove(uint16_t id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions.erase(id);
}

namespace {

// One connection, synchronous or asynchronous: which one it is decides its
// first message.
class HislipConnection
{
public:
    HislipConnection(const ServerContext& ctx, int fd, Instrument instrument, int connection)
        : ctx(ctx), core(ctx.core), fd(fd), inst(instrument), conn(connection),
          assembler(ctx.core.options.maxRecvSize - hs::kHeaderSize)
    {
    }
    ~HislipConnection() { end(); }

    void run()
    {
        readLoop(
            ctx, fd, kReceiveBuffer, [&](const uint8_t* data, size_t n) { return consume(data, n) && sendReady(); },
            [&] { return waitMs(); });
    }

private:
    enum class Role { Unknown, Sync, Async };

    bool consume(const uint8_t* data, size_t n)
    {
        size_t off = 0;
        while (off < n) {
            size_t used = 0;
            const auto st = assembler.feed(data + off, n - off, used);
            off += used;
            switch (st) {
            case hs::MessageAssembler::Status::NeedMore:
                break;
            case hs::MessageAssembler::Status::BadHeader:
                return fatal(hs::kFatalBadHeader, "poorly formed message header");
            case hs::MessageAssembler::Status::TooLarge:
                if (role == Role::Unknown)
                    return fatal(hs::kFatalInvalidInitialization, "message too large");
                if (!send(hs::Type::Error, hs::kErrorMessageTooLarge, 0, "message too large"))
                    return false;
                break;
            case hs::MessageAssembler::Status::Complete: {
                const bool go = handle(assembler.header(), assembler.payload());
                assembler.next();
                if (!go)
                    return false;
                break;
            }
            }
        }
        return true;
    }

    bool send(hs::Type type, uint8_t control, uint32_t parameter, const std::string& payload = std::string())
    {
        uint8_t header[hs::kHeaderSize];
        hs::encodeHeader(header, hs::Header{static_cast<uint8_t>(type), control, parameter, payload.size()});
        iovec pieces[2] = {{header, sizeof header}, {const_cast<char*>(payload.data()), payload.size()}};
        return sendAllv(fd, pieces, 2);
    }

    /// FatalError, then the connection closes (always false).
    bool fatal(uint8_t code, const std::string& text)
    {
        send(hs::Type::FatalError, code, 0, text);
        return false;
    }

    bool handle(const hs::Header& h, const std::vector<uint8_t>& payload)
    {
        const hs::Type type = static_cast<hs::Type>(h.type);
        if (role == Role::Unknown)
            return start(h, payload);
        if (h.type > hs::kLastBaseType)
            return send(hs::Type::Error,
                        h.type >= hs::kFirstVendorType ? hs::kErrorUnrecognizedVendorType : hs::kErrorUnrecognizedType,
                        0, "unrecognized message type");
        if (type == hs::Type::FatalError)
            return false;
        if (type == hs::Type::Error)
            return true;
        if (type == hs::Type::Initialize || type == hs::Type::AsyncInitialize)
            return fatal(hs::kFatalInvalidInitialization, "second initialization");
        return role == Role::Sync ? handleSync(h, payload) : handleAsync(h, payload);
    }

    bool start(const hs::Header& h, const std::vector<uint8_t>& payload)
    {
        if (h.type == static_cast<uint8_t>(hs::Type::Initialize)) {
            const std::string sub(payload.begin(), payload.end());
            core.log(inst, LogKind::Procedure, Transport::HiSlip, conn, 0, "initialize", sub);
            if (!validSubAddress(sub))
                return fatal(hs::kFatalUnidentified, "unknown sub-address");
            session = ctx.hislip.create(inst);
            if (!session)
                return fatal(hs::kFatalTooManyClients, "too many clients");
            session->link = ctx.links.add(inst, conn, session->linkId);
            session->syncFd = fd;
            role = Role::Sync;
            const uint16_t version = hs::negotiatedVersion(hs::versionOf(h.parameter), kServerVersion);
            return send(hs::Type::InitializeResponse, 0, hs::initializeResponseParameter(version, session->id));
        }
        if (h.type == static_cast<uint8_t>(hs::Type::AsyncInitialize)) {
            session = ctx.hislip.attach(hs::sessionIdOf(h.parameter), inst, fd);
            if (!session)
                return fatal(hs::kFatalInvalidInitialization, "no such session");
            role = Role::Async;
            return send(hs::Type::AsyncInitializeResponse, 0, hs::initializeParameter(0, kVendorId));
        }
        return fatal(hs::kFatalInvalidInitialization, "Initialize expected");
    }

    /// MessageIDs advance by 2 from the first; a break in the sequence is an error.
    bool nextMessageId(uint32_t id)
    {
        std::lock_guard<std::mutex> lock(session->mutex);
        const bool inStep = id == session->expectedId;
        session->expectedId = hs::nextMessageId(id);
        return inStep;
    }

    bool handleSync(const hs::Header& h, const std::vector<uint8_t>& payload)
    {
        switch (static_cast<hs::Type>(h.type)) {
        case hs::Type::Data:
        case hs::Type::DataEnd:
        case hs::Type::Trigger: {
            {
                std::lock_guard<std::mutex> lock(session->mutex);
                if (session->asyncFd < 0)
                    return fatal(hs::kFatalChannelsNotEstablished, "asynchronous channel missing");
                if (session->clearing)
                    return true;  // discarded until the clear completes
            }
            if (!nextMessageId(h.parameter))
                return send(hs::Type::Error, hs::kErrorUnidentified, 0, "MessageID out of sequence");
            return h.type == static_cast<uint8_t>(hs::Type::Trigger) ? trigger() : data(h, payload);
        }
        case hs::Type::DeviceClearComplete: {
            std::lock_guard<std::mutex> lock(session->mutex);
            session->state.input.clear();
            session->state.reply.clear();
            session->expectedId = hs::kFirstMessageId;
            session->clearing = false;
            return send(hs::Type::DeviceClearAcknowledge, 0, 0);  // synchronized mode
        }
        default:
            return send(hs::Type::Error, hs::kErrorUnrecognizedType, 0, "not a synchronous channel message");
        }
    }

    bool data(const hs::Header& h, const std::vector<uint8_t>& payload)
    {
        const bool end = h.type == static_cast<uint8_t>(hs::Type::DataEnd);
        std::lock_guard<std::mutex> lock(session->mutex);
        LinkState& state = session->state;
        if (end)
            session->replyId = h.parameter;
        if (core.feed(inst, state, reinterpret_cast<const char*>(payload.data()), payload.size(), end,
                      Transport::HiSlip, conn, session->linkId)
            == Core::Outcome::Drop)
            return false;
        if (state.protocolFault == FaultKind::NoReply)
            return true;
        const bool isFatal = state.protocolFault == FaultKind::HislipFatal;
        const uint8_t code = static_cast<uint8_t>(state.protocolCode);
        state.protocolFault = FaultKind::NoReply;
        return isFatal ? fatal(code, "scripted") : send(hs::Type::Error, code, 0, "scripted");
    }

    bool trigger()
    {
        core.log(inst, LogKind::Procedure, Transport::HiSlip, conn, session->linkId, "device_trigger");
        {
            std::lock_guard<std::mutex> lock(core.mutex);
            ExecContext exec;
            exec.core = &core;
            core.engine(inst).trigger(exec);
        }
        core.flushCallbacks();
        return true;
    }

    int waitMs()
    {
        if (role != Role::Sync)
            return -1;
        std::lock_guard<std::mutex> lock(session->mutex);
        return session->state.reply.active ? msUntil(session->state.reply.readyAt) : -1;
    }

    /// Sends a reply that is ready: Data messages within the client's maximum,
    /// DataEND on the last, with the MessageID of the request it answers.
    bool sendReady()
    {
        if (role != Role::Sync)
            return true;
        std::unique_lock<std::mutex> lock(session->mutex);
        PendingReply& reply = session->state.reply;
        if (!reply.active || Clock::now() < reply.readyAt)
            return true;
        const uint32_t id = session->replyId;
        if (reply.streamPeriodMs > 0 && reply.pos >= reply.size()) {
            // Scripted endless reply: a Data message of filler per period.
            reply.readyAt = Clock::now() + std::chrono::milliseconds(reply.streamPeriodMs);
            lock.unlock();
            const std::string& filler = streamFiller();
            return sendData(id, filler.data(), filler.size(), filler.size(), false);
        }
        // Sent without the lock: a device clear may run meanwhile.
        const std::shared_ptr<const std::string> bytes = reply.data;
        const size_t size = reply.size();
        const long dropAt = reply.dropAt;
        const bool end = !reply.withoutEnd && reply.streamPeriodMs == 0;
        if (reply.streamPeriodMs > 0) {
            reply.pos = size;
            reply.readyAt = Clock::now() + std::chrono::milliseconds(reply.streamPeriodMs);
        } else {
            reply.clear();
        }
        lock.unlock();
        if (dropAt == 0)
            return false;  // scripted: the connection breaks before the reply
        const size_t limit = dropAt >= 0 ? std::min(size, static_cast<size_t>(dropAt)) : size;
        return sendData(id, bytes ? bytes->data() : "", size, limit, end) && dropAt < 0;
    }

    /// Sends `size` bytes as Data messages within the client's maximum, the
    /// last as DataEND when `end`; stops (false) after `limit` bytes.
    bool sendData(uint32_t id, const char* base, size_t size, size_t limit, bool end)
    {
        uint64_t max = kDefaultClientPayload;
        {
            std::lock_guard<std::mutex> lock(session->mutex);
            if (session->clientMaxMessage > hs::kHeaderSize)
                max = session->clientMaxMessage - hs::kHeaderSize;
        }
        size_t at = 0;
        do {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(size - at, max));
            const hs::Type type = at + n == size && end ? hs::Type::DataEnd : hs::Type::Data;
            uint8_t header[hs::kHeaderSize];
            hs::encodeHeader(header, hs::Header{static_cast<uint8_t>(type), 0, id, n});
            // The header leaves with the first piece: one segment for a short reply.
            iovec pieces[2] = {{header, sizeof header}, {nullptr, 0}};
            for (size_t k = 0; k < n || pieces[0].iov_len > 0;) {
                const size_t piece = std::min({n - k, kSendPiece, limit - (at + k)});
                pieces[1] = {const_cast<char*>(base + at + k), piece};
                if (!sendAllv(fd, pieces[0].iov_len ? pieces : pieces + 1, pieces[0].iov_len ? 2 : 1))
                    return false;
                if (piece == 0 && k < n)
                    return false;  // scripted: the connection breaks here
                pieces[0].iov_len = 0;
                k += piece;
            }
            at += n;
        } while (at < size);
        return true;
    }

    /// A scripted fault on an asynchronous request, by its procedure name.
    /// Returns 1 to go on, 0 to answer nothing, -1 to close the connection.
    int procedureFault(const char* name, bool& sent)
    {
        core.log(inst, LogKind::Procedure, Transport::HiSlip, conn, session->linkId, name);
        Fault f;
        bool faulted;
        {
            std::lock_guard<std::mutex> lock(core.mutex);
            faulted = core.faults.takeProcedureFault(inst, name, f);
        }
        sent = false;
        if (!faulted)
            return 1;
        switch (f.kind) {
        case FaultKind::NoReply:
            return 0;
        case FaultKind::DropConnection:
            return -1;
        case FaultKind::SlowReply:
            return interruptibleSleep(ctx, f.delayMs) ? 1 : -1;
        case FaultKind::HislipFatal:
            fatal(static_cast<uint8_t>(f.hislipCode), "scripted");
            return -1;
        case FaultKind::HislipError:
        case FaultKind::CommandError:
            sent = true;
            return send(hs::Type::Error, static_cast<uint8_t>(f.hislipCode), 0, "scripted") ? 0 : -1;
        default:
            return 1;
        }
    }

    bool handleAsync(const hs::Header& h, const std::vector<uint8_t>& payload)
    {
        const hs::Type type = static_cast<hs::Type>(h.type);
        const char* name = type == hs::Type::AsyncDeviceClear          ? "device_clear"
                           : type == hs::Type::AsyncStatusQuery        ? "device_readstb"
                           : type == hs::Type::AsyncRemoteLocalControl ? remoteLocalName(h.control)
                           : type == hs::Type::AsyncLock               ? (h.control ? "device_lock" : "device_unlock")
                                                                       : nullptr;
        if (name != nullptr) {
            bool sent = false;
            const int go = procedureFault(name, sent);
            if (go <= 0)
                return go == 0;
        }
        switch (type) {
        case hs::Type::AsyncMaximumMessageSize: {
            uint64_t size = 0;
            if (!hs::decodeMaximumSize(protocol::ByteView(payload), size))
                return send(hs::Type::Error, hs::kErrorUnidentified, 0, "size payload must be 8 bytes");
            {
                std::lock_guard<std::mutex> lock(session->mutex);
                session->clientMaxMessage = size;
            }
            const std::vector<uint8_t> mine = hs::encodeMaximumSize(core.options.maxRecvSize);
            return send(hs::Type::AsyncMaximumMessageSizeResponse, 0, 0, std::string(mine.begin(), mine.end()));
        }
        case hs::Type::AsyncDeviceClear: {
            std::lock_guard<std::mutex> lock(session->mutex);
            session->state.input.clear();
            session->state.reply.clear();
            session->clearing = true;
            return send(hs::Type::AsyncDeviceClearAcknowledge, 0, 0);
        }
        case hs::Type::AsyncStatusQuery: {
            std::lock_guard<std::mutex> lock(session->mutex);
            std::lock_guard<std::mutex> coreLock(core.mutex);
            const uint8_t stb = core.engine(inst).statusByte(session->state.reply.unread());
            return send(hs::Type::AsyncStatusResponse, stb, 0);
        }
        case hs::Type::AsyncRemoteLocalControl:
            if (h.control > hs::kMaxRemoteLocalCode)
                return send(hs::Type::Error, hs::kErrorUnrecognizedControl, 0, "remote/local code");
            return send(hs::Type::AsyncRemoteLocalResponse, 0, 0);
        case hs::Type::AsyncLock:
            return lock(h, payload);
        case hs::Type::AsyncLockInfo: {
            const bool locked = ctx.links.locked(inst);
            return send(hs::Type::AsyncLockInfoResponse, locked ? 1 : 0, locked ? 1 : 0);
        }
        default:
            return send(hs::Type::Error, hs::kErrorUnrecognizedType, 0, "not an asynchronous channel message");
        }
    }

    bool lock(const hs::Header& h, const std::vector<uint8_t>& payload)
    {
        if (h.control == hs::kLockRelease)
            return send(hs::Type::AsyncLockResponse,
                        ctx.links.unlock(inst, session->linkId) ? hs::kLockSuccess : hs::kLockError, 0);
        if (!payload.empty())  // shared locks are not offered
            return send(hs::Type::AsyncLockResponse, hs::kLockError, 0);
        if (ctx.links.holds(inst, session->linkId))
            return send(hs::Type::AsyncLockResponse, hs::kLockError, 0);
        const bool got = ctx.links.lock(inst, session->linkId, h.parameter);
        return send(hs::Type::AsyncLockResponse, got ? hs::kLockSuccess : hs::kLockFailure, 0);
    }

    /// Either connection ending ends the session: the other one is shut down.
    void end()
    {
        if (!session)
            return;
        int other = -1;
        {
            std::lock_guard<std::mutex> lock(session->mutex);
            if (role == Role::Sync) {
                session->syncFd = -1;
                other = session->asyncFd;
            } else {
                session->asyncFd = -1;
                other = session->syncFd;
            }
        }
        if (other >= 0)
            ::shutdown(other, SHUT_RDWR);
        if (role == Role::Sync) {
            ctx.hislip.remove(session->id);
            ctx.links.remove(session->linkId);
        }
    }

    const ServerContext& ctx;
    Core& core;
    const int fd;
    const Instrument inst;
    const int conn;
    Role role = Role::Unknown;
    hs::MessageAssembler assembler;
    std::shared_ptr<HislipSession> session;
};

}  // namespace

void serveHislip(const ServerContext& ctx, int fd, Instrument instrument, int connection)
{
    HislipConnection c(ctx, fd, instrument, connection);
    c.run();
}

}  // namespace bench
}  // namespace quarnel
