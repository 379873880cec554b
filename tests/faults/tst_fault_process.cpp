// Fault matrix, whole program: the real `quarnel` binary in child processes
// (offscreen, private data folder), worked through its window by the
// preloaded operator stand-in (driver.cpp): two instances measuring at once
// on one data folder, and a process killed mid-series.
//
// Every row: the processes end normally (exit code 0; under the sanitizer
// build that includes the leak check), the series ran and its files are
// whole, files written before stay intact, the settings are saved on Cancel.
#include "faultrig.h"
#include "passrecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cmath>

using namespace faults;
using qb::Instrument;

namespace {

QMap<QString, QStringList> readReport(const QString& path)
{
    QMap<QString, QStringList> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QString& line : QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts))
        out[line.section('=', 0, 0)] << line.section('=', 1);
    return out;
}

// What the program's data folder is under a given XDG_DATA_HOME.
QString programDataDir(const QString& xdgDataHome)
{
    return xdgDataHome + "/Tervane/quarnel";
}

// A results file from an earlier day, which no row may touch.
QString plantEarlierResults(const QString& dir)
{
    const QString path = QDir(dir).filePath("2015-09-30_14-05-09_Results.txt");
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write("Source2RF Delay: 25\nSource2RF Mean: 25\nSource2HD Delay: 55\nSource2HD Mean: 55\n"
                "Source2Snk Delay: 95\nSource2Snk Mean: 95");
    return path;
}

struct Child
{
    std::unique_ptr<QProcess> process;
    QString report;
};

// The series in `file` is the one measured on `bench`.
bool measuredOn(const QString& file, const qb::Bench& bench, int passes)
{
    QVector<double> rf, hd, snk;
    if (!readResults(file, &rf, &hd, &snk) || snk.size() != passes)
        return false;
    const std::vector<qb::GroundTruth> truth = countedTruth(bench, 0);
    if (int(truth.size()) < passes)
        return false;
    for (int j = 0; j < passes; ++j) {
        const qb::GroundTruth& g = truth[truth.size() - size_t(passes) + size_t(j)];
        if (!near(snk[j], expectedSinkMs(g), samplePeriodMs(g)) || !near(hd[j], g.sourceToHdmiMs, samplePeriodMs(g)))
            return false;
    }
    return true;
}

}  // namespace

