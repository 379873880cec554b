// The statistics the viewer shows over one column of per-pass values
// (not-a-number = missing): the measurement library's summary, histogram and
// outlier rule, the same the program applies while a series runs and when it
// marks the outliers of its per-pass record.
#pragma once

#include "statistics.h"

#include <QString>
#include <QVector>

namespace view {

// The outlier rule's floor is the resolution of the values: the sample
// period in ms (0 when unknown).
struct Summary : measurement::Summary
{
    int outliers = 0;
};
Summary summarise(const QVector<double>& values, double resolutionMs);

// Per value: true where the outlier rule marks it.
QVector<bool> outlierMask(const QVector<double>& values, double resolutionMs);

// Bins no narrower than the resolution, at most maxBins of them.
measurement::Histogram histogram(const QVector<double>& values, double resolutionMs, int maxBins = 60);

// Names and values of the summary's rows, in display order.
constexpr int kSummaryRows = 11;
QString summaryRowName(int row);
double summaryRowValue(const Summary& s, int row);
bool summaryRowIsCount(int row);

}  // namespace view
