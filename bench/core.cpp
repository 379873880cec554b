#include "core.h"

#include <cstring>

namespace quarnel {
namespace bench {

Core::Core(Options opts) : options(std::move(opts))
{
    scope.reset(new Oscilloscope(options));
    analyzer.reset(new SpectrumAnalyzer(options));
    video.reset(new VideoAnalyzer(options));
    for (const Fault& f : options.faults)
        faults.add(f);
}

Core::~Core() = default;

ScpiInstrument& Core::engine(Instrument instrument)
{
    switch (instrument) {
    case Instrument::Oscilloscope:
        return *scope;
    case Instrument::SpectrumAnalyzer:
        return *analyzer;
    case Instrument::VideoAnalyzer:
        break;
    }
    return *video;
}

Core::Outcome Core::feed(Instrument instrument, LinkState& link, const char* data, size_t size, bool end,
                         Transport transport, int connection, int linkId)
{
    // A line feed ends a program message, and so does END (IEEE 488.2 accepts
    // NL, ^END and NL^END).
    size_t pos = 0;
    while (pos < size) {
        const char* nl = static_cast<const char*>(memchr(data + pos, '\n', size - pos));
        size_t take = nl ? static_cast<size_t>(nl - (data + pos)) + 1 : size - pos;
        if (link.discarding) {
            // The rest of an overlong message goes unread up to its terminator.
            pos += take;
            if (nl)
                link.discarding = false;
            continue;
        }
        if (link.input.size() + take > kMaxProgramMessage) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                engine(instrument).pushError(scpi::InputBufferOverrun);
            }
            link.input.clear();
            link.discarding = !nl;
            pos += take;
            continue;
        }
        link.input.append(data + pos, take);
        pos += take;
        if (nl) {
            std::string message;
            message.swap(link.input);
            if (handleMessage(instrument, link, message, transport, connection, linkId) == Outcome::Drop)
                return Outcome::Drop;
        }
    }
    if (end)
        link.discarding = false;
    if (end && !link.input.empty()) {
        std::string message;
        message.swap(link.input);
        return handleMessage(instrument, link, message, transport, connection, linkId);
    }
    return Outcome::Ok;
}

const std::string& streamFiller()
{
    static const std::string filler(64 * 1024, '0');
    return filler;
}

Core::Outcome Core::handleMessage(Instrument instrument, LinkState& link, const std::string& message,
                                  Transport transport, int connection, int linkId)
{
    log(instrument, LogKind::Message, transport, connection, linkId, message);
    Outcome outcome = Outcome::Ok;
    {
        std::lock_guard<std::mutex> lock(mutex);
        ScpiInstrument& dev = engine(instrument);
        if (link.reply.unread()) {
            // A new message while a reply is unread discards it (488.2 query
            // interrupted), so a client that gave up on a reply cannot read it
            // as the answer to its next question.
            dev.pushError(scpi::QueryInterrupted);
        }
        link.reply.clear();

        Fault fault;
        std::shared_ptr<const std::string> replacement;
        bool faulted = faults.takeMessageFault(instrument, message, fault, &replacement);
        if (faulted) {
            switch (fault.kind) {
            case FaultKind::NoReply:
                return Outcome::Ok;
            case FaultKind::DropConnection:
                if (fault.afterBytes < 0)
                    return Outcome::Drop;
                break;
            case FaultKind::CommandError:
                dev.pushError(fault.scpiError, "scripted");
                return Outcome::Ok;
            case FaultKind::HislipError:
            case FaultKind::HislipFatal:
                link.protocolFault = fault.kind;
                link.protocolCode = fault.hislipCode;
                return Outcome::Ok;
            default:
                break;
            }
        }

        std::string text = message;
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        ExecContext ctx;
        ctx.core = this;
        ctx.blockCandidate = faults.blockCandidate(instrument, message);
        std::shared_ptr<const std::string> response = dev.execute(text, ctx);

        double delay = ctx.replyDelay;
        if (faulted && fault.kind == FaultKind::ReplaceReply)
            response = replacement;
        if (faulted && fault.kind == FaultKind::SlowReply)
            delay += fault.delayMs / 1000.0;
        link.reply.data = std::move(response);
        link.reply.readyAt =
            Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(delay));
        if (faulted && fault.kind == FaultKind::DropConnection)
            link.reply.dropAt = fault.afterBytes;
        if (faulted && fault.kind == FaultKind::EndlessReply)
            link.reply.streamPeriodMs = fault.delayMs > 0 ? fault.delayMs : 2000;
        link.reply.withoutEnd = faulted && fault.kind == FaultKind::NoEnd;
        link.reply.active = link.reply.size() > 0 || link.reply.dropAt >= 0;
    }
    flushCallbacks();
    return outcome;
}

