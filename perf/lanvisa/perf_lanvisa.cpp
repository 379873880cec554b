// Benchmark: float32 trace blocks (80 kB and 40 MB) and a small query round
// trip through liblanvisa.so over VXI-11, HiSLIP and SOCKET, next to a plain recv loop
// on a raw socket (the physical limit) and pyvisa + pyvisa-py, all against the
// same in-process bench acquisition. The plain loop and the library take
// turns (one 40 MB read, or ten short ones, or fifty queries at a time) in an
// order shuffled every round, so a change in the machine's load hits them
// alike; the program's way through a file is timed in rounds of its own, and
// pyvisa afterwards in its own process. Prints medians and ratios.
//
// usage: perf_lanvisa [--quick] [--no-pyvisa]
#include "visa.h"

#include "bench.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace b = quarnel::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr ViUInt32 kTimeoutMs = 60000;
constexpr size_t kSmallPoints = 20000;
constexpr size_t kLargePoints = 10000000;
constexpr char kBlockCommand[] = "CHAN1:DATA?\n";
constexpr char kSmallQuery[] = "*OPC?\n";
constexpr uint32_t kLfEvery = 135;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

/// Ways of doing the same thing, timed side by side: every round gives each
/// a turn, in an order shuffled anew each round (a way's time can depend on
/// which one ran just before it).
struct Contenders
{
    struct Entry
    {
        std::string name;
        std::function<bool()> run;
        std::vector<double> ms;
        bool failed = false;
    };
    std::vector<Entry> entries;

    void add(const std::string& name, std::function<bool()> run)
    {
        entries.push_back({name, std::move(run), {}, false});
    }
    /// Each turn runs a way `perTurn` times in a row (a short query's time
    /// depends on whether the threads involved were just awake).
    void runRounds(int rounds, int perTurn = 1)
    {
        std::mt19937 shuffler(12345);
        std::vector<size_t> order(entries.size());
        for (size_t k = 0; k < order.size(); ++k)
            order[k] = k;
        for (int r = 0; r < rounds; ++r) {
            std::shuffle(order.begin(), order.end(), shuffler);
            for (size_t k : order) {
                Entry& e = entries[k];
                for (int i = 0; i < perTurn && !e.failed; ++i) {
                    const auto t0 = Clock::now();
                    if (!e.run()) {
                        std::fprintf(stderr, "%s: run failed\n", e.name.c_str());
                        e.failed = true;
                        break;
                    }
                    e.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
                }
            }
        }
    }
    /// Median in ms, -1 when the way failed.
    double medianMs(size_t i) const { return entries[i].failed ? -1.0 : median(entries[i].ms); }
};

/// Binds every thread of this process, the bench's included, to `cpus`.
void bindAllThreads(const cpu_set_t& cpus)
{
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return;
    while (const dirent* t = readdir(tasks)) {
        const pid_t tid = static_cast<pid_t>(std::atoi(t->d_name));
        if (tid > 0)
            sched_setaffinity(tid, sizeof cpus, &cpus);
    }
    closedir(tasks);
}

/// Puts every thread of the process on one core and back. Short operations
/// are a few wake-ups of sleeping threads (two for a plain exchange, four
/// for VXI-11's two calls); whether a wake-up crosses to another, idle core
/// is the scheduler's choice, and on a virtual machine it can cost more than
/// the rest of the operation. On one core the figures show what the code
/// costs.
class OneCore
{
public:
    OneCore() { m_ok = sched_getaffinity(0, sizeof m_allowed, &m_allowed) == 0 && CPU_COUNT(&m_allowed) > 1; }
    bool available() const { return m_ok; }
    void enter()
    {
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int c = 0; c < CPU_SETSIZE; ++c)
            if (CPU_ISSET(c, &m_allowed)) {
                CPU_SET(c, &one);
                break;
            }
        bindAllThreads(one);
    }
    void leave() { bindAllThreads(m_allowed); }

private:
    cpu_set_t m_allowed;
    bool m_ok = false;
};

