// Fault matrix, measurement series: the instrument drops the connection at
// every step of a pass (one row per step, taken from the traffic of a clean
// pass) and stops answering at representative steps; connections dropped in
// the middle of a block; a malformed block for each trace; a newline inside
// block data; a reply that streams on without end; a video analyzer that
// detects nothing; instruments that go away between series and come back.
//
// Every row: the series ends (the result dialog appears once) without a
// hang; every counted pass holds the values of an acquisition of its own
// (a failed pass is repeated, or the series stops at the bound and says
// why); the files already written stay intact; the next Init or pass works;
// Cancel saves the settings.
#include "faultrig.h"
#include "series.h"
#include "visabinding.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QtTest>

#include <cmath>

using namespace faults;
using qb::Instrument;

Q_DECLARE_METATYPE(qb::Instrument)
Q_DECLARE_METATYPE(qb::Fault)

namespace {

// The two pass layouts: first family with the RF trace from the analyzer,
// second family with it from channel 3; the HDMI delay on in both.
WindowConfig passConfig(int which)
{
    WindowConfig c;
    c.osTyp = which == 0 ? 0 : 1;
    c.scopeRf = which != 0;
    c.hdmi = true;
    c.save = true;
    c.passes = 3;
    return c;
}

struct PassStep
{
    Instrument instrument;
    std::string text;
    bool closing = false;  // one of the commands after the last pass
};

QString shortText(const std::string& s)
{
    QString t = QString::fromStdString(s).trimmed();
    t.replace(";*OPC?", "");
    return t.left(32);
}

const char* instName(Instrument i)
{
    return i == Instrument::Oscilloscope ? "os" : i == Instrument::SpectrumAnalyzer ? "sa" : "va";
}

}  // namespace

class TstFaultSeries : public QObject
{
    Q_OBJECT

    std::unique_ptr<Rig> rig;
    DataGuard guard;
    std::vector<PassStep> passSteps[2];
    std::vector<std::string> passMessages[2][3];  // per instrument, one pass
    QStringList timings;

    std::vector<std::string>& onePass(int which, Instrument i)
    {
        return passMessages[which][int(i)];
    }

    // The traffic of one clean pass and of the closing commands, in the
    // order the instruments received it.
    void recordPasses()
    {
        for (int which = 0; which < 2; ++which) {
            WindowConfig c = passConfig(which);
            c.save = false;
            rig->openWindow(c);
            QVERIFY(rig->initAll());
            rig->bench().clearLog();
            const SeriesOutcome o = rig->runSeries(nullptr, "1");
            QCOMPARE(o.graphs, 1);
            struct Timed
            {
                double time;
                PassStep step;
            };
            std::vector<Timed> all;
            for (int i = 0; i < qb::kInstrumentCount; ++i) {
                const Instrument inst = Instrument(i);
                std::vector<std::string> msgs = rig->bench().messages(inst);
                std::vector<qb::LogEntry> log = rig->bench().log(inst);
                size_t n = 0;
                for (const qb::LogEntry& e : log) {
                    if (e.kind != qb::LogKind::Message)
                        continue;
                    ++n;
                    // The closing commands are the last one of the scope and of the analyzer.
                    const bool closing = inst != Instrument::VideoAnalyzer && n == msgs.size();
                    all.push_back({e.time, {inst, e.text, closing}});
                    if (!closing)
                        onePass(which, inst).push_back(e.text);
                }
            }
            std::stable_sort(all.begin(), all.end(), [](const Timed& a, const Timed& b) { return a.time < b.time; });
            for (const Timed& t : all)
                passSteps[which].push_back(t.step);
            rig->cancelAndCheckSettings();
        }
    }

    void openReady(const WindowConfig& c)
    {
        rig->bench().clearFaults();
        rig->openWindow(c);
        QVERIFY(rig->initAll());
    }

