// Measurement series end to end: the real window and set-up sequences, our
// LAN VISA library and the simulated bench. Every pass's delays are checked
// against the bench's ground truth of that acquisition.
#include "bench.h"
#include "delays.h"
#include "globals.h"
#include "mainwindow.h"
#include "model.h"
#include "passrecord.h"
#include "resultfiles.h"
#include "series.h"
#include "seriesview.h"
#include "testsupport.h"
#include "visabinding.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <memory>

namespace qb = quarnel::bench;
using testsupport::child;

namespace {

// Answers the modal windows of a series: records and closes message boxes,
// accepts the result dialog, cancels the progress display once it shows
// `cancelAt` counted passes.
class Modals : public QObject
{
public:
    QStringList messages;
    int graphs = 0;
    QImage graph;  // the result dialog as drawn
    int cancelAt = -1;
    int cancelledAt = -1;
    bool sawProgress = false;

    Modals()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            QWidget* w = QApplication::activeModalWidget();
            if (auto* v = qobject_cast<graph::SeriesView*>(w)) {
                sawProgress = true;
                if (cancelAt >= 0 && cancelledAt < 0 && v->counted() >= cancelAt) {
                    cancelledAt = v->counted();
                    v->reject();  // its Cancel button
                }
            } else if (auto* box = qobject_cast<QMessageBox*>(w)) {
                messages << box->text();
                box->done(QMessageBox::Ok);
            } else if (w && w->inherits("Graph")) {
                ++graphs;
                graph = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
                static_cast<QDialog*>(w)->done(QDialog::Accepted);
            }
        });
        m_timer.start(5);
    }

private:
    QTimer m_timer;
};

struct Config
{
    int osTyp = 0;
    bool scopeRf = false;
    bool hdmi = false;
    int passes = 3;
    bool hislip = false;  // every instrument over HiSLIP instead of VXI-11
};

struct PassValues
{
    double rf, hd, snk;
};

class Rig
{
public:
    explicit Rig(qb::Options opt = qb::testOptions()) : bench(opt)
    {
        std::string err;
        if (!bench.start(&err))
            qFatal("bench did not start: %s", err.c_str());
    }

    // The window set up through its own Init buttons, Save Data on; true when Start is enabled.
    bool open(const Config& c)
    {
        w.reset(new MainWindow);
        const std::pair<const char*, qb::Instrument> rsrc[] = {{"OsIp", qb::Instrument::Oscilloscope},
                                                               {"SaIp", qb::Instrument::SpectrumAnalyzer},
                                                               {"VaIp", qb::Instrument::VideoAnalyzer}};
        for (const auto& r : rsrc)
            child<QLineEdit>(w.get(), r.first)
                ->setText(QString::fromStdString(c.hislip ? bench.hislipResourceString(r.second)
                                                          : bench.resourceString(r.second)));
        child<QComboBox>(w.get(), "OsTyp")->setCurrentIndex(c.osTyp);
        child<QCheckBox>(w.get(), "SaIfDem")->setChecked(c.scopeRf);
        if (child<QCheckBox>(w.get(), "VaHdmi")->isChecked() != c.hdmi)
            child<QCheckBox>(w.get(), "VaHdmi")->click();
        child<QCheckBox>(w.get(), "SaveData")->setChecked(true);
        child<QLineEdit>(w.get(), "MeasCnt")->setText(QString::number(c.passes));
        child<QPushButton>(w.get(), "OsInit")->click();
        child<QPushButton>(w.get(), "SaInit")->click();
        if (c.hdmi)
            child<QPushButton>(w.get(), "VaInit")->click();
        return child<QPushButton>(w.get(), "Start")->isEnabled();
    }

    void start(const QString& count = QString())
    {
        if (!count.isEmpty())
            child<QLineEdit>(w.get(), "MeasCnt")->setText(count);
        bench.clearLog();
        m_before = QDir(dataDir()).entryList({"*Results.txt"}, QDir::Files);
        m_truthBefore = bench.groundTruth().size();
        child<QPushButton>(w.get(), "Start")->click();
    }

    QString dataDir() const
    {
        return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Tervane/"
            + QFileInfo(QCoreApplication::applicationFilePath()).baseName();
    }

