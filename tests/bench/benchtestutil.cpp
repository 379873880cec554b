#include "benchtestutil.h"

#include "protocol/portmap.h"
#include "protocol/recordmark.h"
#include "protocol/vxi11.h"
#include "sequence.h"

#include <arpa/inet.h>
#include <cmath>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace p = quarnel::protocol;

namespace benchtest {

std::string Talker::ask(const std::string& message)
{
    core.feed(instrument, link, message.data(), message.size(), true, Transport::Vxi11, 1, 1);
    std::string reply = link.reply.data ? *link.reply.data : std::string();
    link.reply.clear();
    return reply;
}

bool decodeBlock(const std::string& reply, std::vector<float>& values)
{
    values.clear();
    if (reply.size() < 3 || reply[0] != '#' || reply[1] < '1' || reply[1] > '9')
        return false;
    size_t n = static_cast<size_t>(reply[1] - '0');
    if (reply.size() < 2 + n)
        return false;
    size_t length = std::stoul(reply.substr(2, n));
    if (reply.size() != 2 + n + length + 1 || reply.back() != '\n')
        return false;
    values.resize(length / 4);
    const unsigned char* d = reinterpret_cast<const unsigned char*>(reply.data()) + 2 + n;
    for (size_t i = 0; i < values.size(); ++i) {
        uint32_t bits =
            d[4 * i] | (d[4 * i + 1] << 8) | (d[4 * i + 2] << 16) | (static_cast<uint32_t>(d[4 * i + 3]) << 24);
        std::memcpy(&values[i], &bits, 4);
    }
    return true;
}

namespace {

// The queries of a set-up of the program, in order, as an instrument
// identifying itself as the bench does by default receives them.
std::vector<std::string> queriesOf(const setup::Sequence& seq)
{
    const QString identity = QString::fromStdString(Options().analyzerIdentity);
    std::vector<std::string> out;
    setup::run(seq, [&](const setup::Step* step, QString* reply) -> ViStatus {
        if (step && step->kind == setup::StepKind::Query) {
            out.push_back(step->command.toStdString());
            if (step->identifies)
                *reply = identity;
        }
        return VI_SUCCESS;
    });
    return out;
}

}  // namespace

std::vector<std::string> scopeSetup(int family, bool ifDemod)
{
    setup::OscilloscopeParams p;
    p.type = family;
    p.reset = true;
    p.ifDemod = ifDemod;
    p.triggerLevel = 0.035;
    return queriesOf(setup::oscilloscopeSequence(p));
}

std::vector<std::string> analyzerSetup(bool firstFamily)
{
    setup::AnalyzerParams p;
    p.oscilloscopeType = firstFamily ? 0 : 1;
    p.centreFrequency = 5.192e9;
    return queriesOf(setup::analyzerSequence(p));
}

std::vector<std::string> videoSetup()
{
    setup::VideoParams p;
    p.reset = true;
    p.threshold = 35.0;
    return queriesOf(setup::videoSequence(p));
}

// ---- VXI-11 client ------------------------------------------------------------------------

int connectTcp(const std::string& address, uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
        ::close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool readUntil(int fd, std::string& out, char terminator, int timeoutMs)
{
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) <= 0)
            return false;
        char c;
        ssize_t n = ::recv(fd, &c, 1, 0);
        if (n <= 0)
            return false;
        out += c;
        if (c == terminator)
            return true;
    }
}

static bool recvRecord(int fd, std::vector<uint8_t>& record, int timeoutMs)
{
    p::RecordAssembler assembler(64u << 20);
    uint8_t buf[4096];
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) <= 0)
            return false;
        // Only the reply to the one outstanding call is in flight.
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        size_t used = 0;
        auto st = assembler.feed(buf, static_cast<size_t>(n), used);
        if (st == p::RecordAssembler::Status::Complete) {
            record = assembler.takeRecord();
            return true;
        }
        if (st == p::RecordAssembler::Status::TooLarge)
            return false;
    }
}

Vxi11Client::~Vxi11Client()
{
    close();
}

void Vxi11Client::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

uint32_t Vxi11Client::getPort(const std::string& address, uint16_t pmapPort, uint32_t program)
{
    int fd = connectTcp(address, pmapPort);
    if (fd < 0)
        return 0;
    p::XdrWriter w = p::XdrWriter::forRecord();
    p::encodeGetPortCall(w, 7, p::PmapMapping{program, 1, p::kIpProtoTcp, 0});
    w.finishRecord();
    ::send(fd, w.bytes().data(), w.size(), MSG_NOSIGNAL);
    std::vector<uint8_t> rec;
    uint32_t port = 0;
    if (recvRecord(fd, rec, 2000)) {
        p::XdrReader r(rec.data(), rec.size());
        p::ReplyHeader h;
        if (p::decodeReplyHeader(r, h) && h.succeeded())
            p::decodeGetPortResult(r, port);
    }
    ::close(fd);
    return port;
}

