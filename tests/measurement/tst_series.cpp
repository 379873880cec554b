// The series against a scripted set of instruments: the exact command traffic
// of each family, the failure paths, the start-level bound, cancelling, the
// means and the files. Delays against real transfers are in tests/e2e.
#include "delays.h"
#include "resultfiles.h"
#include "series.h"

#include <QtTest>

#include <cmath>
#include <functional>

using namespace measurement;

namespace {

const char* tag(Instrument i)
{
    return i == Instrument::Oscilloscope ? "OS " : i == Instrument::SpectrumAnalyzer ? "SA " : "VA ";
}

// Instruments as a script: every call is logged; a call fails when its
// logged text is in `fail` (optionally only the first failCount times).
// Acquisition a (counted from 0) gives a source edge at 100 + 10 a, the RF
// edge 20 samples later and the sink edge 50 samples later.
struct Script : SeriesHost
{
    int points = 1000;
    int acquisition = -1;
    QStringList log;
    QMap<QString, int> fail;  // call -> remaining failures (-1: always)
    std::function<double(int)> startLevel = [](int) { return 0.0; };
    int vaStatus = 1;
    double vaValue = 42.0;
    int stopAfterCalls = -1;  // checkpoint returns false once this many calls were made

    bool failing(const QString& entry)
    {
        log << entry;
        auto it = fail.find(entry);
        if (it == fail.end() || it.value() == 0)
            return false;
        if (it.value() > 0)
            --it.value();
        return true;
    }
    bool command(Instrument to, const QString& cmd) override
    {
        const bool bad = failing(tag(to) + cmd);
        if (!bad && to == Instrument::Oscilloscope && (cmd.startsWith("*TRG")))
            ++acquisition;
        return !bad;
    }
    bool queryInt(Instrument to, const QString& q, int* v) override
    {
        if (failing(tag(to) + q))
            return false;
        *v = q.contains("STAT") ? vaStatus : 7;
        return true;
    }
    bool queryDouble(Instrument to, const QString& q, double* v) override
    {
        if (failing(tag(to) + q))
            return false;
        *v = vaValue + acquisition;
        return true;
    }
    bool readTrace(Instrument from, const QString& q, QVector<double>* arr) override
    {
        if (failing(tag(from) + q))
            return false;
        const int a = acquisition;
        const int src = 100 + 10 * a;
        QVector<double> v(points, 0.0);
        if (q.startsWith("CHAN1")) {
            for (int i = src; i < points; ++i)
                v[i] = 1.0;
            v[0] = startLevel(a);
        } else if (q.startsWith("CHAN2")) {
            for (int i = src + 50; i < points; ++i)
                v[i] = 1.0;
        } else {  // RF from channel 3 or the analyzer
            for (int i = src + 20; i < points; ++i)
                v[i] = 5.0;
        }
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
    bool checkpoint(const SeriesProgress& p) override
    {
        last = p;
        ++checkpoints;
        return stopAfterCalls < 0 || log.size() < stopAfterCalls;
    }
    int osTyp = 0;
    SeriesProgress last;
    int checkpoints = 0;
};

struct Run
{
    QVector<double> d1, d2, d3, t;
    int pts = 0;
    SeriesResult r;

    SeriesResult go(Script& s, SeriesSettings set)
    {
        s.osTyp = set.osTyp;
        SeriesTraces tr;
        tr.d1 = &d1;
        tr.d2 = &d2;
        tr.d3 = &d3;
        tr.t = &t;
        tr.pts = &pts;
        r = runSeries(set, tr, s);
        return r;
    }
};

SeriesSettings settings(int n, int osTyp, bool scopeRf, bool hdmi)
{
    SeriesSettings s;
    s.passes = n;
    s.osTyp = osTyp;
    s.rfFromScope = scopeRf;
    s.hdmi = hdmi;
    return s;
}

}  // namespace

class TstSeries : public QObject
{
    Q_OBJECT

private slots:
    void countField()
    {
        QCOMPARE(parsePassCount("1").passes, 1);
        QCOMPARE(parsePassCount(" 25 ").passes, 25);
        QCOMPARE(parsePassCount("0").passes, 0);
        QCOMPARE(parsePassCount("-3").passes, 0);
        QCOMPARE(parsePassCount("abc").passes, 0);
        QCOMPARE(parsePassCount("2.5").passes, 0);
        QCOMPARE(parsePassCount("").passes, 0);
        QCOMPARE(parsePassCount("100000").passes, kMaxPasses);
        QVERIFY(!parsePassCount("100000").refused);
        QVERIFY(parsePassCount("100001").refused);
        QVERIFY(parsePassCount("99999999999999").refused);
        QCOMPARE(parsePassCount("100001").passes, 0);
        QVERIFY(refusedCountMessage("100001").contains("100000"));
    }

