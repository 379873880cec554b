// HiSLIP against a rogue peer written in a few lines over plain sockets, with
// headers laid out by hand: a server that sends what a stricter or sloppier
// implementation would (unknown types, Error, FatalError, version 1.0, a small
// maximum message size) to our client, and a client that breaks the
// protocol's order against the bench's server. Then the bench's scripted
// HiSLIP faults as our library reports them.
#include "visa.h"

#include "bench.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

namespace b = quarnel::bench;

namespace {

constexpr int kWaitMs = 3000;

/// Header bytes by hand: "HS", type, control, parameter (BE32), length (BE64).
std::string header(int type, int control, uint32_t parameter, uint64_t length)
{
    std::string h = {'H', 'S', char(type), char(control)};
    for (int s = 24; s >= 0; s -= 8)
        h.push_back(char(parameter >> s));
    for (int s = 56; s >= 0; s -= 8)
        h.push_back(char(length >> s));
    return h;
}
std::string message(int type, int control, uint32_t parameter, const std::string& payload = "")
{
    return header(type, control, parameter, payload.size()) + payload;
}

struct Received
{
    int type = -1, control = -1;
    uint32_t parameter = 0;
    std::string payload;
};

bool readFull(int fd, char* p, size_t n)
{
    while (n > 0) {
        pollfd pf{fd, POLLIN, 0};
        if (poll(&pf, 1, kWaitMs) <= 0)
            return false;
        const ssize_t r = recv(fd, p, n, 0);
        if (r <= 0)
            return false;
        p += r;
        n -= size_t(r);
    }
    return true;
}

/// The next message, or type -1 when the peer closed or said nothing in time.
Received next(int fd)
{
    Received m;
    unsigned char h[16];
    if (!readFull(fd, reinterpret_cast<char*>(h), 16) || h[0] != 'H' || h[1] != 'S')
        return m;
    uint64_t length = 0;
    for (int i = 8; i < 16; ++i)
        length = length << 8 | h[i];
    m.payload.resize(length);
    if (length > (64u << 20) || !readFull(fd, &m.payload[0], length))
        return m;
    m.type = h[2];
    m.control = h[3];
    m.parameter = uint32_t(h[4]) << 24 | uint32_t(h[5]) << 16 | uint32_t(h[6]) << 8 | h[7];
    return m;
}

void put(int fd, const std::string& bytes)
{
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
}

int connectTo(const std::string& address, uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? fd : (close(fd), -1);
}

/// A listening socket on a fresh loopback address, any port.
struct Listener
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    std::string address = b::uniqueLoopbackAddresses(1)[0];
    uint16_t port = 0;
    Listener()
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(fd, 4);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() { close(fd); }
    int take() const
    {
        pollfd pf{fd, POLLIN, 0};
        return poll(&pf, 1, kWaitMs) > 0 ? accept(fd, nullptr, nullptr) : -1;
    }
};

std::string ask(ViSession vi, const char* query, ViStatus& st)
{
    char buf[256] = {};
    ViUInt32 n = 0;
    st = viWrite(vi, reinterpret_cast<ViConstBuf>(query), ViUInt32(strlen(query)), VI_NULL);
    if (st == VI_SUCCESS)
        st = viRead(vi, reinterpret_cast<ViBuf>(buf), sizeof buf, &n);
    return std::string(buf, n);
}

}  // namespace

