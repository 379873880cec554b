// Fault matrix, measurement series: the instrument drops the connection at
// every step of a pass (one row per step, taken from the traffic of a clean
// pass) and stops answering at representative steps; connections dropped in
// the middle of a block; every malformed block the bench can send; a newline
// inside block data; a video analyzer that detects nothing; instruments that
// go away between series and come back.
//
// Every row: the series ends (the result dialog appears once) without a
// hang, the passes before the fault are in the results file as measured,
// the files already written stay intact, the next Init or pass works, and
// Cancel saves the settings.
#include "faultrig.h"
#include "visabinding.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <cmath>

using namespace faults;
using qb::Instrument;

Q_DECLARE_METATYPE(qb::Instrument)
Q_DECLARE_METATYPE(qb::BlockFault)

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

bool near(double got, double want, double tol)
{
    return std::abs(got - want) <= tol + 1e-5 * std::abs(want) + 1e-9;
}

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

class FaultSeries : public QObject
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

    // The checks of a three-pass row whose fault struck after pass 1.
    void checkSeries(const SeriesOutcome& o, size_t truthBefore, bool hdmiDelivered)
    {
        QCOMPARE(o.graphs, 1);
        QVERIFY2(!o.resultsFile.isEmpty(), qPrintable(o.messages.join(" | ")));
        QCOMPARE(o.snk.size(), 3);
        const std::vector<qb::GroundTruth> truth = countedTruth(rig->bench(), truthBefore);
        QVERIFY(!truth.empty());
        // Pass 1, before the fault, is in the file as measured.
        QVERIFY2(near(o.snk[0], expectedSinkMs(truth[0]), samplePeriodMs(truth[0])),
                 qPrintable(QString("%1 vs %2").arg(o.snk[0]).arg(expectedSinkMs(truth[0]))));
        QVERIFY(near(o.hd[0], truth[0].sourceToHdmiMs, samplePeriodMs(truth[0])));
        for (int j = 0; j < 3; ++j)
            QVERIFY(std::isfinite(o.snk[j]) && std::isfinite(o.rf[j]));
        // Every counted pass left its three trace files.
        for (int k = 1; k <= 3; ++k)
            for (const char* kind : {"_src.bin", "_rf.bin", "_snk.bin"})
                QVERIFY(QFile::exists(QDir(dataDir()).filePath(
                    o.stamp + QString("%1").arg(k, 3, 10, QChar('0')) + kind)));
        if (!hdmiDelivered)
            QVERIFY2(o.messages.join(" ").contains("Source -> HDMI mean over"), qPrintable(o.messages.join(" | ")));
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

    void finishRow()
    {
        QVERIFY2(guard.damaged().isEmpty(), qPrintable(guard.damaged().join("; ")));
        rig->cancelAndCheckSettings();
    }

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        rig.reset(new Rig);
        WindowConfig c;
        c.passes = 2;
        rig->openWindow(c);
        QVERIFY(rig->initAll());
        QCOMPARE(rig->runSeries().rf.size(), 2);
        rig->cancelAndCheckSettings();
        guard.record(dataDir());
        QCOMPARE(guard.size(), 7);
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
        checkSeries(o, truthBefore, s.instrument != Instrument::VideoAnalyzer || s.closing);
        if (QTest::currentTestFailed())
            return;
        dropRowFiles(o);
        checkRecovers(true);
        if (QTest::currentTestFailed())
            return;
        finishRow();
    }

    // ---- the instrument stops answering (pass 2 of 3) ----

    void passNoReply_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<Instrument>("instrument");
        QTest::addColumn<QString>("match");
        QTest::addColumn<int>("skip");
        QTest::addColumn<bool>("hdmiDelivered");
        QTest::newRow("first/os *TRG") << 0 << Instrument::Oscilloscope << "*TRG" << 1 << true;
        QTest::newRow("second/os CHAN1:DATA?") << 1 << Instrument::Oscilloscope << "CHAN1:DATA?" << 1 << true;
        QTest::newRow("first/sa TRAC?") << 0 << Instrument::SpectrumAnalyzer << "TRAC?" << 1 << true;
        QTest::newRow("second/va VAL?") << 1 << Instrument::VideoAnalyzer << "READ:AVDA:TTV:VAL?" << 1 << false;
        QTest::newRow("first/os closing RUNC") << 0 << Instrument::Oscilloscope << "RUNC" << 0 << true;
    }

    void passNoReply()
    {
        QFETCH(int, which);
        QFETCH(Instrument, instrument);
        QFETCH(QString, match);
        QFETCH(int, skip);
        QFETCH(bool, hdmiDelivered);
        Watchdog dog(QTest::currentDataTag(), 90);
        openReady(passConfig(which));
        rig->bench().addFault(noReplyAt(instrument, match.toStdString(), skip));
        const size_t truthBefore = rig->bench().groundTruth().size();
        QElapsedTimer clock;
        clock.start();
        const SeriesOutcome o = rig->runSeries();
        timings << QString("%1 %2 ms").arg(QTest::currentDataTag()).arg(clock.elapsed());
        checkSeries(o, truthBefore, hdmiDelivered);
        if (QTest::currentTestFailed())
            return;
        // The session outlived the time-out: pass 3 measured afresh, no Init needed.
        const std::vector<qb::GroundTruth> truth = countedTruth(rig->bench(), truthBefore);
        QVERIFY(near(o.snk[2], expectedSinkMs(truth.back()), samplePeriodMs(truth.back())));
        QVERIFY(near(o.hd[2], truth.back().sourceToHdmiMs, samplePeriodMs(truth.back())));
        dropRowFiles(o);
        checkRecovers(false);
        if (QTest::currentTestFailed())
            return;
        finishRow();
    }

    // An instrument that hangs for good: the operator cancels, the series
    // ends after the call under way.
    void cancelWhileHanging()
    {
        Watchdog dog("cancelWhileHanging", 60);
        openReady(passConfig(0));
        qb::Fault f = noReplyAt(Instrument::Oscilloscope, "", 0);
        f.count = 0;
        rig->bench().addFault(f);
        SeriesOutcome o;
        {
            Modals modals;  // gone before the next series: it would take that one's dialogs
            modals.cancelAfterMs = 1000;
            o = rig->runSeries(&modals, "5");
        }
        timings << QString("cancelWhileHanging %1 ms").arg(o.ms);
        QVERIFY(o.cancelled);
        QCOMPARE(o.graphs, 1);
        QVERIFY2(o.messages.join(" ").contains("cancelled after"), qPrintable(o.messages.join(" | ")));
        QVERIFY(!o.resultsFile.isEmpty());
        dropRowFiles(o);
        checkRecovers(true);
        if (QTest::currentTestFailed())
            return;
        finishRow();
    }

    // ---- connection lost in the middle of a block (pass 2 of 3) ----

    void blockDrop_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<Instrument>("instrument");
        QTest::addColumn<QString>("match");
        QTest::addColumn<int>("afterBytes");
        // The block is "#580000" then 80000 data bytes: cut in the header,
        // in the length, early, in the middle and just before its end.
        for (int after : {1, 4, 100, 40000, 79990})
            QTest::addRow("first/os CHAN1 after %d", after) << 0 << Instrument::Oscilloscope << "CHAN1:DATA?" << after;
        QTest::newRow("first/sa TRAC? middle") << 0 << Instrument::SpectrumAnalyzer << "TRAC?" << 40000;
        QTest::newRow("first/os CHAN2 middle") << 0 << Instrument::Oscilloscope << "CHAN2:DATA?" << 40000;
        QTest::newRow("second/os CHAN3 middle") << 1 << Instrument::Oscilloscope << "CHAN3:DATA?" << 40000;
    }

    void blockDrop()
    {
        QFETCH(int, which);
        QFETCH(Instrument, instrument);
        QFETCH(QString, match);
        QFETCH(int, afterBytes);
        Watchdog dog(QTest::currentDataTag(), 60);
        openReady(passConfig(which));
        rig->bench().addFault(dropAt(instrument, match.toStdString(), 1, afterBytes));
        const size_t truthBefore = rig->bench().groundTruth().size();
        const SeriesOutcome o = rig->runSeries();
        timings << QString("%1 %2 ms").arg(QTest::currentDataTag()).arg(o.ms);
        checkSeries(o, truthBefore, true);
        if (QTest::currentTestFailed())
            return;
        dropRowFiles(o);
        checkRecovers(true);
        if (QTest::currentTestFailed())
            return;
        finishRow();
    }

    // ---- malformed blocks (pass 2 of 3), over VXI-11 ----

    void malformedBlock_data()
    {
        QTest::addColumn<Instrument>("instrument");
        QTest::addColumn<QString>("match");
        QTest::addColumn<qb::BlockFault>("block");
        const struct
        {
            const char* name;
            qb::BlockFault kind;
        } kinds[] = {{"no hash", qb::BlockFault::NoHash},
                     {"#0", qb::BlockFault::IndefiniteLength},
                     {"letter count", qb::BlockFault::NonDigitCount},
                     {"letter in length", qb::BlockFault::NonDigitLength},
                     {"short data", qb::BlockFault::ShortData},
                     {"length far beyond", qb::BlockFault::LengthFarBeyond},
                     {"newline in data", qb::BlockFault::NewlineInData}};
        for (const auto& k : kinds) {
            QTest::addRow("os CHAN1/%s", k.name) << Instrument::Oscilloscope << "CHAN1:DATA?" << k.kind;
            QTest::addRow("sa TRAC?/%s", k.name) << Instrument::SpectrumAnalyzer << "TRAC?" << k.kind;
            QTest::addRow("os CHAN2/%s", k.name) << Instrument::Oscilloscope << "CHAN2:DATA?" << k.kind;
        }
    }

    void malformedBlock()
    {
        QFETCH(Instrument, instrument);
        QFETCH(QString, match);
        QFETCH(qb::BlockFault, block);
        Watchdog dog(QTest::currentDataTag(), 60);
        openReady(passConfig(0));
        qb::Fault f;
        f.instrument = instrument;
        f.kind = qb::FaultKind::MalformedBlock;
        f.match = match.toStdString();
        f.block = block;
        f.skip = 1;
        rig->bench().addFault(f);
        const size_t truthBefore = rig->bench().groundTruth().size();
        const SeriesOutcome o = rig->runSeries();
        timings << QString("%1 %2 ms").arg(QTest::currentDataTag()).arg(o.ms);
        checkSeries(o, truthBefore, true);
        if (QTest::currentTestFailed())
            return;
        // No part of the bad reply posed as the answer to a later command:
        // pass 3 measured a fresh acquisition correctly on the same sessions.
        const std::vector<qb::GroundTruth> truth = countedTruth(rig->bench(), truthBefore);
        QCOMPARE(int(truth.size()), 3);
        QVERIFY(near(o.snk[2], expectedSinkMs(truth[2]), samplePeriodMs(truth[2])));
        QVERIFY(near(o.rf[2], truth[2].analyzerApparentRfMs, samplePeriodMs(truth[2])));
        QVERIFY(near(o.hd[2], truth[2].sourceToHdmiMs, samplePeriodMs(truth[2])));
        if (block == qb::BlockFault::NewlineInData) {
            // A well-formed block: pass 2 is measured, not a repeat of pass 1.
            QVERIFY(near(o.snk[1], expectedSinkMs(truth[1]), samplePeriodMs(truth[1])));
            QVERIFY2(near(o.rf[1], truth[1].analyzerApparentRfMs, samplePeriodMs(truth[1])),
                     qPrintable(QString("%1 vs %2 (pass 1 %3)").arg(o.rf[1]).arg(truth[1].analyzerApparentRfMs).arg(o.rf[0])));
        }
        dropRowFiles(o);
        checkRecovers(false);
        if (QTest::currentTestFailed())
            return;
        finishRow();
    }

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
        dropRowFiles(o);
        finishRow();
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
        dropRowFiles(o);
        checkRecovers(false);
        if (QTest::currentTestFailed())
            return;
        finishRow();
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
        dropRowFiles(a);
        dropRowFiles(b);
        finishRow();
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
        for (const SeriesOutcome* o : {&first, &away, &back})
            dropRowFiles(*o);
        finishRow();
    }
};

int main(int argc, char** argv)
{
    prepareProcess();
    QApplication app(argc, argv);
    setVisaCandidates({QStringLiteral(QUARNEL_LANVISA_PATH)});
    FaultSeries t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_fault_series.moc"
