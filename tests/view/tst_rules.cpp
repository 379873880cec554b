// The viewer's rules on made-up data: the 50 % edge rule, the results text
// reader's damage reports, CSV quoting, and which file names belong to a series.
#include "exporting.h"
#include "seriesfiles.h"
#include "transitions.h"

#include <QtTest>

#include <cmath>
#include <random>

using namespace view;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// An exponential rise of `step` V with time constant `tau` samples from
// sample `onset` on, over a base of 0.02 V with 1.2 mV of noise.
QVector<double> rise(int n, double onset, double step, double tau, unsigned seed = 1)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.0012);
    QVector<double> d(n);
    for (int k = 0; k < n; ++k)
        d[k] = 0.02 + noise(rng) + (k >= onset ? step * (1.0 - std::exp(-(k - onset) / tau)) : 0.0);
    return d;
}

}  // namespace

class RulesTest : public QObject
{
    Q_OBJECT

private slots:
    void midCrossing_data()
    {
        QTest::addColumn<QVector<double>>("trace");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("expected");  // fractional index; NaN: none
        const double ln2 = std::log(2.0);
        QTest::newRow("strong step") << rise(4000, 1500, 0.25, 20) << true << 1500 + 20 * ln2;
        QTest::newRow("weak step") << rise(4000, 1500, 0.05, 20) << true << 1500 + 20 * ln2;
        QTest::newRow("step near the end") << rise(4000, 3800, 0.25, 5) << true << 3800 + 5 * ln2;
        QTest::newRow("levels from a share") << rise(3000000, 2000000, 0.1, 20) << true << 2000000 + 20 * ln2;
        QTest::newRow("noise only") << rise(4000, 5000, 0.25, 20) << false << kNaN;
        QTest::newRow("flat") << QVector<double>(100, 0.1) << false << kNaN;
        QTest::newRow("not a number") << QVector<double>(100, kNaN) << false << kNaN;
        QVector<double> falling = rise(4000, 1500, 0.25, 20);
        std::reverse(falling.begin(), falling.end());
        QTest::newRow("falling edge") << falling << true << kNaN;
        QVector<double> gap = rise(4000, 1500, 0.25, 20);
        for (int k = 1490; k < 1530; ++k)
            gap[k] = kNaN;
        QTest::newRow("gap over the edge") << gap << true << kNaN;
    }
    void midCrossing()
    {
        QFETCH(QVector<double>, trace);
        QFETCH(bool, ok);
        QFETCH(double, expected);
        const StateLevels s = stateLevels(trace.constData(), trace.size());
        QCOMPARE(s.ok, ok);
        if (!ok)
            return;
        const double x = risingCrossing(trace.constData(), trace.size(), 0, s.mid());
        if (std::isnan(expected))
            QVERIFY2(std::isnan(x), qPrintable(QString::number(x)));
        else
            QVERIFY2(std::abs(x - expected) < 1.0, qPrintable(QString::number(x)));
    }

    // A weaker source signal moves the program's fixed level, not the 50 %
    // rule; a missing sink edge leaves its delay missing.
    void midRuleDelays()
    {
        const int n = 20001;
        QVector<double> snk = rise(n, 12000, 0.18, 40, 3);
        for (double scale : {1.0, 0.3}) {
            const MidRuleDelays r =
                view::midRuleDelays(1, n, rise(n, 10000, 0.25 * scale, 30, 2), rise(n, 11000, 0.15, 2, 4), snk);
            const double period = 1.2 / (n - 1) * 1000.0;
            QVERIFY2(std::abs(r.src2Snk - (2000 + 10 * std::log(2.0)) * period) < period,
                     qPrintable(QString::number(r.src2Snk)));
            QVERIFY2(std::abs(r.src2Rf - (1000 - 28 * std::log(2.0)) * period) < period,
                     qPrintable(QString::number(r.src2Rf)));
        }
        const MidRuleDelays none = view::midRuleDelays(1, n, rise(n, 10000, 0.25, 30), {}, QVector<double>(n, 0.02));
        QVERIFY(std::isnan(none.src2Snk) && std::isnan(none.src2Rf) && std::isfinite(none.tsrc));
    }

    void resultsText_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("passes");
        QTest::addColumn<QString>("problem");  // part of a problem expected; empty: none
        const QByteArray good = "Source2RF Delay: 25 nan 27\nSource2RF Mean: 26\nSource2HD Delay: 0 0 0\n"
                                "Source2HD Mean: 0\nSource2Snk Delay: 95 96 97\nSource2Snk Mean: 96";
        QTest::newRow("whole, one value missing") << good << 3 << QString();
        QByteArray nanMean = good;
        nanMean.replace("Source2RF Mean: 26", "Source2RF Mean: nan");
        QTest::newRow("mean NaN beside values") << nanMean << 3 << "does not match";
        QByteArray garbled = good;
        garbled.replace("96 97", "9x6 97");
        QTest::newRow("garbled value") << garbled << 3 << "not a number (\"9x6\")";
        QTest::newRow("cut short") << good.left(good.indexOf("Source2Snk Delay:") + 20) << 3
                                   << "no \"Source2Snk Mean:\"";
        QByteArray shortLine = good;
        shortLine.replace("0 0 0", "0 0");
        QTest::newRow("lines of different lengths") << shortLine << 3 << "different numbers of passes";
    }
    void resultsText()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, passes);
        QFETCH(QString, problem);
        const ResultsFile r = parseResultsText(text);
        QCOMPARE(r.values[SrcRf].size(), passes);
        QVERIFY(std::isnan(r.values[SrcRf][1]));
        QCOMPARE(r.problems.isEmpty(), problem.isEmpty());
        if (!problem.isEmpty())
            QVERIFY2(!r.problems.filter(problem).isEmpty(), qPrintable(r.problems.join('\n')));
    }

    // A field with a quote or a comma (a record edited by hand) stays one field.
    void csvQuoting()
    {
        Series s;
        s.pass << 1;
        for (QVector<double>& v : s.values)
            v << 1.5;
        for (QVector<double>& e : s.edges)
            e << kNaN;
        s.times << "edited \"by hand\", later";
        s.outliers << "src2rf_ms";
        const QByteArray csv = seriesCsv(s);
        QVERIFY2(csv.endsWith("\n1,\"edited \"\"by hand\"\", later\",1.5,1.5,1.5,,,,no,src2rf_ms\n"), csv.constData());
    }

    void fileNames()
    {
        QCOMPARE(stampOf("2015-09-30_14-05-09_Results.txt"), QString("2015-09-30_14-05-09_"));
        QCOMPARE(stampOf("2015-09-30_14-05-09_1000_snk.bin"), QString("2015-09-30_14-05-09_"));
        QCOMPARE(stampOf("2015-09-30_14-05-09_Passes.csv"), QString("2015-09-30_14-05-09_"));
        for (const char* other : {"2015-09-30_14-05-09_01_src.bin", "2015-09-30_14-05-09_001_src.bin~", "quarnel.cfg",
                                  "2015-09-30_14-5-09_Results.txt", "2015-09-30_14-05-09_000_rf.bin"})
            QVERIFY2(stampOf(other).isEmpty(), other);
    }
};

QTEST_GUILESS_MAIN(RulesTest)
#include "tst_rules.moc"
