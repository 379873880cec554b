// Edge search, time axis, normalisation and the delays of one pass.
#include "delays.h"

#include <QtTest>

#include <algorithm>
#include <cmath>

using namespace measurement;

namespace {

QVector<double> step(int n, int from, double high = 1.0, double low = 0.0)
{
    QVector<double> v(n, low);
    for (int i = from; i < n; ++i)
        v[i] = high;
    return v;
}

QVector<double> axis(int osTyp, int pts)
{
    QVector<double> t;
    buildTimeAxis(osTyp, pts, &t);
    return t;
}

PassDelays delays(int osTyp, int n, const QVector<double>& d1, const QVector<double>& d2, const QVector<double>& d3)
{
    return computeDelays(osTyp, n, d1, d2, d3, axis(osTyp, n));
}

}  // namespace

class TstDelays : public QObject
{
    Q_OBJECT

private slots:
    void timeAxis()
    {
        const QVector<double> a = axis(0, 1001);
        QCOMPARE(a.size(), 1001);
        QCOMPARE(a.first(), -0.5);
        QCOMPARE(a[500], 0.0);
        QCOMPARE(a.last(), 0.5);
        const QVector<double> b = axis(7, 11);  // any non-zero type is the second family
        QCOMPARE(b.first(), -0.6);
        QVERIFY(std::abs(b.last() - 0.6) < 1e-15);
        QCOMPARE(b[5], 0.0);
        for (int k : {0, 3, 7, 10})  // the RF time comes from the same expression, bit for bit
            QCOMPARE(axisTime(1, k, 11), b[k]);
        QCOMPARE(axis(0, 1), QVector<double>{0.0});
        QVERIFY(axis(0, 0).isEmpty() && axis(0, -3).isEmpty());
        QVERIFY(std::isnan(axisTime(0, 0, 1)));
    }

    void startLevelAndNormalisation()
    {
        for (double ok : {0.0, 0.2999, -0.0499})
            QVERIFY(startLevelOk({ok, 5.0}));
        for (double bad : {0.3, -0.05, kNaN})
            QVERIFY(!startLevelOk({bad}));
        QVERIFY(!startLevelOk({}));

        QVector<double> d{1.0, 3.0, 2.0, 1.5};
        normaliseRf(&d);
        QCOMPARE(d, (QVector<double>{0.0, 0.2, 0.1, 0.05}));
        QVector<double> flat(5, 0.7);  // no RF edge in a flat trace
        normaliseRf(&flat);
        QVERIFY(std::all_of(flat.begin(), flat.end(), [](double v) { return std::isnan(v); }));
    }

    void sourceRiseMustExceedLevel()
    {
        QVector<double> d1(101, 0.0);
        d1[40] = 0.035;  // exactly the level: no edge
        d1[41] = 0.0351;
        const PassDelays r = delays(0, 101, d1, QVector<double>(101, 0.2), step(101, 80));
        QCOMPARE(r.isrc, 41);
        QCOMPARE(r.tsrc, axis(0, 101)[41]);
        QCOMPARE(r.irf, 41);  // RF already high at the source edge
        QCOMPARE(r.src2Rf, 0.0);
    }

    void rfRunOfSevenDoesNotCount()
    {
        QVector<double> d2(101, 0.0);
        for (int i = 20; i < 27; ++i)
            d2[i] = 0.2;  // seven high values, then one exactly at the level
        d2[27] = 0.05;
        for (int i = 30; i < 38; ++i)
            d2[i] = 0.06;     // a run of eight
        d2[5] = d2[6] = 0.2;  // before the source edge: never looked at
        const PassDelays r = delays(0, 101, step(101, 10), d2, QVector<double>(101, 0.0));
        QCOMPARE(r.irf, 30);
        QCOMPARE(r.trf, 30.0 / 100.0 - 0.5);
        QCOMPARE(r.src2Rf, (r.trf - r.tsrc) * 1000.0);
    }

    void rfEdgeAtTimeZeroGivesZero()
    {
        for (int osTyp : {0, 1}) {
            const PassDelays r = delays(osTyp, 1001, step(1001, 200), step(1001, 500, 0.2), step(1001, 900));
            QCOMPARE(r.irf, 500);
            QCOMPARE(r.trf, 0.0);
            QCOMPARE(r.src2Rf, 0.0);  // whatever the source time
            QVERIFY(r.tsrc < 0.0);
        }
    }