    // Removes what a row's series wrote, once checked, so that the data
    // folder does not grow row by row; the guarded files stay.
    void dropRowFiles(const SeriesOutcome& o)
    {
        if (o.stamp.isEmpty())
            return;
        for (const QString& f : QDir(dataDir()).entryList({o.stamp + "*"}, QDir::Files))
            QFile::remove(QDir(dataDir()).filePath(f));
    }

    static bool matches(const SeriesOutcome& o, int j, const qb::GroundTruth& g, int which, bool hdOptional)
    {
        const double tol = samplePeriodMs(g);
        const double rf = which == 0 ? g.analyzerApparentRfMs : g.sourceToRfMs;
        return near(o.snk[j], expectedSinkMs(g), tol) && near(o.rf[j], rf, tol)
            && ((hdOptional && std::isnan(o.hd[j])) || near(o.hd[j], g.sourceToHdmiMs, tol));
    }

    // The checks of a row: `counted` passes in the results file, each
    // measured on an acquisition of its own and in order (the acquisitions
    // of failed passes skipped), each with a set of trace files no other
    // set repeats.
    void checkSeries(const SeriesOutcome& o, size_t truthBefore, int which, int counted, bool hdmiDelivered)
    {
        QCOMPARE(o.graphs, 1);
        QVERIFY2(!o.resultsFile.isEmpty(), qPrintable(o.messages.join(" | ")));
        QVERIFY2(o.snk.size() == counted, qPrintable(o.messages.join(" | ")));
        const std::vector<qb::GroundTruth> truth = countedTruth(rig->bench(), truthBefore);
        size_t i = 0;
        for (int j = 0; j < counted; ++j, ++i) {
            while (i < truth.size() && !matches(o, j, truth[i], which, !hdmiDelivered))
                ++i;
            QVERIFY2(i < truth.size(), qPrintable(QString("pass %1 (sink %2 ms, RF %3 ms) is no acquisition of its own")
                                                      .arg(j + 1).arg(o.snk[j]).arg(o.rf[j])));
        }
        QSet<QByteArray> sets[3];
        for (int k = 1; k <= counted; ++k)
            for (int x = 0; x < 3; ++x) {
                const char* kinds[] = {"_src.bin", "_rf.bin", "_snk.bin"};
                const QString f = QDir(dataDir()).filePath(o.stamp + QString("%1").arg(k, 3, 10, QChar('0')) + kinds[x]);
                QVERIFY(QFile::exists(f));
                sets[x].insert(sha1(f));
            }
        for (const QSet<QByteArray>& hashes : sets)
            QCOMPARE(hashes.size(), counted);
        if (!hdmiDelivered)
            QVERIFY2(o.messages.join(" ").contains("Source -> HDMI mean over"), qPrintable(o.messages.join(" | ")));
    }

    // A lost instrument: the series stops at the bound after `counted`
    // passes and names the instrument.
    void checkStopped(const SeriesOutcome& o, int counted, Instrument lost)
    {
        const QString all = o.messages.join(" | ");
        QVERIFY2(all.contains(QString("stopped after %1 of 3 passes").arg(counted))
                     && all.contains("The first failure: " + measurement::instrumentName(measurement::Instrument(int(lost)))),
                 qPrintable(all));
    }

    // After the row: re-Init where needed and one more pass that must
    // measure a fresh acquisition correctly.
    void checkRecovers(bool reinit)
    {
        rig->bench().clearFaults();
        if (reinit)
            QVERIFY(rig->initAll());
        const size_t before = rig->bench().groundTruth().size();
        Modals modals;
        const SeriesOutcome o = rig->runSeries(&modals, "1");
        QVERIFY2(o.graphs == 1, qPrintable(QString("%1 dialogs, %2 ms, start %3, messages: %4")
                                               .arg(o.graphs).arg(o.ms).arg(rig->startEnabled())
                                               .arg(o.messages.join(" | "))));
        QCOMPARE(o.snk.size(), 1);
        const std::vector<qb::GroundTruth> truth = countedTruth(rig->bench(), before);
        QCOMPARE(int(truth.size()), 1);
        QVERIFY2(near(o.snk[0], expectedSinkMs(truth[0]), samplePeriodMs(truth[0])),
                 qPrintable(QString("%1 vs %2").arg(o.snk[0]).arg(expectedSinkMs(truth[0]))));
        QVERIFY(near(o.hd[0], truth[0].sourceToHdmiMs, samplePeriodMs(truth[0])));
        dropRowFiles(o);
    }

