// The series against scripted instruments: the exact command traffic of each
// family, the failure paths, the start-level bound, cancelling, the means and
// the files. Delays against real transfers are in tests/e2e.
#include "delays.h"
#include "resultfiles.h"
#include "series.h"

#include <QtTest>

#include <cmath>
#include <functional>

using namespace measurement;

namespace {

// Instruments as a script: every call is logged as "OS ...", "SA ..." or
// "VA ..."; a call fails while its entry has failures left in `fail` (-1:
// always). Acquisition a (from 0) has its source edge at 100 + 10 a, the RF
// edge 20 samples later, the sink edge 50 samples later.
struct Script : SeriesHost
{
    int points = 1000;
    int acquisition = -1;
    int osTyp = 0;
    QStringList log;
    QMap<QString, int> fail;
    std::function<double(int)> startLevel = [](int) { return 0.0; };
    int vaStatus = 1;
    int stopAfterCalls = -1;  // checkpoint says stop once this many calls were made
    int checkpoints = 0;

    bool ok(Instrument to, const QString& call)
    {
        log << (to == Instrument::Oscilloscope ? "OS " : to == Instrument::SpectrumAnalyzer ? "SA " : "VA ")
                + call;
        int& left = fail[log.last()];
        if (left == 0)
            return true;
        if (left > 0)
            --left;
        return false;
    }
    bool command(Instrument to, const QString& cmd) override
    {
        const bool good = ok(to, cmd);
        acquisition += good && to == Instrument::Oscilloscope && cmd.startsWith("*TRG");
        return good;
    }
    bool queryInt(Instrument to, const QString& q, int* v) override
    {
        if (!ok(to, q))
            return false;
        *v = q.contains("STAT") ? vaStatus : 7;
        return true;
    }
    bool queryDouble(Instrument to, const QString& q, double* v) override
    {
        if (!ok(to, q))
            return false;
        *v = 42.0 + acquisition;
        return true;
    }
    bool readTrace(Instrument from, const QString& q, QVector<double>* arr) override
    {
        if (!ok(from, q))
            return false;
        const bool src = q.startsWith("CHAN1"), snk = q.startsWith("CHAN2");  // else RF
        const int edge = 100 + 10 * acquisition + (src ? 0 : snk ? 50 : 20);
        QVector<double> v(points, 0.0);
        for (int i = edge; i < points; ++i)
            v[i] = src || snk ? 1.0 : 5.0;
        if (q.startsWith("CHAN1"))
            v[0] = startLevel(acquisition);
        *arr = v;
        return true;
    }
    void calcDelays(int pts, QVector<double>* d1, QVector<double>* d2, QVector<double>* d3, QVector<double>* t,
                    double* rf, double* snk) override
    {
        const PassDelays r = computeDelays(osTyp, pts, *d1, *d2, *d3, *t);
        *rf = r.src2Rf;
        *snk = r.src2Snk;
    }
    bool checkpoint(const SeriesProgress&) override
    {
        ++checkpoints;
        return stopAfterCalls < 0 || log.size() < stopAfterCalls;
    }
};

// The program-wide traces of one window, kept over several series.
struct Run
{
    QVector<double> d1, d2, d3, t;
    int pts = 0;
    SeriesResult r;

    void go(Script& s, int n, int osTyp, bool scopeRf, bool hdmi, const QString& saveTo = QString())
    {
        SeriesSettings set;
        set.passes = n;
        set.osTyp = s.osTyp = osTyp;
        set.rfFromScope = scopeRf;
        set.hdmi = hdmi;
        set.saveData = !saveTo.isEmpty();
        set.dataDir = saveTo;
        r = runSeries(set, {&d1, &d2, &d3, &t, &pts}, s);
    }
};

QStringList entries(const QString& dir, QDir::Filters f = QDir::AllEntries)
{
    return QDir(dir).entryList(f | QDir::Hidden | QDir::NoDotAndDotDot);
}

const QStringList kFirstClosing{"OS RUNC;*OPC?\n", "SA INIT:CONT ON;*OPC?\n"};

}  // namespace

class TstSeries : public QObject
{
    Q_OBJECT

private slots:
    void countField()
    {
        for (const char* none : {"0", "-3", "abc", "2.5", ""})
            QCOMPARE(parsePassCount(none).passes, 0);
        QCOMPARE(parsePassCount(" 25 ").passes, 25);
        QCOMPARE(parsePassCount("100000").passes, kMaxPasses);
        QVERIFY(!parsePassCount("100000").refused);
        for (const char* big : {"100001", "99999999999999"}) {
            QVERIFY(parsePassCount(big).refused);
            QCOMPARE(parsePassCount(big).passes, 0);
        }
        QVERIFY(refusedCountMessage("100001").contains("100000"));
    }

