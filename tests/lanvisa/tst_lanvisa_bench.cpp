// End to end: liblanvisa.so's C API against the simulated bench, over VXI-11,
// HiSLIP and raw SOCKET. Every test that changes bench state clears it again; the
// bench runs on addresses of its own so tests of other processes never meet it.
#include "visa.h"

#include "bench.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

namespace b = quarnel::bench;
using Clock = std::chrono::steady_clock;

namespace {

enum class Proto { Vxi11, Socket, Hislip };
constexpr ViUInt32 kOpenTimeoutMs = 5000;
constexpr ViUInt32 kIoTimeoutMs = 5000;
constexpr ViUInt32 kShortTimeoutMs = 300;
constexpr size_t kBenchReadChunk = 16u << 20;  // the bench's largest device_read reply
constexpr size_t kReplyBuffer = 20000;

std::string readFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

double elapsedMs(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

class BenchTest : public ::testing::TestWithParam<Proto>
{
public:
    static void SetUpTestSuite()
    {
        s_bench = new b::Bench(b::testOptions());
        std::string error;
        ASSERT_TRUE(s_bench->start(&error)) << error;
    }
    static void TearDownTestSuite()
    {
        delete s_bench;
        s_bench = nullptr;
    }

protected:
    void SetUp() override
    {
        ASSERT_NE(s_bench, nullptr);
        s_bench->clearFaults();
        ASSERT_EQ(viOpenDefaultRM(&m_rm), VI_SUCCESS);
        m_vi = open(b::Instrument::Oscilloscope);
        ASSERT_NE(m_vi, VI_NULL);
        ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, kIoTimeoutMs), VI_SUCCESS);
    }
    void TearDown() override
    {
        s_bench->clearFaults();
        viClose(m_rm);
        for (const std::string& f : m_files)
            ::unlink(f.c_str());
    }

    std::string resource(b::Instrument i) const
    {
        switch (GetParam()) {
        case Proto::Vxi11:
            return s_bench->resourceString(i);
        case Proto::Hislip:
            return s_bench->hislipResourceString(i);
        case Proto::Socket:
            break;
        }
        return s_bench->socketResourceString(i);
    }
    /// How a whole reply ends: END, or on a raw socket the terminator.
    ViStatus wholeReply() const { return GetParam() == Proto::Socket ? VI_SUCCESS_TERM_CHAR : VI_SUCCESS; }
    ViSession open(b::Instrument i)
    {
        ViSession vi = VI_NULL;
        EXPECT_EQ(viOpen(m_rm, resource(i).c_str(), VI_NO_LOCK, kOpenTimeoutMs, &vi), VI_SUCCESS) << resource(i);
        return vi;
    }
    std::string tempFile(const char* tag)
    {
        const std::string f = ::testing::TempDir() + "lanvisa_" + tag + "_" + std::to_string(::getpid()) + "_"
                              + std::to_string(m_files.size()) + ".bin";
        m_files.push_back(f);
        return f;
    }
    /// The program's query: "%20000c" into a zeroed buffer.
    ViStatus query(ViSession vi, const char* command, std::string& reply)
    {
        std::vector<char> buf(kReplyBuffer, 0);
        const ViStatus st = viQueryf(vi, command, "%20000c", buf.data());
        reply.assign(buf.data(), strnlen(buf.data(), buf.size()));
        return st;
    }
    void command(const char* text)
    {
        std::string reply;
        ASSERT_EQ(query(m_vi, text, reply), VI_SUCCESS) << text;
        ASSERT_EQ(reply, "1\n") << text;
    }
    /// One acquisition of `points` float32 samples per channel.
    void acquire(size_t points)
    {
        command("INIT:CONT OFF;*OPC?\n");
        command(("ACQ:POIN " + std::to_string(points) + ";*OPC?\n").c_str());
        command("FORM REAL,32;*OPC?\n");
        command("*TRG;*OPC?\n");
    }
    /// The program's transfer: write, read "#n", read the digits, read the rest into a file.
    ViStatus readBlockToFile(ViSession vi, const char* cmd, const std::string& path, size_t& length,
                             ViUInt32& fileCount)
    {
        ViStatus st = viWrite(vi, reinterpret_cast<ViConstBuf>(cmd), static_cast<ViUInt32>(strlen(cmd)), VI_NULL);
        if (st != VI_SUCCESS)
            return st;
        unsigned char header[100] = {};
        ViUInt32 got = 0;
        st = viRead(vi, header, 2, &got);
        if (st < VI_SUCCESS)
            return st;
        EXPECT_EQ(st, VI_SUCCESS_MAX_CNT);
        EXPECT_EQ(header[0], '#');
        const ViUInt32 digits = header[1] - '0';
        st = viRead(vi, header, digits, &got);
        if (st < VI_SUCCESS)
            return st;
        header[digits] = 0;
        length = std::strtoul(reinterpret_cast<char*>(header), nullptr, 10);
        return viReadToFile(vi, path.c_str(), static_cast<ViUInt32>(length + 10), &fileCount);
    }

