// The servers over loopback: portmapper, VXI-11 core channel rules, raw
// sockets, scripted connection faults, several links, clean stop.
#include "benchtestutil.h"

#include "protocol/vxi11.h"
#include "server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace benchtest;
namespace p = quarnel::protocol;

namespace {

constexpr uint32_t kReadStb = 13, kTrigger = 14, kClear = 15, kRemote = 16, kLocal = 17;

struct Served
{
    Bench bench;
    explicit Served(Options o = testOptions()) : bench(std::move(o))
    {
        std::string error;
        started = bench.start(&error);
        EXPECT_TRUE(started) << error;
    }
    bool started = false;
    std::string addr(Instrument i) const { return bench.address(i); }
    bool link(Vxi11Client& c, Instrument i)
    {
        uint32_t port = Vxi11Client::getPort(addr(i), bench.options().portmapperPort);
        EXPECT_EQ(bench.corePort(i), port);
        return c.connect(addr(i), static_cast<uint16_t>(port)) && c.createLink() == 0;
    }
};

std::string ask(Vxi11Client& c, const std::string& message)
{
    EXPECT_EQ(0, c.write(message));
    std::string reply;
    EXPECT_EQ(0, c.readAll(reply));
    return reply;
}

}  // namespace

TEST(BenchServer, AddressesAreUniqueAndOutsideTheDefaults)
{
    std::set<std::string> seen;
    for (int i = 0; i < 20; ++i)
        for (const std::string& a : uniqueLoopbackAddresses(3)) {
            EXPECT_EQ(0u, a.rfind("127.", 0));
            EXPECT_NE(0u, a.rfind("127.0.0.", 0));
            EXPECT_TRUE(seen.insert(a).second) << a;
        }
}

TEST(BenchServer, PortmapperAndLinkRules)
{
    Served s;
    ASSERT_TRUE(s.started);
    const std::string a = s.addr(Instrument::Oscilloscope);
    EXPECT_EQ(0u, Vxi11Client::getPort(a, 111, 0x12345));  // unknown program: not registered
    EXPECT_EQ(s.bench.corePort(Instrument::Oscilloscope), Vxi11Client::getPort(a, 111));

    Vxi11Client c;
    ASSERT_TRUE(c.connect(a, s.bench.corePort(Instrument::Oscilloscope)));
    EXPECT_EQ(p::kErrInvalidAddress, c.createLink("gpib0,7"));
    ASSERT_EQ(0, c.createLink("inst0"));
    // Over maxRecvSize: refused with nothing transferred.
    EXPECT_EQ(p::kErrParameter, c.write(std::string(s.bench.options().maxRecvSize + 1, 'A')));
    // Reads honour requestSize (REQCNT), then END on the last byte.
    ASSERT_EQ(0, c.write("*IDN?\n"));
    std::string part;
    int32_t reason = 0;
    ASSERT_EQ(0, c.read(part, reason, 5));
    EXPECT_EQ("Terva", part);
    EXPECT_EQ(p::kReasonReqCnt, reason);
    std::string rest;
    ASSERT_EQ(0, c.read(rest, reason, 1000));
    EXPECT_EQ(p::kReasonEnd, reason);
    EXPECT_EQ('\n', rest.back());
    // A termination character stops the read (CHR).
    ASSERT_EQ(0, c.write("*OPC?;*OPC?\n"));
    ASSERT_EQ(0, c.read(part, reason, 100, 2000, p::kFlagTermCharSet, ';'));
    EXPECT_EQ("1;", part);
    EXPECT_EQ(p::kReasonChr, reason);
    ASSERT_EQ(0, c.read(part, reason, 100));
    EXPECT_EQ("1\n", part);
    // Nothing to read: error 15 after io_timeout, and the instrument notes it.
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(p::kErrIoTimeout, c.read(part, reason, 100, 300));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(290));
    EXPECT_EQ("-420,\"Query UNTERMINATED\"\n", ask(c, "SYST:ERR?\n"));
    // Procedures are logged and answered.
    uint8_t stb = 0xFF;
    EXPECT_EQ(0, c.write("*IDN?\n"));
    EXPECT_EQ(0, c.generic(kReadStb, &stb));
    EXPECT_EQ(0x10, stb & 0x10);  // MAV
    EXPECT_EQ(0, c.generic(kClear));
    EXPECT_EQ(p::kErrIoTimeout, c.read(part, reason, 100, 100));  // cleared
    EXPECT_EQ(0, c.generic(kRemote));
    EXPECT_EQ(0, c.generic(kLocal));
    EXPECT_EQ(0, c.generic(kTrigger));
    EXPECT_EQ(1u, s.bench.groundTruth().size());  // device_trigger acquires like *TRG
    EXPECT_EQ(0, c.destroyLink());
    EXPECT_EQ(p::kErrInvalidLinkId, c.destroyLink());
    c.close();

    std::vector<std::string> procedures;
    for (const LogEntry& e : s.bench.log(Instrument::Oscilloscope))
        if (e.kind == LogKind::Procedure)
            procedures.push_back(e.text + (e.detail.empty() ? "" : " " + e.detail));
    EXPECT_EQ(
        (std::vector<std::string>{"create_link gpib0,7", "create_link inst0", "device_readstb", "device_clear",
                                  "device_remote", "device_local", "device_trigger", "destroy_link", "destroy_link"}),
        procedures);
}