/// Plain TCP client: the least any library can do over the same socket.
class PlainSocket
{
public:
    PlainSocket(const std::string& host, uint16_t port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, host.c_str(), &a.sin_addr);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            std::perror("connect");
        int one = 1;
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~PlainSocket() { ::close(m_fd); }
    bool send(const char* s) { return ::send(m_fd, s, strlen(s), MSG_NOSIGNAL) == ssize_t(strlen(s)); }
    /// Reads a whole definite-length block reply into buf (header, data, LF).
    bool readBlock(std::vector<char>& buf)
    {
        size_t have = 0, need = 2;
        while (have < need) {
            const ssize_t n = ::recv(m_fd, buf.data() + have, buf.size() - have, 0);
            if (n <= 0)
                return false;
            have += static_cast<size_t>(n);
            if (need == 2 && have >= 2)
                need = 2 + static_cast<size_t>(buf[1] - '0');
            if (need > 2 && have >= need && need < 12) {
                need += std::strtoul(std::string(buf.data() + 2, need - 2).c_str(), nullptr, 10) + 1;
            }
        }
        return true;
    }
    bool readLine(std::vector<char>& buf)
    {
        size_t have = 0;
        while (have == 0 || buf[have - 1] != '\n') {
            const ssize_t n = ::recv(m_fd, buf.data() + have, buf.size() - have, 0);
            if (n <= 0)
                return false;
            have += static_cast<size_t>(n);
        }
        return true;
    }

private:
    int m_fd = -1;
};

bool queryOk(ViSession vi, const std::string& cmd)
{
    std::vector<char> buf(20000, 0);
    return viQueryf(vi, cmd.c_str(), "%20000c", buf.data()) == VI_SUCCESS && std::strcmp(buf.data(), "1\n") == 0;
}

bool libReadBlock(ViSession vi, std::vector<unsigned char>& buf)
{
    if (viWrite(vi, reinterpret_cast<ViConstBuf>(kBlockCommand), sizeof kBlockCommand - 1, VI_NULL) != VI_SUCCESS)
        return false;
    ViUInt32 got = 0;
    return viRead(vi, buf.data(), static_cast<ViUInt32>(buf.size()), &got) >= VI_SUCCESS;
}

/// The program's transfer: "#n", the digits, then viReadToFile of L + 10.
bool libReadBlockToFile(ViSession vi, const std::string& path)
{
    struct RemoveAfter
    {
        const std::string& path;
        ~RemoveAfter() { ::unlink(path.c_str()); }  // as the program does after every transfer
    } removeAfter{path};
    if (viWrite(vi, reinterpret_cast<ViConstBuf>(kBlockCommand), sizeof kBlockCommand - 1, VI_NULL) != VI_SUCCESS)
        return false;
    unsigned char h[16] = {};
    ViUInt32 got = 0;
    if (viRead(vi, h, 2, &got) < VI_SUCCESS || h[0] != '#')
        return false;
    const ViUInt32 digits = h[1] - '0';
    if (viRead(vi, h, digits, &got) < VI_SUCCESS)
        return false;
    h[digits] = 0;
    const unsigned long length = std::strtoul(reinterpret_cast<char*>(h), nullptr, 10);
    return viReadToFile(vi, path.c_str(), static_cast<ViUInt32>(length + 10), &got) >= VI_SUCCESS;
}

double pyvisaMs(const std::string& resource, const char* mode, const char* command, int reps)
{
    const std::string cmd = std::string(QUARNEL_PYTHON) + " " + QUARNEL_PYVISA_PERF_SCRIPT + " '" + resource + "' "
                            + mode + " '" + command + "' " + std::to_string(reps);
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return -1.0;
    char line[64] = {};
    const bool ok = std::fgets(line, sizeof line, p) != nullptr;
    return (pclose(p) == 0 && ok) ? std::atof(line) : -1.0;
}