    void trafficFirstFamilyAnalyzerHdmi()
    {
        Script s;
        Run run;
        run.go(s, settings(1, 0, false, true));
        QCOMPARE(s.log, (QStringList{"SA INIT:CONT OFF;*OPC?\n", "OS INIT:CONT OFF;*OPC?\n", "OS *TRG;*OPC?\n",
                                     "OS FORM REAL,32;*OPC?\n", "OS CHAN1:DATA?\n", "SA FORM REAL,32;*OPC?\n",
                                     "SA TRAC? TRACE1, 1000\n", "VA READ:AVDA:TTV:STAT?\n",
                                     "VA READ:AVDA:TTV:COUN?\n", "VA READ:AVDA:TTV:VAL?\n", "OS CHAN2:DATA?\n",
                                     "OS RUNC;*OPC?\n", "SA INIT:CONT ON;*OPC?\n"}));
        QCOMPARE(run.r.end, SeriesEnd::Completed);
        QCOMPARE(run.r.counted, 1);
        QCOMPARE(run.pts, 1000);
        // Means of one pass are its values; edge 20 and 50 samples after the source.
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
        run.go(s, settings(2, 1, true, false));
        const QStringList pass{"SA INIT:CONT OFF;*OPC?\n", "OS SING;*OPC?\n",          "OS FORM REAL,32;*OPC?\n",
                               "OS *TRG;*OPC?\n",          "OS CHAN1:DATA?\n",         "SA SWE:POIN 500;*OPC?\n",
                               "OS CHAN3:DATA?\n",         "OS CHAN2:DATA?\n"};
        const QStringList closing{"OS RUN;*OPC?\n", "SA INIT:CONT ON;*OPC?\n"};
        QCOMPARE(s.log, pass + pass + closing);
        QCOMPARE(run.r.src2Hd, (QVector<double>{0.0, 0.0}));  // HDMI off: 0, as ever
        QCOMPARE(run.r.src2HdMean, 0.0);
        QCOMPARE(run.t.first(), -0.6);
        // Each pass has its own source edge (100, then 110).
        QVERIFY(std::abs(run.r.src2Snk[0] - 50 * 1200.0 / 499.0) < 1e-9);
        QCOMPARE(run.r.src2Snk[0], run.r.src2Snk[1]);
    }

    void acquisitionFailureReusesPreviousTrace()
    {
        // First family: a failed *TRG ends the acquisition; the pass is counted on the old channel 1.
        Script s;
        s.fail["OS *TRG;*OPC?\n"] = 0;
        Run run;
        run.go(s, settings(1, 0, true, false));
        s.fail["OS *TRG;*OPC?\n"] = 1;
        s.log.clear();
        run.go(s, settings(1, 0, true, false));
        const QStringList start{"SA INIT:CONT OFF;*OPC?\n", "OS INIT:CONT OFF;*OPC?\n", "OS *TRG;*OPC?\n"};
        QCOMPARE(s.log.mid(0, 3), start);
        QCOMPARE(s.log.mid(3, 2), (QStringList{"OS CHAN3:DATA?\n", "OS CHAN2:DATA?\n"}));
        QCOMPARE(run.r.counted, 1);
        QCOMPARE(run.d1[99], 0.0);  // still acquisition 0's trace (edge at 100, not 110)
        QCOMPARE(run.d1[105], 1.0);
        // A failed arming of the analyzer skips the acquisition too.
        s.fail.clear();
        s.fail["SA INIT:CONT OFF;*OPC?\n"] = 1;
        s.log.clear();
        run.go(s, settings(1, 0, true, false));
        QCOMPARE(s.log.mid(1, 1), QStringList{"OS CHAN3:DATA?\n"});
        // Second family: a failed SING is ignored.
        s.fail.clear();
        s.fail["OS SING;*OPC?\n"] = -1;
        s.log.clear();
        run.go(s, settings(1, 1, true, false));
        QVERIFY(s.log.contains("OS CHAN1:DATA?\n"));
        // Failed RF and sink reads keep the old vectors; the pass still counts.
        s.fail.clear();
        s.fail["OS CHAN3:DATA?\n"] = -1;
        s.fail["OS CHAN2:DATA?\n"] = -1;
        const QVector<double> oldSink = run.d3;
        run.go(s, settings(1, 1, true, false));
        QCOMPARE(run.r.counted, 1);
        QCOMPARE(run.d3, oldSink);
    }

