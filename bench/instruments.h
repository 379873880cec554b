// The three simulated instruments as SCPI engines: a common IEEE 488.2 core
// (common commands, error queue, status registers, message execution) and one
// subclass per instrument with its command table and state. Engines are not
// thread-safe; the bench core calls them under its lock.
#pragma once

#include "bench.h"
#include "model.h"
#include "scpi.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quarnel {
namespace bench {

class Core;

/// What one program message needs besides its text.
struct ExecContext
{
    Core* core = nullptr;
    int blockCandidate = -1;  ///< MalformedBlock fault waiting for a block
    double replyDelay = 0.0;  ///< s the reply is held back (real-time acquisitions)
};

class ScpiInstrument
{
public:
    ScpiInstrument(Instrument kind, std::string identity);
    virtual ~ScpiInstrument() = default;

    Instrument kind() const { return m_kind; }

    /// Executes one program message (terminator removed). Returns the response
    /// message with its "\n", or null when there is nothing to answer. The
    /// text is never changed afterwards and may be shared with a cache.
    std::shared_ptr<const std::string> execute(const std::string& message, ExecContext& ctx);

    void pushError(int code, const std::string& info = std::string());
    /// IEEE 488.2 status byte; MAV comes from the caller's link.
    uint8_t statusByte(bool messageAvailable) const;
    /// *RST: back to the documented power-on settings.
    virtual void reset();
    /// *TRG or device_trigger.
    virtual void trigger(ExecContext& ctx) { (void)ctx; }
    /// Power-on: reset plus cleared status.
    void powerOn();

protected:
    /// A matched command being run.
    struct Call
    {
        const scpi::ProgramUnit& unit;
        const std::vector<int>& suffix;
        ExecContext& ctx;
        std::string& reply;
        /// Instead of `reply`: a response kept elsewhere, with its "\n" (a
        /// response message of its own when the query stands alone).
        std::shared_ptr<const std::string>& sharedReply;
        const std::string& param(size_t i) const { return unit.params[i]; }
        size_t paramCount() const { return unit.params.size(); }
        int suffixAt(size_t i) const { return i < suffix.size() ? suffix[i] : 1; }
    };
    /// Returns 0 or a SCPI error code.
    using Handler = std::function<int(Call&)>;

    /// Adds a command. `family` (0/1) marks oscilloscope commands that belong to
    /// one command family only; -1 both.
    void add(const std::string& pattern, Handler set, Handler query, int family = -1);

    // Generic remembered settings, for commands whose only effect is to be
    // accepted, validated and answered back.
    void addBoolSetting(const std::string& pattern, bool initial, int family = -1);
    void addNumberSetting(const std::string& pattern, double initial, double lo, double hi, int family = -1);
    /// `choices`: mnemonics in short/long notation ("SWEep", "AUTO").
    void addEnumSetting(const std::string& pattern, const std::vector<std::string>& choices, const std::string& initial,
                        int family = -1, bool optionalParam = false);

    // A setting the instrument itself uses, kept in one of its fields: set
    // within [lo, hi] (MIN/MAX allowed), answered back as it is.
    void addNumber(const std::string& pattern, double& field, double lo, double hi, int family = -1);
    void addBool(const std::string& pattern, bool& field, int family = -1);

    /// FORMat[:DATA] ASCii[,0] | REAL[,32] and FORMat:BORDer, shared by the
    /// instruments that send traces; the byte-order query answers with the
    /// instrument's own names for big and little endian.
    void addDataFormat(const char* bigEndianName, const char* littleEndianName);
    bool m_real = false, m_bigEndian = false;  ///< trace data format, reset by reset()

    /// Called before a family-specific command runs.
    virtual void familyCommand(int family) { (void)family; }

    // Helpers for handlers.
    static int oneNumber(Call& c, double& value, double lo, double hi);
    static int oneBool(Call& c, bool& value);
    static int oneChoice(Call& c, const std::vector<std::string>& choices, std::string& chosen);