    // The results file the last series wrote, "" when none.
    QString resultsFile() const
    {
        for (const QString& f : QDir(dataDir()).entryList({"*Results.txt"}, QDir::Files))
            if (!m_before.contains(f))
                return QDir(dataDir()).filePath(f);
        return QString();
    }

    // The per-pass lines of that file.
    QVector<PassValues> passes() const
    {
        QFile f(resultsFile());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        const QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
        QVector<double> v[3];
        for (int k = 0; k < 3 && lines.size() == 6; ++k)
            for (const QString& p : lines[2 * k].section(':', 1).split(' ', Qt::SkipEmptyParts))
                v[k] << p.toDouble();
        QVector<PassValues> out;
        for (int i = 0; i < v[0].size() && i < v[1].size() && i < v[2].size(); ++i)
            out.append({v[0][i], v[1][i], v[2][i]});
        return out;
    }

    // Acquisitions of the last series whose source started inside the window.
    std::vector<qb::GroundTruth> countedTruth() const
    {
        std::vector<qb::GroundTruth> all = bench.groundTruth(), out;
        for (size_t i = m_truthBefore; i < all.size(); ++i)
            if (all[i].sourceBase > measurement::kStartLow && all[i].sourceBase < measurement::kStartHigh)
                out.push_back(all[i]);
        return out;
    }

    QString last(qb::Instrument i) const { return QString::fromStdString(bench.messages(i).back()); }

    qb::Bench bench;
    std::unique_ptr<MainWindow> w;

private:
    QStringList m_before;
    size_t m_truthBefore = 0;
};

double samplePeriodMs(const qb::GroundTruth& g)
{
    return g.windowLength / double(g.points - 1) * 1000.0;
}

// The program times an edge where it crosses a fixed level, the bench's truth
// is its onset: the sink reaches 0.06 V later after its onset than the source
// rises by 0.035 V, and the measured sink delay is longer by the difference.
double sinkTruthMs(const qb::GroundTruth& g)
{
    namespace m = qb::model;
    const double sink = m::kSinkTau * std::log(m::kSinkStep / (m::kSinkStep - (0.06 - m::kSinkBase)));
    const double source = m::kSourceTau * std::log(m::kSourceStep / (m::kSourceStep - 0.035));
    return g.sourceToSinkMs + (sink - source) * 1000.0;
}

// Within the tolerance, allowing for the results file's six significant digits.
bool near(double got, double want, double tol)
{
    return std::abs(got - want) <= tol + 1e-5 * std::abs(want) + 1e-9;
}

}  // namespace