    void startLevelRepeatsAreBounded()
    {
        Script s;
        s.startLevel = [](int a) { return a < 3 ? 0.3 : -0.049; };  // 0.3 itself is outside
        Run run;
        run.go(s, settings(2, 0, false, false));
        QCOMPARE(run.r.end, SeriesEnd::Completed);
        QCOMPARE(run.r.counted, 2);
        QCOMPARE(run.r.totalRepeats, 3);
        QCOMPARE(s.log.count("SA INIT:CONT OFF;*OPC?\n"), 5);  // armed again for each repeat
        QCOMPARE(s.log.count("OS CHAN2:DATA?\n"), 2);

        Script never;
        never.startLevel = [](int) { return std::nan(""); };
        run.go(never, settings(5, 0, false, false));
        QCOMPARE(run.r.end, SeriesEnd::Aborted);
        QCOMPARE(run.r.counted, 0);
        QCOMPARE(run.r.totalRepeats, kMaxStartRepeats);
        QCOMPARE(never.log.mid(never.log.size() - 2),
                 (QStringList{"OS RUNC;*OPC?\n", "SA INIT:CONT ON;*OPC?\n"}));
        QVERIFY(std::isnan(run.r.src2RfMean));
        QVERIFY(seriesMessage(run.r).contains("stopped after 0 of 5 passes"));

        // Dead instruments before any good trace: the bound ends it too.
        Script dead;
        dead.fail["SA INIT:CONT OFF;*OPC?\n"] = -1;
        run = Run();
        run.go(dead, settings(3, 1, false, false));
        QCOMPARE(run.r.end, SeriesEnd::Aborted);
        QCOMPARE(dead.log.count("SA INIT:CONT OFF;*OPC?\n"), kMaxStartRepeats);
    }

    void failedVideoAnalyzerGivesNotANumber()
    {
        Script s;
        s.fail["VA READ:AVDA:TTV:VAL?\n"] = 1;
        Run run;
        run.go(s, settings(3, 0, false, true));
        QVERIFY(std::isnan(run.r.src2Hd[0]));
        QCOMPARE(run.r.src2Hd[1], 43.0);
        QCOMPARE(run.r.src2HdMean, (43.0 + 44.0) / 2.0);
        QCOMPARE(run.r.hdContributed, 2);
        QVERIFY(seriesMessage(run.r).contains("Source -> HDMI mean over 2 of 3 passes."));

        Script notReady;
        notReady.vaStatus = 0;
        run.go(notReady, settings(2, 0, false, true));
        QCOMPARE(notReady.log.count("VA READ:AVDA:TTV:COUN?\n"), 0);
        QVERIFY(std::isnan(run.r.src2HdMean));
        QCOMPARE(run.r.hdContributed, 0);
    }

    void cancelInTheMiddle()
    {
        Script s;
        s.stopAfterCalls = 8 * 2 + 4;  // in the middle of the third pass
        QTemporaryDir dir;
        SeriesSettings set = settings(10, 1, true, false);
        set.saveData = true;
        set.dataDir = dir.path();
        Run run;
        run.go(s, set);
        QCOMPARE(run.r.end, SeriesEnd::Cancelled);
        QCOMPARE(run.r.counted, 2);
        QCOMPARE(run.r.src2Rf.size(), 2);
        QCOMPARE(s.log.mid(s.log.size() - 2), (QStringList{"OS RUN;*OPC?\n", "SA INIT:CONT ON;*OPC?\n"}));
        const QString msg = seriesMessage(run.r);
        QVERIFY(msg.contains("cancelled after 2 of 10 passes"));
        QVERIFY(msg.contains("Source -> RF mean over 2 of 10 passes."));
        const QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(files.size(), 1 + 2 * 3);
        QVERIFY(QDir(dir.path()).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    }

    void zeroPassesWriteResultsOnly()
    {
        Script s;
        QTemporaryDir dir;
        SeriesSettings set = settings(0, 0, false, true);
        set.saveData = true;
        set.dataDir = dir.path();
        Run run;
        run.go(s, set);
        QCOMPARE(s.log, (QStringList{"OS RUNC;*OPC?\n", "SA INIT:CONT ON;*OPC?\n"}));
        QCOMPARE(run.r.returnCode, 0);
        const QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(files, QStringList{resultsFileName(run.r.stamp)});
        QFile f(dir.filePath(files.first()));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("Source2RF Delay:\nSource2RF Mean: nan\nSource2HD Delay:\n"
                                         "Source2HD Mean: nan\nSource2Snk Delay:\nSource2Snk Mean: nan"));
        QVERIFY(seriesMessage(run.r).isEmpty());
    }

    void saveDataUncheckedWritesNothing()
    {
        Script s;
        QTemporaryDir quiet;
        SeriesSettings set = settings(3, 0, true, false);
        set.dataDir = quiet.path();
        Run run;
        run.go(s, set);
        QCOMPARE(run.r.counted, 3);
        QVERIFY(QDir(quiet.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TstSeries)
#include "tst_series.moc"