    void trafficFirstFamilyAnalyzerHdmi()
    {
        Script s;
        Run run;
        run.go(s, 1, 0, false, true);
        QCOMPARE(s.log, QStringList({"SA INIT:CONT OFF;*OPC?\n", "OS INIT:CONT OFF;*OPC?\n", "OS *TRG;*OPC?\n",
                                     "OS FORM REAL,32;*OPC?\n", "OS CHAN1:DATA?\n", "SA FORM REAL,32;*OPC?\n",
                                     "SA TRAC? TRACE1, 1000\n", "VA READ:AVDA:TTV:STAT?\n",
                                     "VA READ:AVDA:TTV:COUN?\n", "VA READ:AVDA:TTV:VAL?\n", "OS CHAN2:DATA?\n"})
                             + kFirstClosing);
        QCOMPARE(run.r.end, SeriesEnd::Completed);
        QCOMPARE(run.r.counted, 1);
        QCOMPARE(run.pts, 1000);
        QCOMPARE(run.r.src2RfMean, run.r.src2Rf[0]);
        QVERIFY(std::abs(run.r.src2Rf[0] - 20000.0 / 999.0) < 1e-9);
        QVERIFY(std::abs(run.r.src2Snk[0] - 50000.0 / 999.0) < 1e-9);
        QCOMPARE(run.r.src2Hd[0], 42.0);
        QVERIFY(seriesMessage(run.r).isEmpty());
        QVERIFY(s.checkpoints >= 11);  // events only between instrument calls
    }

    void trafficSecondFamilyScopeRf()
    {
        Script s;
        s.points = 500;
        Run run;
        run.go(s, 2, 1, true, false);
        const QStringList pass{"SA INIT:CONT OFF;*OPC?\n", "OS SING;*OPC?\n", "OS FORM REAL,32;*OPC?\n",
                               "OS *TRG;*OPC?\n", "OS CHAN1:DATA?\n", "SA SWE:POIN 500;*OPC?\n",
                               "OS CHAN3:DATA?\n", "OS CHAN2:DATA?\n"};
        QCOMPARE(s.log, pass + pass + QStringList({"OS RUN;*OPC?\n", "SA INIT:CONT ON;*OPC?\n"}));
        QCOMPARE(run.r.src2Hd, (QVector<double>{0.0, 0.0}));  // HDMI off: 0, as ever
        QCOMPARE(run.r.src2HdMean, 0.0);
        QCOMPARE(run.t.first(), -0.6);
        // Each pass on its own traces (edges at 100, then 110): same delays.
        QVERIFY(std::abs(run.r.src2Snk[0] - 50 * 1200.0 / 499.0) < 1e-9);
        QCOMPARE(run.r.src2Snk[0], run.r.src2Snk[1]);
    }

    void acquisitionFailureReusesPreviousTrace()
    {
        Script s;
        Run run;
        run.go(s, 1, 0, true, false);
        // First family: a failed *TRG skips the acquisition; the pass counts on the old channel 1.
        s.fail["OS *TRG;*OPC?\n"] = 1;
        s.log.clear();
        run.go(s, 1, 0, true, false);
        QCOMPARE(s.log.mid(0, 5), (QStringList{"SA INIT:CONT OFF;*OPC?\n", "OS INIT:CONT OFF;*OPC?\n",
                                               "OS *TRG;*OPC?\n", "OS CHAN3:DATA?\n", "OS CHAN2:DATA?\n"}));
        QCOMPARE(run.r.counted, 1);
        QCOMPARE(run.d1[99], 0.0);  // still acquisition 0's trace (edge at 100, not 110)
        QCOMPARE(run.d1[105], 1.0);
        // So does a failed arming of the analyzer.
        s.fail["SA INIT:CONT OFF;*OPC?\n"] = 1;
        s.log.clear();
        run.go(s, 1, 0, true, false);
        QCOMPARE(s.log.at(1), QString("OS CHAN3:DATA?\n"));
        // Second family: a failed SING is ignored.
        s.log.clear();
        s.fail["OS SING;*OPC?\n"] = -1;
        run.go(s, 1, 1, true, false);
        QVERIFY(s.log.contains("OS CHAN1:DATA?\n"));
        // Failed RF and sink reads keep the old vectors; the pass still counts.
        s.fail.clear();
        s.fail["OS CHAN3:DATA?\n"] = s.fail["OS CHAN2:DATA?\n"] = -1;
        const QVector<double> oldSink = run.d3;
        run.go(s, 1, 1, true, false);
        QCOMPARE(run.r.counted, 1);
        QCOMPARE(run.d3, oldSink);
    }