class MeasE2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setVisaCandidates({QStringLiteral(QUARNEL_LANVISA_PATH)}); }

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
        QVERIFY(rig.open({osTyp, scopeRf, hdmi, 4, hislip}));
        Modals modals;
        rig.start();
        QVERIFY(modals.messages.isEmpty());
        QCOMPARE(modals.graphs, 1);
        QVERIFY(modals.sawProgress);

        const QVector<PassValues> got = rig.passes();
        const std::vector<qb::GroundTruth> truth = rig.countedTruth();
        QCOMPARE(got.size(), 4);
        QCOMPARE(int(truth.size()), 4);
        for (int j = 0; j < 4; ++j) {
            const qb::GroundTruth& g = truth[j];
            const double tol = samplePeriodMs(g);
            const QString where = QString("pass %1: rf %2 hd %3 snk %4").arg(j).arg(got[j].rf).arg(got[j].hd).arg(got[j].snk);
            // RF from the analyzer: its first `pts` samples laid onto the scope
            // window; with the first family's sweep from -0.6 s that is about
            // +100 ms (exactly only when the sweep had pts points).
            QVERIFY2(near(got[j].rf, scopeRf ? g.sourceToRfMs : g.analyzerApparentRfMs, tol), qPrintable(where));
            if (osTyp == 0 && !scopeRf)
                QVERIFY2(std::abs(got[j].rf - (g.sourceToRfMs + 100.0)) < 0.5, qPrintable(where));
            QVERIFY2(near(got[j].snk, sinkTruthMs(g), tol), qPrintable(where));
            QVERIFY2(hdmi ? near(got[j].hd, g.sourceToHdmiMs, tol) : got[j].hd == 0.0, qPrintable(where));
        }
        QVERIFY(got[0].snk != got[1].snk || got[1].snk != got[2].snk);  // a noisy series
        QMap<QRgb, int> ink;  // the dialog shows the three traces and the markers
        for (int y = 0; y < modals.graph.height(); ++y)
            for (int x = 0; x < modals.graph.width(); ++x)
                ++ink[modals.graph.pixel(x, y)];
        for (QRgb c : {qRgb(0, 0, 255), qRgb(255, 255, 0), qRgb(255, 0, 0), qRgb(0, 0, 0)})
            QVERIFY2(ink.value(c) > 200, qPrintable(QString("colour %1: %2").arg(c, 0, 16).arg(ink.value(c))));
        QCOMPARE(pts, int(truth.back().points));
        const std::vector<qb::LogEntry> log = rig.bench.log(qb::Instrument::Oscilloscope);
        QVERIFY(std::all_of(log.begin(), log.end(), [&](const qb::LogEntry& e) {
            return (e.transport == qb::Transport::HiSlip) == hislip;
        }));
        QCOMPARE(rig.last(qb::Instrument::Oscilloscope), QString(osTyp == 0 ? "RUNC;*OPC?\n" : "RUN;*OPC?\n"));
        QCOMPARE(rig.last(qb::Instrument::SpectrumAnalyzer), QString("INIT:CONT ON;*OPC?\n"));
    }

    void startLevelRepeatsThenBound()
    {
        qb::Options opt = qb::testOptions();
        qb::Fault f;
        f.kind = qb::FaultKind::StartLevelOutside;
        f.count = 3;
        opt.faults.push_back(f);
        Rig rig(opt);
        QVERIFY(rig.open({1, false, false, 2}));
        {
            Modals modals;
            rig.start();
            QVERIFY(modals.messages.isEmpty());
        }
        const QVector<PassValues> got = rig.passes();
        const std::vector<qb::GroundTruth> truth = rig.countedTruth();
        QCOMPARE(got.size(), 2);
        QCOMPARE(int(truth.size()), 2);
        QCOMPARE(int(rig.bench.groundTruth().size()), 5);  // three repeated acquisitions
        for (int j = 0; j < 2; ++j)
            QVERIFY(near(got[j].snk, sinkTruthMs(truth[j]), samplePeriodMs(truth[j])));
        const auto sa = rig.bench.messages(qb::Instrument::SpectrumAnalyzer);
        QCOMPARE(std::count(sa.begin(), sa.end(), "INIT:CONT OFF;*OPC?\n"), 5L);  // armed for each

        // Out of the window for good: the bound ends the series and says so.
        f.count = 0;
        rig.bench.addFault(f);
        Modals modals;
        rig.start("5");
        QCOMPARE(modals.messages.size(), 1);
        QVERIFY2(modals.messages[0].contains("stopped after 0 of 5 passes"), qPrintable(modals.messages[0]));
        QCOMPARE(modals.graphs, 1);
        QVERIFY(rig.passes().isEmpty());
        QVERIFY(std::isnan(src2SnkMean));
        QCOMPARE(rig.last(qb::Instrument::Oscilloscope), QString("RUN;*OPC?\n"));
    }

    void saveDataWritesOneSetPerPass()
    {
        using namespace measurement;
        Rig rig;
        QVERIFY(rig.open({1, true, false, 4}));
        Modals modals;
        rig.start();
        const QString stamp = QFileInfo(rig.resultsFile()).fileName().chopped(int(strlen("Results.txt")));
        const QVector<PassValues> got = rig.passes();
        QCOMPARE(got.size(), 4);
        const QDir dir(rig.dataDir());
        QSet<QByteArray> sources;
        for (int k = 1; k <= 4; ++k) {
            QVector<double> d[3];
            int cnt[3] = {};
            const Trace kinds[3] = {Trace::Source, Trace::Rf, Trace::Sink};
            for (int i = 0; i < 3; ++i) {
                QCOMPARE(readTraceFile(dir.filePath(traceFileName(stamp, k, kinds[i])), &d[i], &cnt[i]),
                         LoadOutcome::Ok);
                QCOMPARE(cnt[i], pts);
            }
            // Set k holds pass k: its traces give that pass's delays.
            QVector<double> t;
            buildTimeAxis(1, cnt[0], &t);
            const PassDelays r = computeDelays(1, cnt[0], d[0], d[1], d[2], t);
            QVERIFY(near(r.src2Snk, got[k - 1].snk, 1e-9));
            QVERIFY(near(r.src2Rf, got[k - 1].rf, 1e-9));
            sources << QByteArray(reinterpret_cast<const char*>(d[0].constData()), 8 * d[0].size());
        }
        QCOMPARE(sources.size(), 4);  // four distinct sets
        QVERIFY(!QFile::exists(dir.filePath(traceFileName(stamp, 5, Trace::Source))));
        QVERIFY(dir.entryList({".series-*"}, QDir::Dirs | QDir::Hidden).isEmpty());  // no private folder left
    }

    void cancelInTheMiddle()
    {
        Rig rig;
        QVERIFY(rig.open({0, false, false, 200}));
        Modals modals;
        modals.cancelAt = 3;
        rig.start();
        QVERIFY(modals.cancelledAt >= 3);
        QCOMPARE(modals.graphs, 1);
        const QVector<PassValues> got = rig.passes();
        QVERIFY(got.size() >= 3 && got.size() < 200);
        QCOMPARE(modals.messages.size(), 1);
        QVERIFY2(modals.messages[0].contains(QString("cancelled after %1 of 200 passes").arg(got.size())),
                 qPrintable(modals.messages[0]));
        double sum = 0;
        for (const PassValues& p : got)
            sum += p.snk;
        QVERIFY(near(src2SnkMean, sum / got.size(), 1e-3));
        QCOMPARE(rig.last(qb::Instrument::Oscilloscope), QString("RUNC;*OPC?\n"));
        QCOMPARE(rig.last(qb::Instrument::SpectrumAnalyzer), QString("INIT:CONT ON;*OPC?\n"));
    }

    // The per-pass record beside the results file: a failed acquisition (a
    // sink block cut short, the pass repeated), a pass without a sink edge,
    // HDMI on and off. Python's csv module reads it back and finds the
    // results file's values; the edge times are the delays' own.
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
        QVERIFY(rig.open({0, false, hdmi, 5}));
        Modals modals;
        rig.start();
        const QString results = rig.resultsFile();
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
            QCOMPARE(std::isnan(r.src2Hd), !hdmi);
            if (std::isnan(r.tsnk)) {
                ++noEdge;
                QVERIFY(std::isnan(r.src2Snk));
            } else {
                QCOMPARE(r.src2Snk, (r.tsnk - r.tsrc) * 1000.0);
            }
            QCOMPARE(r.src2Rf, (r.trf - r.tsrc) * 1000.0);
        }
        QCOMPARE(failed, 1);
        QCOMPARE(rec.rows[1].failedAcquisitions, 1);  // the repeated second pass
        QCOMPARE(noEdge, 1);
    }

    void refusedCountRunsNothing()
    {
        Rig rig;
        QVERIFY(rig.open({}));
        Modals modals;
        rig.start(QString::number(measurement::kMaxPasses + 1));
        QCOMPARE(modals.messages.size(), 1);
        QVERIFY(modals.messages[0].contains("too large"));
        QCOMPARE(modals.graphs, 0);
        QVERIFY(rig.bench.messages(qb::Instrument::Oscilloscope).empty());
    }

    void unwritableDataFolder()
    {
        // Tests run as root: a folder below a regular file is what cannot be written.
        const QByteArray saved = qgetenv("XDG_DATA_HOME");
        QTemporaryDir tmp;
        QFile plain(tmp.filePath("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        qputenv("XDG_DATA_HOME", QFile::encodeName(tmp.filePath("plain/data")));
        Rig rig;
        const bool ready = rig.open({0, false, false, 2});
        Modals modals;
        if (ready)
            rig.start();
        const QString folder = QDir::toNativeSeparators(rig.dataDir());
        rig.w.reset();
        qputenv("XDG_DATA_HOME", saved);
        QVERIFY(ready);
        QCOMPARE(modals.messages.size(), 1);
        QVERIFY2(modals.messages[0].contains("could not be written in the folder " + folder),
                 qPrintable(modals.messages[0]));
        QCOMPARE(modals.graphs, 1);
        QVERIFY(std::isfinite(src2SnkMean));  // the series itself ran
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    MeasE2E t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_meas_e2e.moc"