    // The end of every row: its files removed once checked; where it asks,
    // one more pass (after a new Init) that must measure afresh; the files
    // written before intact; Cancel saves the settings.
    void endRow(std::initializer_list<SeriesOutcome> outcomes, bool recover = false, bool reinit = false)
    {
        if (QTest::currentTestFailed())
            return;
        for (const SeriesOutcome& o : outcomes)
            dropRowFiles(o);
        if (recover)
            checkRecovers(reinit);
        if (QTest::currentTestFailed())
            return;
        QVERIFY2(guard.damaged().isEmpty(), qPrintable(guard.damaged().join("; ")));
        rig->cancelAndCheckSettings();
    }

    // One fault in pass 2 of 3 (a time-out, a connection lost mid-block):
    // the passes counted, each its own acquisition; a lost instrument stops
    // the series, which names it, and needs a new Init; otherwise the
    // failed acquisition is reported and the session serves the next pass.
    void addFaultColumns()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<qb::Fault>("fault");
        QTest::addColumn<int>("counted");
        QTest::addColumn<bool>("lost");
    }
    void faultRow()
    {
        QFETCH(int, which);
        QFETCH(qb::Fault, fault);
        QFETCH(int, counted);
        QFETCH(bool, lost);
        Watchdog dog(QTest::currentDataTag(), 90);
        openReady(passConfig(which));
        rig->bench().addFault(fault);
        const size_t truthBefore = rig->bench().groundTruth().size();
        const SeriesOutcome o = rig->runSeries();
        timings << QString("%1 %2 ms").arg(QTest::currentDataTag()).arg(o.ms);
        checkSeries(o, truthBefore, which, counted, true);
        if (lost)
            checkStopped(o, counted, fault.instrument);
        else
            QVERIFY2(o.messages.join(" ").contains("1 acquisitions failed"), qPrintable(o.messages.join(" | ")));
        endRow({o}, true, lost);
    }