    static b::Bench* s_bench;
    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
    std::vector<std::string> m_files;
};

b::Bench* BenchTest::s_bench = nullptr;

b::Fault fault(b::FaultKind kind, const std::string& match)
{
    b::Fault f;
    f.instrument = b::Instrument::Oscilloscope;
    f.kind = kind;
    f.match = match;
    return f;
}

/// Bytes 0..255 repeated in a shuffled order: every byte value, many LFs.
std::string binaryData(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}

std::string blockOf(const std::string& data)
{
    const std::string len = std::to_string(data.size());
    return "#" + std::to_string(len.size()) + len + data + "\n";
}

}  // namespace

TEST_P(BenchTest, IdentityAndOpcRoundTrips)
{
    std::string reply;
    ASSERT_EQ(query(m_vi, "*IDN?\n", reply), VI_SUCCESS);
    EXPECT_EQ(reply, s_bench->options().scopeIdentity + "\n");

    ViSession sa = open(b::Instrument::SpectrumAnalyzer);
    ASSERT_EQ(query(sa, "*IDN?\n", reply), VI_SUCCESS);
    EXPECT_EQ(reply, s_bench->options().analyzerIdentity + "\n");

    int one = 0;
    ASSERT_EQ(viQueryf(sa, "*OPC?\n", "%d", &one), VI_SUCCESS);
    EXPECT_EQ(one, 1);
    // A number then a text query on the same session: no stale LF in between.
    double range = 0;
    ASSERT_EQ(viQueryf(m_vi, "TIM:RANG?\n", "%lf", &range), VI_SUCCESS);
    EXPECT_GT(range, 0.0);
    ASSERT_EQ(query(m_vi, "*OPC?\n", reply), VI_SUCCESS);
    EXPECT_EQ(reply, "1\n");
}

// With VI_ATTR_SEND_END_EN off a write leaves the message open: the
// instrument must not act on half a command. Over VXI-11 the reply to the
// write says the instrument has taken it in.
TEST_P(BenchTest, EndGoesOnlyWithSendEnd)
{
    if (GetParam() != Proto::Vxi11)
        GTEST_SKIP() << "only VXI-11 confirms a write";
    s_bench->clearLog();
    ViUInt32 n = 0;
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_SEND_END_EN, VI_FALSE), VI_SUCCESS);
    ASSERT_EQ(viWrite(m_vi, (ViBuf) "*CLS", 4, &n), VI_SUCCESS);
    EXPECT_TRUE(s_bench->messages(b::Instrument::Oscilloscope).empty());
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_SEND_END_EN, VI_TRUE), VI_SUCCESS);
    ASSERT_EQ(viWrite(m_vi, (ViBuf) ";*CLS", 5, &n), VI_SUCCESS);
    const std::vector<std::string> got = s_bench->messages(b::Instrument::Oscilloscope);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].substr(0, 9), "*CLS;*CLS");
}