    std::map<std::string, std::string> m_settings;  ///< generic settings by key
    std::map<std::string, std::string> m_settingDefaults;

private:
    struct Command
    {
        scpi::Pattern pattern;
        Handler set, query;
        int family;
    };
    /// Turns a call's parameters into the text a query answers; 0 or a SCPI error code.
    using Parse = std::function<int(Call&, std::string&)>;
    /// A remembered setting: kept per suffix, answered back as `parse` wrote it.
    void addSetting(const std::string& pattern, const std::string& initial, Parse parse, int family);
    int runCommon(const scpi::ProgramUnit& unit, ExecContext& ctx, std::string& reply, bool& aborted);
    static std::string settingKey(const std::string& pattern, const std::vector<int>& suffix);

    Instrument m_kind;
    std::string m_identity;
    std::vector<Command> m_commands;
    scpi::ErrorQueue m_errors;
    uint8_t m_esr = 0, m_ese = 0, m_sre = 0;
};

// ---- oscilloscope ---------------------------------------------------------------------

class Oscilloscope : public ScpiInstrument
{
public:
    Oscilloscope(const Options& options);
    void reset() override;
    void trigger(ExecContext& ctx) override;
    ScopeState state() const;

private:
    struct Channel
    {
        bool on = true;
        model::ChannelSetup setup;
    };
    struct Acquisition
    {
        model::Event event;
        model::Timebase timebase;
        Channel channels[4];
        model::AnalyzerTuning tuning;
    };
    void familyCommand(int family) override;
    double divisions() const { return m_family == ScopeFamily::First ? 10.0 : 12.0; }
    size_t points() const;
    model::Timebase timebase() const;
    int dataQuery(Call& c, int channel);
    void applyBandwidth();

    const Options& m_options;
    ScopeFamily m_family;
    double m_range = 1.2, m_reference = 50.0, m_position = 0.0;
    size_t m_fixedPoints = 0;  ///< 0 = automatic (the bench option)
    bool m_running = true, m_armed = false;
    bool m_includeX = false;
    double m_triggerLevel = 0.0;
    double m_digitalFilter = 0.0;
    double m_bandLimit[4] = {0, 0, 0, 0};
    Channel m_channels[4];
    Acquisition m_last;
    bool m_haveAcquisition = false;

    /// Responses already built from the last acquisition, by channel and
    /// export format: a trace read again goes out as the same bytes without
    /// the model running again. Emptied by every acquisition and by *RST.
    struct CachedResponse
    {
        int channel;
        bool real, bigEndian, includeX;
        std::shared_ptr<const std::string> text;  ///< with its "\n"
    };
    std::vector<CachedResponse> m_cache;
    void remember(int channel, const std::shared_ptr<const std::string>& text);
};

// ---- spectrum analyzer --------------------------------------------------------------

class SpectrumAnalyzer : public ScpiInstrument
{
public:
    SpectrumAnalyzer(const Options& options);
    void reset() override;
    void trigger(ExecContext& ctx) override;
    /// The oscilloscope's trigger output fired for `event`. Fills the analyzer
    /// part of the ground truth.
    void externalTrigger(const model::Event& event, GroundTruth& truth, const model::Timebase& scopeTb);
    model::AnalyzerTuning tuning() const { return m_tuning; }
    AnalyzerState state() const;

private:
    struct Sweep
    {
        bool valid = false;
        model::Event event;
        double start = 0.0;
        double time = 1.0;
        size_t points = 1001;
        model::AnalyzerTuning tuning;
    };
    int traceQuery(Call& c);

    const Options& m_options;
    model::AnalyzerTuning m_tuning;
    double m_sweepTime = 1.0, m_holdoff = 0.0;
    size_t m_sweepPoints = 1001;
    std::string m_triggerSource = "IMM";
    bool m_negativeSlope = false;
    bool m_continuous = true, m_armed = false;
    Sweep m_sweep;
};

// ---- video analyzer ------------------------------------------------------------------

class VideoAnalyzer : public ScpiInstrument
{
public:
    VideoAnalyzer(const Options& options);
    void reset() override;
    /// The source event reached the HDMI output.
    void event(const model::Event& event, bool suppressed, GroundTruth& truth);
    VideoState state() const;

private:
    double m_threshold = 50.0, m_hysteresis = 2.0;
    bool m_running = false;
    long m_count = 0;
    bool m_lastDetected = false;
    double m_lastValue = 0.0;
};

}  // namespace bench
}  // namespace quarnel
