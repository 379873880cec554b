// What the live series view shows, as text and numbers; no widgets, so the
// view's slots stay thin and the rules here are tested directly.
#pragma once

#include "statistics.h"

#include <QString>
#include <QStringList>

namespace graph {

// "Pass 12 of 100".
QString passesText(int counted, int passes);

// Elapsed time and the estimate of what is left: "Elapsed 0:01:05, about
// 0:04:20 left". The estimate is the mean time per counted pass so far
// (repeated and failed acquisitions included) times the passes still to
// count; before the first pass there is none.
QString timeText(qint64 elapsedMs, int counted, int passes);
// -1 when there is no estimate yet.
qint64 timeLeftMs(qint64 elapsedMs, int counted, int passes);
// h:mm:ss, hours as many as it takes.
QString durationText(qint64 ms);

// "Start-level repeats 3, failed acquisitions 1"; empty when both are 0.
QString repeatsText(int startRepeats, int failedAcquisitions);

// The columns of one delay's row in the statistics table, in this order.
enum StatColumn { ColN, ColMean, ColSigma, ColMin, ColMedian, ColP95, ColMax, ColMissing, ColOutliers, ColCount };
// Values with three decimals (a thousandth of a millisecond is below any
// sample period the instruments reach); "n/a" where there is no value.
QStringList statRow(const measurement::Summary& s, int outliers);

// Values of a delay outside the limits, counted on its ascending numbers.
int outlierCount(const std::vector<double>& sorted, const measurement::OutlierLimits& limits);

}  // namespace graph