    void rfWindowNeedsEightExistingValues()
    {
        const int n = 50;
        const QVector<double> d1 = step(n, 5), d3(n, 0.0);
        // RF shorter than pts, high for its last seven values: never read past them.
        PassDelays r = delays(0, n, d1, step(20, 13, 0.2), d3);
        QCOMPARE(r.irf, n);
        QVERIFY(std::isnan(r.src2Rf));
        // RF longer than pts: a run starting at the last index may end past pts...
        QVector<double> longRf = step(n + 10, n - 1, 0.2);
        QCOMPARE(delays(0, n, d1, longRf, d3).irf, n - 1);
        // ...but a run starting at pts is no edge.
        longRf[n - 1] = 0.0;
        QCOMPARE(delays(0, n, d1, longRf, d3).irf, n);
    }

    void noRfEdgeStaysOffTheAxis()
    {
        const int n = 201;
        QVector<double> flat(n, 0.1);
        normaliseRf(&flat);
        for (int osTyp : {0, 1}) {
            const PassDelays r = delays(osTyp, n, step(n, 50), flat, step(n, 150));
            QCOMPARE(r.irf, n);
            QCOMPARE(r.trf, osTyp == 0 ? n / 200.0 - 0.5 : (n * 1.2) / 200.0 - 0.6);
            QVERIFY(std::isnan(r.src2Rf));  // not a plausible 500-odd ms
            QVERIFY(!std::isnan(r.src2Snk));
        }
    }

    void sinkAlreadyHighAndTheExample()
    {
        PassDelays r = delays(1, 1001, step(1001, 500), QVector<double>(1001, 0.0), QVector<double>(1001, 0.06));
        QCOMPARE(r.isnk, 0);
        QCOMPARE(r.tsnk, -0.6);
        QCOMPARE(r.src2Snk, -600.0);
        r = delays(0, 1001, step(1001, 500), QVector<double>(1001, 0.0), step(1001, 750, 0.5));
        QCOMPARE(r.tsrc, 0.0);
        QCOMPARE(r.tsnk, 0.25);
        QCOMPARE(r.src2Snk, 250.0);
    }

    void missingEdgesAreNotANumber()
    {
        const int n = 100;
        // No source edge: the RF search does not run, nothing depends on t[pts].
        PassDelays r = delays(0, n, QVector<double>(n, 0.0), QVector<double>(n, 0.2), step(n, 60));
        QCOMPARE(r.isrc, n);
        QCOMPARE(r.irf, n);
        QCOMPARE(r.isnk, 60);
        QCOMPARE(r.tsnk, axis(0, n)[60]);
        QVERIFY(std::isnan(r.tsrc) && std::isnan(r.src2Rf) && std::isnan(r.src2Snk));
        // No sink edge.
        r = delays(0, n, step(n, 10), QVector<double>(n, 0.2), QVector<double>(n, 0.0599));
        QCOMPARE(r.isnk, n);
        QVERIFY(std::isnan(r.tsnk) && std::isnan(r.src2Snk));
        QCOMPARE(r.src2Rf, (r.trf - r.tsrc) * 1000.0);
        // A source trace starting with not-a-number has no edge.
        QVector<double> d1 = step(n, 10);
        d1[0] = kNaN;
        QCOMPARE(delays(0, n, d1, {}, {}).isrc, n);
    }

    void degenerateCountsAndShortTraces()
    {
        for (int n : {0, 1, -5}) {  // nothing read, every time and delay not-a-number
            const PassDelays r = delays(0, n, QVector<double>(qMax(n, 0), 1.0), {}, {1.0});
            QVERIFY(std::isnan(r.tsrc) && std::isnan(r.trf) && std::isnan(r.src2Rf) && std::isnan(r.src2Snk));
        }
        // Vectors shorter than pts, the axis included: only what exists is read.
        const int n = 1000;
        PassDelays r = computeDelays(0, n, step(30, 20), QVector<double>(25, 0.2), step(40, 39), axis(0, 21));
        QCOMPARE(r.isrc, 20);
        QCOMPARE(r.tsrc, axis(0, 21)[20]);
        QCOMPARE(r.irf, n);  // 20..24 exist, no run of eight
        QCOMPARE(r.isnk, 39);
        QVERIFY(std::isnan(r.tsnk));  // beyond the short axis: no time
        r = computeDelays(0, n, {}, {}, {}, {});
        QCOMPARE(r.isrc, n);
        QCOMPARE(r.isnk, n);
    }
};

QTEST_APPLESS_MAIN(TstDelays)
#include "tst_delays.moc"
