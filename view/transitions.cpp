#include "transitions.h"

#include "delays.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace view {

namespace {

using measurement::kNaN;
constexpr double kMsPerS = 1000.0;

// Histogram resolution: 1/256 of the range puts a state level within a
// fraction of a percent of the step before refinement.
constexpr int kBins = 256;
// Modes closer than this share of the range are one noisy state, not two.
constexpr double kMinSeparation = 0.25;
// The levels come from at most about this many samples, taken as evenly
// spaced runs of a memory page each (the prefetcher streams within a run):
// a million give the modes as well as ten million, at a tenth of the time.
constexpr int kLevelSamples = 1 << 20;
constexpr int kRun = 512;

// Calls fn(v) for the samples the levels are taken from.
template <typename Fn>
void forLevelSamples(const double* d, int n, Fn fn)
{
    const int step = std::max(1, n / kLevelSamples) * kRun;
    for (int start = 0; start < n; start += step)
        for (int i = start; i < std::min(n, start + kRun); ++i)
            fn(d[i]);
}

// Mean of the samples in the bin `centre` and its two neighbours inside
// [lo, hi), or NaN when they are empty.
double binMean(const double* sums, const long long* counts, int centre, int lo, int hi)
{
    double s = 0.0;
    long long c = 0;
    for (int b = std::max(lo, centre - 1); b <= std::min(hi - 1, centre + 1); ++b) {
        s += sums[b];
        c += counts[b];
    }
    return c > 0 ? s / static_cast<double>(c) : kNaN;
}

int modeBin(const long long* counts, int lo, int hi)
{
    int best = lo;
    for (int b = lo + 1; b < hi; ++b)
        if (counts[b] > counts[best])
            best = b;
    return best;
}

}  // namespace

StateLevels stateLevels(const double* d, int n)
{
    StateLevels r;
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    long long finite = 0;
    forLevelSamples(d, n, [&](double v) {
        if (!std::isfinite(v))
            return;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
        ++finite;
    });
    if (finite < 2 || !(hi > lo))
        return r;

    long long counts[kBins] = {};
    double sums[kBins] = {};
    const double scale = kBins / (hi - lo);
    forLevelSamples(d, n, [&](double v) {
        if (!std::isfinite(v))
            return;
        const int b = std::min(kBins - 1, static_cast<int>((v - lo) * scale));
        ++counts[b];
        sums[b] += v;
    });
    const int half = kBins / 2;
    r.low = binMean(sums, counts, modeBin(counts, 0, half), 0, half);
    r.high = binMean(sums, counts, modeBin(counts, half, kBins), half, kBins);
    r.ok = r.high - r.low >= kMinSeparation * (hi - lo);
    return r;
}

double risingCrossing(const double* d, int n, int from, double level)
{
    for (int k = std::max(from, 0) + 1; k < n; ++k) {
        const double a = d[k - 1];
        const double b = d[k];
        if (a < level && b >= level)
            return static_cast<double>(k - 1) + (level - a) / (b - a);
    }
    return kNaN;
}

MidRuleDelays midRuleDelays(int osTyp, int pts, const QVector<double>& d1, const QVector<double>& d2,
                            const QVector<double>& d3)
{
    const int n = std::max(pts, 0);
    MidRuleDelays r;
    const int n1 = std::min(n, d1.size());
    const int n2 = std::min(n, d2.size());
    const int n3 = std::min(n, d3.size());

    r.src = stateLevels(d1.constData(), n1);
    const double xs = r.src.ok ? risingCrossing(d1.constData(), n1, 0, r.src.mid()) : kNaN;
    r.tsrc = measurement::axisTime(osTyp, xs, n);

    r.rf = stateLevels(d2.constData(), n2);
    double xr = kNaN;
    if (r.rf.ok && std::isfinite(xs))
        xr = risingCrossing(d2.constData(), n2, static_cast<int>(xs), r.rf.mid());
    r.trf = measurement::axisTime(osTyp, xr, n);

    r.snk = stateLevels(d3.constData(), n3);
    const double xk = r.snk.ok ? risingCrossing(d3.constData(), n3, 0, r.snk.mid()) : kNaN;
    r.tsnk = measurement::axisTime(osTyp, xk, n);

    // Not-a-number whenever either edge is missing.
    r.src2Rf = (r.trf - r.tsrc) * kMsPerS;
    r.src2Snk = (r.tsnk - r.tsrc) * kMsPerS;
    return r;
}

}  // namespace view
