// The statistics the viewer shows, over one column of per-pass values
// (not-a-number = missing). The computation is the measurement library's, the
// same the program uses while a series runs; this is only the viewer's view
// of it.
#pragma once

#include <QString>
#include <QVector>

namespace view {

struct Summary
{
    int n = 0;        // values that are numbers
    int missing = 0;  // values that are not
    double mean = 0.0, sigma = 0.0, min = 0.0, p5 = 0.0, median = 0.0, p95 = 0.0, p99 = 0.0, max = 0.0;
    int outliers = 0;
};
Summary summarise(const QVector<double>& values);

// Per value: true where the program's outlier rule marks it.
QVector<bool> outlierMask(const QVector<double>& values);

struct Histogram
{
    double lo = 0.0;     // left edge of the first bin
    double width = 0.0;  // bin width
    QVector<int> counts;
};
// Bins no narrower than minWidth (the sample period, say); 0: no bound.
Histogram histogram(const QVector<double>& values, double minWidth = 0.0);

// Names and getters of the summary's rows, in display order.
constexpr int kSummaryRows = 11;
QString summaryRowName(int row);
double summaryRowValue(const Summary& s, int row);
bool summaryRowIsCount(int row);

}  // namespace view
