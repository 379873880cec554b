// PROVISIONAL: replaced by the measurement library's statistics when they land.
#include "stats.h"

#include <algorithm>
#include <cmath>

namespace view {

namespace {
double quantile(const QVector<double>& sorted, double q)
{
    if (sorted.isEmpty())
        return std::nan("");
    const double pos = q * (sorted.size() - 1);
    const int i = int(pos);
    const double f = pos - i;
    return i + 1 < sorted.size() ? sorted[i] + f * (sorted[i + 1] - sorted[i]) : sorted[i];
}
}  // namespace

Summary summarise(const QVector<double>& values)
{
    Summary s;
    QVector<double> v;
    for (double x : values)
        if (std::isfinite(x))
            v << x;
        else
            ++s.missing;
    s.n = v.size();
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (double x : v)
        sum += x;
    s.mean = s.n ? sum / s.n : std::nan("");
    double ss = 0;
    for (double x : v)
        ss += (x - s.mean) * (x - s.mean);
    s.sigma = s.n > 1 ? std::sqrt(ss / (s.n - 1)) : (s.n == 1 ? 0.0 : std::nan(""));
    s.min = s.n ? v.first() : std::nan("");
    s.max = s.n ? v.last() : std::nan("");
    s.p5 = quantile(v, 0.05);
    s.median = quantile(v, 0.5);
    s.p95 = quantile(v, 0.95);
    s.p99 = quantile(v, 0.99);
    for (bool o : outlierMask(values))
        s.outliers += o;
    return s;
}

QVector<bool> outlierMask(const QVector<double>& values)
{
    QVector<double> v;
    for (double x : values)
        if (std::isfinite(x))
            v << x;
    std::sort(v.begin(), v.end());
    const double med = quantile(v, 0.5);
    QVector<double> dev;
    for (double x : v)
        dev << std::abs(x - med);
    std::sort(dev.begin(), dev.end());
    const double mad = quantile(dev, 0.5);
    QVector<bool> out(values.size(), false);
    for (int i = 0; i < values.size(); ++i)
        out[i] = std::isfinite(values[i]) && mad > 0 && std::abs(values[i] - med) > 5 * 1.4826 * mad;
    return out;
}

Histogram histogram(const QVector<double>& values, double minWidth)
{
    Histogram h;
    double lo = INFINITY, hi = -INFINITY;
    int n = 0;
    for (double x : values)
        if (std::isfinite(x)) {
            lo = std::min(lo, x);
            hi = std::max(hi, x);
            ++n;
        }
    if (!n)
        return h;
    int bins = std::max(1, int(std::sqrt(double(n))));
    bins = std::min(bins, 100);
    double w = (hi - lo) / bins;
    if (w < minWidth)
        w = minWidth;
    if (!(w > 0))
        w = 1;
    bins = std::max(1, int(std::ceil((hi - lo) / w)));
    h.lo = lo;
    h.width = w;
    h.counts.fill(0, bins);
    for (double x : values)
        if (std::isfinite(x))
            ++h.counts[std::min(bins - 1, int((x - lo) / w))];
    return h;
}

QString summaryRowName(int row)
{
    static const char* const names[kSummaryRows] = {"n", "missing", "mean", "sigma", "min", "p5",
                                                    "median", "p95", "p99", "max", "outliers"};
    return QLatin1String(names[row]);
}

double summaryRowValue(const Summary& s, int row)
{
    switch (row) {
    case 0: return s.n;
    case 1: return s.missing;
    case 2: return s.mean;
    case 3: return s.sigma;
    case 4: return s.min;
    case 5: return s.p5;
    case 6: return s.median;
    case 7: return s.p95;
    case 8: return s.p99;
    case 9: return s.max;
    default: return s.outliers;
    }
}

bool summaryRowIsCount(int row) { return row == 0 || row == 1 || row == 10; }

}  // namespace view