class TstFaultProcess : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp;

    // The program in a child process, environment private to the test.
    Child launch(const qb::Bench& bench, const QString& xdgDataHome, const QString& tmpDir, const QString& tag,
                 const QString& trgLvl, const QString& barrier, const QString& workDir, int passes = 3)
    {
        Child c;
        c.report = tmp.filePath("report-" + tag);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", xdgDataHome);
        env.insert("TMPDIR", tmpDir);
        const QString runtime = tmp.filePath("run-" + tag);
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QFD_OS", QString::fromStdString(bench.resourceString(Instrument::Oscilloscope)));
        env.insert("QFD_SA", QString::fromStdString(bench.resourceString(Instrument::SpectrumAnalyzer)));
        env.insert("QFD_VA", QString::fromStdString(bench.resourceString(Instrument::VideoAnalyzer)));
        env.insert("QFD_PASSES", QString::number(passes));
        env.insert("QFD_TRGLVL", trgLvl);
        env.insert("QFD_REPORT", c.report);
        if (!barrier.isEmpty())
            env.insert("QFD_BARRIER", barrier);
        // The preloaded driver precedes the sanitizer runtime in the load order.
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + (env.value("ASAN_OPTIONS").isEmpty() ? "" : ":")
                                       + "verify_asan_link_order=0");
        c.process.reset(new QProcess);
        c.process->setProcessEnvironment(env);
        c.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        c.process->setStandardOutputFile(QProcess::nullDevice());
        c.process->setWorkingDirectory(workDir);
        c.process->start("sh", {"-c", "exec env LD_PRELOAD=\"$2\" \"$1\"", "sh", QUARNEL_PROGRAM, QUARNEL_DRIVER});
        return c;
    }

    static void finish(Child& c, int seconds)
    {
        if (!c.process->waitForFinished(seconds * 1000)) {
            c.process->kill();
            c.process->waitForFinished(5000);
            QFAIL("the program did not end");
        }
        QCOMPARE(c.process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(c.process->exitCode(), 0);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        QVERIFY(QFile::exists(QUARNEL_PROGRAM));
        QVERIFY(QFile::exists(QUARNEL_DRIVER));
    }

    // Two instances on one data folder measure at the same moment, each on
    // its own bench: both series keep their files, a file written earlier
    // stays, and the settings file is whole.
    void twoInstances()
    {
        Watchdog dog("twoInstances", 240);
        qb::Bench a(qb::testOptions()), b(qb::testOptions());
        std::string err;
        QVERIFY2(a.start(&err), err.c_str());
        QVERIFY2(b.start(&err), err.c_str());
        const QString data = tmp.filePath("two-data"), temp = tmp.filePath("two-tmp");
        const QString barrier = tmp.filePath("two-barrier"), work = tmp.filePath("two-work");
        for (const QString& d : {programDataDir(data), temp, barrier, work})
            QVERIFY(QDir().mkpath(d));
        const QDir dataDir(programDataDir(data));
        const QString earlier = plantEarlierResults(dataDir.path());
        const QByteArray earlierHash = sha1(earlier);

        Child ca = launch(a, data, temp, "a", "0.021", barrier, work);
        Child cb = launch(b, data, temp, "b", "0.022", barrier, work);
        // Both set up and waiting: let them start their series together.
        QElapsedTimer clock;
        clock.start();
        while (QDir(barrier).entryList({"ready-*"}, QDir::Files).size() < 2 && clock.elapsed() < 120000
               && ca.process->state() == QProcess::Running && cb.process->state() == QProcess::Running)
            QThread::msleep(10);
        QFile go(QDir(barrier).filePath("go"));
        QVERIFY(go.open(QIODevice::WriteOnly));
        go.close();
        finish(ca, 120);
        finish(cb, 120);
        if (QTest::currentTestFailed())
            return;

        for (const Child* c : {&ca, &cb}) {
            const QMap<QString, QStringList> r = readReport(c->report);
            QCOMPARE(r.value("start"), QStringList{"enabled"});
            QCOMPARE(r.value("graphs"), QStringList{"1"});
            QVERIFY2(r.value("message").isEmpty(), qPrintable(r.value("message").join(" | ")));
        }
        QCOMPARE(sha1(earlier), earlierHash);
        QStringList results = dataDir.entryList({"*Results.txt"}, QDir::Files);
        results.removeAll(QFileInfo(earlier).fileName());
        QCOMPARE(results.size(), 2);
        QCOMPARE(dataDir.entryList({"*.bin"}, QDir::Files).size(), 18);
        // Each series is in a file of its own, as measured on its bench.
        const QString r0 = dataDir.filePath(results[0]), r1 = dataDir.filePath(results[1]);
        QVERIFY((measuredOn(r0, a, 3) && measuredOn(r1, b, 3)) || (measuredOn(r0, b, 3) && measuredOn(r1, a, 3)));
        // The settings file holds one instance's settings, whole.
        QSettings s(dataDir.filePath("quarnel.cfg"), QSettings::IniFormat);
        QCOMPARE(s.status(), QSettings::NoError);
        const double level = s.value("Oscilloscope/Trigger Level").toDouble();
        const QString os = s.value("Oscilloscope/IP Address").toString();
        const QString osA = QString::fromStdString(a.resourceString(Instrument::Oscilloscope));
        const QString osB = QString::fromStdString(b.resourceString(Instrument::Oscilloscope));
        QVERIFY2((level == 0.021 && os == osA) || (level == 0.022 && os == osB),
                 qPrintable(QString("%1 %2").arg(level).arg(os)));
        QCOMPARE(s.allKeys().size(), 13);
        QVERIFY(QDir(temp).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }

    // Killed mid-series (SIGKILL, nothing of the program runs any more): the
    // per-pass record holds every pass that had ended, each as measured.
    void killedMidSeries()
    {
        Watchdog dog("killedMidSeries", 180);
        qb::Bench bench(qb::testOptions());
        std::string err;
        QVERIFY2(bench.start(&err), err.c_str());
        const QString data = tmp.filePath("kill-data"), temp = tmp.filePath("kill-tmp"),
                      work = tmp.filePath("kill-work");
        for (const QString& d : {programDataDir(data), temp, work})
            QVERIFY(QDir().mkpath(d));
        const QDir dataDir(programDataDir(data));
        Child c = launch(bench, data, temp, "kill", "0.023", QString(), work, 100000);
        QVERIFY(c.process->waitForStarted(10000));

        // Kill once a few passes are on record.
        QElapsedTimer clock;
        clock.start();
        QString record;
        while (clock.elapsed() < 120000 && c.process->state() == QProcess::Running) {
            const QStringList found = dataDir.entryList({"*_Passes.csv"}, QDir::Files);
            if (!found.isEmpty()) {
                record = dataDir.filePath(found[0]);
                QFile f(record);
                if (f.open(QIODevice::ReadOnly) && f.readAll().count('\n') > 30)
                    break;
            }
            QThread::msleep(5);
        }
        QVERIFY2(!record.isEmpty(), "no per-pass record appeared");
        c.process->kill();
        QVERIFY(c.process->waitForFinished(10000));
        QCOMPARE(c.process->exitStatus(), QProcess::CrashExit);
        const size_t acquisitions = countedTruth(bench, 0).size();

        measurement::PassRecordFile rec;
        QString why;
        QCOMPARE(measurement::readPassRecord(record, &rec, &why), measurement::RecordRead::Ok);
        QVERIFY(rec.columns && rec.badLines == 0 && !rec.hasOutlierDecision());
        QCOMPARE(rec.headerValue("passes"), QString("100000"));
        // Every acquisition but the one in flight ended as a row.
        const int rows = rec.rows.size();
        qInfo("killed with %d passes on record, %zu acquisitions", rows, acquisitions);
        QVERIFY2(rows >= 10 && size_t(rows) + 1 >= acquisitions && size_t(rows) <= acquisitions,
                 qPrintable(QString("%1 rows, %2 acquisitions").arg(rows).arg(acquisitions)));
        const std::vector<qb::GroundTruth> truth = countedTruth(bench, 0);
        for (int j = 0; j < rows; ++j) {
            QCOMPARE(rec.rows[j].pass, j + 1);
            QVERIFY2(near(rec.rows[j].src2Snk, expectedSinkMs(truth[j]), samplePeriodMs(truth[j])),
                     qPrintable(QString("pass %1").arg(j + 1)));
        }
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TstFaultProcess t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_fault_process.moc"
