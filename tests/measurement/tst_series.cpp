// The series against scripted instruments: the exact command traffic of each
// family, the failure paths, the start-level bound, cancelling, the means and
// the files. Delays against real transfers are in tests/faults/tst_meas_e2e.cpp.
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
// edge 20 + a samples later, the sink edge 50 + a samples later, so each
// delay tells which acquisition it came from.
struct Script : SeriesHost
{
    int points = 1000;
    int acquisition = -1;
    QStringList log;
    QMap<QString, int> fail;
    std::function<double(int)> startLevel = [](int) { return 0.0; };
    int vaStatus = 1;
    int stopAfterCalls = -1;  // checkpoint says stop once this many calls were made
    int checkpoints = 0;
    SeriesProgress progress;
    QVector<PassRow> rows;  // as the host is told them

    CallResult ok(Instrument to, const QString& call)
    {
        log << (to == Instrument::Oscilloscope ? "OS " : to == Instrument::SpectrumAnalyzer ? "SA " : "VA ") + call;
        int& left = fail[log.last()];
        if (left == 0)
            return CallResult::success();
        if (left > 0)
            --left;
        return CallResult::failure("scripted failure");
    }
    CallResult command(Instrument to, const QString& cmd) override
    {
        const CallResult r = ok(to, cmd);
        acquisition += r.ok && to == Instrument::Oscilloscope && cmd.startsWith("*TRG");
        return r;
    }
    CallResult queryInt(Instrument to, const QString& q, int* v) override
    {
        const CallResult r = ok(to, q);
        if (r.ok)
            *v = q.contains("STAT") ? vaStatus : 7;
        return r;
    }
    CallResult queryDouble(Instrument to, const QString& q, double* v) override
    {
        const CallResult r = ok(to, q);
        if (r.ok)
            *v = 42.0 + acquisition;
        return r;
    }
    CallResult readTrace(Instrument from, const QString& q, QVector<double>* arr) override
    {
        const CallResult r = ok(from, q);
        if (!r.ok)
            return r;
        const bool src = q.startsWith("CHAN1"), snk = q.startsWith("CHAN2");  // else RF
        const int edge = 100 + 10 * acquisition + (src ? 0 : (snk ? 50 : 20) + acquisition);
        QVector<double> v(points, 0.0);
        for (int i = edge; i < points; ++i)
            v[i] = src || snk ? 1.0 : 5.0;
        if (src)
            v[0] = startLevel(acquisition);
        *arr = v;
        return r;
    }
    bool checkpoint(const SeriesProgress& p) override
    {
        ++checkpoints;
        progress = p;
        return stopAfterCalls < 0 || log.size() < stopAfterCalls;
    }
    void passCounted(const PassRow& row, int) override { rows << row; }
};

// The program-wide traces of one window, kept over several series.
struct Run
{
    QVector<double> d1, d2, d3, t;
    int pts = 0;
    double tsrc = 0, trf = 0, tsnk = 0;
    SeriesResult r;

    void go(Script& s, int n, int osTyp, bool scopeRf, bool hdmi, const QString& saveTo = QString())
    {
        SeriesSettings set;
        set.passes = n;
        set.osTyp = osTyp;
        set.rfFromScope = scopeRf;
        set.hdmi = hdmi;
        set.saveData = !saveTo.isEmpty();
        set.dataDir = saveTo;
        r = runSeries(set, {&d1, &d2, &d3, &t, &pts, &tsrc, &trf, &tsnk}, s);
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
        QVERIFY(countRefusal("100001").contains("100000"));
    }

