// Statistics of the delays of a series: summaries, an accumulator cheap
// enough to update after every pass of a 100,000-pass series, histograms and
// the outlier rule. Plain functions on numbers: no widgets, no files.
//
// A value that is not finite (not-a-number for "no value", or an infinite
// reading) is missing: it is counted as such and enters nothing else.
#pragma once

#include <QVector>

#include <limits>
#include <vector>

namespace measurement {

// One delay over a series.
struct Summary
{
    int n = 0;        // values that are numbers
    int missing = 0;  // values that are not
    // Of the n numbers; not-a-number when n is 0. The mean is summed in pass
    // order from 0.0, exactly as the results file's mean. sigma is the sample
    // standard deviation (divisor n - 1): not-a-number for n < 2.
    double mean = std::numeric_limits<double>::quiet_NaN();
    double sigma = std::numeric_limits<double>::quiet_NaN();
    double min = std::numeric_limits<double>::quiet_NaN();
    double p5 = std::numeric_limits<double>::quiet_NaN();
    double median = std::numeric_limits<double>::quiet_NaN();
    double p95 = std::numeric_limits<double>::quiet_NaN();
    double p99 = std::numeric_limits<double>::quiet_NaN();
    double max = std::numeric_limits<double>::quiet_NaN();
};

// Quantile p (0 .. 1) of n ascending values: linear interpolation between the
// two order statistics around position p * (n - 1), the rule of spreadsheets'
// PERCENTILE and of numpy's default. Not-a-number when n is 0.
double quantileOfSorted(const double* sorted, int n, double p);

// Summary of values in pass order.
Summary summarize(const QVector<double>& values);

// One delay as the passes of a series deliver it. add() keeps the numbers
// sorted (a binary search and one move of the larger ones; tens of
// microseconds at 100,000 values), so that every quantile is a lookup, and a
// histogram or the outlier limits take O(bins log n) and O(log n): the live
// view can show them after every pass of a 100,000-pass series.
class DelayStats
{
public:
    void reserve(int n);
    void clear();
    void add(double v);
    // Many values at once (a record read back): one sort instead of n inserts.
    void addAll(const QVector<double>& values);

    int count() const { return static_cast<int>(m_sorted.size()); }
    int missing() const { return m_missing; }
    double mean() const;
    double sigma() const;
    double quantile(double p) const { return quantileOfSorted(m_sorted.data(), count(), p); }
    Summary summary() const;

    const std::vector<double>& sorted() const { return m_sorted; }  // the numbers, ascending
    const QVector<double>& values() const { return m_values; }      // everything, in pass order

private:
    void accumulate(double v);

    std::vector<double> m_sorted;
    QVector<double> m_values;
    int m_missing = 0;
    double m_sum = 0.0;   // in pass order: the results file's mean
    double m_mean = 0.0;  // running mean and sum of squared deviations (Welford):
    double m_m2 = 0.0;    // stable where sum-of-squares formulas cancel
};

// Equal-width bins [start + i * width, start + (i + 1) * width).
struct Histogram
{
    double start = 0.0;
    double width = 0.0;
    QVector<int> counts;  // empty when there were no numbers
};

// Histogram of ascending finite values in at most maxBins bins. The delays of
// a pass are differences of sample times, so they come in whole multiples of
// the sample period: the bin width is the smallest whole multiple of
// minWidth (the sample period) that keeps to maxBins, and the bin edges lie
// half a period off those multiples. Every bin then spans the same number of
// possible values; bins of any other width show a comb of alternately full
// and empty bins that is not in the data. With minWidth <= 0 (no known
// resolution) the width is the range over maxBins.
Histogram histogramOfSorted(const std::vector<double>& sorted, double minWidth, int maxBins);

// Outlier rule: a value is an outlier when it lies more than kOutlierZ robust
// standard deviations from the series' median, the robust deviation being
// 1.4826 x the median absolute deviation (MAD), but never less than the
// resolution (the sample period).
//
// Why median and MAD: the outliers are what the rule is to find, and mean and
// sigma move towards them (one dropped frame of +500 ms in 100 passes shifts
// the mean by 5 ms and inflates sigma several times, hiding itself); median
// and MAD ignore up to half of the values being wild. 1.4826 x MAD equals
// sigma for normal jitter, and 3.5 is the customary cut for this "modified z
// score" (Iglewicz and Hoaglin): normal jitter crosses it about once in 2,000
// values. Why the floor: delays are quantised to the sample period, so in a
// quiet series more than half of them can be equal and the MAD is 0; without
// the floor every value one sample off the median would be an outlier.
constexpr double kOutlierZ = 3.5;
constexpr double kMadToSigma = 1.4826;

struct OutlierLimits
{
    double median = std::numeric_limits<double>::quiet_NaN();
    double scale = std::numeric_limits<double>::quiet_NaN();  // max(1.4826 x MAD, resolution)
    double lo = std::numeric_limits<double>::quiet_NaN();     // median - kOutlierZ x scale
    double hi = std::numeric_limits<double>::quiet_NaN();     // median + kOutlierZ x scale
};

// Limits for ascending finite values; all not-a-number when there are none.
// O(log n): the MAD comes from the sorted values without sorting deviations.
OutlierLimits outlierLimits(const std::vector<double>& sorted, double resolution);

// Outside the limits; never for a missing value or when there are no limits.
bool isOutlier(const OutlierLimits& limits, double v);

}  // namespace measurement
