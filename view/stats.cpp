#include "stats.h"

namespace view {

namespace {

measurement::DelayStats collect(const QVector<double>& values)
{
    measurement::DelayStats st;
    st.addAll(values);
    return st;
}

}  // namespace

Summary summarise(const QVector<double>& values, double resolutionMs)
{
    const measurement::DelayStats st = collect(values);
    Summary s;
    static_cast<measurement::Summary&>(s) = st.summary();
    const measurement::OutlierLimits limits = measurement::outlierLimits(st.sorted(), resolutionMs);
    for (double v : values)
        s.outliers += measurement::isOutlier(limits, v) ? 1 : 0;
    return s;
}

QVector<bool> outlierMask(const QVector<double>& values, double resolutionMs)
{
    const measurement::DelayStats st = collect(values);
    const measurement::OutlierLimits limits = measurement::outlierLimits(st.sorted(), resolutionMs);
    QVector<bool> mask(values.size());
    for (int i = 0; i < values.size(); ++i)
        mask[i] = measurement::isOutlier(limits, values[i]);
    return mask;
}

measurement::Histogram histogram(const QVector<double>& values, double resolutionMs, int maxBins)
{
    return measurement::histogramOfSorted(collect(values).sorted(), resolutionMs, maxBins);
}

QString summaryRowName(int row)
{
    static const char* const names[kSummaryRows] = {"n",      "missing", "mean", "sigma", "min",     "p5",
                                                    "median", "p95",     "p99",  "max",   "outliers"};
    return QLatin1String(names[row]);
}

double summaryRowValue(const Summary& s, int row)
{
    const double values[kSummaryRows] = {
        double(s.n), double(s.missing), s.mean, s.sigma, s.min, s.p5, s.median, s.p95, s.p99,
        s.max,       double(s.outliers)};
    return values[row];
}

bool summaryRowIsCount(int row)
{
    return row == 0 || row == 1 || row == kSummaryRows - 1;
}

}  // namespace view
