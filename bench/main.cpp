// quarnel-bench: serves the simulated oscilloscope, spectrum analyzer and video
// analyzer until SIGINT or SIGTERM, printing the resource strings to type into
// the program and the ground truth of every acquisition.
#include "bench.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <time.h>

using namespace quarnel::bench;

namespace {

const char* kUsage = "Usage: quarnel-bench [options]\n"
                     "Serves a simulated oscilloscope, spectrum analyzer and video analyzer over VXI-11\n"
                     "(portmapper + core channel) and raw SCPI sockets, and prints the ground truth of\n"
                     "every acquisition. Stops on Ctrl+C (SIGINT) or SIGTERM.\n"
                     "\n"
                     "Addresses and ports:\n"
                     "  --scope ADDR          oscilloscope address (127.0.0.11)\n"
                     "  --sa ADDR             spectrum analyzer address (127.0.0.12)\n"
                     "  --va ADDR             video analyzer address (127.0.0.13)\n"
                     "  --addresses auto      three fresh loopback addresses of this process instead\n"
                     "  --pmap-port N         portmapper port (111; needs root or cap_net_bind_service;\n"
                     "                        0 = none)\n"
                     "  --raw-port N          raw SCPI socket port (5025; 0 = none)\n"
                     "  --hislip-port N       HiSLIP port (4880; 0 = none)\n"
                     "  --core-port N         VXI-11 core channel port (0 = any free port)\n"
                     "  --max-recv-size N     largest device_write accepted, bytes (1048576)\n"
                     "Instruments:\n"
                     "  --family first|second oscilloscope command family before any command arrives\n"
                     "                        (second, what the program selects without settings)\n"
                     "  --sa-model TEXT       spectrum analyzer model, e.g. KLE, KLEM, ZOL or other;\n"
                     "                        a TEXT with commas is taken as the whole *IDN? reply\n"
                     "  --points N            oscilloscope record length when none is commanded (20000)\n"
                     "Model:\n"
                     "  --delay-rf MEAN[,JITTER]    source to RF delay in ms (25,2)\n"
                     "  --delay-hdmi MEAN[,JITTER]  source to HDMI delay in ms (55,4)\n"
                     "  --delay-sink MEAN[,JITTER]  source to sink delay in ms (95,6)\n"
                     "  --seed N              random seed (1); the same seed gives the same traces\n"
                     "  --link-frequency HZ   carrier of the radio link (5.192e9)\n"
                     "  --real-time           acquisitions take their window length in real time\n"
                     "Faults and output:\n"
                     "  --fault FAULT         scripted fault, repeatable (see below)\n"
                     "  --log                 print every message the instruments receive\n"
                     "  --quiet               print no ground truth lines\n"
                     "  --help                this text\n"
                     "\n";

bool parseDelay(const char* text, DelayDistribution& d)
{
    char* end = nullptr;
    double mean = std::strtod(text, &end);
    if (end == text || mean < 0.0)
        return false;
    double jitter = d.jitterMs;
    if (*end == ',') {
        const char* j = end + 1;
        jitter = std::strtod(j, &end);
        if (end == j || jitter < 0.0)
            return false;
    }
    if (*end)
        return false;
    d.meanMs = mean;
    d.jitterMs = jitter;
    return true;
}

bool parseUnsigned(const char* text, unsigned long long max, unsigned long long& value)
{
    if (!*text || *text == '-')
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (*end || errno || v > max)
        return false;
    value = v;
    return true;
}

std::mutex g_printMutex;

void printTruth(const GroundTruth& g)
{
    std::lock_guard<std::mutex> lock(g_printMutex);
    std::printf("acquisition %llu: event %+.6f s in the window %.4f..%.4f s (%zu points), "
                "source->RF %.3f ms, source->HDMI %.3f ms, source->sink %.3f ms",
                static_cast<unsigned long long>(g.index), g.eventTime, g.windowStart, g.windowStart + g.windowLength,
                g.points, g.sourceToRfMs, g.sourceToHdmiMs, g.sourceToSinkMs);
    if (g.analyzerSwept)
        std::printf("; analyzer sweep %+.4f s for %.4f s, its trace read on the scope axis gives source->RF "
                    "%.3f ms",
                    g.sweepStart, g.sweepTime, g.analyzerApparentRfMs);
    else
        std::printf("; analyzer not armed");
    if (g.flatRf)
        std::printf("; RF flat (fault)");
    if (!g.sinkEdge)
        std::printf("; no sink edge (fault)");
    if (!g.videoDetected)
        std::printf("; video analyzer measured nothing");
    std::printf("; source starts at %.4f V\n", g.sourceBase);
    std::fflush(stdout);
}

std::string printable(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c < 32 || c > 126)
            out += "\\x" + std::string(1, "0123456789abcdef"[c >> 4]) + "0123456789abcdef"[c & 15];
        else
            out += static_cast<char>(c);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    bool quiet = false, showLog = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quarnel-bench: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        auto bad = [&](const char* v) {
            std::fprintf(stderr, "quarnel-bench: invalid value \"%s\" for %s\n", v, a.c_str());
            std::exit(2);
        };
        unsigned long long n = 0;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(faultSyntaxHelp().c_str(), stdout);
            return 0;
        } else if (a == "--scope") {
            options.scopeAddress = value();
        } else if (a == "--sa") {
            options.analyzerAddress = value();
        } else if (a == "--va") {
            options.videoAddress = value();
        } else if (a == "--addresses") {
            const char* v = value();
            if (std::strcmp(v, "auto") != 0)
                bad(v);
            std::vector<std::string> addr = uniqueLoopbackAddresses(3);
            options.scopeAddress = addr[0];
            options.analyzerAddress = addr[1];
            options.videoAddress = addr[2];
        } else if (a == "--pmap-port" || a == "--raw-port" || a == "--core-port" || a == "--hislip-port") {
            const char* v = value();
            if (!parseUnsigned(v, 65535, n))
                bad(v);
            uint16_t& port = a == "--pmap-port"     ? options.portmapperPort
                             : a == "--raw-port"    ? options.rawPort
                             : a == "--hislip-port" ? options.hislipPort
                                                    : options.corePort;
            port = static_cast<uint16_t>(n);
        } else if (a == "--max-recv-size") {
            const char* v = value();
            if (!parseUnsigned(v, 0xFFFFFFFFull, n))
                bad(v);
            options.maxRecvSize = static_cast<uint32_t>(n);
        } else if (a == "--family") {
            std::string v = value();
            if (v == "first" || v == "1" || v == "ovix")
                options.initialFamily = ScopeFamily::First;
            else if (v == "second" || v == "2" || v == "pelmo")
                options.initialFamily = ScopeFamily::Second;
            else
                bad(v.c_str());
        } else if (a == "--sa-model") {
            std::string v = value();
            options.analyzerIdentity = v.find(',') != std::string::npos
                                           ? v
                                           : "Tervane Bench," + v + " Simulated Spectrum Analyzer,SIM0002,1.0";
        } else if (a == "--points") {
            const char* v = value();
            if (!parseUnsigned(v, kMaxScopePoints, n) || n < 2)
                bad(v);
            options.scopePoints = static_cast<size_t>(n);
        } else if (a == "--delay-rf" || a == "--delay-hdmi" || a == "--delay-sink") {
            const char* v = value();
            DelayDistribution& d = a == "--delay-rf"     ? options.sourceToRf
                                   : a == "--delay-hdmi" ? options.sourceToHdmi
                                                         : options.sourceToSink;
            if (!parseDelay(v, d))
                bad(v);
        } else if (a == "--seed") {
            const char* v = value();
            if (!parseUnsigned(v, ~0ull, n))
                bad(v);
            options.seed = n;
        } else if (a == "--link-frequency") {
            const char* v = value();
            char* end = nullptr;
            double f = std::strtod(v, &end);
            if (end == v || *end || !(f > 0.0 && f < 50e9))
                bad(v);
            options.linkFrequency = f;
        } else if (a == "--real-time") {
            options.realTime = true;
        } else if (a == "--fault") {
            Fault f;
            std::string error;
            if (!parseFault(value(), f, &error)) {
                std::fprintf(stderr, "quarnel-bench: %s\n", error.c_str());
                return 2;
            }
            options.faults.push_back(f);
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--log") {
            showLog = true;
        } else {
            std::fprintf(stderr, "quarnel-bench: unknown option %s (try --help)\n", a.c_str());
            return 2;
        }
    }

    // Block the stop signals before any thread starts, so only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    Bench bench(options);
    if (!quiet)
        bench.setAcquisitionCallback(printTruth);
    std::string error;
    if (!bench.start(&error)) {
        std::fprintf(stderr, "quarnel-bench: %s\n", error.c_str());
        return 1;
    }
    {
        std::lock_guard<std::mutex> lock(g_printMutex);
        std::printf("quarnel-bench: serving (seed %llu)\n", static_cast<unsigned long long>(options.seed));
        for (int i = 0; i < kInstrumentCount; ++i) {
            Instrument in = static_cast<Instrument>(i);
            std::printf("  %-18s %-32s %s\n", instrumentName(in), bench.resourceString(in).c_str(),
                        bench.socketResourceString(in).c_str());
        }
        std::printf("Type the INSTR strings into the program. Ctrl+C stops.\n");
        if (options.hislipPort) {
            std::printf("Over HiSLIP:");
            for (int i = 0; i < kInstrumentCount; ++i)
                std::printf(" %s", bench.hislipResourceString(static_cast<Instrument>(i)).c_str());
            std::printf("\n");
        }
        std::fflush(stdout);
    }

    size_t shown[kInstrumentCount] = {0, 0, 0};
    for (;;) {
        timespec wait{0, 200 * 1000 * 1000};
        int sig = sigtimedwait(&stopSignals, nullptr, &wait);
        if (sig == SIGINT || sig == SIGTERM)
            break;
        if (!showLog)
            continue;
        for (int i = 0; i < kInstrumentCount; ++i) {
            Instrument in = static_cast<Instrument>(i);
            std::vector<LogEntry> log = bench.log(in);
            if (log.size() < shown[i])
                shown[i] = 0;  // the log was trimmed
            std::lock_guard<std::mutex> lock(g_printMutex);
            for (size_t k = shown[i]; k < log.size(); ++k) {
                const LogEntry& e = log[k];
                const char* kind = e.kind == LogKind::Message     ? "message"
                                   : e.kind == LogKind::Procedure ? "procedure"
                                                                  : "connection";
                std::printf("[%10.3f] %s #%d %s %s %s\n", e.time, instrumentName(in), e.connection, kind,
                            printable(e.text).c_str(), e.detail.c_str());
            }
            shown[i] = log.size();
            std::fflush(stdout);
        }
    }
    bench.stop();
    std::printf("quarnel-bench: stopped\n");
    std::fflush(stdout);
    return 0;
}
