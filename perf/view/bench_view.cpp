// Figures for the series viewer (prints them; asserts nothing):
//  - opening a 10,000-pass series with trace files at 20,000 points to its
//    statistics and histogram: the plain functions, and the window;
//  - showing another pass in the pass window at 20,000 and 10,000,000 points;
//  - re-analysing every pass (both rules, progress and Cancel in place) as a
//    throughput ratio to `cat` reading the same files to /dev/null, taking
//    turns in one run.
//
// Usage: bench_view [--passes N] [folder for the series, default: system temp]
// The series are written there first with the program's own file writers
// (10,000 passes at 20,000 points are 4.8 GB) and removed at the end.
#include "delays.h"
#include "passrecord.h"
#include "passview.h"
#include "plotnavigation.h"
#include "reanalysis.h"
#include "resultfiles.h"
#include "stats.h"
#include "storedseries.h"
#include "viewerwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace view;

namespace {

double ms(const QElapsedTimer& t)
{
    return t.nsecsElapsed() / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// A pass as the bench gives one: a source step, an RF envelope normalised to
// 0..0.2 that rises some ms later, a sink step later still; noise from a
// small LCG so that large traces fill quickly.
struct PassMaker
{
    quint32 seed = 12345;
    double noise()
    {
        seed = seed * 1664525u + 1013904223u;
        return ((seed >> 8) / double(1 << 24) - 0.5) * 0.004;
    }
    void make(int n, int k, QVector<double>* d1, QVector<double>* d2, QVector<double>* d3)
    {
        d1->resize(n);
        d2->resize(n);
        d3->resize(n);
        const int src = n / 2 + (k * 37) % (n / 50);
        const int rf = src + n / 40 + (k * 13) % (n / 400 + 1);
        const int snk = src + n * 95 / 1000 + (k * 7) % (n / 200 + 1);
        for (int i = 0; i < n; ++i) {
            (*d1)[i] = 0.02 + noise() + (i >= src ? 0.25 * (1.0 - std::exp(-(i - src) / 3.0)) : 0.0);
            (*d2)[i] = 0.01 + 2.0 * noise() + (i >= rf ? 0.17 : 0.0);
            (*d3)[i] = 0.012 + noise() + (i >= snk ? 0.18 * (1.0 - std::exp(-(i - snk) / 20.0)) : 0.0);
        }
        d2->last() = 0.2;  // already normalised: min..max spans 0..0.2 closely enough
    }
};

// Writes a series with the program's file formats (trace files, per-pass
// record, results file); returns its stamp.
QString writeSeries(const QString& dir, const QString& stamp, int passes, int points)
{
    PassMaker maker;
    QVector<double> d1, d2, d3, t;
    measurement::buildTimeAxis(1, points, &t);
    QVector<double> rf, hd, snk;
    measurement::RecordHeader h;
    h.started = QDateTime::currentDateTime();
    h.osTyp = 1;
    h.passes = passes;
    QByteArray record = measurement::recordHeaderText(h) + measurement::recordPointsText(1, points);
    const measurement::Trace kinds[3] = {measurement::Trace::Source, measurement::Trace::Rf, measurement::Trace::Sink};
    for (int k = 1; k <= passes; ++k) {
        maker.make(points, k, &d1, &d2, &d3);
        const measurement::PassDelays r = measurement::computeDelays(1, points, d1, d2, d3, t);
        rf << r.src2Rf;
        hd << 55.0 + (k % 9);
        snk << r.src2Snk;
        measurement::PassRow row;
        row.pass = k;
        row.time = h.started.addMSecs(k * 100);
        row.src2Rf = rf.last();
        row.src2Hd = hd.last();
        row.src2Snk = snk.last();
        row.tsrc = r.tsrc;
        row.trf = r.trf;
        row.tsnk = r.tsnk;
        record += measurement::recordRowText(row);
        const QVector<double>* src[3] = {&d1, &d2, &d3};
        for (int i = 0; i < 3; ++i)
            if (!measurement::writeTraceFile(dir + "/" + measurement::traceFileName(stamp, k, kinds[i]), *src[i],
                                             points))
                qFatal("cannot write trace files in %s", qPrintable(dir));
    }
    measurement::RecordOutliers none;
    record += measurement::recordOutlierLine(none, 0, 0, 0);
    QFile rec(dir + "/" + measurement::passRecordFileName(stamp));
    if (!rec.open(QIODevice::WriteOnly) || rec.write(record) != record.size())
        qFatal("cannot write the per-pass record");
    QFile f(dir + "/" + measurement::resultsFileName(stamp));
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write the results file");
    f.write(measurement::resultsText(rf, measurement::meanOfDelivered(rf), hd, measurement::meanOfDelivered(hd), snk,
                                     measurement::meanOfDelivered(snk)));
    return stamp;
}

double catMs(const QString& dir, const QString& stamp)
{
    QElapsedTimer clock;
    clock.start();
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start("sh", {"-c", "find . -maxdepth 1 -name \"$0*.bin\" -print0 | xargs -0 cat > /dev/null", stamp});
    p.waitForFinished(-1);
    return ms(clock);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int passes = 10000;
    if (args.size() >= 2 && args[0] == "--passes") {
        passes = std::max(1, args[1].toInt());
        args = args.mid(2);
    }
    QTemporaryDir tmp((args.isEmpty() ? QDir::tempPath() : args[0]) + "/bench-view-XXXXXX");
    if (!tmp.isValid())
        qFatal("no folder for the series");
    const QString dir = tmp.path();
    std::printf("series viewer benchmark (files in %s)\n", qPrintable(dir));

    QElapsedTimer clock;
    clock.start();
    const QString big = writeSeries(dir, "2020-01-01_10-00-00_", passes, 20000);
    writeSeries(dir, "2020-01-01_09-00-00_", 2, 10000000);
    std::printf("  written: %d passes at 20,000 points and 2 at 10,000,000 in %.1f s\n", passes, ms(clock) / 1000);

    // Opening: the plain functions, cold caches for the folder listing aside.
    std::vector<double> open;
    for (int round = 0; round < 3; ++round) {
        clock.restart();
        SeriesEntry entry;
        QString error;
        Series s;
        if (!seriesFromPath(dir + "/" + big + "Results.txt", &entry, &error) || !loadSeries(entry, &s, &error))
            qFatal("%s", qPrintable(error));
        if (round == 0 && !s.problems.isEmpty())
            std::printf("  !! %s\n", qPrintable(s.problems.join("; ")));
        for (int d = 0; d < kDelays; ++d) {
            summarise(s.values[d], samplePeriodMs(s));
            histogram(s.values[d], samplePeriodMs(s));
        }
        open.push_back(ms(clock));
    }
    std::printf("open %d passes to statistics and histograms (functions): %.1f ms (target 1000)\n", passes,
                median(open));

    QTemporaryDir programDir;
    ViewerWindow w(programDir.path());
    w.askFamily = [](const Series&, int def, const QString&) { return def; };
    w.resize(1180, 720);
    w.show();
    std::vector<double> window;
    for (int round = 0; round < 3; ++round) {
        clock.restart();
        w.openPath(dir + "/" + big + "Results.txt");
        w.repaint();
        window.push_back(ms(clock));
        w.openPath(dir + "/2020-01-01_09-00-00_Results.txt");
    }
    std::printf("open %d passes in the window (list, table, statistics, plots, paint): %.1f ms (target 1000)\n", passes,
                median(window));

    // Showing another pass: load, both rules, curves, paint.
    for (const char* which : {"2020-01-01_10-00-00_", "2020-01-01_09-00-00_"}) {
        w.openPath(dir + "/" + which + "Results.txt");
        w.showPass(0);
        PassView* pv = w.passView();
        pv->repaint();
        std::vector<double> show;
        for (int k = 1; k <= 6; ++k) {
            clock.restart();
            pv->step(k % 2 ? +1 : -1);
            pv->repaint();
            show.push_back(ms(clock));
        }
        const int points = pv->shown().pts;
        std::printf("show another pass at %d points: %.1f ms (target %d)\n", points, median(show),
                    points > 1000000 ? 300 : 50);
        pv->close();
    }

    // Re-analysis against cat, taking turns; the first cat warms the cache.
    SeriesEntry entry;
    QString error;
    Series s;
    seriesFromPath(dir + "/" + big + "Results.txt", &entry, &error);
    loadSeries(entry, &s, &error);
    catMs(dir, big);
    std::vector<double> cats, res;
    int calls = 0;
    Reanalysis r;
    for (int round = 0; round < 3; ++round) {
        cats.push_back(catMs(dir, big));
        clock.restart();
        r = reanalyse(s, [&calls](int, int) {
            ++calls;
            QCoreApplication::processEvents();
            return true;  // where the window asks its Cancel button
        });
        res.push_back(ms(clock));
    }
    const double bytes = 3.0 * 8.0 * 20000.0 * passes;
    std::printf("re-analyse %d passes (%.2f GB): %.0f ms, cat: %.0f ms, throughput ratio %.2f (target >= 0.5); "
                "%d reproduced, %d progress calls per run\n",
                passes, bytes / 1e9, median(res), median(cats), median(cats) / median(res), r.reproduced, calls / 3);
    return 0;
}
