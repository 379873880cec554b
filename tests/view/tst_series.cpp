// The series viewer on series the real program wrote against the simulated
// bench: listing, statistics and exports against values computed here, the
// re-analysis against the stored delays and the bench's onsets, old-format
// and damaged series, the command line without a display, the windows.
#include "commandline.h"
#include "exporting.h"
#include "faultrig.h"
#include "globals.h"
#include "graph.h"
#include "passview.h"
#include "plotnavigation.h"
#include "reanalysis.h"
#include "stats.h"
#include "viewersettings.h"
#include "viewerwindow.h"
#include "visabinding.h"

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTableWidget>
#include <QtTest>
#include <qwt_plot.h>

#include <algorithm>
#include <cmath>

using namespace faults;
using namespace view;

namespace {

struct Written
{
    QString stamp;
    QVector<double> values[kDelays];  // from the per-pass record, read here
    std::vector<qb::GroundTruth> truth;
};

// The delays of a per-pass record, read here with nothing but a split.
void readRecord(const QString& path, QVector<double> values[kDelays])
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("no per-pass record %s", qPrintable(path));
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> cols = line.split(',');
        if (line.startsWith('#') || line.startsWith("pass,") || cols.size() < 5)
            continue;
        for (int d = 0; d < kDelays; ++d)
            values[d] << (cols[2 + d].isEmpty() ? std::nan("") : cols[2 + d].toDouble());
    }
}

// One series with Save Data by the real window against a fresh bench.
Written runProgram(const qb::Options& opt, const WindowConfig& c)
{
    Rig rig(opt);
    rig.openWindow(c);
    if (!rig.initAll())
        qFatal("instruments not ready");
    const SeriesOutcome o = rig.runSeries();
    Written w{o.stamp, {}, countedTruth(rig.bench(), 0)};
    readRecord(dataDir() + "/" + o.stamp + "Passes.csv", w.values);
    for (int i = 0; i < w.values[SrcRf].size(); ++i)  // the results file holds the same to six digits
        if (fileNumber(w.values[SrcRf][i]) != fileNumber(o.rf.value(i))
            || fileNumber(w.values[SrcSnk][i]) != fileNumber(o.snk.value(i)))
            qFatal("results file and per-pass record differ");
    rig.cancelAndCheckSettings();
    return w;
}

Series load(const QString& folder, const QString& stamp)
{
    SeriesEntry e;
    QString error;
    Series s;
    if (!seriesFromPath(folder + "/" + stamp + "Results.txt", &e, &error) || !loadSeries(e, &s, &error))
        qFatal("%s", qPrintable(error));
    return s;
}

QString copySeries(const QString& stamp, const QString& to)
{
    QDir().mkpath(to);
    for (const QString& f : QDir(dataDir()).entryList({stamp + "*"}, QDir::Files))
        QFile::copy(dataDir() + "/" + f, to + "/" + f);
    return to;
}

struct Run
{
    int status = -1;
    QString out, err;
};