void printRow(const char* what, double ms, double plainMs, size_t bytes)
{
    if (ms < 0) {
        std::printf("  %-34s %12s\n", what, "n/a");
        return;
    }
    const double mbps = bytes ? bytes / (ms / 1000.0) / 1e6 : 0.0;
    std::printf("  %-34s %10.3f ms", what, ms);
    if (bytes)
        std::printf(" %9.1f MB/s", mbps);
    if (plainMs > 0 && bytes)
        std::printf("   x%.2f time, %.2f of plain throughput", ms / plainMs, plainMs / ms);
    else if (plainMs > 0)
        std::printf("   x%.2f the plain round trip", ms / plainMs);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv)
{
    bool quick = false, pyvisa = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else if (std::strcmp(argv[i], "--no-pyvisa") == 0)
            pyvisa = false;
    }
    b::Bench bench(b::testOptions());
    std::string error;
    if (!bench.start(&error)) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        return 1;
    }
    const b::Instrument os = b::Instrument::Oscilloscope;
    ViSession rm = VI_NULL, vxi = VI_NULL, sock = VI_NULL, hislip = VI_NULL;
    viOpenDefaultRM(&rm);
    if (viOpen(rm, bench.resourceString(os).c_str(), VI_NO_LOCK, kTimeoutMs, &vxi) != VI_SUCCESS
        || viOpen(rm, bench.socketResourceString(os).c_str(), VI_NO_LOCK, kTimeoutMs, &sock) != VI_SUCCESS
        || viOpen(rm, bench.hislipResourceString(os).c_str(), VI_NO_LOCK, kTimeoutMs, &hislip) != VI_SUCCESS) {
        std::fprintf(stderr, "cannot open the bench's oscilloscope\n");
        return 1;
    }
    for (ViSession vi : {vxi, sock, hislip})
        viSetAttribute(vi, VI_ATTR_TMO_VALUE, kTimeoutMs);
    PlainSocket plain(bench.address(os), bench.options().rawPort);
    // The program parks a trace under $XDG_RUNTIME_DIR when it has one, else
    // in the temporary folder.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string folder = runtime && *runtime && ::access(runtime, W_OK) == 0 ? runtime : "/tmp";
    const std::string file = folder + "/perf_lanvisa_" + std::to_string(::getpid()) + ".bin";

    OneCore oneCore;
    std::printf("liblanvisa benchmark (medians; ratios against the plain recv loop)\n");
    for (size_t points : {kSmallPoints, kLargePoints}) {
        const bool large = points == kLargePoints;
        const int reps = large ? (quick ? 3 : 15) : (quick ? 20 : 200);
        const int pyReps = large ? (quick ? 1 : 3) : (quick ? 5 : 50);
        if (!queryOk(vxi, "INIT:CONT OFF;*OPC?\n") || !queryOk(vxi, "ACQ:POIN " + std::to_string(points) + ";*OPC?\n")
            || !queryOk(vxi, "FORM REAL,32;*OPC?\n") || !queryOk(vxi, "*TRG;*OPC?\n")) {
            std::fprintf(stderr, "acquisition set-up failed\n");
            return 1;
        }
        const size_t bytes = points * 4;
        std::vector<char> raw(bytes + 64);
        std::vector<unsigned char> buf(bytes + 64);

        // Take the bench's trace once and serve it as a stored reply, so the
        // figures measure the transfer, not the bench's waveform model. More
        // bytes are set to 0x0A until about one in 135 is, as in a real trace.
        bench.clearFaults();
        plain.send(kBlockCommand);
        if (!plain.readBlock(raw))
            return 1;
        const size_t headerSize = 2 + static_cast<size_t>(raw[1] - '0');
        std::string block(raw.data(), headerSize + bytes + 1);
        const size_t natural = static_cast<size_t>(std::count(block.begin() + headerSize, block.end() - 1, '\n'));
        if (natural < bytes / kLfEvery) {
            const uint32_t every = static_cast<uint32_t>(bytes / (bytes / kLfEvery - natural));
            uint32_t lcg = 12345;
            for (size_t i = headerSize; i < headerSize + bytes; ++i) {
                lcg = lcg * 1664525u + 1013904223u;
                if ((lcg >> 8) % every == 0)
                    block[i] = '\n';
            }
        }
        b::Fault stored;
        stored.instrument = os;
        stored.kind = b::FaultKind::ReplaceReply;
        stored.match = "CHAN1:DATA?";
        stored.count = 0;
        stored.text = block;
        bench.addFault(stored);
        const size_t lf = static_cast<size_t>(std::count(block.begin() + headerSize, block.end() - 1, '\n'));
        std::printf("\n%zu points float32 = %zu bytes, one byte in %.0f is 0x0A, %d runs\n", points, bytes,
                    lf ? double(bytes) / lf : 0.0, reps);

        // The reads into memory first; the program's way through a file in
        // rounds of its own, with the plain loop again beside it, so that the
        // file system's work (writeback, journal) does not fall into the
        // figures the targets are about.
        Contenders ways;
        ways.add("plain recv loop (raw socket)", [&] { return plain.send(kBlockCommand) && plain.readBlock(raw); });
        ways.add("lanvisa SOCKET viRead", [&] { return libReadBlock(sock, buf); });
        ways.add("lanvisa VXI-11 viRead", [&] { return libReadBlock(vxi, buf); });
        ways.add("lanvisa HiSLIP viRead", [&] { return libReadBlock(hislip, buf); });
        Contenders fileWays;
        fileWays.add("plain recv loop (raw socket)", [&] { return plain.send(kBlockCommand) && plain.readBlock(raw); });
        fileWays.add("lanvisa SOCKET program way (file)", [&] { return libReadBlockToFile(sock, file); });
        fileWays.add("lanvisa VXI-11 program way (file)", [&] { return libReadBlockToFile(vxi, file); });
        fileWays.add("lanvisa HiSLIP program way (file)", [&] { return libReadBlockToFile(hislip, file); });
        for (Contenders* c : {&ways, &fileWays}) {
            if (large)
                c->runRounds(reps);
            else
                c->runRounds(reps / 10, 10);
        }
        const double plainMs = ways.medianMs(0);
        if (!large && oneCore.available())
            std::printf("  threads where the scheduler puts them:\n");
        printRow(ways.entries[0].name.c_str(), plainMs, 0, bytes);
        for (size_t i = 1; i < ways.entries.size(); ++i)
            printRow(ways.entries[i].name.c_str(), ways.medianMs(i), plainMs, bytes);
        if (!large && oneCore.available()) {
            Contenders pinned = ways;
            for (auto& e : pinned.entries)
                e.ms.clear();
            oneCore.enter();
            pinned.runRounds(reps / 10, 10);
            oneCore.leave();
            std::printf("  every thread on one core:\n");
            printRow(pinned.entries[0].name.c_str(), pinned.medianMs(0), 0, bytes);
            for (size_t i = 1; i < pinned.entries.size(); ++i)
                printRow(pinned.entries[i].name.c_str(), pinned.medianMs(i), pinned.medianMs(0), bytes);
        }
        const double plainBesideFiles = fileWays.medianMs(0);
        std::printf("  the program's way, through a file in %s (plain loop beside it: %.3f ms):\n", folder.c_str(),
                    plainBesideFiles);
        for (size_t i = 1; i < fileWays.entries.size(); ++i)
            printRow(fileWays.entries[i].name.c_str(), fileWays.medianMs(i), plainBesideFiles, bytes);
        if (pyvisa) {
            printRow("pyvisa-py SOCKET", pyvisaMs(bench.socketResourceString(os), "block", "CHAN1:DATA?", pyReps),
                     plainMs, bytes);
            printRow("pyvisa-py VXI-11", pyvisaMs(bench.resourceString(os), "block", "CHAN1:DATA?", pyReps), plainMs,
                     bytes);
        }
    }

    const int qReps = quick ? 100 : 2000;
    std::printf("\nsmall query round trip (\"*OPC?\" -> \"1\\n\"), %d runs\n", qReps);
    std::vector<char> line(256);
    double plainQ = 0.0;
    for (int pinned = 0; pinned <= (oneCore.available() ? 1 : 0); ++pinned) {
        if (pinned)
            oneCore.enter();
        std::printf("  %s:\n", pinned ? "every thread on one core" : "threads where the scheduler puts them");
        Contenders queries;
        queries.add("plain socket send + recv", [&] { return plain.send(kSmallQuery) && plain.readLine(line); });
        queries.add("lanvisa SOCKET viQueryf", [&] { return queryOk(sock, kSmallQuery); });
        queries.add("lanvisa VXI-11 viQueryf", [&] { return queryOk(vxi, kSmallQuery); });
        queries.add("lanvisa HiSLIP viQueryf", [&] { return queryOk(hislip, kSmallQuery); });
        queries.runRounds(qReps / 50, 50);
        if (pinned)
            oneCore.leave();
        else
            plainQ = queries.medianMs(0);
        printRow(queries.entries[0].name.c_str(), queries.medianMs(0), 0, 0);
        for (size_t i = 1; i < queries.entries.size(); ++i)
            printRow(queries.entries[i].name.c_str(), queries.medianMs(i), queries.medianMs(0), 0);
    }
    if (pyvisa) {
        printRow("pyvisa-py SOCKET query", pyvisaMs(bench.socketResourceString(os), "query", "*OPC?", qReps / 10),
                 plainQ, 0);
        printRow("pyvisa-py VXI-11 query", pyvisaMs(bench.resourceString(os), "query", "*OPC?", qReps / 10), plainQ, 0);
    }
    ::unlink(file.c_str());
    viClose(rm);
    return 0;
}