model::Event Core::acquire(const model::Timebase& tb, ScopeFamily family, double triggerLevel)
{
    uint64_t index = ++m_acquisitions;
    ModelFaults mf = faults.takeModelFaults();
    model::Event e = model::drawEvent(options, index, triggerLevel, mf.startLevel ? &mf.level : nullptr);
    e.flatRf = mf.flatRf;
    e.sinkEdge = !mf.noSinkEdge;
    e.videoDetected = !mf.videoZero;

    GroundTruth g;
    g.index = index;
    g.family = family;
    g.eventTime = e.eventTime;
    g.windowStart = tb.start;
    g.windowLength = tb.step * static_cast<double>(tb.points - 1);
    g.points = tb.points;
    g.sourceToRfMs = e.rfDelay * 1000.0;
    g.sourceToHdmiMs = e.hdmiDelay * 1000.0;
    g.sourceToSinkMs = e.sinkDelay * 1000.0;
    g.sourceBase = e.sourceBase;
    g.flatRf = e.flatRf;
    g.sinkEdge = e.sinkEdge;
    analyzer->externalTrigger(e, g, tb);
    video->event(e, mf.videoZero, g);

    m_truth.push_back(g);
    while (m_truth.size() > kMaxTruthEntries)
        m_truth.pop_front();
    if (m_callback)
        m_pendingCallbacks.push_back(g);
    return e;
}

std::vector<GroundTruth> Core::truth() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return std::vector<GroundTruth>(m_truth.begin(), m_truth.end());
}

void Core::setCallback(std::function<void(const GroundTruth&)> cb)
{
    std::lock_guard<std::mutex> lock(mutex);
    m_callback = std::move(cb);
}

void Core::flushCallbacks()
{
    std::lock_guard<std::mutex> serial(m_callbackMutex);
    std::vector<GroundTruth> pending;
    std::function<void(const GroundTruth&)> cb;
    {
        std::lock_guard<std::mutex> lock(mutex);
        pending.swap(m_pendingCallbacks);
        cb = m_callback;
    }
    if (cb)
        for (const GroundTruth& g : pending)
            cb(g);
}

void Core::log(Instrument instrument, LogKind kind, Transport transport, int connection, int linkId,
               const std::string& text, const std::string& detail)
{
    LogEntry e;
    e.kind = kind;
    e.transport = transport;
    e.connection = connection;
    e.link = linkId;
    e.text = text;
    e.detail = detail;
    e.time = std::chrono::duration<double>(Clock::now() - startTime).count();
    std::lock_guard<std::mutex> lock(m_logMutex);
    auto& q = m_log[static_cast<int>(instrument)];
    q.push_back(std::move(e));
    while (q.size() > kMaxLogEntries)
        q.pop_front();
}

std::vector<LogEntry> Core::logOf(Instrument instrument) const
{
    std::lock_guard<std::mutex> lock(m_logMutex);
    const auto& q = m_log[static_cast<int>(instrument)];
    return std::vector<LogEntry>(q.begin(), q.end());
}

void Core::clearLog(int instrument)
{
    std::lock_guard<std::mutex> lock(m_logMutex);
    for (int i = 0; i < kInstrumentCount; ++i)
        if (instrument < 0 || instrument == i)
            m_log[i].clear();
}

}  // namespace bench
}  // namespace quarnel
