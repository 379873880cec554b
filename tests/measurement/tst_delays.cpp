// Edge search, time axis, normalisation and the delays of one pass.
#include "delays.h"

#include <QtTest>

#include <cmath>

using namespace measurement;

namespace {

QVector<double> steps(int n, int from, double low, double high)
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
        const QVector<double> b = axis(1, 11);
        QCOMPARE(b.first(), -0.6);
        QVERIFY(std::abs(b.last() - 0.6) < 1e-15);
        QCOMPARE(b[5], 0.0);
        // The RF time comes from the same expression as the axis.
        for (int k : {0, 3, 7, 10})
            QCOMPARE(axisTime(1, k, 11), b[k]);
        QCOMPARE(axisTime(7, 2, 11), b[2]);  // any non-zero type is the second family
        QCOMPARE(axis(0, 1), QVector<double>{0.0});
        QVERIFY(axis(0, 0).isEmpty());
        QVERIFY(axis(0, -3).isEmpty());
        QVERIFY(std::isnan(axisTime(0, 0, 1)));
    }

    void startLevel()
    {
        QVERIFY(startLevelOk({0.0}));
        QVERIFY(startLevelOk({0.2999, 5.0}));
        QVERIFY(startLevelOk({-0.0499}));
        QVERIFY(!startLevelOk({0.3}));
        QVERIFY(!startLevelOk({-0.05}));
        QVERIFY(!startLevelOk({std::nan("")}));
        QVERIFY(!startLevelOk({}));
    }

    void normalisation()
    {
        QVector<double> d{1.0, 3.0, 2.0, 1.5};
        normaliseRf(&d);
        QCOMPARE(d, (QVector<double>{0.0, 0.2, 0.1, 0.05}));
        QVector<double> flat(5, 0.7);
        normaliseRf(&flat);
        for (double v : flat)
            QVERIFY(std::isnan(v));
        QVector<double> empty;
        normaliseRf(&empty);
        QVERIFY(empty.isEmpty());
    }

    void sourceRiseMustExceedLevel()
    {
        const int n = 101;
        QVector<double> d1(n, 0.0);
        d1[40] = 0.035;  // exactly the level: no edge
        d1[41] = 0.0351;
        const QVector<double> d2(n, 0.2), d3 = steps(n, 80, 0.0, 1.0);
        const PassDelays r = computeDelays(0, n, d1, d2, d3, axis(0, n));
        QCOMPARE(r.isrc, 41);
        QCOMPARE(r.tsrc, axis(0, n)[41]);
        QCOMPARE(r.irf, 41);  // RF already high at the source edge
        QCOMPARE(r.src2Rf, 0.0);
    }

    void rfRunOfSevenDoesNotCount()
    {
        const int n = 101;
        const QVector<double> d1 = steps(n, 10, 0.0, 1.0);
        QVector<double> d2(n, 0.0);
        for (int i = 20; i < 27; ++i)
            d2[i] = 0.2;  // seven high values...
        d2[27] = 0.05;    // ...then one exactly at the level
        for (int i = 30; i < 38; ++i)
            d2[i] = 0.06;  // a run of eight
        d2[5] = d2[6] = 0.2;  // before the source edge: never looked at
        const PassDelays r = computeDelays(0, n, d1, d2, QVector<double>(n, 0.0), axis(0, n));
        QCOMPARE(r.irf, 30);
        QCOMPARE(r.trf, 30.0 / 100.0 - 0.5);
        QCOMPARE(r.src2Rf, (r.trf - r.tsrc) * 1000.0);
    }

    void rfEdgeAtTimeZeroGivesZero()
    {
        const int n = 1001;
        QVector<double> d2(n, 0.0);
        for (int i = 500; i < n; ++i)
            d2[i] = 0.2;
        for (int osTyp : {0, 1}) {
            const PassDelays r = computeDelays(osTyp, n, steps(n, 200, 0.0, 1.0), d2, steps(n, 900, 0.0, 1.0),
                                               axis(osTyp, n));
            QCOMPARE(r.irf, 500);
            QCOMPARE(r.trf, 0.0);
            QCOMPARE(r.src2Rf, 0.0);  // whatever the source time
            QVERIFY(r.tsrc < 0.0);
        }
    }

    void rfWindowNeedsEightExistingValues()
    {
        const int n = 50;
        const QVector<double> d1 = steps(n, 5, 0.0, 1.0), d3(n, 0.0);
        // RF shorter than pts, high at its end: seven values exist, never read past them.
        QVector<double> shortRf(20, 0.0);
        for (int i = 13; i < 20; ++i)
            shortRf[i] = 0.2;
        PassDelays r = computeDelays(0, n, d1, shortRf, d3, axis(0, n));
        QCOMPARE(r.irf, n);
        QVERIFY(std::isnan(r.src2Rf));
        // RF longer than pts: a run starting at the last index may end past pts...
        QVector<double> longRf(n + 10, 0.0);
        for (int i = n - 1; i < n + 10; ++i)
            longRf[i] = 0.2;
        r = computeDelays(0, n, d1, longRf, d3, axis(0, n));
        QCOMPARE(r.irf, n - 1);
        // ...but a run starting at pts is no edge.
        longRf[n - 1] = 0.0;
        r = computeDelays(0, n, d1, longRf, d3, axis(0, n));
        QCOMPARE(r.irf, n);
    }

    void noRfEdgeStaysOffTheAxis()
    {
        const int n = 201;
        QVector<double> flat(n, 0.1);
        normaliseRf(&flat);
        for (int osTyp : {0, 1}) {
            const PassDelays r =
                computeDelays(osTyp, n, steps(n, 50, 0.0, 1.0), flat, steps(n, 150, 0.0, 1.0), axis(osTyp, n));
            QCOMPARE(r.irf, n);
            QCOMPARE(r.trf, osTyp == 0 ? n / 200.0 - 0.5 : (n * 1.2) / 200.0 - 0.6);
            QVERIFY(std::isnan(r.src2Rf));  // not a plausible 500-odd ms
            QVERIFY(!std::isnan(r.src2Snk));
        }
    }

    void sinkAlreadyHighAndTheExample()
    {
        const int n = 1001;
        PassDelays r = computeDelays(1, n, steps(n, 500, 0.0, 1.0), QVector<double>(n, 0.0),
                                     QVector<double>(n, 0.06), axis(1, n));
        QCOMPARE(r.isnk, 0);
        QCOMPARE(r.tsnk, -0.6);
        QCOMPARE(r.src2Snk, -600.0);

        r = computeDelays(0, n, steps(n, 500, 0.0, 1.0), QVector<double>(n, 0.0), steps(n, 750, 0.0, 0.5),
                          axis(0, n));
        QCOMPARE(r.tsrc, 0.0);
        QCOMPARE(r.tsnk, 0.25);
        QCOMPARE(r.src2Snk, 250.0);
    }

    void missingEdgesAreNotANumber()
    {
        const int n = 100;
        const QVector<double> t = axis(0, n);
        // No source edge: the RF search does not run, nothing depends on t[pts].
        PassDelays r = computeDelays(0, n, QVector<double>(n, 0.0), QVector<double>(n, 0.2),
                                     steps(n, 60, 0.0, 1.0), t);
        QCOMPARE(r.isrc, n);
        QVERIFY(std::isnan(r.tsrc));
        QCOMPARE(r.irf, n);
        QVERIFY(std::isnan(r.src2Rf));
        QCOMPARE(r.isnk, 60);
        QCOMPARE(r.tsnk, t[60]);
        QVERIFY(std::isnan(r.src2Snk));
        // No sink edge.
        r = computeDelays(0, n, steps(n, 10, 0.0, 1.0), QVector<double>(n, 0.2), QVector<double>(n, 0.0599), t);
        QCOMPARE(r.isnk, n);
        QVERIFY(std::isnan(r.tsnk));
        QVERIFY(std::isnan(r.src2Snk));
        QCOMPARE(r.src2Rf, 0.0 + (r.trf - r.tsrc) * 1000.0);
        // A source trace starting with not-a-number has no edge.
        QVector<double> d1 = steps(n, 10, 0.0, 1.0);
        d1[0] = std::nan("");
        QCOMPARE(computeDelays(0, n, d1, {}, {}, t).isrc, n);
    }

    void degenerateCountsAndShortTraces()
    {
        // pts 0 and 1: nothing read, every time and delay not-a-number.
        for (int n : {0, 1, -5}) {
            const PassDelays r = computeDelays(0, n, QVector<double>(qMax(n, 0), 1.0), {}, {1.0}, axis(0, n));
            QVERIFY(std::isnan(r.tsrc));
            QVERIFY(std::isnan(r.trf));
            QVERIFY(std::isnan(r.src2Rf));
            QVERIFY(std::isnan(r.src2Snk));
        }
        // Vectors shorter than pts, including the axis: only what exists is read.
        const int n = 1000;
        QVector<double> d1 = steps(30, 20, 0.0, 1.0);
        QVector<double> d3 = steps(40, 39, 0.0, 1.0);
        PassDelays r = computeDelays(0, n, d1, QVector<double>(25, 0.2), d3, axis(0, 21));
        QCOMPARE(r.isrc, 20);
        QCOMPARE(r.tsrc, axis(0, 21)[20]);
        QCOMPARE(r.irf, n);  // 20..24 exist, no run of eight
        QCOMPARE(r.isnk, 39);
        QVERIFY(std::isnan(r.tsnk));  // index beyond the short axis has no time
        r = computeDelays(0, n, {}, {}, {}, {});
        QCOMPARE(r.isrc, n);
        QCOMPARE(r.isnk, n);
    }
};

QTEST_APPLESS_MAIN(TstDelays)
#include "tst_delays.moc"
