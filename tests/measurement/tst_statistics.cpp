// Delay statistics: summaries against hand-computed values, the accumulator
// against the batch summary, histogram bins, the outlier rule.
#include "resultfiles.h"
#include "statistics.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

using namespace measurement;

Q_DECLARE_METATYPE(QVector<double>)

namespace {

const double kNaN = std::nan("");

bool same(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::abs(a - b) <= 1e-12 * std::max(1.0, std::abs(b));
}

}  // namespace

class TstStatistics : public QObject
{
    Q_OBJECT

private slots:
    void summaries_data()
    {
        QTest::addColumn<QVector<double>>("values");
        // n, missing, mean, sigma, min, p5, median, p95, p99, max
        QTest::addColumn<QVector<double>>("want");
        QTest::newRow("four and missing")
            << QVector<double>{4, kNaN, 2, 1, 3}
            << QVector<double>{4, 1, 2.5, std::sqrt(5.0 / 3.0), 1, 1.15, 2.5, 3.85, 3.97, 4};
        QTest::newRow("single pass") << QVector<double>{81.5}
                                     << QVector<double>{1, 0, 81.5, kNaN, 81.5, 81.5, 81.5, 81.5, 81.5, 81.5};
        QTest::newRow("identical") << QVector<double>(5, 7.25)
                                   << QVector<double>{5, 0, 7.25, 0, 7.25, 7.25, 7.25, 7.25, 7.25, 7.25};
        QTest::newRow("nothing delivered") << QVector<double>{kNaN, INFINITY, kNaN}
                                           << QVector<double>{0, 3, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN};
    }

    void summaries()
    {
        QFETCH(QVector<double>, values);
        QFETCH(QVector<double>, want);
        const Summary s = summarize(values);
        const double got[] = {double(s.n), double(s.missing), s.mean, s.sigma, s.min,
                              s.p5,        s.median,          s.p95,  s.p99,   s.max};
        for (int i = 0; i < want.size(); ++i)
            QVERIFY2(same(got[i], want[i]), qPrintable(QStringLiteral("field %1: %2").arg(i).arg(got[i])));
    }

    // Pass by pass gives what the batch gives, and the mean is the results
    // file's, bit for bit. A large offset would ruin a sum-of-squares sigma.
    void accumulatorMatchesBatch()
    {
        std::mt19937 rng(7);
        std::normal_distribution<double> jitter(1e6, 0.5);
        QVector<double> v;
        for (int i = 0; i < 3000; ++i)
            v << (i % 97 == 0 ? kNaN : jitter(rng));
        DelayStats live;
        for (double x : v)
            live.add(x);
        std::vector<double> numbers;
        for (double x : v)
            if (!std::isnan(x))
                numbers.push_back(x);
        double m2 = 0;
        for (double x : numbers)
            m2 += (x - 1e6) * (x - 1e6);  // around a centre close enough to be exact
        std::sort(numbers.begin(), numbers.end());
        QVERIFY(live.sorted() == numbers);
        QCOMPARE(live.mean(), meanOfDelivered(v));
        const double mean = live.mean() - 1e6;
        QVERIFY(std::abs(live.sigma() - std::sqrt((m2 - numbers.size() * mean * mean) / (numbers.size() - 1))) < 1e-9);
        QCOMPARE(live.summary().p99, summarize(v).p99);
    }

    void histogram()
    {
        // Delays on the 0.05 ms lattice: every bin holds whole lattice steps.
        std::vector<double> lattice;
        for (int k : {1600, 1600, 1601, 1603, 1640})
            lattice.push_back(k * 0.05);
        Histogram h = histogramOfSorted(lattice, 0.05, 100);
        QCOMPARE(h.width, 0.05);
        QCOMPARE(h.counts.size(), 41);
        QVERIFY(std::abs(h.start - 79.975) < 1e-9);
        QCOMPARE(h.counts[0], 2);
        QCOMPARE(h.counts[1] + h.counts[3] + h.counts[40], 3);

        h = histogramOfSorted(lattice, 0.05, 10);  // range 41 steps in 10 bins: 5 steps each
        QCOMPARE(h.width, 0.25);
        QCOMPARE(h.counts.size(), 9);
        QCOMPARE(h.counts[0], 4);
        QCOMPARE(h.counts.last(), 1);

        h = histogramOfSorted({3.0, 3.0, 3.0}, 0.05, 50);  // identical: one bin around them
        QCOMPARE(h.counts, QVector<int>{3});
        QVERIFY(h.start < 3.0 && h.start + h.width > 3.0);
        h = histogramOfSorted({-1e308, 1e308}, 0.05, 50);  // absurd range: still bounded
        QVERIFY(h.counts.size() <= 50);
        QCOMPARE(std::accumulate(h.counts.begin(), h.counts.end(), 0), 2);
        QVERIFY(histogramOfSorted({}, 0.05, 50).counts.isEmpty());
    }

    void outliers()
    {
        DelayStats s;
        s.addAll({10, 10, 10.05, 10.1, 9.95, 10, 50, kNaN});
        OutlierLimits l = outlierLimits(s.sorted(), 0.05);  // MAD 0.05: scale 1.4826 x 0.05
        QCOMPARE(l.median, 10.0);
        QVERIFY(std::abs(l.hi - (10 + 3.5 * 1.4826 * 0.05)) < 1e-12);
        QVERIFY(isOutlier(l, 50) && !isOutlier(l, 10.1) && !isOutlier(l, kNaN));
        l = outlierLimits(s.sorted(), 0.1);  // the resolution is the floor
        QVERIFY(std::abs(l.lo - 9.65) < 1e-12);

        // Identical values (MAD 0): only values a few sample periods off count.
        l = outlierLimits(std::vector<double>(9, 80.0), 0.05);
        QVERIFY(!isOutlier(l, 80.15) && isOutlier(l, 80.2));
        QVERIFY(!isOutlier(outlierLimits({}, 0.05), 1e9));

        // The MAD without sorting the deviations, against sorting them; with
        // ties and on both sides of the median.
        std::mt19937 rng(3);
        for (int n = 1; n < 60; ++n) {
            std::vector<double> v;
            for (int i = 0; i < n; ++i)
                v.push_back(std::uniform_int_distribution<int>(0, n / 3 + 1)(rng) * 0.5);
            std::sort(v.begin(), v.end());
            const double m = quantileOfSorted(v.data(), n, 0.5);
            std::vector<double> dev;
            for (double x : v)
                dev.push_back(std::abs(x - m));
            std::sort(dev.begin(), dev.end());
            QCOMPARE(outlierLimits(v, 0).scale, kMadToSigma * quantileOfSorted(dev.data(), n, 0.5));
        }
    }
};

QTEST_APPLESS_MAIN(TstStatistics)
#include "tst_statistics.moc"
