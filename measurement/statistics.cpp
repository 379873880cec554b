#include "statistics.h"

#include <algorithm>
#include <cmath>

namespace measurement {

namespace {

constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

// The k-th smallest (from 0) of the union of two ascending sequences a and b
// of na and nb values, by a binary search on how many of them come from a.
template <typename A, typename B>
double kthOfTwo(const A& a, int na, const B& b, int nb, int k)
{
    int lo = std::max(0, k + 1 - nb);
    int hi = std::min(k + 1, na);
    while (lo < hi) {
        const int i = lo + (hi - lo) / 2;
        const int j = k + 1 - i;
        if (j > 0 && b(j - 1) > a(i))
            lo = i + 1;  // the first i values of a are too few
        else
            hi = i;
    }
    const int j = k + 1 - lo;
    if (lo == 0)
        return b(j - 1);
    if (j == 0)
        return a(lo - 1);
    return std::max(a(lo - 1), b(j - 1));
}

// Median absolute deviation from m of ascending values, without sorting the
// deviations: those of the values below m, read downwards, and those of the
// others, read upwards, are two ascending sequences. O(log n).
double medianAbsoluteDeviation(const std::vector<double>& x, double m)
{
    const int n = static_cast<int>(x.size());
    const int p = static_cast<int>(std::lower_bound(x.begin(), x.end(), m) - x.begin());
    const auto below = [&](int i) { return m - x[static_cast<size_t>(p - 1 - i)]; };
    const auto above = [&](int j) { return x[static_cast<size_t>(p + j)] - m; };
    const double upper = kthOfTwo(below, p, above, n - p, n / 2);
    if (n % 2 == 1)
        return upper;
    const double lower = kthOfTwo(below, p, above, n - p, n / 2 - 1);
    return lower + (upper - lower) * 0.5;
}

}  // namespace

double quantileOfSorted(const double* sorted, int n, double p)
{
    if (n <= 0 || !(p >= 0.0 && p <= 1.0))
        return kNoValue;
    const double pos = p * (n - 1);
    const int i = static_cast<int>(pos);
    if (i >= n - 1)
        return sorted[n - 1];
    const double frac = pos - i;
    return frac == 0.0 ? sorted[i] : sorted[i] + (sorted[i + 1] - sorted[i]) * frac;
}

Summary summarize(const QVector<double>& values)
{
    DelayStats s;
    s.addAll(values);
    return s.summary();
}

void DelayStats::reserve(int n)
{
    if (n > 0) {
        m_sorted.reserve(static_cast<size_t>(n));
        m_values.reserve(n);
    }
}

void DelayStats::clear()
{
    m_sorted.clear();
    m_values.clear();
    m_missing = 0;
    m_sum = m_mean = m_m2 = 0.0;
}

void DelayStats::accumulate(double v)
{
    m_sum += v;
    const double n = static_cast<double>(m_sorted.size());  // including v
    const double delta = v - m_mean;
    m_mean += delta / n;
    m_m2 += delta * (v - m_mean);
}

void DelayStats::add(double v)
{
    m_values.append(v);
    if (!std::isfinite(v)) {
        ++m_missing;
        return;
    }
    // Delays mostly arrive near the middle of the spread; the tail end is
    // the cheap case, so test it first.
    if (m_sorted.empty() || v >= m_sorted.back())
        m_sorted.push_back(v);
    else
        m_sorted.insert(std::upper_bound(m_sorted.begin(), m_sorted.end(), v), v);
    accumulate(v);
}

void DelayStats::addAll(const QVector<double>& values)
{
    const size_t old = m_sorted.size();
    m_values.reserve(m_values.size() + values.size());
    for (double v : values) {
        m_values.append(v);
        if (!std::isfinite(v)) {
            ++m_missing;
            continue;
        }
        m_sorted.push_back(v);
        accumulate(v);
    }
    const auto mid = m_sorted.begin() + static_cast<std::ptrdiff_t>(old);
    std::sort(mid, m_sorted.end());
    std::inplace_merge(m_sorted.begin(), mid, m_sorted.end());
}

double DelayStats::mean() const
{
    return m_sorted.empty() ? kNoValue : m_sum / static_cast<double>(m_sorted.size());
}

double DelayStats::sigma() const
{
    const size_t n = m_sorted.size();
    return n < 2 ? kNoValue : std::sqrt(m_m2 / static_cast<double>(n - 1));
}

Summary DelayStats::summary() const
{
    Summary s;
    s.n = count();
    s.missing = m_missing;
    if (s.n == 0)
        return s;
    s.mean = mean();
    s.sigma = sigma();
    s.min = m_sorted.front();
    s.max = m_sorted.back();
    s.p5 = quantile(0.05);
    s.median = quantile(0.5);
    s.p95 = quantile(0.95);
    s.p99 = quantile(0.99);
    return s;
}

Histogram histogramOfSorted(const std::vector<double>& sorted, double minWidth, int maxBins)
{
    Histogram h;
    if (sorted.empty())
        return h;
    maxBins = std::max(1, maxBins);
    const double lo = sorted.front();
    const double hi = sorted.back();
    int bins = maxBins;
    if (minWidth > 0.0 && std::isfinite(minWidth)) {
        const double k = std::max(1.0, std::ceil((hi - lo + minWidth) / (minWidth * maxBins)));
        h.width = k * minWidth;
        h.start = (std::floor(lo / minWidth + 0.5) - 0.5) * minWidth;
        const double need = std::floor((hi - h.start) / h.width) + 1.0;
        bins = need >= 1.0 && need < maxBins ? static_cast<int>(need) : maxBins;
    } else if (hi > lo) {
        h.width = (hi - lo) / maxBins;
        h.start = lo;
    } else {
        h.width = 1.0;  // identical values and no resolution: one bin around them
        h.start = lo - 0.5;
        bins = 1;
    }
    // Bin i takes the values below its upper edge that no earlier bin took;
    // the last bin takes the rest (a rounding error at the top edge).
    h.counts.resize(bins);
    auto from = sorted.begin();
    for (int i = 0; i < bins; ++i) {
        const auto to =
            i == bins - 1 ? sorted.end() : std::lower_bound(from, sorted.end(), h.start + (i + 1) * h.width);
        h.counts[i] = static_cast<int>(to - from);
        from = to;
    }
    return h;
}

OutlierLimits outlierLimits(const std::vector<double>& sorted, double resolution)
{
    OutlierLimits l;
    const int n = static_cast<int>(sorted.size());
    if (n == 0)
        return l;
    l.median = quantileOfSorted(sorted.data(), n, 0.5);
    const double mad = medianAbsoluteDeviation(sorted, l.median);
    const double floor = resolution > 0.0 && std::isfinite(resolution) ? resolution : 0.0;
    l.scale = std::max(kMadToSigma * mad, floor);
    l.lo = l.median - kOutlierZ * l.scale;
    l.hi = l.median + kOutlierZ * l.scale;
    return l;
}

bool isOutlier(const OutlierLimits& limits, double v)
{
    // Comparisons with not-a-number are false: no value, no limits, no outlier.
    return std::isfinite(v) && (v < limits.lo || v > limits.hi);
}

}  // namespace measurement
