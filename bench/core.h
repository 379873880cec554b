// Shared state of a running bench: options, engines, faults, ground truth and
// the command log, and the transport-independent handling of one program
// message. The servers (VXI-11, raw socket) call into it.
#pragma once

#include "bench.h"
#include "faults.h"
#include "instruments.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quarnel {
namespace bench {

using Clock = std::chrono::steady_clock;

/// Longest program message an instrument buffers before it reports an input
/// buffer overrun and drops it.
constexpr size_t kMaxProgramMessage = 1 << 20;
/// Log entries kept per instrument and ground-truth entries kept; the oldest
/// go first beyond that.
constexpr size_t kMaxLogEntries = 200000;
constexpr size_t kMaxTruthEntries = 100000;

/// Reply waiting to be read on one link or socket. Its bytes are shared and
/// never changed: a trace block goes to the socket from the buffer it was
/// built in (or from the instrument's cache, or a scripted reply's text),
/// without a copy per read or per client.
struct PendingReply
{
    std::shared_ptr<const std::string> data;  ///< null: nothing to send
    size_t pos = 0;
    Clock::time_point readyAt;
    long dropAt = -1;         ///< close the connection once this many bytes were sent
    int streamPeriodMs = 0;   ///< scripted EndlessReply: no END, filler every period after the data
    bool withoutEnd = false;  ///< HiSLIP: no DataEND (scripted)
    bool active = false;

    size_t size() const { return data ? data->size() : 0; }
    const char* bytes() const { return data ? data->data() : ""; }
    bool unread() const { return active && pos < size(); }
    void clear() { *this = PendingReply(); }
};

/// Filler of an EndlessReply: one 64 KiB piece, no line feed in it.
const std::string& streamFiller();

/// I/O state of one VXI-11 link, HiSLIP session or raw socket connection.
struct LinkState
{
    std::string input;        ///< bytes of a program message not yet terminated
    bool discarding = false;  ///< skipping the rest of an overlong message
    PendingReply reply;
    /// A scripted HislipError or HislipFatal for the last message, for the
    /// HiSLIP server to send (NoReply: none).
    FaultKind protocolFault = FaultKind::NoReply;
    int protocolCode = 0;
};

class Core
{
public:
    explicit Core(Options options);
    ~Core();

    const Options options;
    const Clock::time_point startTime = Clock::now();

    mutable std::mutex mutex;  ///< guards engines, faults, ground truth, callback
    FaultBook faults;
    std::unique_ptr<Oscilloscope> scope;
    std::unique_ptr<SpectrumAnalyzer> analyzer;
    std::unique_ptr<VideoAnalyzer> video;
    ScpiInstrument& engine(Instrument instrument);

    enum class Outcome { Ok, Drop };

    /// Feeds received bytes; runs every complete program message (LF-terminated,
    /// or the rest when `end` is set, as VXI-11's END flag does).
    Outcome feed(Instrument instrument, LinkState& link, const char* data, size_t size, bool end, Transport transport,
                 int connection, int linkId);
    /// Runs one complete program message exactly as received.
    Outcome handleMessage(Instrument instrument, LinkState& link, const std::string& message, Transport transport,
                          int connection, int linkId);

    /// Called by the oscilloscope (under `mutex`) when it acquires: draws the
    /// event, triggers the analyzers, records the ground truth.
    model::Event acquire(const model::Timebase& tb, ScopeFamily family, double triggerLevel);

    std::vector<GroundTruth> truth() const;
    void setCallback(std::function<void(const GroundTruth&)> cb);
    /// Delivers queued acquisition callbacks; call without `mutex` held.
    void flushCallbacks();

    // Log (its own lock, so reading it never waits for a trace to be built).
    void log(Instrument instrument, LogKind kind, Transport transport, int connection, int linkId,
             const std::string& text, const std::string& detail = std::string());
    std::vector<LogEntry> logOf(Instrument instrument) const;
    void clearLog(int instrument);  ///< -1: all

    std::atomic<int> nextConnection{1};

private:
    std::deque<GroundTruth> m_truth;
    uint64_t m_acquisitions = 0;
    std::function<void(const GroundTruth&)> m_callback;
    std::vector<GroundTruth> m_pendingCallbacks;
    std::mutex m_callbackMutex;  ///< serialises callback delivery

    mutable std::mutex m_logMutex;
    std::deque<LogEntry> m_log[kInstrumentCount];
};

}  // namespace bench
}  // namespace quarnel
