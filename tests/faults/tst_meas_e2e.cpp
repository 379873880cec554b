// Measurement series end to end: the real window and set-up sequences, our
// LAN VISA library and the simulated bench. Every pass's delays are checked
// against the bench's ground truth of that acquisition.
#include "faultrig.h"
#include "globals.h"
#include "passrecord.h"
#include "visabinding.h"

#include <QApplication>
#include <QProcess>
#include <QtTest>

#include <algorithm>
#include <cmath>

using namespace faults;

namespace {

WindowConfig config(int osTyp, bool scopeRf, bool hdmi, int passes, bool hislip = false)
{
    WindowConfig c;
    c.osTyp = osTyp;
    c.scopeRf = scopeRf;
    c.hdmi = hdmi;
    c.passes = passes;
    c.hislip = hislip;
    return c;
}

}  // namespace

class TstMeasE2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        setVisaCandidates({QStringLiteral(QUARNEL_LANVISA_PATH)});
        QApplication::setQuitOnLastWindowClosed(false);
    }

    void delaysMatchGroundTruth_data()
    {
        QTest::addColumn<int>("osTyp");
        QTest::addColumn<bool>("scopeRf");
        QTest::addColumn<bool>("hdmi");
        QTest::addColumn<bool>("hislip");
        for (int fam : {0, 1})
            for (bool scopeRf : {false, true})
                for (bool hdmi : {false, true})
                    QTest::addRow("%s/%s/%s", fam == 0 ? "first" : "second", scopeRf ? "ch3" : "analyzer",
                                  hdmi ? "hdmi" : "nohdmi")
                        << fam << scopeRf << hdmi << false;
        // The three Inits (go-to-local included) and the series over HiSLIP.
        QTest::addRow("first/analyzer/hdmi/hislip") << 0 << false << true << true;
        QTest::addRow("second/ch3/hdmi/hislip") << 1 << true << true << true;
    }
    void delaysMatchGroundTruth()
    {
        QFETCH(int, osTyp);
        QFETCH(bool, scopeRf);
        QFETCH(bool, hdmi);
        QFETCH(bool, hislip);
        qb::Options opt = qb::testOptions();
        opt.seed = 11 + osTyp * 4 + scopeRf * 2 + hdmi;
        Rig rig(opt);
        rig.openWindow(config(osTyp, scopeRf, hdmi, 4, hislip));
        QVERIFY(rig.initAll());
        Modals modals;
        const SeriesOutcome o = rig.runSeries(&modals);
        QVERIFY(o.messages.isEmpty());
        QCOMPARE(o.graphs, 1);
        QVERIFY(modals.sawProgress());

        const std::vector<qb::GroundTruth> truth = countedTruth(rig.bench(), o.truthFrom);
        QCOMPARE(o.snk.size(), 4);
        QCOMPARE(int(truth.size()), 4);
        for (int j = 0; j < 4; ++j) {
            const qb::GroundTruth& g = truth[j];
            const double tol = samplePeriodMs(g);
            const QString where = QString("pass %1: rf %2 hd %3 snk %4").arg(j).arg(o.rf[j]).arg(o.hd[j]).arg(o.snk[j]);
            // RF from the analyzer: its first `pts` samples laid onto the scope
            // window; with the first family's sweep from -0.6 s that is about
            // +100 ms (exactly only when the sweep had pts points).
            QVERIFY2(near(o.rf[j], scopeRf ? g.sourceToRfMs : g.analyzerApparentRfMs, tol), qPrintable(where));
            if (osTyp == 0 && !scopeRf)
                QVERIFY2(std::abs(o.rf[j] - (g.sourceToRfMs + 100.0)) < 0.5, qPrintable(where));
            QVERIFY2(near(o.snk[j], expectedSinkMs(g), tol), qPrintable(where));
            QVERIFY2(hdmi ? near(o.hd[j], g.sourceToHdmiMs, tol) : o.hd[j] == 0.0, qPrintable(where));
        }
        QVERIFY(o.snk[0] != o.snk[1] || o.snk[1] != o.snk[2]);  // a noisy series
        QCOMPARE(pts, int(truth.back().points));
        const std::vector<qb::LogEntry> log = rig.bench().log(qb::Instrument::Oscilloscope);
        QVERIFY(std::all_of(log.begin(), log.end(),
                            [&](const qb::LogEntry& e) { return (e.transport == qb::Transport::HiSlip) == hislip; }));
    }

    // The per-pass record beside the results file: a failed acquisition (a
    // sink block cut short, the pass repeated), a pass without a sink edge,
    // HDMI on and off. Python's csv module reads it back and finds the
    // results file's values.
    void perPassRecord_data()
    {
        QTest::addColumn<bool>("hdmi");
        QTest::newRow("hdmi") << true;
        QTest::newRow("no hdmi") << false;
    }
    void perPassRecord()
    {
        using namespace measurement;
        QFETCH(bool, hdmi);
        qb::Options opt = qb::testOptions();
        qb::Fault cut;
        cut.kind = qb::FaultKind::MalformedBlock;
        cut.block = qb::BlockFault::ShortData;
        cut.match = "CHAN2:DATA?";
        cut.skip = 1;
        qb::Fault noSink;
        noSink.kind = qb::FaultKind::NoSinkEdge;
        noSink.skip = 3;
        opt.faults = {cut, noSink};
        Rig rig(opt);
        rig.openWindow(config(0, false, hdmi, 5));
        QVERIFY(rig.initAll());
        const QString results = rig.runSeries().resultsFile;
        const QString record = results.chopped(int(strlen("Results.txt"))) + "Passes.csv";
        QProcess py;
        py.start(QUARNEL_PYTHON, {QUARNEL_CHECK_RECORD, record, results});
        QVERIFY(py.waitForFinished(30000));
        QCOMPARE(QString(py.readAllStandardOutput()).trimmed(), QString("ok 5"));

        PassRecordFile rec;
        QCOMPARE(readPassRecord(record, &rec), RecordRead::Ok);
        QCOMPARE(rec.headerValue("spectrum_analyzer_idn"), QString::fromStdString(opt.analyzerIdentity));
        int failed = 0, noEdge = 0;
        for (const PassRow& r : rec.rows) {
            failed += r.failedAcquisitions;
            noEdge += std::isnan(r.tsnk) && std::isnan(r.src2Snk);
            QCOMPARE(std::isnan(r.src2Hd), !hdmi);
        }
        QCOMPARE(failed, 1);
        QCOMPARE(rec.rows[1].failedAcquisitions, 1);  // the repeated second pass
        QCOMPARE(noEdge, 1);
    }
};

int main(int argc, char** argv)
{
    prepareProcess();
    QApplication app(argc, argv);
    TstMeasE2E t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_meas_e2e.moc"
