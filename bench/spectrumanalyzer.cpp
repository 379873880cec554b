// The spectrum analyzer, with a selectable identification text.
//
// Documented behaviour where commands leave things open:
// - Power-on: tuned to the link frequency in zero span, RBW = VBW = 3 MHz,
//   10 dB attenuation, 0 dBm reference, 1 s sweep of 1001 points, free-running
//   trigger (IMM) without hold-off, continuous sweeps, FORM ASC.
// - The oscilloscope's trigger output is wired to the external trigger input.
//   With TRIG:SOUR EXT each scope acquisition starts a sweep at the hold-off
//   (negative: pre-trigger) relative to the trigger; free-running sweeps start
//   at a random time before it.
// - INIT:CONT OFF enters single-sweep mode and arms one sweep, as does INIT;
//   a single sweep is taken by the next trigger. INIT:CONT ON sweeps on every one.
// - Point i of a sweep lies at start + i * sweep time / (points - 1).
// - "TRAC? TRACE1, n" returns the first n points of the last sweep (all of
//   them without n).
#include "block.h"
#include "core.h"
#include "instruments.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace quarnel {
namespace bench {

SpectrumAnalyzer::SpectrumAnalyzer(const Options& options)
    : ScpiInstrument(Instrument::SpectrumAnalyzer, options.analyzerIdentity), m_options(options)
{
    addNumber("[SENSe:]FREQuency:CENTer", m_tuning.centre, 0.0, 50e9);
    addNumber("[SENSe:]FREQuency:SPAN", m_tuning.span, 0.0, 50e9);
    add(
        "[SENSe:]FREQuency:MODE",
        [this](Call& c) {
            std::string chosen;
            // "SW" is how the program writes the swept mode.
            if (int e = oneChoice(c, {"SWeep", "SWEep", "CW", "FIXed"}, chosen))
                return e;
            if (chosen == "SW")
                chosen = "SWE";
            if (chosen != "SWE")
                m_tuning.span = 0.0;
            m_settings["FREQ:MODE"] = chosen;
            return 0;
        },
        [this](Call& c) {
            c.reply = m_tuning.span == 0.0 ? "CW" : "SWE";
            return 0;
        });
    addNumber("DISPlay[:WINDow#]:TRACe#:Y[:SCALe]:RLEVel", m_tuning.refLevel, -200.0, 50.0);
    addNumber("INPut#:ATTenuation", m_tuning.attenuation, 0.0, 79.0);
    addNumber("[SENSe:]BWIDth[:RESolution]", m_tuning.rbw, 1.0, 80e6);
    addNumber("[SENSe:]BANDwidth[:RESolution]", m_tuning.rbw, 1.0, 80e6);
    addNumber("[SENSe:]BWIDth:VIDeo", m_tuning.vbw, 1.0, 80e6);
    addNumber("[SENSe:]BANDwidth:VIDeo", m_tuning.vbw, 1.0, 80e6);
    addEnumSetting("[SENSe:]BWIDth:FFT", {"AUTO", "WIDE", "NARRow"}, "AUTO");
    addNumber("[SENSe:]SWEep:TIME", m_sweepTime, 1e-6, 16000.0);
    add(
        "[SENSe:]SWEep:POINts",
        [this](Call& c) {
            double v;
            if (int e = oneNumber(c, v, 101.0, static_cast<double>(kMaxSweepPoints)))
                return e;
            m_sweepPoints = static_cast<size_t>(std::llround(v));
            return 0;
        },
        [this](Call& c) {
            c.reply = std::to_string(m_sweepPoints);
            return 0;
        });
    addEnumSetting("[SENSe:]SWEep:TYPE", {"AUTO", "SWEep", "FFT"}, "AUTO");
    addEnumSetting("[SENSe:]SWEep:OPTimize", {"AUTO", "SPEed", "DYNamic"}, "AUTO", -1, true);

    add(
        "TRIGger#[:SEQuence]:SOURce",
        [this](Call& c) {
            std::string chosen;
            if (int e = oneChoice(c, {"IMMediate", "EXTernal", "EXT2", "VIDeo", "RFPower", "IFPower"}, chosen))
                return e;
            m_triggerSource = chosen;
            return 0;
        },
        [this](Call& c) {
            c.reply = m_triggerSource;
            return 0;
        });
    addNumber("TRIGger#[:SEQuence]:HOLDoff[:TIME]", m_holdoff, -100.0, 100.0);
    add(
        "TRIGger#[:SEQuence]:SLOPe",
        [this](Call& c) {
            std::string chosen;
            if (int e = oneChoice(c, {"POSitive", "NEGative"}, chosen))
                return e;
            m_negativeSlope = chosen == "NEG";
            return 0;
        },
        [this](Call& c) {
            c.reply = m_negativeSlope ? "NEG" : "POS";
            return 0;
        });
    addEnumSetting("OUTPut:IF[:SOURce]", {"IF", "VIDeo", "IF2", "HVIDeo"}, "IF");
    addNumberSetting("OUTPut:IF:IFFRequency", 0.0, 0.0, 10e9);
    addBoolSetting("SYSTem:DISPlay:UPDate", false);

    add(
        "INITiate:CONTinuous",
        [this](Call& c) {
            bool v;
            if (int e = oneBool(c, v))
                return e;
            m_continuous = v;
            m_armed = !v;
            return 0;
        },
        [this](Call& c) {
            c.reply = m_continuous ? "1" : "0";
            return 0;
        });
    add(
        "INITiate[:IMMediate]",
        [this](Call&) {
            m_armed = true;
            return 0;
        },
        nullptr);

    addDataFormat("NORM", "SWAP");
    add("TRACe[:DATA]", nullptr, [this](Call& c) { return traceQuery(c); });

    powerOn();
}

void SpectrumAnalyzer::reset()
{
    ScpiInstrument::reset();
    m_tuning = model::AnalyzerTuning();
    m_tuning.centre = m_options.linkFrequency;
    m_sweepTime = 1.0;
    m_holdoff = 0.0;
    m_sweepPoints = 1001;
    m_triggerSource = "IMM";
    m_negativeSlope = false;
    m_continuous = true;
    m_armed = false;
    m_sweep = Sweep();
}

void SpectrumAnalyzer::trigger(ExecContext& ctx)
{
    (void)ctx;
    // A software trigger sweeps now, with no source event in it.
    if (!m_continuous && !m_armed)
        return;
    m_armed = false;
    m_sweep = Sweep();
    m_sweep.valid = true;
    m_sweep.start = m_holdoff;
    m_sweep.time = m_sweepTime;
    m_sweep.points = m_sweepPoints;
    m_sweep.tuning = m_tuning;
}

void SpectrumAnalyzer::externalTrigger(const model::Event& event, GroundTruth& truth, const model::Timebase& scopeTb)
{
    truth.analyzerSwept = false;
    if (!m_continuous && !m_armed)
        return;
    m_armed = false;
    Sweep s;
    s.valid = true;
    s.event = event;
    s.time = m_sweepTime;
    s.points = m_sweepPoints;
    s.tuning = m_tuning;
    if (m_triggerSource == "EXT" || m_triggerSource == "EXT2") {
        // The trigger output pulse is 100 µs wide; a negative slope fires on its end.
        s.start = m_holdoff + (m_negativeSlope ? 100e-6 : 0.0);
    } else {
        model::Rng rng(model::Rng::streamSeed(m_options.seed, event.index, 8));
        s.start = -rng.uniform() * m_sweepTime;
    }
    m_sweep = s;

    truth.analyzerSwept = true;
    truth.sweepStart = s.start;
    truth.sweepTime = s.time;
    truth.sweepPoints = s.points;
    double step = s.time / static_cast<double>(s.points - 1);
    double rfIndex = (event.eventTime + event.rfDelay - s.start) / step;
    double apparent = scopeTb.start + rfIndex * scopeTb.step;
    truth.analyzerApparentRfMs = (apparent - event.eventTime) * 1000.0;
}

int SpectrumAnalyzer::traceQuery(Call& c)
{
    if (c.paramCount() == 0)
        return scpi::MissingParameter;
    if (c.paramCount() > 2)
        return scpi::ParameterNotAllowed;
    std::string trace = scpi::upper(c.param(0));
    bool traceOk = false;
    for (int n = 1; n <= 6; ++n) {
        std::string d = std::to_string(n);
        if (trace == "TRACE" + d || trace == "TRAC" + d)
            traceOk = true;
    }
    if (!traceOk)
        return scpi::IllegalParameterValue;
    Sweep s = m_sweep;
    if (!s.valid) {
        // No sweep since power-on: what a free-running sweep shows now.
        s.valid = true;
        s.start = 0.0;
        s.time = m_sweepTime;
        s.points = m_sweepPoints;
        s.tuning = m_tuning;
    }
    size_t count = s.points;
    if (c.paramCount() == 2) {
        double n;
        if (!scpi::parseNumber(c.param(1), n))
            return scpi::DataTypeError;
        if (n < 1.0 || n > static_cast<double>(kMaxSweepPoints))
            return scpi::DataOutOfRange;
        count = std::min(count, static_cast<size_t>(std::llround(n)));
    }
    model::Timebase tb;
    tb.start = s.start;
    tb.step = s.time / static_cast<double>(s.points - 1);
    tb.points = count;
    model::AnalyzerTuning tuning = s.tuning;
    if (tuning.span != 0.0) {
        // The trace generator spreads the span over the points it writes.
        tuning.span = tuning.span * static_cast<double>(count - 1) / static_cast<double>(s.points - 1);
        tuning.centre = s.tuning.centre - s.tuning.span / 2.0 + tuning.span / 2.0;
    }
    std::vector<float> values(count);
    model::analyzerTrace(m_options, s.event, tb, tuning, values.data());
    if (m_real) {
        BlockFault fault;
        bool broken = c.ctx.core->faults.commitBlock(c.ctx.blockCandidate, fault);
        appendFloatBlock(c.reply, values.data(), values.size(), m_bigEndian, broken ? &fault : nullptr);
    } else {
        appendAsciiValues(c.reply, values.data(), values.size());
    }
    return 0;
}

AnalyzerState SpectrumAnalyzer::state() const
{
    AnalyzerState s;
    s.centre = m_tuning.centre;
    s.span = m_tuning.span;
    s.sweepTime = m_sweepTime;
    s.holdoff = m_holdoff;
    s.rbw = m_tuning.rbw;
    s.vbw = m_tuning.vbw;
    s.sweepPoints = m_sweepPoints;
    s.continuous = m_continuous;
    s.externalTrigger = m_triggerSource == "EXT" || m_triggerSource == "EXT2";
    s.realFormat = m_real;
    return s;
}

}  // namespace bench
}  // namespace quarnel
