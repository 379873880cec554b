// The oscilloscope: understands both command families the program uses.
//
// Documented behaviour where commands leave things open:
// - A time scale means 10 horizontal divisions after first-family commands and
//   12 after second-family ones ("TIM:SCAL 0.1" gives 1.0 s or 1.2 s).
// - Sample k lies at start + k * range / (points - 1): the first and the last
//   sample sit on the window's edges.
// - INIT:CONT OFF, SING and INIT arm one acquisition; RUN, RUNC and INIT:CONT
//   ON run continuously; STOP stops. *TRG acquires when running or armed.
// - Without ACQ:POIN (or with ACQ:POIN:AUTO on) the record length is the bench
//   option. Power-on: all four channels on at 0.1 V/div, the second family,
//   FORM ASC, little-endian float data.
// - Channel 3 always carries the spectrum analyzer's video output (the RF
//   envelope) and channel 1 the source; the trigger output always drives the
//   analyzer's external trigger input.
#include "block.h"
#include "core.h"
#include "instruments.h"

#include <algorithm>
#include <cmath>

namespace quarnel {
namespace bench {

namespace {
constexpr int kFirst = 0;
constexpr int kSecond = 1;
/// Bytes of responses kept for reading the last acquisition again (four
/// 10,000,000-point float channels fit).
constexpr size_t kMaxCachedBytes = 256u << 20;

double bandLimitHz(const std::string& choice)
{
    if (choice == "B20")
        return 20e6;
    if (choice == "B200")
        return 200e6;
    if (choice == "B800")
        return 800e6;
    return 0.0;
}
}  // namespace

Oscilloscope::Oscilloscope(const Options& options)
    : ScpiInstrument(Instrument::Oscilloscope, options.scopeIdentity), m_options(options),
      m_family(options.initialFamily)
{
    auto channelIndex = [](Call& c, int& index) {
        int n = c.suffixAt(0);
        if (n < 1 || n > 4)
            return static_cast<int>(scpi::HeaderSuffixOutOfRange);
        index = n - 1;
        return 0;
    };

    // ---- acquisition and time base
    add(
        "ACQuire:POINts:AUTO",
        [this](Call& c) {
            bool v;
            if (int e = oneBool(c, v))
                return e;
            m_fixedPoints = v ? 0 : points();
            return 0;
        },
        [this](Call& c) {
            c.reply = m_fixedPoints ? "0" : "1";
            return 0;
        },
        kFirst);
    add(
        "ACQuire:POINts[:VALue]",
        [this](Call& c) {
            double v;
            if (int e = oneNumber(c, v, 2.0, static_cast<double>(kMaxScopePoints)))
                return e;
            m_fixedPoints = static_cast<size_t>(std::llround(v));
            return 0;
        },
        [this](Call& c) {
            c.reply = std::to_string(points());
            return 0;
        },
        kFirst);
    addEnumSetting("ACQuire:WRATe", {"MSAMplerate", "MWAVeform", "AUTO"}, "AUTO", kSecond);
    addNumber("TIMebase:RANGe", m_range, 1e-12, 1e5, kFirst);
    add(
        "TIMebase:SCALe",
        [this](Call& c) {
            double v;
            if (int e = oneNumber(c, v, 1e-13, 1e4))
                return e;
            m_range = v * divisions();
            return 0;
        },
        [this](Call& c) {
            c.reply = scpi::formatNumber(m_range / divisions());
            return 0;
        });
    addNumber("TIMebase:REFerence", m_reference, 0.0, 100.0);
    addNumber("TIMebase:POSition", m_position, -1e4, 1e4, kSecond);

    // ---- run control
    add(
        "RUN",
        [this](Call&) {
            m_running = true;
            m_armed = false;
            return 0;
        },
        nullptr);
    add(
        "RUNContinous",
        [this](Call&) {
            m_running = true;
            m_armed = false;
            return 0;
        },
        nullptr, kFirst);
    add(
        "STOP",
        [this](Call&) {
            m_running = false;
            m_armed = false;
            return 0;
        },
        nullptr, kFirst);
    add(
        "SINGle",
        [this](Call&) {
            m_running = false;
            m_armed = true;
            return 0;
        },
        nullptr, kSecond);
    add(
        "INITiate:CONTinuous",
        [this](Call& c) {
            bool v;
            if (int e = oneBool(c, v))
                return e;
            m_running = v;
            m_armed = !v;
            return 0;
        },
        [this](Call& c) {
            c.reply = m_running ? "1" : "0";
            return 0;
        },
        kFirst);
    add(
        "INITiate[:IMMediate]",
        [this](Call&) {
            m_armed = true;
            return 0;
        },
        nullptr);

    // ---- channels
    // Per-channel on/off and numeric settings share one shape: suffix check,
    // one parameter, one field (times a unit factor).
    auto addChannelOn = [this, channelIndex](const char* pattern, int family) {
        add(
            pattern,
            [this, channelIndex](Call& c) {
                int i;
                bool v;
                if (int e = channelIndex(c, i))
                    return e;
                if (int e = oneBool(c, v))
                    return e;
                m_channels[i].on = v;
                return 0;
            },
            [this, channelIndex](Call& c) {
                int i;
                if (int e = channelIndex(c, i))
                    return e;
                c.reply = m_channels[i].on ? "1" : "0";
                return 0;
            },
            family);
    };
    auto addChannelNumber = [this, channelIndex](const char* pattern, double model::ChannelSetup::*field, double lo,
                                                 double hi, double unit, int family) {
        add(
            pattern,
            [this, channelIndex, field, lo, hi, unit](Call& c) {
                int i;
                double v;
                if (int e = channelIndex(c, i))
                    return e;
                if (int e = oneNumber(c, v, lo, hi))
                    return e;
                m_channels[i].setup.*field = v / unit;
                return 0;
            },
            [this, channelIndex, field, unit](Call& c) {
                int i;
                if (int e = channelIndex(c, i))
                    return e;
                c.reply = scpi::formatNumber(m_channels[i].setup.*field * unit);
                return 0;
            },
            family);
    };
    addChannelOn("CHANnel#", kFirst);
    addChannelOn("CHANnel#:STATe", kSecond);
    // RANGe is the full screen of 10 divisions.
    addChannelNumber("CHANnel#:RANGe", &model::ChannelSetup::scale, 1e-4, 1e3, 10.0, kFirst);
    addChannelNumber("CHANnel#:SCALe", &model::ChannelSetup::scale, 1e-5, 100.0, 1.0, -1);
    addChannelNumber("CHANnel#:POSition", &model::ChannelSetup::position, -50.0, 50.0, 1.0, -1);
    addChannelNumber("CHANnel#:OFFSet", &model::ChannelSetup::offset, -100.0, 100.0, 1.0, -1);
    addEnumSetting("CHANnel#:COUPling", {"DC", "DCLimit", "AC", "ACLimit", "GND"}, "DC");
    addEnumSetting("CHANnel#:TYPE", {"SAMPle", "RMS", "PDETect", "HRESolution", "AVERage", "ENVelope"}, "SAMP");
    add(
        "CHANnel#:BANDwidth",
        [this, channelIndex](Call& c) {
            int i;
            std::string chosen;
            if (int e = channelIndex(c, i))
                return e;
            if (int e = oneChoice(c, {"FULL", "B20", "B200", "B800"}, chosen))
                return e;
            m_bandLimit[i] = bandLimitHz(chosen);
            return 0;
        },
        [this, channelIndex](Call& c) {
            int i;
            if (int e = channelIndex(c, i))
                return e;
            double b = m_bandLimit[i];
            c.reply = b == 20e6 ? "B20" : b == 200e6 ? "B200" : b == 800e6 ? "B800" : "FULL";
            return 0;
        });
    addNumber("CHANnel#:DIGFilter:CUToff", m_digitalFilter, 1e3, 1e10, kFirst);
    add("CHANnel#:DATA[:VALues]", nullptr, [this, channelIndex](Call& c) {
        int i;
        if (int e = channelIndex(c, i))
            return e;
        if (c.paramCount())
            return static_cast<int>(scpi::ParameterNotAllowed);
        return dataQuery(c, i + 1);
    });
    add("CHANnel#:DATA:HEADer", nullptr, [this](Call& c) {
        model::Timebase tb = m_haveAcquisition ? m_last.timebase : timebase();
        double stop = tb.start + tb.step * static_cast<double>(tb.points ? tb.points - 1 : 0);
        c.reply =
            scpi::formatNumber(tb.start) + "," + scpi::formatNumber(stop) + "," + std::to_string(tb.points) + ",1";
        return 0;
    });

    // ---- trigger (first family: TRIGger<n>, second: TRIGger:A / :B)
    addNumber("TRIGger#:LEVel#[:VALue]", m_triggerLevel, -100.0, 100.0, kFirst);
    addNumber("TRIGger:A:LEVel#[:VALue]", m_triggerLevel, -100.0, 100.0, kSecond);
    addEnumSetting("TRIGger#:MODE", {"AUTO", "NORMal", "FREerun"}, "AUTO", kFirst);
    addBoolSetting("TRIGger#:ANEDge:NREJect", false, kFirst);
    addEnumSetting("TRIGger#:HOLDoff:MODE", {"OFF", "TIME", "EVENts", "RANDom", "AUTO"}, "OFF", kFirst);
    addNumberSetting("TRIGger#:HOLDoff:TIME", 0.0, 0.0, 10.0, kFirst);
    addBoolSetting("TRIGger#:OUT:STATe", false, kFirst);
    addBoolSetting("TRIGger#:OFFSet:LIMited", true, kFirst);
    addBoolSetting("TRIGger:B:ENABle", false, kSecond);
    addBoolSetting("TRIGger:A:ENABle", true, kSecond);
    addEnumSetting("TRIGger:A:TYPE", {"EDGE", "WIDTh", "RUNT", "TIMeout", "WINDow"}, "EDGE", kSecond);
    addEnumSetting("TRIGger:A:SOURce", {"CH1", "CH2", "CH3", "CH4", "EXTernanalog", "LINE"}, "CH1", kSecond);
    addEnumSetting("TRIGger:A:MODE", {"AUTO", "NORMal"}, "AUTO", kSecond);
    addEnumSetting("TRIGger:A:EDGE:SLOPe", {"POSitive", "NEGative", "EITHer"}, "POS", kSecond);
    addEnumSetting("TRIGger:A:EDGE:COUPling", {"DC", "AC", "LFReject"}, "DC", kSecond);
    addBoolSetting("TRIGger:A:EDGE:FILTer:LPASs", false, kSecond);
    addBoolSetting("TRIGger:A:EDGE:FILTer:NREJect", false, kSecond);

    // ---- data export and display
    addDataFormat("MSBF", "LSBF");
    addBoolSetting("EXPort:WAVeform:RAW", false, kFirst);
    addBool("EXPort:WAVeform:INCXvalues", m_includeX, kFirst);
    addBoolSetting("SYSTem:DISPlay:UPDate", false);

    powerOn();
}

void Oscilloscope::familyCommand(int family)
{
    m_family = family == kFirst ? ScopeFamily::First : ScopeFamily::Second;
}

void Oscilloscope::reset()
{
    ScpiInstrument::reset();
    m_range = 0.1 * divisions();
    m_reference = 50.0;
    m_position = 0.0;
    m_fixedPoints = 0;
    m_running = true;
    m_armed = false;
    m_includeX = false;
    m_triggerLevel = 0.0;
    m_digitalFilter = 0.0;
    for (int i = 0; i < 4; ++i) {
        m_channels[i] = Channel();
        m_bandLimit[i] = 0.0;
    }
    m_haveAcquisition = false;
    m_cache.clear();
}

void Oscilloscope::remember(int channel, const std::shared_ptr<const std::string>& text)
{
    size_t total = text->size();
    for (const CachedResponse& r : m_cache)
        total += r.text->size();
    while (!m_cache.empty() && total > kMaxCachedBytes) {
        total -= m_cache.front().text->size();
        m_cache.erase(m_cache.begin());
    }
    if (total <= kMaxCachedBytes)
        m_cache.push_back(CachedResponse{channel, m_real, m_bigEndian, m_includeX, text});
}

size_t Oscilloscope::points() const
{
    size_t n = m_fixedPoints ? m_fixedPoints : m_options.scopePoints;
    return std::max<size_t>(2, std::min(n, kMaxScopePoints));
}

model::Timebase Oscilloscope::timebase() const
{
    model::Timebase tb;
    tb.points = points();
    tb.start = m_position - m_reference / 100.0 * m_range;
    tb.step = m_range / static_cast<double>(tb.points - 1);
    return tb;
}

void Oscilloscope::trigger(ExecContext& ctx)
{
    if (!m_running && !m_armed)
        return;  // stopped: a forced trigger finds nothing armed
    m_armed = false;
    Acquisition a;
    a.timebase = timebase();
    for (int i = 0; i < 4; ++i) {
        a.channels[i] = m_channels[i];
        double bw = m_bandLimit[i];
        if (m_digitalFilter > 0.0 && (bw == 0.0 || m_digitalFilter < bw))
            bw = m_digitalFilter;
        a.channels[i].setup.bandwidth = bw;
    }
    a.tuning = ctx.core->analyzer->tuning();
    a.event = ctx.core->acquire(a.timebase, m_family, m_triggerLevel);
    m_last = a;
    m_haveAcquisition = true;
    m_cache.clear();
    if (m_options.realTime)
        ctx.replyDelay += m_range;
}

int Oscilloscope::dataQuery(Call& c, int channel)
{
    const Channel& now = m_channels[channel - 1];
    if (!now.on)
        return scpi::SettingsConflict;  // an inactive channel has no data to export
    BlockFault fault;
    const bool broken = m_real && c.ctx.core->faults.commitBlock(c.ctx.blockCandidate, fault);
    if (m_haveAcquisition && !broken) {
        for (const CachedResponse& r : m_cache)
            if (r.channel == channel && r.real == m_real && r.bigEndian == m_bigEndian && r.includeX == m_includeX) {
                c.sharedReply = r.text;
                return 0;
            }
    }
    Acquisition a;
    if (m_haveAcquisition) {
        a = m_last;
    } else {
        // Nothing acquired since power-on or *RST: an idle record with the
        // current settings, no event in it.
        a.timebase = timebase();
        for (int i = 0; i < 4; ++i)
            a.channels[i] = m_channels[i];
        a.tuning = c.ctx.core->analyzer->tuning();
    }
    const size_t n = a.timebase.points;
    std::vector<float> values(m_includeX ? 2 * n : n);
    if (m_includeX) {
        std::vector<float> y(n);
        model::scopeChannel(channel, m_options, a.event, a.timebase, a.channels[channel - 1].setup, a.tuning, y.data());
        for (size_t k = 0; k < n; ++k) {
            values[2 * k] = static_cast<float>(a.timebase.start + static_cast<double>(k) * a.timebase.step);
            values[2 * k + 1] = y[k];
        }
    } else {
        model::scopeChannel(channel, m_options, a.event, a.timebase, a.channels[channel - 1].setup, a.tuning,
                            values.data());
    }
    std::string text;
    if (m_real)
        appendFloatBlock(text, values.data(), values.size(), m_bigEndian, broken ? &fault : nullptr);
    else
        appendAsciiValues(text, values.data(), values.size());
    if (broken || !m_haveAcquisition) {
        c.reply = std::move(text);
        return 0;
    }
    text += '\n';
    auto shared = std::make_shared<const std::string>(std::move(text));
    remember(channel, shared);
    c.sharedReply = std::move(shared);
    return 0;
}

ScopeState Oscilloscope::state() const
{
    ScopeState s;
    s.family = m_family;
    s.timeRange = m_range;
    s.reference = m_reference;
    s.position = m_position;
    s.points = points();
    s.running = m_running;
    s.realFormat = m_real;
    s.triggerLevel = m_triggerLevel;
    return s;
}

}  // namespace bench
}  // namespace quarnel
