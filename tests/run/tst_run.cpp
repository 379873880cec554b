// quarnel-run as a script starts it: the real binary in a child process, our
// LAN VISA library, an in-process bench whose ground truth and log the rows
// check. Exit statuses, JSON against the files and the truth, cancelling by
// signal, repeated series.
#include "faultrig.h"
#include "passrecord.h"
#include "runner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <csignal>
#include <functional>

using namespace faults;
using qb::Instrument;

namespace {

struct Outcome
{
    int code = -1;
    QList<QJsonObject> passes, summaries;
    QString err;
};

QStringList instruments(const qb::Bench& b)
{
    return {"--scope", QString::fromStdString(b.resourceString(Instrument::Oscilloscope)),
            "--sa",    QString::fromStdString(b.resourceString(Instrument::SpectrumAnalyzer)),
            "--va",    QString::fromStdString(b.resourceString(Instrument::VideoAnalyzer))};
}

qb::Bench* startBench(qb::Options opt, const QString& fault = QString())
{
    qb::Fault f;
    std::string error;
    if (!fault.isEmpty() && qb::parseFault(fault.toStdString(), f, &error))
        opt.faults.push_back(f);
    auto* b = new qb::Bench(opt);
    if (!error.empty() || !b->start(&error))
        qFatal("bench: %s", error.c_str());
    return b;
}

}  // namespace

class TstRun : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp;
    int serial = 0;

    QString fresh(const QString& what) { return tmp.filePath(what + QString::number(++serial)); }

    // Runs the program to its end; `during` may act on it while it runs.
    Outcome launch(const QStringList& args, const std::function<void(QProcess&)>& during = {})
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", tmp.filePath("xdg"));
        env.insert("HOME", tmp.path());
        p.setProcessEnvironment(env);
        p.start(QUARNEL_RUN, args);
        Outcome o;
        if (!p.waitForStarted(10000))
            return o;
        if (during)
            during(p);
        if (p.state() != QProcess::NotRunning && !p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            return o;
        }
        o.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        o.err = QString::fromUtf8(p.readAllStandardError());
        for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
            const QJsonObject j = QJsonDocument::fromJson(line).object();
            (j["type"] == "pass" ? o.passes : o.summaries) << j;
        }
        o.summaries.removeAll(QJsonObject());
        return o;
    }