TEST_P(BenchTest, KnownBinaryBlocksAreBitExact)
{
    for (size_t n : {size_t(5), size_t(1) << 20}) {
        const std::string data = n == 5 ? std::string("\n#1\n\n", 5) : binaryData(n, 7);
        b::Fault f = fault(b::FaultKind::ReplaceReply, "CHAN1:DATA?");
        f.text = blockOf(data);
        s_bench->addFault(f);
        const std::string path = tempFile("known");
        size_t length = 0;
        ViUInt32 count = 0;
        const ViStatus st = readBlockToFile(m_vi, "CHAN1:DATA?\n", path, length, count);
        // END over VXI-11 and HiSLIP; the terminator over a socket.
        EXPECT_EQ(st, wholeReply());
        EXPECT_EQ(length, n);
        EXPECT_EQ(count, n + 1);
        EXPECT_TRUE(readFile(path) == data + "\n") << "block of " << n << " bytes differs";
        s_bench->clearFaults();
    }
}

// Over VXI-11 a reply of exactly the bench's largest device_read reply, and
// one a little longer, which arrives in two (END on the last).
TEST_P(BenchTest, RepliesAtAndPastTheServersChunkSize)
{
    for (size_t size : {kBenchReadChunk, kBenchReadChunk + 4096}) {
        std::string text = binaryData(size - 1, 3);
        for (char& c : text)
            if (c == '\n')
                c = 'x';  // a socket reply ends at its first LF
        text += "\n";
        b::Fault f = fault(b::FaultKind::ReplaceReply, "BIG?");
        f.text = text;
        s_bench->addFault(f);
        const char cmd[] = "BIG?\n";
        ASSERT_EQ(viWrite(m_vi, reinterpret_cast<ViConstBuf>(cmd), sizeof cmd - 1, VI_NULL), VI_SUCCESS);
        std::vector<unsigned char> buf(2 * kBenchReadChunk);
        ViUInt32 got = 0;
        const ViStatus st = viRead(m_vi, buf.data(), static_cast<ViUInt32>(buf.size()), &got);
        EXPECT_EQ(st, wholeReply());
        ASSERT_EQ(got, text.size());
        EXPECT_TRUE(std::memcmp(buf.data(), text.data(), text.size()) == 0);
        // Nothing is left over: the next query gets its own reply.
        std::string reply;
        ASSERT_EQ(query(m_vi, "*OPC?\n", reply), VI_SUCCESS);
        EXPECT_EQ(reply, "1\n");
        s_bench->clearFaults();
    }
}

TEST_P(BenchTest, ReadsInPiecesAndTerminationCharacter)
{
    const std::string idn = s_bench->options().scopeIdentity + "\n";
    const char cmd[] = "*IDN?\n";
    // Pieces of 7 bytes: MAX_CNT until the piece that holds the end.
    ASSERT_EQ(viWrite(m_vi, reinterpret_cast<ViConstBuf>(cmd), sizeof cmd - 1, VI_NULL), VI_SUCCESS);
    std::string joined;
    ViStatus st = VI_SUCCESS_MAX_CNT;
    while (st == VI_SUCCESS_MAX_CNT && joined.size() < idn.size() + 7) {
        unsigned char piece[7];
        ViUInt32 got = 0;
        st = viRead(m_vi, piece, sizeof piece, &got);
        joined.append(reinterpret_cast<char*>(piece), got);
    }
    EXPECT_EQ(joined, idn);
    EXPECT_EQ(st, wholeReply());

    // Termination character ',' enabled: each read ends just after a comma.
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TERMCHAR, ','), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    ASSERT_EQ(viWrite(m_vi, reinterpret_cast<ViConstBuf>(cmd), sizeof cmd - 1, VI_NULL), VI_SUCCESS);
    char field[256] = {};
    ViUInt32 got = 0;
    ASSERT_EQ(viRead(m_vi, reinterpret_cast<ViBuf>(field), sizeof field, &got), VI_SUCCESS_TERM_CHAR);
    EXPECT_EQ(std::string(field, got), idn.substr(0, idn.find(',') + 1));
    ASSERT_EQ(viRead(m_vi, reinterpret_cast<ViBuf>(field), sizeof field, &got), VI_SUCCESS_TERM_CHAR);
    const size_t second = idn.find(',') + 1;
    EXPECT_EQ(std::string(field, got), idn.substr(second, idn.find(',', second) + 1 - second));
    viClear(m_vi);
}