bool Vxi11Client::connect(const std::string& address, uint16_t port)
{
    m_fd = connectTcp(address, port);
    return m_fd >= 0;
}

std::vector<uint8_t> Vxi11Client::call(uint32_t proc, const std::vector<uint8_t>& args, bool& ok, int timeoutMs)
{
    ok = false;
    p::XdrWriter w = p::XdrWriter::forRecord();
    uint32_t xid = m_xid++;
    p::encodeCallHeader(w, p::CallHeader{xid, p::kDeviceCoreProgram, 1, proc});
    w.bytes().insert(w.bytes().end(), args.begin(), args.end());
    w.finishRecord();
    if (::send(m_fd, w.bytes().data(), w.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(w.size()))
        return {};
    std::vector<uint8_t> rec;
    if (!recvRecord(m_fd, rec, timeoutMs))
        return {};
    p::XdrReader r(rec.data(), rec.size());
    p::ReplyHeader h;
    if (!p::decodeReplyHeader(r, h) || h.xid != xid || !h.succeeded())
        return {};
    ok = true;
    return std::vector<uint8_t>(rec.begin() + static_cast<long>(r.offset()), rec.end());
}

// One call whose reply decodes as `resp`; false on connection loss, time-out
// or a reply that does not decode.
template <class Parms, class Resp>
static bool rpc(Vxi11Client& client, uint32_t proc, const Parms& parms, Resp& resp, int timeoutMs = 5000)
{
    p::XdrWriter w;
    p::encode(w, parms);
    bool ok;
    const std::vector<uint8_t> body = client.call(proc, w.take(), ok, timeoutMs);
    p::XdrReader r(body.data(), body.size());
    return ok && p::decode(r, resp);
}

template <class Parms, class Resp>
static bool rpc(Vxi11Client& client, p::CoreProc proc, const Parms& parms, Resp& resp, int timeoutMs = 5000)
{
    return rpc(client, static_cast<uint32_t>(proc), parms, resp, timeoutMs);
}

int32_t Vxi11Client::createLink(const std::string& device)
{
    p::CreateLinkParms parms;
    parms.clientId = 42;
    parms.device = device;
    p::CreateLinkResp resp;
    if (!rpc(*this, p::CoreProc::CreateLink, parms, resp))
        return -1;
    m_lid = resp.lid;
    return resp.error;
}

int32_t Vxi11Client::write(const std::string& data, int32_t flags, uint32_t ioTimeout)
{
    p::DeviceWriteParms parms;
    parms.lid = m_lid;
    parms.ioTimeout = ioTimeout;
    parms.flags = flags;
    parms.data = p::ByteView(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    p::DeviceWriteResp resp;
    return rpc(*this, p::CoreProc::DeviceWrite, parms, resp) ? resp.error : -1;
}

int32_t Vxi11Client::read(std::string& data, int32_t& reason, uint32_t requestSize, uint32_t ioTimeout, int32_t flags,
                          uint8_t termChar)
{
    p::DeviceReadParms parms;
    parms.lid = m_lid;
    parms.requestSize = requestSize;
    parms.ioTimeout = ioTimeout;
    parms.flags = flags;
    parms.termChar = termChar;
    p::XdrWriter w;
    p::encode(w, parms);
    bool ok;
    // The reply's data points into the body.
    const std::vector<uint8_t> body =
        call(static_cast<uint32_t>(p::CoreProc::DeviceRead), w.take(), ok, static_cast<int>(ioTimeout) + 2000);
    p::XdrReader r(body.data(), body.size());
    p::DeviceReadResp resp;
    if (!ok || !p::decode(r, resp))
        return -1;
    data.assign(reinterpret_cast<const char*>(resp.data.data), resp.data.size);
    reason = resp.reason;
    return resp.error;
}

int32_t Vxi11Client::readAll(std::string& data, uint32_t ioTimeout)
{
    data.clear();
    for (;;) {
        std::string chunk;
        int32_t reason = 0;
        int32_t e = read(chunk, reason, 1 << 20, ioTimeout);
        data += chunk;
        if (e)
            return e;
        if (reason & p::kReasonEnd)
            return 0;
    }
}

int32_t Vxi11Client::generic(uint32_t proc, uint8_t* stb)
{
    p::DeviceGenericParms parms;
    parms.lid = m_lid;
    parms.ioTimeout = 2000;
    if (proc == static_cast<uint32_t>(p::CoreProc::DeviceReadStb)) {
        p::DeviceReadStbResp resp;
        if (!rpc(*this, proc, parms, resp))
            return -1;
        if (stb)
            *stb = resp.stb;
        return resp.error;
    }
    p::DeviceError resp;
    return rpc(*this, proc, parms, resp) ? resp.error : -1;
}

int32_t Vxi11Client::destroyLink()
{
    p::DeviceError resp;
    return rpc(*this, p::CoreProc::DestroyLink, p::DeviceLink{m_lid}, resp) ? resp.error : -1;
}

}  // namespace benchtest