TEST(BenchServer, SmallMaxRecvSize)
{
    Options o = testOptions();
    o.maxRecvSize = 1024;
    Served s(o);
    ASSERT_TRUE(s.started);
    Vxi11Client c;
    ASSERT_TRUE(s.link(c, Instrument::VideoAnalyzer));
    EXPECT_EQ(p::kErrParameter, c.write(std::string(1025, ' ')));
    // A message in pieces without END waits for the last one.
    EXPECT_EQ(0, c.write("*IDN?" + std::string(1019, ' '), 0));
    EXPECT_EQ(0, c.write("\n"));
    std::string reply;
    EXPECT_EQ(0, c.readAll(reply));
    EXPECT_EQ(o.videoIdentity + "\n", reply);
    EXPECT_EQ("*IDN?" + std::string(1019, ' ') + "\n", s.bench.messages(Instrument::VideoAnalyzer).back());
    o.maxRecvSize = 512;
    std::string error;
    EXPECT_FALSE(Bench(o).start(&error));
    EXPECT_NE(std::string::npos, error.find("maxRecvSize")) << error;
}

TEST(BenchServer, SeveralLinksAtOnce)
{
    Served s;
    ASSERT_TRUE(s.started);
    Vxi11Client a, b, c;
    ASSERT_TRUE(s.link(a, Instrument::Oscilloscope));
    ASSERT_TRUE(s.link(b, Instrument::Oscilloscope));
    ASSERT_TRUE(s.link(c, Instrument::SpectrumAnalyzer));
    EXPECT_NE(a.lid(), b.lid());
    // Each link keeps its own reply.
    ASSERT_EQ(0, a.write("*IDN?\n"));
    ASSERT_EQ(0, b.write("*OPC?\n"));
    ASSERT_EQ(0, c.write("*IDN?\n"));
    std::string ra, rb, rc;
    ASSERT_EQ(0, b.readAll(rb));
    ASSERT_EQ(0, a.readAll(ra));
    ASSERT_EQ(0, c.readAll(rc));
    EXPECT_EQ("1\n", rb);
    EXPECT_NE(std::string::npos, ra.find("Oscilloscope"));
    EXPECT_NE(std::string::npos, rc.find("KLE"));
    // A lock held by one link keeps the other out unless it waits.
    std::vector<uint8_t> args;
    {
        p::XdrWriter w;
        w.putInt32(a.lid());
        w.putInt32(0);
        w.putUint32(0);
        args = w.take();
    }
    bool ok = false;
    auto body = a.call(static_cast<uint32_t>(p::CoreProc::DeviceLock), args, ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(0, static_cast<int>(body[3]));
    EXPECT_EQ(p::kErrDeviceLocked, b.write("*OPC?\n", p::kFlagEnd));
    a.close();  // the lock goes with the connection
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(0, b.write("*OPC?\n", p::kFlagEnd | p::kFlagWaitLock));
}

TEST(BenchServer, ConnectionFaults)
{
    Options o = testOptions();
    Fault drop;
    drop.kind = FaultKind::DropConnection;
    drop.match = "CHAN1:DATA?";
    drop.afterBytes = 100;  // inside the block
    Fault local;
    local.kind = FaultKind::CommandError;
    local.match = "device_local";
    local.vxiError = 17;
    local.instrument = Instrument::VideoAnalyzer;
    Fault noReply;
    noReply.kind = FaultKind::NoReply;
    noReply.match = "device_remote";
    noReply.instrument = Instrument::VideoAnalyzer;
    o.faults = {drop, local, noReply};
    Served s(o);
    ASSERT_TRUE(s.started);

    Vxi11Client c;
    ASSERT_TRUE(s.link(c, Instrument::Oscilloscope));
    ask(c, "*TRG;FORM REAL,32;*OPC?\n");
    ASSERT_EQ(0, c.write("CHAN1:DATA?\n"));
    std::string got;
    EXPECT_EQ(-1, c.readAll(got));  // connection lost
    EXPECT_EQ(100u, got.size());
    EXPECT_EQ("#580000", got.substr(0, 7));  // 20000 points

    Vxi11Client v;
    ASSERT_TRUE(s.link(v, Instrument::VideoAnalyzer));
    EXPECT_EQ(17, v.generic(kLocal));
    EXPECT_EQ(0, v.generic(kLocal));  // once only
    bool ok = true;
    p::XdrWriter w;
    p::encode(w, p::DeviceGenericParms{v.lid(), 0, 0, 1000});
    v.call(kRemote, w.take(), ok, 300);
    EXPECT_FALSE(ok);  // no reply: the client times out
}

TEST(BenchServer, RawSocketWithSlowReplyAndDrop)
{
    Options o = testOptions();
    Fault slow;
    slow.kind = FaultKind::SlowReply;
    slow.instrument = Instrument::SpectrumAnalyzer;
    slow.match = "*IDN?";
    slow.delayMs = 300;
    Fault drop;
    drop.kind = FaultKind::DropConnection;
    drop.instrument = Instrument::SpectrumAnalyzer;
    drop.match = "TRAC?";
    drop.afterBytes = 10;
    o.faults = {slow, drop};
    Served s(o);
    ASSERT_TRUE(s.started);
    int fd = connectTcp(s.addr(Instrument::SpectrumAnalyzer), 5025);
    ASSERT_GE(fd, 0);
    ::send(fd, "*IDN?\n", 6, MSG_NOSIGNAL);
    std::string reply;
    EXPECT_FALSE(readUntil(fd, reply, '\n', 150));  // not yet
    EXPECT_TRUE(readUntil(fd, reply, '\n', 1000));
    EXPECT_NE(std::string::npos, reply.find("KLE"));
    reply.clear();
    std::string cmds = "FORM REAL,32;*OPC?\nTRAC? TRACE1, 20000\n";
    ::send(fd, cmds.data(), cmds.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(readUntil(fd, reply, '\n', 1000));
    EXPECT_EQ("1\n", reply);
    reply.clear();
    EXPECT_FALSE(readUntil(fd, reply, '\n', 2000));  // closed after 10 bytes
    EXPECT_EQ("#44004", reply.substr(0, 6));         // 1001 points: the analyzer's default
    EXPECT_EQ(10u, reply.size());
    ::close(fd);
}

TEST(BenchServer, StopEndsBlockedReadsAndFreesTheAddresses)
{
    Options o = testOptions();
    auto served = std::unique_ptr<Served>(new Served(o));
    ASSERT_TRUE(served->started);
    Vxi11Client c;
    ASSERT_TRUE(served->link(c, Instrument::Oscilloscope));
    std::thread reader([&] {
        std::string data;
        int32_t reason;
        c.read(data, reason, 100, 60000);  // would wait a minute
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto t0 = std::chrono::steady_clock::now();
    served->bench.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    reader.join();
    EXPECT_FALSE(served->bench.running());
    // The same addresses bind again at once.
    std::string error;
    EXPECT_TRUE(served->bench.start(&error)) << error;
    // A second bench on them fails with a clear reason.
    Bench other(o);
    EXPECT_FALSE(other.start(&error));
    EXPECT_NE(std::string::npos, error.find("in use")) << error;
    EXPECT_EQ(error, other.errorText());
    Options bad = testOptions();
    bad.analyzerAddress = bad.scopeAddress;
    Bench clash(bad);
    EXPECT_FALSE(clash.start(&error));
    EXPECT_NE(std::string::npos, error.find("different addresses")) << error;
    Options far = testOptions();
    far.videoAddress = "192.0.2.77";
    Bench remote(far);
    EXPECT_FALSE(remote.start(&error));
    EXPECT_NE(std::string::npos, error.find("not an address of this machine")) << error;
}

TEST(BenchServer, PrivilegeMessageForLowPorts)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to drop the privilege";
    // Run the unprivileged attempt in a child so this process keeps root.
    pid_t pid = fork();
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(3);
        Bench b(testOptions());
        std::string error;
        bool ok = b.start(&error);
        _exit(!ok && error.find("cap_net_bind_service") != std::string::npos ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}