TEST_P(BenchTest, TimeOutThenTheNextReplyIsTheRightOne)
{
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, kShortTimeoutMs), VI_SUCCESS);
    b::Fault slow = fault(b::FaultKind::SlowReply, "*IDN?");
    slow.delayMs = 3 * kShortTimeoutMs;
    s_bench->addFault(slow);
    std::string reply = "unchanged";
    const auto t0 = Clock::now();
    EXPECT_EQ(query(m_vi, "*IDN?\n", reply), VI_ERROR_TMO);
    const double ms = elapsedMs(t0);
    EXPECT_GE(ms, kShortTimeoutMs * 0.9);
    EXPECT_LT(ms, kShortTimeoutMs + 2000.0) << "one deadline per operation";
    // Let the late identity reply arrive, then ask something else.
    std::this_thread::sleep_for(std::chrono::milliseconds(4 * kShortTimeoutMs));
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, kIoTimeoutMs), VI_SUCCESS);
    ASSERT_EQ(query(m_vi, "*OPC?\n", reply), VI_SUCCESS);
    EXPECT_EQ(reply, "1\n") << "a late reply was taken as the answer to the next query";

    // A query the instrument never answers.
    s_bench->addFault(fault(b::FaultKind::NoReply, "SYST:ERR?"));
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, kShortTimeoutMs), VI_SUCCESS);
    EXPECT_EQ(query(m_vi, "SYST:ERR?\n", reply), VI_ERROR_TMO);
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, kIoTimeoutMs), VI_SUCCESS);
    ASSERT_EQ(query(m_vi, "*OPC?\n", reply), VI_SUCCESS);
    EXPECT_EQ(reply, "1\n");
}

TEST_P(BenchTest, HashInTextAndARunawayBlockLeaveTheSessionWorking)
{
    b::Fault f = fault(b::FaultKind::ReplaceReply, "*IDN?");
    f.text = "ACME,Model,SN#19\n";
    s_bench->addFault(f);
    std::string reply;
    ASSERT_EQ(query(m_vi, "*IDN?\n", reply), VI_SUCCESS);
    EXPECT_EQ(reply, f.text);
    // A reply that declares a block far longer than it is: over a raw socket
    // it can only time out, and the next query must not be swallowed by it.
    f.text = "#9999999999x\n";
    s_bench->addFault(f);
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, kShortTimeoutMs), VI_SUCCESS);
    EXPECT_EQ(query(m_vi, "*IDN?\n", reply), GetParam() == Proto::Socket ? VI_ERROR_TMO : VI_SUCCESS);
    ASSERT_EQ(query(m_vi, "*OPC?\n", reply), VI_SUCCESS);
    EXPECT_EQ(reply, "1\n");
}

TEST_P(BenchTest, DroppedConnectionIsReportedAndStays)
{
    acquire(20000);
    b::Fault drop = fault(b::FaultKind::DropConnection, "CHAN1:DATA?");
    drop.afterBytes = 100;
    s_bench->addFault(drop);
    const std::string path = tempFile("drop");
    size_t length = 0;
    ViUInt32 count = 0;
    EXPECT_EQ(readBlockToFile(m_vi, "CHAN1:DATA?\n", path, length, count), VI_ERROR_CONN_LOST);
    EXPECT_LT(count, 100u);
    std::string reply;
    EXPECT_EQ(query(m_vi, "*OPC?\n", reply), VI_ERROR_CONN_LOST);
    // A fresh session works again.
    ViSession again = open(b::Instrument::Oscilloscope);
    ASSERT_EQ(query(again, "*OPC?\n", reply), VI_SUCCESS);
}