TEST(HislipRogueServer, ClientCopesAndKeepsToTheServersRules)
{
    Listener l;
    std::vector<std::string> seen;  // what the rogue server noticed about the client
    std::thread server([&] {
        const int sync = l.take();
        Received init = next(sync);
        seen.push_back("init " + std::to_string(init.type) + " " + init.payload);
        put(sync, header(1, 0, 0x01000007, 0));  // version 1.0, session 7
        const int async = l.take();
        const Received ai = next(async);
        seen.push_back("async " + std::to_string(ai.type) + " " + std::to_string(ai.parameter));
        put(async, header(18, 0, 0, 0));
        next(async);
        put(async, message(16, 0, 0, std::string("\0\0\0\0\0\0\x04\x00", 8)));  // maximum 1024 bytes
        // 1: an unknown type and a vendor type before the reply.
        Received q = next(sync);
        put(sync, message(99, 0, 0, "?") + message(200, 0, 0) + message(7, 0, q.parameter, "ONE\n"));
        const Received e1 = next(sync), e2 = next(sync);
        seen.push_back("errors " + std::to_string(e1.type) + "/" + std::to_string(e1.control) + " "
                       + std::to_string(e2.type) + "/" + std::to_string(e2.control));
        // 2: a long write comes in pieces within the maximum, one MessageID each.
        size_t total = 0, pieces = 0, largest = 0;
        uint32_t id = 0;
        bool inStep = true;
        Received d;
        do {
            d = next(sync);
            inStep = inStep && (pieces == 0 || d.parameter == id + 2);
            id = d.parameter;
            total += d.payload.size(), ++pieces, largest = std::max(largest, d.payload.size() + 16);
        } while (d.type == 6);
        seen.push_back("write " + std::to_string(total) + " in " + std::to_string(pieces) + " largest "
                       + std::to_string(largest) + (inStep ? " in step" : " out of step"));
        // 3: Error instead of a reply; 4: a reply; 5: FatalError.
        next(sync);
        put(sync, message(3, 4, 0, "too large"));
        q = next(sync);
        put(sync, message(7, 0, q.parameter, "TWO\n"));
        next(sync);
        put(sync, message(2, 0, 0, "bye"));
        close(sync);
        close(async);
    });

    ViSession rm = VI_NULL, vi = VI_NULL;
    viOpenDefaultRM(&rm);
    const std::string name = "TCPIP::" + l.address + "::hislip0," + std::to_string(l.port) + "::INSTR";
    ASSERT_EQ(viOpen(rm, name.c_str(), VI_NO_LOCK, 2000, &vi), VI_SUCCESS);
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, 2000);
    ViVersion version = 0;
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_TCPIP_HISLIP_VERSION, &version), VI_SUCCESS);
    EXPECT_EQ(version, 0x00100000u);  // the lower of 1.1 and the server's 1.0
    ViStatus st;
    EXPECT_EQ(ask(vi, "FIRST?\n", st), "ONE\n");
    EXPECT_EQ(st, VI_SUCCESS);
    const std::string big(3000, 'w');
    ViUInt32 written = 0;
    EXPECT_EQ(viWrite(vi, reinterpret_cast<ViConstBuf>(big.data()), ViUInt32(big.size()), &written), VI_SUCCESS);
    ask(vi, "SECOND?\n", st);
    EXPECT_EQ(st, VI_ERROR_IO);  // Error "message too large"
    EXPECT_EQ(ask(vi, "THIRD?\n", st), "TWO\n");
    ask(vi, "FOURTH?\n", st);
    EXPECT_EQ(st, VI_ERROR_IO);  // FatalError
    ask(vi, "FIFTH?\n", st);
    EXPECT_EQ(st, VI_ERROR_CONN_LOST);
    viClose(rm);
    server.join();
    EXPECT_EQ(seen, (std::vector<std::string>{"init 0 hislip0", "async 17 7", "errors 3/1 3/3",
                                              "write 3000 in 3 largest 1024 in step"}));
}