    void trafficFirstFamilyAnalyzerHdmi()
    {
        Script s;
        Run run;
        run.go(s, 1, 0, false, true);
        QCOMPARE(s.log, QStringList({"SA INIT:CONT OFF;*OPC?\n", "OS INIT:CONT OFF;*OPC?\n", "OS *TRG;*OPC?\n",
                                     "OS FORM REAL,32;*OPC?\n", "OS CHAN1:DATA?\n", "SA FORM REAL,32;*OPC?\n",
                                     "SA TRAC? TRACE1, 1000\n", "VA READ:AVDA:TTV:STAT?\n", "VA READ:AVDA:TTV:COUN?\n",
                                     "VA READ:AVDA:TTV:VAL?\n", "OS CHAN2:DATA?\n"})
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
        const QStringList pass{"SA INIT:CONT OFF;*OPC?\n", "OS SING;*OPC?\n",  "OS FORM REAL,32;*OPC?\n",
                               "OS *TRG;*OPC?\n",          "OS CHAN1:DATA?\n", "SA SWE:POIN 500;*OPC?\n",
                               "OS CHAN3:DATA?\n",         "OS CHAN2:DATA?\n"};
        QCOMPARE(s.log, pass + pass + QStringList({"OS RUN;*OPC?\n", "SA INIT:CONT ON;*OPC?\n"}));
        QCOMPARE(run.r.src2Hd, (QVector<double>{0.0, 0.0}));  // HDMI off: 0, as ever
        QCOMPARE(run.r.src2HdMean, 0.0);
        QCOMPARE(run.t.first(), -0.6);
        // Each pass on its own traces.
        QVERIFY(std::abs(run.r.src2Snk[0] - 50 * 1200.0 / 499.0) < 1e-9);
        QVERIFY(std::abs(run.r.src2Snk[1] - 51 * 1200.0 / 499.0) < 1e-9);
    }

    // A step the pass depends on fails once: that pass is not counted and is
    // repeated; both counted passes hold their own acquisition's values, and
    // the published traces are the last counted pass's. Ignored steps fail
    // nothing.
    void failedStepFailsThePass_data()
    {
        QTest::addColumn<int>("osTyp");
        QTest::addColumn<bool>("scopeRf");
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("firstAcquisition");  // of the first counted pass
        QTest::addColumn<bool>("ignored");
        QTest::newRow("analyzer arming") << 0 << false << "SA INIT:CONT OFF;*OPC?\n" << 0 << false;
        QTest::newRow("first INIT:CONT OFF") << 0 << false << "OS INIT:CONT OFF;*OPC?\n" << 0 << false;
        QTest::newRow("first *TRG") << 0 << false << "OS *TRG;*OPC?\n" << 0 << false;
        QTest::newRow("first FORM") << 0 << false << "OS FORM REAL,32;*OPC?\n" << 1 << false;
        QTest::newRow("source read") << 0 << false << "OS CHAN1:DATA?\n" << 1 << false;
        QTest::newRow("analyzer FORM") << 0 << false << "SA FORM REAL,32;*OPC?\n" << 1 << false;
        QTest::newRow("analyzer trace") << 0 << false << "SA TRAC? TRACE1, 1000\n" << 1 << false;
        QTest::newRow("sink read") << 0 << false << "OS CHAN2:DATA?\n" << 1 << false;
        QTest::newRow("second FORM") << 1 << true << "OS FORM REAL,32;*OPC?\n" << 0 << false;
        QTest::newRow("channel 3") << 1 << true << "OS CHAN3:DATA?\n" << 1 << false;
        QTest::newRow("SING ignored") << 1 << true << "OS SING;*OPC?\n" << 0 << true;
        QTest::newRow("SWE:POIN ignored") << 1 << true << "SA SWE:POIN 1000;*OPC?\n" << 0 << true;
    }
    void failedStepFailsThePass()
    {
        QFETCH(int, osTyp);
        QFETCH(bool, scopeRf);
        QFETCH(QString, call);
        QFETCH(int, firstAcquisition);
        QFETCH(bool, ignored);
        Script s;
        s.fail[call] = 1;
        Run run;
        run.go(s, 2, osTyp, scopeRf, true);
        QCOMPARE(run.r.end, SeriesEnd::Completed);
        QCOMPARE(run.r.counted, 2);
        QCOMPARE(run.r.failedAcquisitions, ignored ? 0 : 1);
        QCOMPARE(s.rows[0].failedAcquisitions, ignored ? 0 : 1);
        const double unit = osTyp == 0 ? 1000.0 / 999.0 : 1200.0 / 999.0;
        for (int k = 0; k < 2; ++k) {
            const int a = firstAcquisition + k;
            QVERIFY(std::abs(run.r.src2Snk[k] - (50 + a) * unit) < 1e-9);
            QVERIFY(std::abs(run.r.src2Rf[k] - (20 + a) * unit) < 1e-9);
            QCOMPARE(run.r.src2Hd[k], 42.0 + a);
        }
        const int last = firstAcquisition + 1;
        QCOMPARE(run.d1.indexOf(1.0), 100 + 10 * last);
        QCOMPARE(run.d3.indexOf(1.0), 150 + 11 * last);
        QCOMPARE(run.tsnk, run.t[150 + 11 * last]);
        QCOMPARE(s.rows[1].tsnk, run.tsnk);
        const QString msg = seriesMessage(run.r);
        if (ignored) {
            QVERIFY(msg.isEmpty());
        } else {
            QCOMPARE(run.r.failures.size(), 1);
            QVERIFY2(msg.contains("1 acquisitions failed") && msg.contains(call.mid(3).trimmed())
                         && msg.contains("scripted failure")
                         && msg.contains(call.startsWith("SA") ? "spectrum analyzer" : "oscilloscope"),
                     qPrintable(msg));
        }
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
        QString msg = seriesMessage(run.r);
        QVERIFY(msg.contains("stopped after 0 of 5 passes") && msg.contains("outside -0.05 V"));
        // Nothing counted: no trace of the earlier series or of a rejected pass stays on show.
        QVERIFY(msg.contains("No pass was counted"));
        QVERIFY(run.d1.isEmpty() && run.d3.isEmpty() && run.t.isEmpty() && run.pts == 0);
        QVERIFY(std::isnan(run.tsrc) && std::isnan(run.tsnk));

        // Failed acquisitions share the bound; the message names the first failure of the row.
        Script mixed;
        mixed.startLevel = [](int) { return 0.4; };
        mixed.fail["OS CHAN1:DATA?\n"] = 1;
        run.go(mixed, 3, 0, true, false);
        QCOMPARE(run.r.end, SeriesEnd::Aborted);
        QCOMPARE(run.r.totalRepeats, kMaxStartRepeats - 1);
        QCOMPARE(run.r.failedAcquisitions, 1);
        msg = seriesMessage(run.r);
        QVERIFY2(msg.contains("The first failure: oscilloscope, \"CHAN1:DATA?\": scripted failure."), qPrintable(msg));
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

    // A per-pass record that could not be written is trouble like any other
    // file; a mean over fewer passes is news.
    void messageIsAWarning()
    {
        SeriesResult r;
        r.passes = r.counted = 3;
        QVERIFY(!seriesWentWrong(r));
        r.saveData = r.recordFailed = true;
        QVERIFY(seriesWentWrong(r));
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
        QCOMPARE(s.progress.passes, 10);
        QCOMPARE(s.progress.counted, 2);
        // On show: pass 2 (acquisition 1), traces and edges together, not the abandoned third.
        QCOMPARE(run.d1.indexOf(1.0), 110);
        QCOMPARE(run.tsrc, run.t[110]);
        QCOMPARE(s.log.mid(s.log.size() - 2), (QStringList{"OS RUN;*OPC?\n", "SA INIT:CONT ON;*OPC?\n"}));
        const QString msg = seriesMessage(run.r);
        QVERIFY(msg.contains("cancelled after 2 of 10 passes"));
        QVERIFY(msg.contains("Source -> RF mean over 2 of 10 passes."));
        QCOMPARE(entries(dir.path(), QDir::Files).size(), 2 + 2 * 3);  // results, record and two sets
        PassRecordFile rec;  // the record, under the results file's stamp, holds the counted passes
        QCOMPARE(readPassRecord(dir.filePath(passRecordFileName(run.r.stamp)), &rec), RecordRead::Ok);
        QCOMPARE(rec.rows.size(), 2);
        QCOMPARE(rec.rows[1].src2Snk, run.r.src2Snk[1]);
        QVERIFY(rec.hasOutlierDecision());
        QVERIFY(entries(dir.path(), QDir::Dirs).isEmpty());  // no private folder left
    }

    void filesOnlyWithSaveData()
    {
        Script s;
        QTemporaryDir dir;
        Run run;
        run.go(s, 0, 0, false, true, dir.path());  // no pass: the results file only
        QCOMPARE(s.log, kFirstClosing);
        QCOMPARE(run.r.returnCode, 0);
        QCOMPARE(entries(dir.path()), (QStringList{passRecordFileName(run.r.stamp), resultsFileName(run.r.stamp)}));
        QFile f(dir.filePath(resultsFileName(run.r.stamp)));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("Source2RF Delay:\nSource2RF Mean: nan\nSource2HD Delay:\n"
                                         "Source2HD Mean: nan\nSource2Snk Delay:\nSource2Snk Mean: nan"));
        QVERIFY(seriesMessage(run.r).isEmpty());

        QTemporaryDir quiet;
        SeriesSettings set;
        set.passes = 3;
        set.dataDir = quiet.path();  // saveData unchecked: nothing written there
        run.r = runSeries(set, {&run.d1, &run.d2, &run.d3, &run.t, &run.pts, nullptr, nullptr, nullptr}, s);
        QCOMPARE(run.r.counted, 3);
        QVERIFY(entries(quiet.path()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TstSeries)
#include "tst_series.moc"