TEST_P(BenchTest, GoToLocalReachesTheBench)
{
    s_bench->clearLog(b::Instrument::Oscilloscope);
    const ViStatus st = viGpibControlREN(m_vi, VI_GPIB_REN_ADDRESS_GTL);
    if (GetParam() == Proto::Socket) {
        EXPECT_EQ(st, VI_ERROR_NSUP_OPER);  // a raw socket has no remote/local state
        return;
    }
    EXPECT_EQ(st, VI_SUCCESS);
    bool seen = false;
    for (const b::LogEntry& e : s_bench->log(b::Instrument::Oscilloscope))
        seen = seen || (e.kind == b::LogKind::Procedure && e.text == "device_local");
    EXPECT_TRUE(seen);
    EXPECT_EQ(viGpibControlREN(m_vi, 7), VI_ERROR_INV_MODE);

    // An RPC the server never answers times out within the session's budget.
    s_bench->addFault(fault(b::FaultKind::NoReply, "device_local"));
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, kShortTimeoutMs), VI_SUCCESS);
    const auto t0 = Clock::now();
    EXPECT_EQ(viGpibControlREN(m_vi, VI_GPIB_REN_ADDRESS_GTL), VI_ERROR_TMO);
    EXPECT_LT(elapsedMs(t0), kShortTimeoutMs + 2000.0);
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, kIoTimeoutMs), VI_SUCCESS);
    std::string reply;
    ASSERT_EQ(query(m_vi, "*OPC?\n", reply), VI_SUCCESS);
    EXPECT_EQ(reply, "1\n");
}

// Over VXI-11 a write longer than the server takes in one device_write goes
// out in several (HiSLIP's pieces: the rogue server's test).
TEST(BenchSmallMaxRecvSize, SplitWritesReachTheInstrumentWhole)
{
    b::Options o = b::testOptions();
    o.maxRecvSize = 1024;
    b::Bench bench(o);
    ASSERT_TRUE(bench.start());
    ViSession rm = VI_NULL, vi = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    ASSERT_EQ(viOpen(rm, bench.resourceString(b::Instrument::Oscilloscope).c_str(), VI_NO_LOCK, kOpenTimeoutMs, &vi),
              VI_SUCCESS);
    const std::string cmd = "*IDN?" + std::string(5000, ' ') + "\n";
    ASSERT_EQ(viWrite(vi, reinterpret_cast<ViConstBuf>(cmd.data()), static_cast<ViUInt32>(cmd.size()), VI_NULL),
              VI_SUCCESS);
    char buf[256] = {};
    ViUInt32 got = 0;
    EXPECT_EQ(viRead(vi, reinterpret_cast<ViBuf>(buf), sizeof buf, &got), VI_SUCCESS);
    EXPECT_EQ(std::string(buf, got), o.scopeIdentity + "\n");
    const auto msgs = bench.messages(b::Instrument::Oscilloscope);
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ(msgs.back(), cmd);
    viClose(rm);
}