private slots:
    void initTestCase() { QVERIFY(tmp.isValid()); }

    // The JSON of every pass is the results file's value and the bench's truth.
    void seriesMatchesFilesAndTruth_data()
    {
        QTest::addColumn<bool>("first");
        QTest::addColumn<bool>("scopeRf");
        QTest::addColumn<bool>("hdmi");
        QTest::newRow("first/analyzer/hdmi") << true << false << true;
        QTest::newRow("second/ch3/no hdmi") << false << true << false;
    }
    void seriesMatchesFilesAndTruth()
    {
        QFETCH(bool, first);
        QFETCH(bool, scopeRf);
        QFETCH(bool, hdmi);
        Watchdog dog("series", 120);
        std::unique_ptr<qb::Bench> bench(startBench(qb::testOptions()));
        const QString dir = fresh("series");
        const Outcome o =
            launch(instruments(*bench) << "--count"
                                       << "3"
                                       << "--json"
                                       << "--data-dir" << dir << "--save"
                                       << "on"
                                       << "--family" << (first ? "first" : "second") << "--rf"
                                       << (scopeRf ? "scope" : "analyzer") << "--hdmi" << (hdmi ? "on" : "off"));
        QVERIFY2(o.code == 0, qPrintable(o.err));
        QCOMPARE(o.passes.size(), 3);
        QCOMPARE(o.summaries.size(), 1);
        const QJsonObject s = o.summaries[0];
        QCOMPARE(s["counted"].toInt(), 3);
        QVector<double> rf, hd, snk;
        QVERIFY(readResults(s["results_file"].toString(), &rf, &hd, &snk));
        QCOMPARE(QDir(dir).entryList({s["stamp"].toString() + "*.bin"}, QDir::Files).size(), 9);
        measurement::PassRecordFile record;
        QCOMPARE(measurement::readPassRecord(s["record_file"].toString(), &record), measurement::RecordRead::Ok);
        QCOMPARE(record.rows.size(), 3);
        QCOMPARE(record.headerValue("oscilloscope_resource"), instruments(*bench)[1]);
        const std::vector<qb::GroundTruth> truth = countedTruth(*bench, 0);
        QVERIFY(truth.size() >= 3);
        double sum = 0;
        for (int j = 0; j < 3; ++j) {
            const QJsonObject p = o.passes[j];
            const qb::GroundTruth& g = truth[truth.size() - 3 + size_t(j)];
            const double tol = samplePeriodMs(g);
            QCOMPARE(p["pass"].toInt(), j + 1);
            QVERIFY(near(p["src2rf_ms"].toDouble(), rf[j], 0) && near(p["src2snk_ms"].toDouble(), snk[j], 0));
            QCOMPARE(p["src2snk_ms"].toDouble(), record.rows[j].src2Snk);  // exactly: both shortest round-trip
            QVERIFY(near(p["src2rf_ms"].toDouble(), scopeRf ? g.sourceToRfMs : g.analyzerApparentRfMs, tol));
            QVERIFY(near(p["src2snk_ms"].toDouble(), expectedSinkMs(g), tol));
            QVERIFY(hdmi ? near(p["src2hd"].toDouble(), hd[j], 0) && near(hd[j], g.sourceToHdmiMs, tol)
                         : p["src2hd"].isNull() && hd[j] == 0.0);
            sum += p["src2snk_ms"].toDouble();
        }
        QCOMPARE(s["src2snk_ms"].toObject()["mean"].toDouble(), sum / 3);
        QCOMPARE(s["src2hd"].isNull(), !hdmi);
        // A run never writes the program's settings file.
        QVERIFY(!QFile::exists(tmp.filePath("xdg/Tervane/quarnel/quarnel.cfg")));
    }

    void exitStatus_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        const QString corrupt = tmp.filePath("corrupt.cfg"), badNumber = tmp.filePath("bad.cfg");
        QFile c(corrupt), b(badNumber), file(tmp.filePath("plain-file"));
        QVERIFY(c.open(QIODevice::WriteOnly) && b.open(QIODevice::WriteOnly) && file.open(QIODevice::WriteOnly));
        c.write("[Oscilloscope]\nType=0\n\x01\xff\xfe garbage\n");
        b.write("[Oscilloscope]\nTrigger Level=0.0x3\n");
        QTest::newRow("init fails at a step") << QStringList{"--family", "first"} << "scope:drop:match=TIM:RANG 1.0"
                                              << 1 << "oscilloscope Init failed at \"TIM:RANG 1.0;*OPC?\"";
        QTest::newRow("instruments keep failing")
            << QStringList{"--count", "5"} << "scope:drop:count=0:match=CHAN1:DATA?" << 1
            << "stopped after 0 of 5 passes";
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << "" << 2 << "unknown option --frobnicate";
        QTest::newRow("count too large") << QStringList{"--count", "100001"} << "" << 2 << "--count \"100001\"";
        QTest::newRow("repeat too large") << QStringList{"--repeat", "100001"} << "" << 2 << "--repeat \"100001\"";
        QTest::newRow("value missing") << QStringList{"--count"} << "" << 2 << "--count needs a value";
        QTest::newRow("bad choice") << QStringList{"--family=third"} << "" << 2 << "first or second";
        QTest::newRow("corrupt settings") << QStringList{"--config", corrupt} << "" << 2 << "not UTF-8 text";
        QTest::newRow("bad number in settings")
            << QStringList{"--config", badNumber} << "" << 2 << "Trigger Level \"0.0x3\" is not a finite number";
        QTest::newRow("no settings file")
            << QStringList{"--config", tmp.filePath("none.cfg")} << "" << 2 << "cannot be read";
        QTest::newRow("data folder impossible")
            << QStringList{"--data-dir", file.fileName() + "/sub", "--save", "on"} << "" << 4 << "cannot be created";
    }
    void exitStatus()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, fault);
        QFETCH(int, status);
        QFETCH(QString, says);
        Watchdog dog("exitStatus", 120);
        std::unique_ptr<qb::Bench> bench(startBench(qb::testOptions(), fault));
        const Outcome o = launch(instruments(*bench) << "--save"
                                                     << "off" << args);
        QCOMPARE(o.code, status);
        QVERIFY2(o.err.contains(says), qPrintable(o.err));
        // Refused before any instrument was touched.
        if (status == 2 || status == 4)
            QVERIFY(bench->log(Instrument::Oscilloscope).empty());
    }

    // Files that could not be written give status 4, before cancelled and
    // after the instruments; the summary counts only the trace files written.
    void filesFailed()
    {
        using measurement::SeriesEnd;
        const struct
        {
            SeriesEnd end;
            bool record;
            int traces;
            int status;
        } rows[] = {
            {SeriesEnd::Completed, true, 0, 4}, {SeriesEnd::Cancelled, false, 2, 4}, {SeriesEnd::Aborted, true, 0, 1}};
        for (const auto& row : rows) {
            measurement::SeriesResult r;
            r.end = row.end;
            r.saveData = true;
            r.counted = 3;
            r.recordFailed = row.record;
            r.traceFilesFailed = row.traces;
            const QJsonObject s = QJsonDocument::fromJson(run::summaryJson(1, r, false)).object();
            QCOMPARE(s["status"].toInt(), row.status);
            QCOMPARE(s["trace_files"].toInt(), 9 - row.traces);
            QCOMPARE(s["trace_files_failed"].toInt(), row.traces);
        }
    }

    // A signal is Cancel: the pass under way is dropped, the closing
    // commands go out, the counted passes' files are written. A second
    // signal ends the program at once, even during an instrument's time-out.
    void cancelBySignal_data()
    {
        QTest::addColumn<bool>("twice");
        QTest::newRow("once") << false;
        QTest::newRow("twice") << true;
    }
    void cancelBySignal()
    {
        QFETCH(bool, twice);
        Watchdog dog("cancelBySignal", 120);
        qb::Options opt = qb::testOptions();
        opt.realTime = !twice;  // a pass takes a second: the signal falls inside one
        std::unique_ptr<qb::Bench> bench(startBench(opt, twice ? "scope:noreply:skip=1:match=CHAN2:DATA?" : ""));
        const QString dir = fresh("signal");
        qint64 afterSecond = -1;
        size_t sentBefore = 0;
        const Outcome o =
            launch(instruments(*bench) << "--count"
                                       << "50"
                                       << "--json"
                                       << "--quiet"
                                       << "--family"
                                       << "first"
                                       << "--hdmi"
                                       << "off"
                                       << "--save"
                                       << "on"
                                       << "--data-dir" << dir,
                   [&](QProcess& p) {
                       QElapsedTimer clock;
                       clock.start();
                       // Two passes counted (or the second hanging in its read).
                       auto ready = [&] {
                           return twice
                                      ? occurrences(bench->messages(Instrument::Oscilloscope), 1000, "CHAN2:DATA?") >= 2
                                      : p.peek(1 << 20).count('\n') >= 2;
                       };
                       while (!ready() && clock.elapsed() < 60000)
                           p.waitForReadyRead(20);
                       sentBefore = bench->messages(Instrument::Oscilloscope).size();
                       ::kill(pid_t(p.processId()), SIGINT);
                       if (twice) {
                           QTest::qWait(300);
                           clock.restart();
                           ::kill(pid_t(p.processId()), SIGTERM);
                           p.waitForFinished(10000);
                           afterSecond = clock.elapsed();
                       }
                   });
        QCOMPARE(o.code, 3);
        if (twice) {
            QVERIFY2(afterSecond < 2000, qPrintable(QString::number(afterSecond)));  // the read waits 5 s
            return;
        }
        const int k = o.passes.size();
        QVERIFY(k >= 2 && k < 50);
        QCOMPARE(o.summaries.size(), 1);
        QCOMPARE(o.summaries[0]["end"].toString(), QString("cancelled"));
        QVector<double> rf, hd, snk;
        QVERIFY(readResults(o.summaries[0]["results_file"].toString(), &rf, &hd, &snk));
        QCOMPARE(snk.size(), k);
        QCOMPARE(QDir(dir).entryList({"*.bin"}, QDir::Files).size(), 3 * k);
        const std::vector<std::string> os = bench->messages(Instrument::Oscilloscope);
        QCOMPARE(os.back(), std::string("RUNC;*OPC?\n"));
        QVERIFY(os.size() > sentBefore);
        QCOMPARE(bench->messages(Instrument::SpectrumAnalyzer).back(), std::string("INIT:CONT ON;*OPC?\n"));
    }

    void repeatGivesOwnFiles()
    {
        Watchdog dog("repeat", 120);
        std::unique_ptr<qb::Bench> bench(startBench(qb::testOptions()));
        const QString dir = fresh("repeat");
        const Outcome o = launch(instruments(*bench) << "--count"
                                                     << "2"
                                                     << "--repeat"
                                                     << "3"
                                                     << "--json"
                                                     << "--quiet"
                                                     << "--save"
                                                     << "on"
                                                     << "--data-dir" << dir);
        QVERIFY2(o.code == 0, qPrintable(o.err));
        QCOMPARE(o.passes.size(), 6);
        QCOMPARE(o.summaries.size(), 3);
        QSet<QString> stamps;
        for (const QJsonObject& s : o.summaries)
            stamps << s["stamp"].toString();
        QCOMPARE(stamps.size(), 3);
        QCOMPARE(QDir(dir).entryList({"*Results.txt"}, QDir::Files).size(), 3);
        QCOMPARE(QDir(dir).entryList({"*.bin"}, QDir::Files).size(), 18);
    }
};

int main(int argc, char** argv)
{
    prepareProcess();
    QCoreApplication app(argc, argv);
    TstRun t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_run.moc"