TEST(HislipRogueClient, ServerHoldsClientsToTheProtocolsOrder)
{
    b::Bench bench(b::testOptions());
    ASSERT_TRUE(bench.start());
    const std::string a = bench.address(b::Instrument::Oscilloscope);
    const uint16_t port = bench.options().hislipPort;
    const std::string init = message(0, 0, 0x0101514C, "hislip0");
    struct Row
    {
        const char* what;
        std::string syncBytes;  // sent before the async channel exists
        int fatal;              // FatalError code expected, -1: InitializeResponse
    };
    const Row rows[] = {{"data first", message(7, 0, 0xFFFFFF00, "*IDN?\n"), 3},
                        {"two Initialize", init + init, 3},
                        {"data before the async channel", init + message(7, 0, 0xFFFFFF00, "*IDN?\n"), 2},
                        {"bad prologue", "GET / HTTP/1.1\r\n\r\n", 1}};
    for (const Row& r : rows) {
        const int fd = connectTo(a, port);
        put(fd, r.syncBytes);
        Received m = next(fd);
        if (r.syncBytes.compare(0, init.size(), init) == 0) {
            EXPECT_EQ(m.type, 1) << r.what;  // the first Initialize is answered
            m = next(fd);
        }
        EXPECT_EQ(m.type, 2) << r.what;
        EXPECT_EQ(m.control, r.fatal) << r.what;
        EXPECT_EQ(next(fd).type, -1) << r.what << ": closed after FatalError";
        close(fd);
    }
    const int stray = connectTo(a, port);
    put(stray, header(17, 0, 0x7777, 0));  // AsyncInitialize of no session
    EXPECT_EQ(next(stray).control, 3);
    close(stray);

    // A proper session, then messages a sloppy client might send.
    const int sync = connectTo(a, port), async = connectTo(a, port);
    put(sync, init);
    const Received ir = next(sync);
    put(async, header(17, 0, ir.parameter & 0xFFFF, 0));
    ASSERT_EQ(next(async).type, 18);
    const std::string tooLong(bench.options().maxRecvSize, 'x');
    put(sync, message(99, 0, 0) + message(200, 0, 0) + message(6, 0, 0xFFFFFF00, tooLong)
                  + message(7, 0, 0xFFFFFF04, "*OPC?\n") + message(7, 0, 0xFFFFFF06, "*OPC?\n"));
    for (int code : {1, 3, 4, 0}) {  // unknown, vendor, too large, MessageID out of step
        const Received e = next(sync);
        EXPECT_EQ(e.type, 3);
        EXPECT_EQ(e.control, code);
    }
    // Still in step: the last query (whose MessageID follows the one before) is answered.
    const Received reply = next(sync);
    EXPECT_EQ(reply.type, 7);
    EXPECT_EQ(reply.parameter, 0xFFFFFF06u);
    EXPECT_EQ(reply.payload, "1\n");
    put(async, message(10, 9, 0));  // remote/local code out of range
    EXPECT_EQ(next(async).control, 2);
    close(sync);
    close(async);
}

TEST(HislipFaults, EachEndsInItsStatusAndLeavesTheSessionAsItShould)
{
    b::Bench bench(b::testOptions());
    ASSERT_TRUE(bench.start());
    enum class Op { Query, Stb, Clear };
    struct Row
    {
        b::FaultKind kind;
        const char* match;
        Op op;
        ViStatus status;
        bool sessionLives;
    };
    const Row rows[] = {
        {b::FaultKind::HislipError, "*IDN?", Op::Query, VI_ERROR_IO, true},
        {b::FaultKind::HislipFatal, "*IDN?", Op::Query, VI_ERROR_IO, false},
        {b::FaultKind::NoEnd, "*IDN?", Op::Query, VI_ERROR_TMO, true},
        {b::FaultKind::EndlessReply, "*IDN?", Op::Query, VI_ERROR_TMO, true},
        {b::FaultKind::DropConnection, "device_readstb", Op::Stb, VI_ERROR_CONN_LOST, false},  // async channel
        {b::FaultKind::HislipError, "device_clear", Op::Clear, VI_ERROR_IO, true},
    };
    ViSession rm = VI_NULL;
    viOpenDefaultRM(&rm);
    for (const Row& r : rows) {
        const std::string what = std::string(r.match) + " " + std::to_string(int(r.kind));
        ViSession vi = VI_NULL;
        ASSERT_EQ(viOpen(rm, bench.hislipResourceString(b::Instrument::Oscilloscope).c_str(), VI_NO_LOCK, 2000, &vi),
                  VI_SUCCESS);
        viSetAttribute(vi, VI_ATTR_TMO_VALUE, 300);
        b::Fault f;
        f.kind = r.kind;
        f.match = r.match;
        bench.addFault(f);
        ViStatus st = VI_SUCCESS;
        ViUInt16 stb = 0;
        if (r.op == Op::Query)
            ask(vi, "*IDN?\n", st);
        else
            st = r.op == Op::Stb ? viReadSTB(vi, &stb) : viClear(vi);
        EXPECT_EQ(st, r.status) << what;
        EXPECT_EQ(ask(vi, "*OPC?\n", st), r.sessionLives ? "1\n" : "") << what;
        EXPECT_EQ(st, r.sessionLives ? VI_SUCCESS : VI_ERROR_CONN_LOST) << what;
        bench.clearFaults();
        viClose(vi);
    }
    viClose(rm);
}