TEST_P(BenchTest, SessionsAttributesAndErrors)
{
    // Status byte, device clear, attributes.
    ViUInt16 stb = 0xFFFF;
    if (GetParam() != Proto::Socket) {
        EXPECT_EQ(viReadSTB(m_vi, &stb), VI_SUCCESS);
        EXPECT_LE(stb, 0xFF);
    } else {
        EXPECT_EQ(viReadSTB(m_vi, &stb), VI_ERROR_INV_SETUP);
        ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_IO_PROT, VI_PROT_4882_STRS), VI_SUCCESS);
        EXPECT_EQ(viReadSTB(m_vi, &stb), VI_SUCCESS);
    }
    EXPECT_EQ(viClear(m_vi), VI_SUCCESS);
    char text[VI_FIND_BUFLEN] = {};
    ASSERT_EQ(viGetAttribute(m_vi, VI_ATTR_RSRC_CLASS, text), VI_SUCCESS);
    EXPECT_STREQ(text, GetParam() == Proto::Socket ? "SOCKET" : "INSTR");
    ASSERT_EQ(viGetAttribute(m_vi, VI_ATTR_TCPIP_ADDR, text), VI_SUCCESS);
    EXPECT_EQ(std::string(text), s_bench->address(b::Instrument::Oscilloscope));
    ViUInt32 tmo = 0;
    ASSERT_EQ(viGetAttribute(m_vi, VI_ATTR_TMO_VALUE, &tmo), VI_SUCCESS);
    EXPECT_EQ(tmo, kIoTimeoutMs);
    ViBoolean flag = 7;
    ASSERT_EQ(viGetAttribute(m_vi, VI_ATTR_TERMCHAR_EN, &flag), VI_SUCCESS);
    EXPECT_EQ(flag, GetParam() == Proto::Socket ? VI_TRUE : VI_FALSE);
    if (GetParam() != Proto::Socket) {
        ASSERT_EQ(viGetAttribute(m_vi, VI_ATTR_TCPIP_IS_HISLIP, &flag), VI_SUCCESS);
        EXPECT_EQ(flag, GetParam() == Proto::Hislip ? VI_TRUE : VI_FALSE);
    }
    EXPECT_EQ(viSetAttribute(m_vi, VI_ATTR_RSRC_NAME, 0), VI_ERROR_ATTR_READONLY);
    EXPECT_EQ(viSetAttribute(m_vi, VI_ATTR_TERMCHAR, 256), VI_ERROR_NSUP_ATTR_STATE);
    EXPECT_EQ(viSetAttribute(m_vi, 0x3FFF7777, 0), VI_ERROR_NSUP_ATTR);

    // viReadToFile with a count far beyond the reply stops at the end, bounded memory.
    const char idn[] = "*IDN?\n";
    ASSERT_EQ(viWrite(m_vi, reinterpret_cast<ViConstBuf>(idn), sizeof idn - 1, VI_NULL), VI_SUCCESS);
    const std::string path = tempFile("huge");
    ViUInt32 count = 0;
    EXPECT_GE(viReadToFile(m_vi, path.c_str(), 999999999u + 10u, &count), VI_SUCCESS);
    EXPECT_EQ(readFile(path), s_bench->options().scopeIdentity + "\n");
    EXPECT_EQ(count, readFile(path).size());
    EXPECT_EQ(viReadToFile(m_vi, "/nonexistent-dir/x.bin", 10, &count), VI_ERROR_FILE_ACCESS);

    // Opening: bad names, nothing listening, wrong session kinds.
    ViSession vi = VI_NULL;
    EXPECT_EQ(viOpen(m_rm, "TCPIP::bad name::INSTR", VI_NO_LOCK, kOpenTimeoutMs, &vi), VI_ERROR_INV_RSRC_NAME);
    const std::string nobody = "TCPIP::" + b::uniqueLoopbackAddresses(1)[0] + "::INSTR";
    EXPECT_EQ(viOpen(m_rm, nobody.c_str(), VI_NO_LOCK, kOpenTimeoutMs, &vi), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(viOpen(m_vi, resource(b::Instrument::Oscilloscope).c_str(), VI_NO_LOCK, kOpenTimeoutMs, &vi),
              VI_ERROR_NSUP_OPER);
    EXPECT_EQ(viOpen(m_rm, resource(b::Instrument::Oscilloscope).c_str(), VI_SHARED_LOCK, kOpenTimeoutMs, &vi),
              VI_ERROR_INV_ACC_MODE);
    EXPECT_EQ(viWrite(m_rm, reinterpret_cast<ViConstBuf>(idn), 6, VI_NULL), VI_ERROR_NSUP_OPER);
    if (GetParam() != Proto::Socket) {
        // The exclusive lock: held by this session, refused to a second one
        // over either protocol until it closes.
        ViSession holder = VI_NULL, other = VI_NULL;
        ASSERT_EQ(viOpen(m_rm, resource(b::Instrument::VideoAnalyzer).c_str(), VI_EXCLUSIVE_LOCK, 500, &holder),
                  VI_SUCCESS);
        ViAccessMode lockState = VI_NO_LOCK;
        EXPECT_EQ(viGetAttribute(holder, VI_ATTR_RSRC_LOCK_STATE, &lockState), VI_SUCCESS);
        EXPECT_EQ(lockState, ViAccessMode(VI_EXCLUSIVE_LOCK));
        for (const std::string& r : {s_bench->resourceString(b::Instrument::VideoAnalyzer),
                                     s_bench->hislipResourceString(b::Instrument::VideoAnalyzer)})
            EXPECT_EQ(viOpen(m_rm, r.c_str(), VI_EXCLUSIVE_LOCK, 200, &other), VI_ERROR_RSRC_LOCKED) << r;
        viClose(holder);
        ASSERT_EQ(viOpen(m_rm, resource(b::Instrument::VideoAnalyzer).c_str(), VI_EXCLUSIVE_LOCK, 500, &other),
                  VI_SUCCESS);
        viClose(other);
    }

    // Closing the manager closes its sessions; their handles are dead afterwards.
    ViSession rm2 = VI_NULL, child = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm2), VI_SUCCESS);
    ASSERT_EQ(viOpen(rm2, resource(b::Instrument::VideoAnalyzer).c_str(), VI_NO_LOCK, kOpenTimeoutMs, &child),
              VI_SUCCESS);
    EXPECT_EQ(viClose(rm2), VI_SUCCESS);
    std::string reply;
    EXPECT_EQ(query(child, "*OPC?\n", reply), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viClose(child), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viClose(VI_NULL), VI_WARN_NULL_OBJECT);
    EXPECT_EQ(viStatusDesc(m_vi, VI_ERROR_TMO, text), VI_SUCCESS);
    EXPECT_NE(std::string(text).find("VI_ERROR_TMO"), std::string::npos);
    EXPECT_EQ(viStatusDesc(m_vi, 0x12345, text), VI_WARN_UNKNOWN_STATUS);
}