// The program itself, without a display.
Run runViewer(const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.start(QUARNEL_VIEW, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return {};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

bool same(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

}  // namespace

class SeriesTest : public QObject
{
    Q_OBJECT

    Written m_a, m_b;  // second family, RF from the analyzer; first family, RF from channel 3
    QTemporaryDir m_tmp;

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        WindowConfig c;
        c.osTyp = 1;
        c.hdmi = true;
        c.passes = 5;
        m_a = runProgram(qb::testOptions(), c);
        c.osTyp = 0;
        c.scopeRf = true;
        c.passes = 3;
        m_b = runProgram(qb::testOptions(), c);
        QVERIFY(!m_a.stamp.isEmpty() && m_b.stamp > m_a.stamp);
    }

    void listsAndSummarises()
    {
        const QVector<SeriesEntry> list = listSeries(dataDir());
        QCOMPARE(list.size(), 2);
        QCOMPARE(list[0].stamp, m_b.stamp);  // newest first
        QCOMPARE(list[1].traceSets, 5);
        const Series s = load(dataDir(), m_a.stamp);
        QVERIFY2(s.problems.isEmpty(), qPrintable(s.problems.join('\n')));
        for (int d = 0; d < kDelays; ++d) {
            QCOMPARE(s.values[d].size(), 5);
            QVector<double> v = m_a.values[d];
            const Summary sm = summarise(s.values[d], samplePeriodMs(s));
            std::sort(v.begin(), v.end());
            double sum = 0;
            for (double x : v)
                sum += x;
            QCOMPARE(sm.n, 5);
            QCOMPARE(sm.min, v.first());
            QCOMPARE(sm.max, v.last());
            QCOMPARE(sm.median, v[2]);
            QVERIFY(std::abs(sm.mean - sum / 5) < 1e-9);
        }
    }

    void exportsReadBack()
    {
        const Series s = load(dataDir(), m_a.stamp);
        QStringList rows;
        for (const QString& line : QString::fromUtf8(seriesCsv(s)).split('\n', Qt::SkipEmptyParts))
            if (!line.startsWith("# "))
                rows << line;
        QCOMPARE(rows.size(), 6);
        const QStringList head = rows[0].split(',');
        const QJsonObject json = QJsonDocument::fromJson(seriesJson(s)).object();
        const QJsonArray passes = json["passes"].toArray();
        QCOMPARE(passes.size(), 5);
        const char* keys[kDelays] = {"src2rf_ms", "src2hd", "src2snk_ms"};
        for (int d = 0; d < kDelays; ++d) {
            const int col = head.indexOf(keys[d]);
            for (int i = 0; i < 5; ++i) {
                QVERIFY(same(rows[i + 1].split(',')[col].toDouble(), m_a.values[d][i]));
                QVERIFY(same(passes[i].toObject()[keys[d]].toDouble(), m_a.values[d][i]));
            }
            double sum = 0;
            int n = 0;
            for (double v : m_a.values[d])
                if (!std::isnan(v))
                    sum += v, ++n;
            const double mean = json["statistics"].toObject()[keys[d]].toObject()["mean"].toDouble();
            QVERIFY(std::abs(mean - sum / n) < 1e-9);
        }
    }

    // The program's rules on the trace files give the stored delays, for
    // both families and both RF sources; the 50 % rule's sink delay lies at
    // the bench's onsets plus each signal's rise to half its step.
    void reanalysisReproducesStoredDelays()
    {
        for (const Written* w : {&m_a, &m_b}) {
            Series s = load(dataDir(), w->stamp);
            if (!s.familyKnown)
                s.osTyp = w == &m_a ? 1 : 0;
            QCOMPARE(s.osTyp, w == &m_a ? 1 : 0);
            const Reanalysis r = reanalyse(s);
            QCOMPARE(r.reproduced, s.passCount());
            QCOMPARE(r.analysed, s.passCount());
            const Reanalysis cancelled = reanalyse(s, [](int, int) { return false; });
            QVERIFY(cancelled.cancelled && cancelled.passes.isEmpty());
            const double ln2 = std::log(2.0);
            for (int i = 0; i < s.passCount(); ++i) {
                const qb::GroundTruth& g = w->truth[i];
                const double period = samplePeriodMs(g);
                const double want = g.sourceToSinkMs + (120e-6 - 15e-6) * ln2 * 1000;
                QVERIFY2(std::abs(r.passes[i].mid.src2Snk - want) < 2 * period,
                         qPrintable(QString("%1 vs %2").arg(r.passes[i].mid.src2Snk).arg(want)));
            }
        }
    }

    // At two source amplitudes (at many points, so that the shift shows):
    // against the bench's onsets, the fixed level moves by samples, the 50 %
    // rule stays within one.
    void midRuleIgnoresAmplitude()
    {
        double offset[2][2];  // [scale][rule]: mean edge minus onset, samples
        double period = 0;
        for (int k = 0; k < 2; ++k) {
            qb::Options opt = qb::testOptions();
            opt.scopePoints = 1000000;
            opt.sourceScale = k == 0 ? 1.0 : 0.3;
            WindowConfig c;
            c.osTyp = 1;
            c.scopeRf = true;
            c.hdmi = false;
            c.passes = 2;
            const Written w = runProgram(opt, c);
            Series s = load(dataDir(), w.stamp);
            s.osTyp = 1;
            const Reanalysis r = reanalyse(s);
            QCOMPARE(r.reproduced, 2);
            offset[k][0] = offset[k][1] = 0;
            for (int i = 0; i < 2; ++i) {
                period = w.truth[i].windowLength / (w.truth[i].points - 1);
                offset[k][0] += (r.passes[i].program.tsrc - w.truth[i].eventTime) / period / 2;
                offset[k][1] += (r.passes[i].mid.tsrc - w.truth[i].eventTime) / period / 2;
            }
            for (const QString& f : QDir(dataDir()).entryList({w.stamp + "*"}, QDir::Files))
                QFile::remove(dataDir() + "/" + f);
        }
        QVERIFY2(std::abs(offset[1][0] - offset[0][0]) > 2, qPrintable(QString::number(offset[1][0] - offset[0][0])));
        QVERIFY2(std::abs(offset[1][1] - offset[0][1]) < 1, qPrintable(QString::number(offset[1][1] - offset[0][1])));
    }

    void damagedSeries()
    {
        const QString dir = copySeries(m_a.stamp, m_tmp.path() + "/damaged");
        const QString p = dir + "/" + m_a.stamp;
        QFile sink(p + "001_snk.bin");
        QVERIFY(sink.resize(sink.size() / 2 + 3));
        QVERIFY(QFile::remove(p + "002_src.bin"));
        QFile results(p + "Results.txt");
        QVERIFY(results.open(QIODevice::ReadWrite));
        QByteArray text = results.readAll();
        const int at = text.indexOf("Source2RF Mean: ") + 16;
        text.replace(at, text.indexOf('\n', at) - at, "nan");
        QVERIFY(results.resize(0) && results.write(text) == text.size());
        results.close();
        QFile record(p + "Passes.csv");
        QVERIFY(record.open(QIODevice::ReadOnly));
        const QByteArray rows = record.readAll();
        record.close();
        QVERIFY(record.resize(rows.lastIndexOf("\n5,") + 12));  // cut inside the last row

        const Series s = load(dir, m_a.stamp);
        for (const char* says : {"Source2RF mean", "ends inside a row", "results file holds 5 passes"})
            QVERIFY2(!s.problems.filter(says).isEmpty(), qPrintable(s.problems.join('\n')));
        QVERIFY(s.familyKnown && s.osTyp == 1);
        QCOMPARE(s.passCount(), 4);
        const Reanalysis r = reanalyse(s);
        QVERIFY(!r.passes[0].problems.filter("ends inside a value").isEmpty());
        QVERIFY(!r.passes[0].problems.filter("holds").isEmpty());
        QVERIFY(!r.passes[1].analysed && !r.passes[1].problems.filter("missing").isEmpty());
        for (int i : {2, 3})  // untouched
            QVERIFY(r.passes[i].analysed && r.passes[i].problems.isEmpty());

        const Run run = runViewer({"--summary", p + "003_rf.bin", "--reanalyse"});
        QCOMPARE(run.status, int(ExitProblems));
        QVERIFY(run.out.contains("program_src2snk_ms"));
        QVERIFY2(run.err.contains("002_src.bin is missing"), qPrintable(run.err));
    }

    // Written before the per-pass record existed: results and trace files.
    void oldFormatSeries()
    {
        const QString dir = copySeries(m_a.stamp, m_tmp.path() + "/old");
        copySeries(m_b.stamp, dir);
        for (const QString& f : QDir(dir).entryList({"*Passes.csv"}))
            QVERIFY(QFile::remove(dir + "/" + f));
        Series s = load(dir, m_a.stamp);
        QVERIFY2(s.problems.isEmpty(), qPrintable(s.problems.join('\n')));
        QVERIFY(!s.familyKnown && s.storedDigits == 6);
        for (int d = 0; d < kDelays; ++d)
            for (int i = 0; i < 5; ++i)
                QCOMPARE(fileNumber(s.values[d][i]), fileNumber(m_a.values[d][i]));
        s.osTyp = 1;
        QCOMPARE(reanalyse(s).reproduced, 5);
        const Run run = runViewer({"--csv", dir + "/" + m_a.stamp + "Results.txt", "--family", "second"});
        QCOMPARE(run.status, int(ExitOk));
        QVERIFY2(run.err.contains("does not record its oscilloscope family"), qPrintable(run.err));
    }

    void commandLine()
    {
        const QString results = dataDir() + "/" + m_a.stamp + "Results.txt";
        Run run = runViewer({"--json", results, "--reanalyse", "--family", "second"});
        QCOMPARE(run.status, int(ExitOk));
        QCOMPARE(QJsonDocument::fromJson(run.out.toUtf8()).object()["reanalysis"].toObject()["reproduced"].toInt(), 5);
        run = runViewer({"--summary", results});
        QCOMPARE(run.status, int(ExitOk));
        QVERIFY2(run.out.contains("src2snk_ms"), qPrintable(run.out));
        struct Bad
        {
            QStringList args;
            int status;
            const char* says;
        } const bad[] = {
            {{"--csv", dataDir() + "/nothing_Results.txt"}, ExitProblems, "does not exist"},
            {{"--summary", dataDir()}, ExitProblems, "is a folder"},
            {{"--csv", results, "--json", results}, ExitUsage, "exactly one"},
            {{"--summary", results, "--family", "third"}, ExitUsage, "first"},
        };
        for (const Bad& b : bad) {
            run = runViewer(b.args);
            QCOMPARE(run.status, b.status);
            QVERIFY2(run.err.contains(b.says), qPrintable(run.err));
        }
    }

    // Old series ask for their family, the program's setting as the default;
    // passes step with the keyboard; zoom and Home; calibration is kept.
    void viewerWindow()
    {
        const QString programDir = m_tmp.path() + "/program";
        QDir().mkpath(programDir);
        QSettings(programDir + "/quarnel.cfg", QSettings::IniFormat).setValue("Oscilloscope/Type", 1);
        ViewerWindow w(programDir);
        int asked = -1;
        w.askFamily = [&](const Series&, int def, const QString& hint) {
            asked = def;
            return hint.contains("second") ? def : -1;
        };
        QVERIFY(w.openPath(m_tmp.path() + "/old/" + m_a.stamp + "001_src.bin"));
        QCOMPARE(w.entries().size(), 2);
        QVERIFY(w.showPass(0));
        QCOMPARE(asked, 1);
        PassView* pv = w.passView();
        QApplication::setActiveWindow(pv);
        QVERIFY(QTest::qWaitForWindowActive(pv));
        QTest::keyClick(pv, Qt::Key_Right);
        QCOMPARE(pv->currentIndex(), 1);
        QVERIFY(pv->shown().reproduced);
        graph::PlotNavigation* nav = pv->navigation();
        const QRectF home = nav->view();
        QCOMPARE(home.left(), -0.6);
        nav->zoomAbout(QPointF(0, 0), 0.01);
        QVERIFY(nav->view().width() < 0.02);
        QTest::keyClick(pv, Qt::Key_Home);
        QCOMPARE(nav->view(), home);

        QVERIFY(w.reanalyseSeries());
        QCOMPARE(w.reanalysis().reproduced, 5);
        w.findChild<QDoubleSpinBox*>("calRf")->setValue(100.0);
        QCOMPARE(readViewerSettings(viewerSettingsPath(programDir)).calibration.offsetMs[SrcRf], 100.0);
        w.findChild<QComboBox*>("compareBox")->setCurrentIndex(1);
        QCOMPARE(w.findChild<QTableWidget*>("compareTable")->rowCount(), kSummaryRows);
    }

    // The result dialog's plot zooms and comes back with Home, its scales as set up.
    void resultDialogZooms()
    {
        g_osTyp = 0;
        Graph g;
        auto* plt = g.findChild<QwtPlot*>();
        auto* nav = plt->findChild<graph::PlotNavigation*>();
        QVERIFY(nav);
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        const QRectF home = nav->view();
        QWheelEvent wheel(plt->canvas()->rect().center(), plt->canvas()->mapToGlobal(plt->canvas()->rect().center()),
                          QPoint(), QPoint(0, 480), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(plt->canvas(), &wheel);
        QVERIFY(nav->view().width() < home.width() / 2);
        QTest::keyClick(plt->canvas(), Qt::Key_Home);
        QCOMPARE(nav->view(), home);
        QVERIFY(plt->axisAutoScale(QwtPlot::yLeft));
    }
};

int main(int argc, char** argv)
{
    prepareProcess();
    QApplication app(argc, argv);
    setVisaCandidates({QStringLiteral(QUARNEL_LANVISA_PATH)});
    SeriesTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_series.moc"