    void startLevelRepeatsAreBounded()
    {
        Script s;
        s.startLevel = [](int a) { return a < 3 ? 0.3 : -0.049; };  // 0.3 itself is outside
        Run run;
        run.go(s, 2, 0, false, false);
        QCOMPARE(run.r.end, SeriesEnd::Completed);
        QCOMPARE(run.r.counted, 2);
        QCOMPARE(run.r.totalRepeats, 3);
        QCOMPARE(s.log.count("SA INIT:CONT OFF;*OPC?\n"), 5);  // armed again for each repeat
        QCOMPARE(s.log.count("OS CHAN2:DATA?\n"), 2);

        Script never;
        never.startLevel = [](int) { return std::nan(""); };
        run.go(never, 5, 0, false, false);
        QCOMPARE(run.r.end, SeriesEnd::Aborted);
        QCOMPARE(run.r.counted, 0);
        QCOMPARE(run.r.totalRepeats, kMaxStartRepeats);
        QCOMPARE(never.log.mid(never.log.size() - 2), kFirstClosing);
        QVERIFY(std::isnan(run.r.src2RfMean));
        QVERIFY(seriesMessage(run.r).contains("stopped after 0 of 5 passes"));

        Script dead;  // dead instruments before any good trace: the bound ends it too
        dead.fail["SA INIT:CONT OFF;*OPC?\n"] = -1;
        Run fresh;
        fresh.go(dead, 3, 1, false, false);
        QCOMPARE(fresh.r.end, SeriesEnd::Aborted);
        QCOMPARE(dead.log.count("SA INIT:CONT OFF;*OPC?\n"), kMaxStartRepeats);
    }

    void failedVideoAnalyzerGivesNotANumber()
    {
        Script s;
        s.fail["VA READ:AVDA:TTV:VAL?\n"] = 1;
        Run run;
        run.go(s, 3, 0, false, true);
        QVERIFY(std::isnan(run.r.src2Hd[0]));
        QCOMPARE(run.r.src2Hd[1], 43.0);
        QCOMPARE(run.r.src2HdMean, (43.0 + 44.0) / 2.0);
        QCOMPARE(run.r.hdContributed, 2);
        QVERIFY(seriesMessage(run.r).contains("Source -> HDMI mean over 2 of 3 passes."));

        Script notReady;
        notReady.vaStatus = 0;
        run.go(notReady, 2, 0, false, true);
        QCOMPARE(notReady.log.count("VA READ:AVDA:TTV:COUN?\n"), 0);
        QVERIFY(std::isnan(run.r.src2HdMean));
        QCOMPARE(run.r.hdContributed, 0);
    }

    void cancelInTheMiddle()
    {
        Script s;
        s.stopAfterCalls = 8 * 2 + 4;  // in the middle of the third pass
        QTemporaryDir dir;
        Run run;
        run.go(s, 10, 1, true, false, dir.path());
        QCOMPARE(run.r.end, SeriesEnd::Cancelled);
        QCOMPARE(run.r.counted, 2);
        QCOMPARE(run.r.src2Rf.size(), 2);
        QCOMPARE(s.log.mid(s.log.size() - 2), (QStringList{"OS RUN;*OPC?\n", "SA INIT:CONT ON;*OPC?\n"}));
        const QString msg = seriesMessage(run.r);
        QVERIFY(msg.contains("cancelled after 2 of 10 passes"));
        QVERIFY(msg.contains("Source -> RF mean over 2 of 10 passes."));
        QCOMPARE(entries(dir.path(), QDir::Files).size(), 1 + 2 * 3);  // results and two sets
        QVERIFY(entries(dir.path(), QDir::Dirs).isEmpty());           // no private folder left
    }

    void filesOnlyWithSaveData()
    {
        Script s;
        QTemporaryDir dir;
        Run run;
        run.go(s, 0, 0, false, true, dir.path());  // no pass: the results file only
        QCOMPARE(s.log, kFirstClosing);
        QCOMPARE(run.r.returnCode, 0);
        QCOMPARE(entries(dir.path()), QStringList{resultsFileName(run.r.stamp)});
        QFile f(dir.filePath(resultsFileName(run.r.stamp)));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("Source2RF Delay:\nSource2RF Mean: nan\nSource2HD Delay:\n"
                                         "Source2HD Mean: nan\nSource2Snk Delay:\nSource2Snk Mean: nan"));
        QVERIFY(seriesMessage(run.r).isEmpty());

        QTemporaryDir quiet;
        SeriesSettings set;
        set.passes = 3;
        set.dataDir = quiet.path();  // saveData unchecked: nothing written there
        run.r = runSeries(set, {&run.d1, &run.d2, &run.d3, &run.t, &run.pts}, s);
        QCOMPARE(run.r.counted, 3);
        QVERIFY(entries(quiet.path()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TstSeries)
#include "tst_series.moc"