// viReadToFile replaces an older, longer file unless told to append; with
// VI_ATTR_SUPPRESS_END_EN the message end does not end a read, the count does.
TEST_P(BenchTest, FileAppendAndSuppressEndAttributes)
{
    const std::string idn = s_bench->options().scopeIdentity + "\n";
    const char cmd[] = "*IDN?\n";
    const std::string path = tempFile("replaced");
    std::ofstream(path) << std::string(100, 'x');
    for (ViBoolean append : {VI_FALSE, VI_TRUE}) {
        ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_FILE_APPEND_EN, append), VI_SUCCESS);
        ASSERT_EQ(viWrite(m_vi, reinterpret_cast<ViConstBuf>(cmd), sizeof cmd - 1, VI_NULL), VI_SUCCESS);
        ViUInt32 count = 0;
        EXPECT_GE(viReadToFile(m_vi, path.c_str(), 999, &count), VI_SUCCESS);
    }
    EXPECT_EQ(readFile(path), idn + idn);

    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TERMCHAR_EN, VI_FALSE), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_SUPPRESS_END_EN, VI_TRUE), VI_SUCCESS);
    ASSERT_EQ(viWrite(m_vi, reinterpret_cast<ViConstBuf>(cmd), sizeof cmd - 1, VI_NULL), VI_SUCCESS);
    std::string reply(idn.size(), '\0');
    ViUInt32 got = 0;
    EXPECT_EQ(viRead(m_vi, reinterpret_cast<ViBuf>(&reply[0]), ViUInt32(reply.size()), &got), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(reply, idn);
}

TEST_P(BenchTest, ConcurrentSessionsFromSeveralThreads)
{
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    const std::vector<b::Instrument> instruments = {b::Instrument::Oscilloscope, b::Instrument::SpectrumAnalyzer,
                                                    b::Instrument::VideoAnalyzer, b::Instrument::Oscilloscope};
    for (b::Instrument inst : instruments) {
        threads.emplace_back([&, inst] {
            ViSession vi = VI_NULL;
            if (viOpen(m_rm, resource(inst).c_str(), VI_NO_LOCK, kOpenTimeoutMs, &vi) != VI_SUCCESS) {
                ++failures;
                return;
            }
            for (int i = 0; i < 30; ++i) {
                std::string reply;
                if (query(vi, "*OPC?\n", reply) != VI_SUCCESS || reply != "1\n")
                    ++failures;
                if (query(m_vi, "*OPC?\n", reply) != VI_SUCCESS || reply != "1\n")  // shared session
                    ++failures;
            }
            viClose(vi);
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
}

std::string protoName(const ::testing::TestParamInfo<Proto>& info)
{
    static const char* const names[] = {"Vxi11", "Socket", "Hislip"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Lanvisa, BenchTest, ::testing::Values(Proto::Vxi11, Proto::Socket, Proto::Hislip), protoName);
