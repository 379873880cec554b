#include "bench.h"

#include "core.h"
#include "server.h"

#include <atomic>
#include <cctype>
#include <unistd.h>

namespace quarnel {
namespace bench {

const char* instrumentName(Instrument instrument)
{
    switch (instrument) {
    case Instrument::Oscilloscope:
        return "oscilloscope";
    case Instrument::SpectrumAnalyzer:
        return "spectrum analyzer";
    case Instrument::VideoAnalyzer:
        break;
    }
    return "video analyzer";
}

bool parseInstrument(const std::string& text, Instrument& instrument)
{
    std::string t;
    for (char c : text)
        t += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (t == "scope" || t == "os" || t == "osc" || t == "oscilloscope") {
        instrument = Instrument::Oscilloscope;
        return true;
    }
    if (t == "sa" || t == "analyzer" || t == "spectrum" || t == "spectrum-analyzer") {
        instrument = Instrument::SpectrumAnalyzer;
        return true;
    }
    if (t == "va" || t == "video" || t == "video-analyzer") {
        instrument = Instrument::VideoAnalyzer;
        return true;
    }
    return false;
}

std::vector<std::string> uniqueLoopbackAddresses(int count)
{
    // B.C from the process id (254 * 254 values), A from a per-process counter:
    // two processes only collide when their ids agree modulo 64516.
    static std::atomic<unsigned> counter{0};
    const unsigned pid = static_cast<unsigned>(::getpid());
    const unsigned b = 1 + (pid / 254) % 254;
    const unsigned c = 1 + pid % 254;
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        unsigned a = 1 + counter++ % 254;  // 127.1.x.x .. 127.254.x.x, never 127.0.0.x
        out.push_back("127." + std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c));
    }
    return out;
}

Options testOptions()
{
    Options o;
    std::vector<std::string> a = uniqueLoopbackAddresses(3);
    o.scopeAddress = a[0];
    o.analyzerAddress = a[1];
    o.videoAddress = a[2];
    return o;
}

class Bench::Private
{
public:
    explicit Private(Options o) : core(new Core(std::move(o))) {}
    std::mutex mutex;  ///< start/stop and the fields below
    std::unique_ptr<Core> core;
    std::unique_ptr<Server> server;
    std::string error;
    uint16_t corePorts[kInstrumentCount] = {0, 0, 0};
};

Bench::Bench(Options options) : d(new Private(std::move(options)))
{
}

Bench::~Bench()
{
    stop();
}

bool Bench::start(std::string* error)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->server) {
        if (error)
            error->clear();
        return true;
    }
    std::unique_ptr<Server> server(new Server(*d->core));
    std::string e;
    if (d->core->options.scopePoints < 2 || d->core->options.scopePoints > kMaxScopePoints) {
        e = "the record length must lie between 2 and " + std::to_string(kMaxScopePoints) + " points";
    } else if (d->core->options.maxRecvSize < kMinRecvSize || d->core->options.maxRecvSize > kMaxRecvSizeLimit) {
        e = "maxRecvSize must lie between " + std::to_string(kMinRecvSize) + " and " + std::to_string(kMaxRecvSizeLimit)
            + " bytes";
    } else if (!server->start(e)) {
        // e says why
    } else {
        for (int i = 0; i < kInstrumentCount; ++i)
            d->corePorts[i] = server->corePort(static_cast<Instrument>(i));
        d->server = std::move(server);
        d->error.clear();
        if (error)
            error->clear();
        return true;
    }
    d->error = e;
    if (error)
        *error = e;
    return false;
}

void Bench::stop()
{
    std::unique_ptr<Server> server;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        server.swap(d->server);
        for (uint16_t& p : d->corePorts)
            p = 0;
    }
    if (server)
        server->stop();
}

bool Bench::running() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->server != nullptr;
}

std::string Bench::errorText() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->error;
}

const Options& Bench::options() const
{
    return d->core->options;
}

std::string Bench::address(Instrument instrument) const
{
    const Options& o = d->core->options;
    switch (instrument) {
    case Instrument::Oscilloscope:
        return o.scopeAddress;
    case Instrument::SpectrumAnalyzer:
        return o.analyzerAddress;
    case Instrument::VideoAnalyzer:
        break;
    }
    return o.videoAddress;
}

std::string Bench::resourceString(Instrument instrument) const
{
    if (d->core->options.portmapperPort == 111)
        return "TCPIP::" + address(instrument) + "::INSTR";
    return "TCPIP::" + address(instrument) + "," + std::to_string(corePort(instrument)) + "::INSTR";
}

std::string Bench::socketResourceString(Instrument instrument) const
{
    if (!d->core->options.rawPort)
        return std::string();
    return "TCPIP::" + address(instrument) + "::" + std::to_string(d->core->options.rawPort) + "::SOCKET";
}

std::string Bench::hislipResourceString(Instrument instrument) const
{
    const uint16_t port = d->core->options.hislipPort;
    if (!port)
        return std::string();
    const std::string suffix = port == 4880 ? std::string() : "," + std::to_string(port);
    return "TCPIP::" + address(instrument) + "::hislip0" + suffix + "::INSTR";
}

uint16_t Bench::corePort(Instrument instrument) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->corePorts[static_cast<int>(instrument)];
}

std::vector<LogEntry> Bench::log(Instrument instrument) const
{
    return d->core->logOf(instrument);
}

std::vector<std::string> Bench::messages(Instrument instrument) const
{
    std::vector<std::string> out;
    for (const LogEntry& e : d->core->logOf(instrument))
        if (e.kind == LogKind::Message)
            out.push_back(e.text);
    return out;
}

void Bench::clearLog()
{
    d->core->clearLog(-1);
}

void Bench::clearLog(Instrument instrument)
{
    d->core->clearLog(static_cast<int>(instrument));
}

std::vector<GroundTruth> Bench::groundTruth() const
{
    return d->core->truth();
}

bool Bench::lastGroundTruth(GroundTruth& truth) const
{
    std::vector<GroundTruth> all = d->core->truth();
    if (all.empty())
        return false;
    truth = all.back();
    return true;
}

void Bench::setAcquisitionCallback(std::function<void(const GroundTruth&)> callback)
{
    d->core->setCallback(std::move(callback));
}

void Bench::addFault(const Fault& fault)
{
    std::lock_guard<std::mutex> lock(d->core->mutex);
    d->core->faults.add(fault);
}

void Bench::clearFaults()
{
    std::lock_guard<std::mutex> lock(d->core->mutex);
    d->core->faults.clear();
}

ScopeState Bench::scopeState() const
{
    std::lock_guard<std::mutex> lock(d->core->mutex);
    return d->core->scope->state();
}

AnalyzerState Bench::analyzerState() const
{
    std::lock_guard<std::mutex> lock(d->core->mutex);
    return d->core->analyzer->state();
}

VideoState Bench::videoState() const
{
    std::lock_guard<std::mutex> lock(d->core->mutex);
    return d->core->video->state();
}

}  // namespace bench
}  // namespace quarnel
