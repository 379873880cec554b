#include "model.h"

#include <algorithm>
#include <cmath>

namespace quarnel {
namespace bench {
namespace model {

namespace {

uint64_t splitmix(uint64_t& x)
{
    uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

constexpr double kPi = 3.14159265358979323846;

// Noise streams of one event.
enum Stream : uint64_t {
    StreamDelays = 1,
    StreamSource = 2,
    StreamSink = 3,
    StreamChannel3 = 4,
    StreamChannel4 = 5,
    StreamAnalyzer = 6,
    StreamIdle = 7
};

double clip3(double z)
{
    return std::max(-3.0, std::min(3.0, z));
}

double drawDelay(Rng& rng, const DelayDistribution& delay)
{
    double ms = delay.meanMs + delay.jitterMs * clip3(rng.normal());
    return std::max(0.0, ms) * 1e-3;
}

double effectiveTau(double tau, double bandwidth)
{
    if (bandwidth <= 0.0)
        return tau;
    double tb = 1.0 / (2.0 * kPi * bandwidth);
    return std::sqrt(tau * tau + tb * tb);
}

// Screen limits of a channel: values beyond them are clipped as the digitiser does.
void clipToScreen(const ChannelSetup& s, double& lo, double& hi)
{
    double scale = s.scale > 0.0 ? s.scale : 0.1;
    lo = (-5.0 - s.position) * scale + s.offset;
    hi = (5.0 - s.position) * scale + s.offset;
}

// Averaged detector noise: power factor with mean 1. `n` independent samples
// per displayed point (RBW/VBW); the log of a single one is the familiar
// 5.6 dB spread of a noise floor.
double detectorFactor(Rng& rng, double n)
{
    if (n < 1.5)
        return -std::log(1.0 - rng.uniform());
    if (n < 16.0) {
        int k = static_cast<int>(std::lround(n));
        double sum = 0.0;
        for (int i = 0; i < k; ++i)
            sum += -std::log(1.0 - rng.uniform());
        return sum / k;
    }
    return std::max(0.05, 1.0 + rng.normal() / std::sqrt(n));
}

double dbmToMw(double dbm)
{
    return std::pow(10.0, dbm / 10.0);
}
double mwToDbm(double mw)
{
    return 10.0 * std::log10(std::max(mw, 1e-30));
}

// Detected RF power at time t (relative to the trigger point), mW, noise free.
double rfPowerMw(const Event& event, double t, double floorMw, double linkMw, double vbw)
{
    double p = floorMw;
    if (event.index == 0)
        return p;
    double onset = event.eventTime + event.rfDelay;
    if (t >= onset) {
        double x = (t - onset) * (2.0 * kPi * std::max(vbw, 1.0));
        p += x < 40.0 ? linkMw * (1.0 - std::exp(-x)) : linkMw;
    }
    return p;
}

}  // namespace

Rng::Rng(uint64_t seed)
{
    uint64_t x = seed;
    for (auto& s : m_s)
        s = splitmix(x);
}

uint64_t Rng::streamSeed(uint64_t seed, uint64_t index, uint64_t stream)
{
    uint64_t x = seed ^ 0x5155415245L;
    uint64_t a = splitmix(x);
    x = a ^ (index * 0xD1B54A32D192ED03ull);
    uint64_t b = splitmix(x);
    x = b ^ (stream * 0x8CB92BA72F3D8DD7ull);
    return splitmix(x);
}

double Rng::normal()
{
    if (m_hasSpare) {
        m_hasSpare = false;
        return m_spare;
    }
    // Marsaglia's polar method: no trigonometry, one logarithm per pair.
    double u, v, s;
    do {
        u = 2.0 * uniform() - 1.0;
        v = 2.0 * uniform() - 1.0;
        s = u * u + v * v;
    } while (s >= 1.0 || s == 0.0);
    double f = std::sqrt(-2.0 * std::log(s) / s);
    m_spare = v * f;
    m_hasSpare = true;
    return u * f;
}

Event drawEvent(const Options& options, uint64_t index, double triggerLevel, const double* forcedBase)
{
    Event e;
    e.index = index;
    e.seed = options.seed;
    Rng rng(Rng::streamSeed(options.seed, index, StreamDelays));
    e.rfDelay = drawDelay(rng, options.sourceToRf);
    e.hdmiDelay = drawDelay(rng, options.sourceToHdmi);
    e.sinkDelay = drawDelay(rng, options.sourceToSink);
    e.sourceBase = kSourceBase + kSourceBaseSpread * clip3(rng.normal());
    if (forcedBase)
        e.sourceBase = *forcedBase;
    // The scope triggers where the source crosses the level; the rise started
    // a little earlier.
    double rel = (triggerLevel - e.sourceBase) / (kSourceStep * options.sourceScale);
    e.eventTime = (rel > 0.0 && rel < 1.0) ? kSourceTau * std::log(1.0 - rel) : 0.0;
    return e;
}

double noiseFloorDbm(const AnalyzerTuning& tuning)
{
    double rbw = std::max(tuning.rbw, 1.0);
    return -174.0 + 10.0 * std::log10(rbw) + kNoiseFigureDb + std::max(0.0, tuning.attenuation);
}

double linkLevelDbm(const AnalyzerTuning& tuning, double linkFrequency, double frequency)
{
    double rbw = std::max(tuning.rbw, 1.0);
    // Share of the link's power inside the resolution filter, then the filter's
    // roll-off when tuned beside the channel (3 dB at half the combined width).
    double share = std::min(1.0, rbw / kLinkBandwidth);
    double width = rbw + kLinkBandwidth;
    double x = 2.0 * (frequency - linkFrequency) / width;
    double rolloffDb = -10.0 * std::log10(2.0) * x * x;
    return kLinkPowerDbm + 10.0 * std::log10(share) + std::max(rolloffDb, -200.0);
}

void scopeChannel(int channel, const Options& options, const Event& event, const Timebase& tb,
                  const ChannelSetup& setup, const AnalyzerTuning& tuning, float* out)
{
    double lo, hi;
    clipToScreen(setup, lo, hi);
    uint64_t stream = channel == 1   ? StreamSource
                      : channel == 2 ? StreamSink
                      : channel == 3 ? StreamChannel3
                                     : StreamChannel4;
    Rng rng(Rng::streamSeed(options.seed, event.index, stream));
    double humPhase = 2.0 * kPi * rng.uniform();
    const double w = 2.0 * kPi * 50.0;
    auto put = [&](size_t k, double v) { out[k] = static_cast<float>(std::max(lo, std::min(hi, v))); };

    if (channel == 1 || channel == 2) {
        bool source = channel == 1;
        double base = source ? event.sourceBase : kSinkBase;
        double step = source ? kSourceStep * options.sourceScale : kSinkStep;
        double tau = effectiveTau(source ? kSourceTau : kSinkTau, setup.bandwidth);
        bool edge = event.index != 0 && (source || event.sinkEdge);
        double onset = source ? event.eventTime : event.eventTime + event.sinkDelay;
        // The 50 Hz hum by a rotating phasor (renormalised now and then)
        // instead of a sine per sample.
        double hs = std::sin(w * tb.start + humPhase), hc = std::cos(w * tb.start + humPhase);
        const double rs = std::sin(w * tb.step), rc = std::cos(w * tb.step);
        for (size_t k = 0; k < tb.points; ++k) {
            double t = tb.start + static_cast<double>(k) * tb.step;
            double v = base + kHumAmplitude * hs + kScopeNoise * rng.normal();
            if (edge && t >= onset) {
                double x = (t - onset) / tau;
                v += x < 40.0 ? step * (1.0 - std::exp(-x)) : step;
            }
            put(k, v);
            double ns = hs * rc + hc * rs;
            hc = hc * rc - hs * rs;
            hs = ns;
            if ((k & 1023) == 1023) {
                double norm = 1.0 / std::sqrt(hs * hs + hc * hc);
                hs *= norm;
                hc *= norm;
            }
        }
        return;
    }
    if (channel == 3) {
        // Video output of the analyzer: 1 V for the top of its 100 dB display.
        double bottom = tuning.refLevel - 100.0;
        double floorMw = dbmToMw(noiseFloorDbm(tuning));
        double linkMw = dbmToMw(linkLevelDbm(tuning, options.linkFrequency, tuning.centre));
        double n = std::max(1.0, tuning.rbw / std::max(tuning.vbw, 1.0));
        if (event.flatRf) {
            double v = std::max(0.0, std::min(1.0, (mwToDbm(floorMw) - bottom) / 100.0));
            for (size_t k = 0; k < tb.points; ++k)
                out[k] = static_cast<float>(std::max(lo, std::min(hi, v)));
            return;
        }
        for (size_t k = 0; k < tb.points; ++k) {
            double t = tb.start + static_cast<double>(k) * tb.step;
            double p = rfPowerMw(event, t, floorMw, linkMw, tuning.vbw) * detectorFactor(rng, n);
            double v = std::max(0.0, std::min(1.0, (mwToDbm(p) - bottom) / 100.0));
            put(k, v + kScopeNoise * rng.normal());
        }
        return;
    }
    for (size_t k = 0; k < tb.points; ++k)
        put(k, kScopeNoise * rng.normal());
}

void analyzerTrace(const Options& options, const Event& event, const Timebase& tb, const AnalyzerTuning& tuning,
                   float* out)
{
    double floorDbm = noiseFloorDbm(tuning);
    double floorMw = dbmToMw(floorDbm);
    if (event.flatRf) {
        float v = static_cast<float>(floorDbm);
        for (size_t k = 0; k < tb.points; ++k)
            out[k] = v;
        return;
    }
    Rng rng(Rng::streamSeed(options.seed, event.index, event.index ? StreamAnalyzer : StreamIdle));
    double n = std::max(1.0, tuning.rbw / std::max(tuning.vbw, 1.0));
    bool zeroSpan = tuning.span == 0.0;
    double linkMwCentre = dbmToMw(linkLevelDbm(tuning, options.linkFrequency, tuning.centre));
    double fStep = tb.points > 1 ? tuning.span / static_cast<double>(tb.points - 1) : 0.0;
    for (size_t k = 0; k < tb.points; ++k) {
        double t = tb.start + static_cast<double>(k) * tb.step;
        double linkMw = linkMwCentre;
        if (!zeroSpan) {
            double f = tuning.centre - tuning.span / 2.0 + static_cast<double>(k) * fStep;
            linkMw = dbmToMw(linkLevelDbm(tuning, options.linkFrequency, f));
        }
        double p = rfPowerMw(event, t, floorMw, linkMw, tuning.vbw) * detectorFactor(rng, n);
        out[k] = static_cast<float>(mwToDbm(p));
    }
}

bool videoDetects(double thresholdPct, double hysteresisPct)
{
    double h = std::max(0.0, hysteresisPct) / 2.0;
    return thresholdPct - h > kAplLow && thresholdPct + h < kAplHigh;
}

double videoReportedMs(const Event& event)
{
    return std::round(event.hdmiDelay * 1e6) / 1e3;
}

}  // namespace model
}  // namespace bench
}  // namespace quarnel