private slots:
    void initTestCase()
    {
        rig.reset(new Rig);
        rig->seedEarlierResults(&guard);
        recordPasses();
        // SA arm, 4 scope steps, SA format and trace, 3 video queries, channel 2, two closing.
        QCOMPARE(int(passSteps[0].size()), 13);
        // SA arm, 4 scope steps, SA points, channel 3, 3 video queries, channel 2, two closing.
        QCOMPARE(int(passSteps[1].size()), 13);
    }

    void cleanupTestCase()
    {
        qInfo("%s", qPrintable(timings.join("\n")));
        QVERIFY(guard.damaged().isEmpty());
    }

    // ---- the connection drops at every step of a pass (in pass 2 of 3) ----

    void passDrop_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<int>("step");
        for (int which = 0; which < 2; ++which)
            for (size_t k = 0; k < passSteps[which].size(); ++k) {
                const PassStep& s = passSteps[which][k];
                QTest::addRow("%s/%02d %s %s", which == 0 ? "first" : "second", int(k), instName(s.instrument),
                              qPrintable(shortText(s.text)))
                    << which << int(k);
            }
    }

    void passDrop()
    {
        QFETCH(int, which);
        QFETCH(int, step);
        const PassStep& s = passSteps[which][size_t(step)];
        Watchdog dog(QTest::currentDataTag(), 60);
        openReady(passConfig(which));

        const std::vector<std::string>& pass = onePass(which, s.instrument);
        int skip = 3 * occurrences(pass, pass.size(), s.text);  // a closing command: after three passes
        size_t received = 3 * pass.size() + 1;
        if (!s.closing) {
            size_t at = 0;
            for (size_t k = 0; k < size_t(step); ++k)
                at += passSteps[which][k].instrument == s.instrument && !passSteps[which][k].closing;
            skip = occurrences(pass, pass.size(), s.text) + occurrences(pass, at, s.text);
            received = pass.size() + at + 1;
        }
        rig->bench().clearLog();
        rig->bench().addFault(dropAt(s.instrument, s.text, skip));
        const size_t truthBefore = rig->bench().groundTruth().size();
        QElapsedTimer clock;
        clock.start();
        const SeriesOutcome o = rig->runSeries();
        timings << QString("%1 %2 ms").arg(QTest::currentDataTag()).arg(clock.elapsed());

        // The lost instrument got nothing after the fault.
        QCOMPARE(rig->bench().messages(s.instrument).size(), received);
        // Without the oscilloscope or the analyzer no pass can count after the
        // fault; the sweep-points command alone does not fail the pass it is in.
        const bool survives = s.closing || s.instrument == Instrument::VideoAnalyzer;
        const int counted = survives ? 3 : s.text.rfind("SWE:POIN", 0) == 0 ? 2 : 1;
        checkSeries(o, truthBefore, which, counted, s.instrument != Instrument::VideoAnalyzer || s.closing);
        if (!survives)
            checkStopped(o, counted, s.instrument);
        endRow({o}, true, true);
    }

    // ---- the instrument stops answering (pass 2 of 3) ----
    // A query and a block read time out; which step fails the pass is the
    // series' business (tested there).

    void passNoReply_data()
    {
        addFaultColumns();
        QTest::newRow("second/os *TRG") << 1 << noReplyAt(Instrument::Oscilloscope, "*TRG", 1) << 3 << false;
        QTest::newRow("second/os CHAN1:DATA?")
            << 1 << noReplyAt(Instrument::Oscilloscope, "CHAN1:DATA?", 1) << 3 << false;
    }
    void passNoReply() { faultRow(); }

    // An instrument that hangs for good, or sends a block and then streams
    // on without end: the operator cancels, the series ends within about one
    // instrument time-out of the press and the sessions stay usable.
    void cancelWhileHanging_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("no reply") << int(qb::FaultKind::NoReply);
        QTest::newRow("endless stream after a block") << int(qb::FaultKind::EndlessReply);
    }
    void cancelWhileHanging()
    {
        QFETCH(int, kind);
        Watchdog dog(QTest::currentDataTag(), 60);
        openReady(passConfig(0));
        qb::Fault f;
        f.kind = qb::FaultKind(kind);
        f.match = kind == int(qb::FaultKind::NoReply) ? "" : "CHAN1:DATA?";
        f.count = 0;
        rig->bench().addFault(f);
        SeriesOutcome o;
        // Into the first call that hangs, or the second pass's drop of the endless stream.
        const int pressAt = kind == int(qb::FaultKind::NoReply) ? 1000 : 6000;
        qint64 afterPress = 0;
        {
            Modals modals;  // gone before the next series: it would take that one's dialogs
            modals.cancelAfterMs = pressAt;
            o = rig->runSeries(&modals, "5");
            afterPress = modals.progressMs() - pressAt;
        }
        timings << QString("%1 %2 ms, %3 ms after the press").arg(QTest::currentDataTag()).arg(o.ms).arg(afterPress);
        QVERIFY(o.cancelled);
        // The endless stream holds the program for one time-out at most; a
        // scope that answers nothing also lets the closing command time out.
        const int bound = kind == int(qb::FaultKind::NoReply) ? 2 * 5000 + 2000 : 10000;
        QVERIFY2(afterPress < bound, qPrintable(QString("%1 ms after the press").arg(afterPress)));
        QCOMPARE(o.graphs, 1);
        QVERIFY2(o.messages.join(" ").contains("cancelled after 0 of 5"), qPrintable(o.messages.join(" | ")));
        QVERIFY(!o.resultsFile.isEmpty());
        endRow({o}, true, kind == int(qb::FaultKind::NoReply));
    }

    // ---- connection lost in the middle of a block (pass 2 of 3) ----
    // The block is "#580000" then 80000 data bytes: cut in the header, in the
    // length, early, in the middle and just before its end. Malformed blocks
    // are the transfer's business, a failed read the series' (tested there).

    void blockDrop_data()
    {
        addFaultColumns();
        const Instrument os = Instrument::Oscilloscope;
        for (int after : {1, 4, 100, 40000, 79990})
            QTest::addRow("first/os CHAN1 after %d", after) << 0 << dropAt(os, "CHAN1:DATA?", 1, after) << 1 << true;
        QTest::newRow("first/sa TRAC? middle")
            << 0 << dropAt(Instrument::SpectrumAnalyzer, "TRAC?", 1, 40000) << 1 << true;
        QTest::newRow("first/os CHAN2 middle") << 0 << dropAt(os, "CHAN2:DATA?", 1, 40000) << 1 << true;
        QTest::newRow("second/os CHAN3 middle") << 1 << dropAt(os, "CHAN3:DATA?", 1, 40000) << 1 << true;
    }
    void blockDrop() { faultRow(); }

    // A newline inside the data of every block, over the raw socket, where
    // only the block's declared length tells data from the terminator.
    void newlineInBlockOverSocket()
    {
        Watchdog dog("newlineInBlockOverSocket", 60);
        WindowConfig c = passConfig(1);
        c.scopeSocket = true;
        openReady(c);
        qb::Fault f;
        f.instrument = Instrument::Oscilloscope;
        f.kind = qb::FaultKind::MalformedBlock;
        f.block = qb::BlockFault::NewlineInData;
        f.match = "DATA?";
        f.count = 0;
        rig->bench().addFault(f);
        const size_t truthBefore = rig->bench().groundTruth().size();
        const SeriesOutcome o = rig->runSeries();
        QCOMPARE(o.graphs, 1);
        QCOMPARE(o.snk.size(), 3);
        const std::vector<qb::GroundTruth> truth = countedTruth(rig->bench(), truthBefore);
        QCOMPARE(int(truth.size()), 3);
        for (int j = 0; j < 3; ++j) {
            QVERIFY(near(o.snk[j], expectedSinkMs(truth[j]), samplePeriodMs(truth[j])));
            QVERIFY(near(o.rf[j], truth[j].sourceToRfMs, samplePeriodMs(truth[j])));
        }
        endRow({o});
    }

    // ---- the video analyzer detects nothing: status 0 in every pass ----

    void videoStatusZero()
    {
        Watchdog dog("videoStatusZero", 60);
        openReady(passConfig(0));
        qb::Fault f;
        f.instrument = Instrument::VideoAnalyzer;
        f.kind = qb::FaultKind::VideoStatusZero;
        f.count = 0;
        rig->bench().addFault(f);
        rig->bench().clearLog();
        const size_t truthBefore = rig->bench().groundTruth().size();
        const SeriesOutcome o = rig->runSeries();
        QCOMPARE(o.graphs, 1);
        QCOMPARE(o.hd.size(), 3);
        for (double v : o.hd)
            QVERIFY(std::isnan(v));  // no value, rather than a made-up 0
        QVERIFY2(o.messages.join(" ").contains("Source -> HDMI mean over 0 of 3 passes"),
                 qPrintable(o.messages.join(" | ")));
        // With status 0 the count and the value are not asked for.
        for (const std::string& m : rig->bench().messages(Instrument::VideoAnalyzer))
            QCOMPARE(QString::fromStdString(m), QString("READ:AVDA:TTV:STAT?\n"));
        const std::vector<qb::GroundTruth> truth = countedTruth(rig->bench(), truthBefore);
        QCOMPARE(int(truth.size()), 3);
        for (int j = 0; j < 3; ++j)
            QVERIFY(near(o.snk[j], expectedSinkMs(truth[j]), samplePeriodMs(truth[j])));
        endRow({o}, true);
    }

    // ---- two series within one second ----

    // A quick series (here: a fast bench) ends within the second of the one
    // before: its files take another stamp instead of replacing those.
    void twoSeriesInOneSecond()
    {
        Watchdog dog("twoSeriesInOneSecond", 60);
        openReady(passConfig(1));
        const SeriesOutcome a = rig->runSeries(nullptr, "1");
        const QByteArray aHash = sha1(a.resultsFile);
        const QByteArray aSrc = sha1(QDir(dataDir()).filePath(a.stamp + "001_src.bin"));
        const SeriesOutcome b = rig->runSeries(nullptr, "1");
        QVERIFY(!a.resultsFile.isEmpty());
        QVERIFY(!b.resultsFile.isEmpty());
        QVERIFY(a.stamp != b.stamp);
        QCOMPARE(sha1(a.resultsFile), aHash);
        QCOMPARE(sha1(QDir(dataDir()).filePath(a.stamp + "001_src.bin")), aSrc);
        QVERIFY(a.snk != b.snk);
        endRow({a, b});
    }

    // ---- the instruments go away between series and come back ----

    void awayBetweenSeries()
    {
        Watchdog dog("awayBetweenSeries", 90);
        openReady(passConfig(0));
        const SeriesOutcome first = rig->runSeries(nullptr, "1");
        QCOMPARE(first.snk.size(), 1);

        rig->stopBench();
        // Every call fails at once; the series ends and the dialog appears.
        const SeriesOutcome away = rig->runSeries(nullptr, "2");
        timings << QString("series with the instruments away %1 ms").arg(away.ms);
        QCOMPARE(away.graphs, 1);
        QVERIFY2(!away.resultsFile.isEmpty(), qPrintable(away.messages.join(" | ")));
        QVERIFY2(away.messages.join(" ").contains("The first failure: spectrum analyzer, \"INIT:CONT OFF;*OPC?\": VI_"),
                 qPrintable(away.messages.join(" | ")));
        // Init while they are away fails and says so on the buttons.
        QCOMPARE(rig->init(Instrument::Oscilloscope), QString("Init"));
        QCOMPARE(rig->init(Instrument::SpectrumAnalyzer), QString("Init"));
        QCOMPARE(rig->init(Instrument::VideoAnalyzer), QString("Init"));
        QVERIFY(!rig->startEnabled());

        // Back, freshly powered up: the next Init works and so do the passes.
        rig->startBench();
        QVERIFY(rig->initAll());
        const SeriesOutcome back = rig->runSeries(nullptr, "2");
        QCOMPARE(back.snk.size(), 2);
        const std::vector<qb::GroundTruth> truth = countedTruth(rig->bench(), 0);
        QCOMPARE(int(truth.size()), 2);
        for (int j = 0; j < 2; ++j)
            QVERIFY(near(back.snk[j], expectedSinkMs(truth[j]), samplePeriodMs(truth[j])));
        // The files of the first series are intact.
        QVector<double> rf, hd, snk;
        QVERIFY(readResults(first.resultsFile, &rf, &hd, &snk));
        QCOMPARE(snk, first.snk);
        endRow({first, away, back});
    }
};

int main(int argc, char** argv)
{
    prepareProcess();
    QApplication app(argc, argv);
    setVisaCandidates({QStringLiteral(QUARNEL_LANVISA_PATH)});
    TstFaultSeries t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_fault_series.moc"
