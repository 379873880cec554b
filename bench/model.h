// Physical model of the mirroring chain as the bench's instruments see it:
// one source event per oscilloscope acquisition, random delays to the radio
// link, the HDMI output and the sink, and the traces that follow from them.
//
// Everything here is a pure function of its arguments: the same seed, event
// index and instrument settings give bit-identical traces, whatever order they
// are asked for in.
#pragma once

#include "bench.h"

#include <cstddef>
#include <cstdint>

namespace quarnel {
namespace bench {
namespace model {

/// Small fast generator (xoshiro256**) seeded through splitmix64.
class Rng
{
public:
    explicit Rng(uint64_t seed);
    /// Seed for a named stream of one event: independent of every other stream.
    static uint64_t streamSeed(uint64_t seed, uint64_t index, uint64_t stream);
    // Inline: a long trace draws tens of millions of numbers.
    uint64_t next()
    {
        uint64_t result = rotl(m_s[1] * 5, 7) * 9;
        uint64_t t = m_s[1] << 17;
        m_s[2] ^= m_s[0];
        m_s[3] ^= m_s[1];
        m_s[1] ^= m_s[2];
        m_s[0] ^= m_s[3];
        m_s[2] ^= t;
        m_s[3] = rotl(m_s[3], 45);
        return result;
    }
    /// [0, 1)
    double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    double normal();  ///< standard normal (polar method, cached pair)

private:
    static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

    uint64_t m_s[4];
    double m_spare = 0.0;
    bool m_hasSpare = false;
};

// Fixed properties of the simulated signals. They are not options: the
// program's fixed levels (0.035 V rise, 0.06 V sink, 8 RF samples) are met by
// these with a wide margin, which is what a well-adjusted bench gives.
constexpr double kSourceBase = 0.020;              ///< V, photodiode dark level on the source
constexpr double kSourceBaseSpread = 0.003;        ///< V, event-to-event
constexpr double kSourceStep = 0.250;              ///< V
constexpr double kSourceTau = 15e-6;               ///< s, rise time constant
constexpr double kSinkBase = 0.012;                ///< V
constexpr double kSinkStep = 0.180;                ///< V
constexpr double kSinkTau = 120e-6;                ///< s, panel response
constexpr double kScopeNoise = 1.2e-3;             ///< V rms per sample
constexpr double kHumAmplitude = 0.8e-3;           ///< V, 50 Hz pick-up
constexpr double kLinkPowerDbm = -30.0;            ///< link power at the analyzer input while streaming
constexpr double kLinkBandwidth = 20e6;            ///< Hz, occupied bandwidth of the link
constexpr double kNoiseFigureDb = 24.0;            ///< analyzer noise figure
constexpr double kAplLow = 10.0, kAplHigh = 80.0;  ///< % picture level before/after the event

/// One source event and what it causes.
struct Event
{
    uint64_t index = 0;                                      ///< 0: no event yet (idle traces)
    uint64_t seed = 0;                                       ///< the bench seed
    double eventTime = 0.0;                                  ///< s on the oscilloscope axis
    double rfDelay = 0.0, hdmiDelay = 0.0, sinkDelay = 0.0;  ///< s
    double sourceBase = kSourceBase;                         ///< V
    bool flatRf = false;
    bool sinkEdge = true;
    bool videoDetected = true;
};

/// Draws the delays and source level of event `index` (from 1) and places its
/// onset so that the source crosses `triggerLevel` at time 0 when the level
/// lies within the step (else the onset is at 0). Fault flags are the caller's.
Event drawEvent(const Options& options, uint64_t index, double triggerLevel, const double* forcedBase = nullptr);

/// Samples: time of sample k is start + k * step.
struct Timebase
{
    double start = 0.0;
    double step = 0.0;
    size_t points = 0;
};

/// What the analyzer's detector sees of the link.
struct AnalyzerTuning
{
    double centre = 5.192e9;    ///< Hz
    double span = 0.0;          ///< Hz, 0 = zero span
    double rbw = 3e6;           ///< Hz
    double vbw = 3e6;           ///< Hz
    double attenuation = 10.0;  ///< dB
    double refLevel = 0.0;      ///< dBm, top of the screen
};

/// Vertical set-up of one oscilloscope channel.
struct ChannelSetup
{
    double scale = 0.1;      ///< V/div (10 divisions on screen)
    double position = 0.0;   ///< div
    double offset = 0.0;     ///< V
    double bandwidth = 0.0;  ///< Hz, 0 = full
};

/// Displayed noise floor of the analyzer, dBm.
double noiseFloorDbm(const AnalyzerTuning& tuning);
/// Link power reaching the detector when tuned as given, dBm, while streaming.
double linkLevelDbm(const AnalyzerTuning& tuning, double linkFrequency, double frequency);

/// Oscilloscope channel 1 (source), 2 (sink), 3 (the analyzer's video output:
/// the RF envelope, 0..1 V over the display's 100 dB) or 4 (unconnected).
/// `rfSeedStream` keeps the RF noise of channel 3 independent of the analyzer's.
void scopeChannel(int channel, const Options& options, const Event& event, const Timebase& tb,
                  const ChannelSetup& setup, const AnalyzerTuning& tuning, float* out);

/// Zero-span or swept analyzer trace in dBm; `tb` gives each point's time
/// relative to the oscilloscope's trigger point (0). Writes tb.points values.
void analyzerTrace(const Options& options, const Event& event, const Timebase& tb, const AnalyzerTuning& tuning,
                   float* out);

/// Video analyzer: whether the TTV analysis with this threshold and hysteresis
/// (percent of the picture level) sees the event's picture change.
bool videoDetects(double thresholdPct, double hysteresisPct);
/// The source→HDMI value it reports, ms (resolution 1 µs).
double videoReportedMs(const Event& event);

}  // namespace model
}  // namespace bench
}  // namespace quarnel
