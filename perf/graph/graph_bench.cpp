// Time from constructing the result dialog to its first paint, and the
// resident memory it adds, with three traces of 20,000 and of 10,000,000
// points. Prints figures; asserts nothing.
//
//   quarnel_graph_bench [--runs N] [--points N ...]
//   quarnel_graph_bench --screenshot FILE   (demo picture, 20,000 points)
#include "globals.h"
#include "graph.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>

#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Resident set and its peak, in bytes, from /proc/self/status.
struct Rss
{
    double now = 0;
    double peak = 0;
};

Rss readRss()
{
    Rss r;
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return r;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() < 2)
            continue;
        if (parts[0] == "VmRSS:")
            r.now = parts[1].toDouble() * 1024;
        else if (parts[0] == "VmHWM:")
            r.peak = parts[1].toDouble() * 1024;
    }
    return r;
}

// Lets VmHWM start again from the current resident set.
void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

// A pass like the bench gives one: the source screen's light step, the RF
// envelope (normalised 0..0.2) that turns into packet bursts, the sink
// screen's step with refresh ripple; noise from a small LCG so that 10M
// points fill quickly.
void fillDemoSeries(int n)
{
    t.resize(n);
    d1.resize(n);
    d2.resize(n);
    d3.resize(n);
    tsrc = -0.2134;
    trf = -0.1517;
    tsnk = 0.0342;
    quint32 seed = 12345;
    auto noise = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) / double(1 << 24) - 0.5;
    };
    for (int i = 0; i < n; ++i) {
        const double ti = -0.5 + double(i) / (n - 1);
        t[i] = ti;
        d1[i] = (ti >= tsrc ? 0.34 : 0.03) + 0.01 * noise();
        const bool burst = ti >= trf && std::fmod((ti - trf) * 400.0, 1.0) < 0.55;
        d2[i] = burst ? 0.2 * (0.7 + 0.3 * std::sin(ti * 90.0)) + 0.01 * noise() : 0.012 + 0.006 * noise();
        d3[i] = (ti >= tsnk ? 0.27 + 0.02 * std::sin(ti * 2 * M_PI * 60.0) : 0.02) + 0.01 * noise();
    }
    pts = n;
    g_osTyp = 0;
    g_vaHdmi = true;
    src2RfMean = 61.734;
    src2HdMean = 183.412;
    src2SnkMean = 247.588;
}

class PaintWatch : public QObject
{
public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

double cpuMs()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct Run
{
    double ms;
    double cpu;         // process CPU time, ms: what is left when other jobs share the cores
    double rssGrowth;   // bytes, resident after first paint minus before
    double peakGrowth;  // bytes, highest resident during opening minus before
};

Run openOnce()
{
    malloc_trim(0);
    const Rss before = readRss();
    resetPeak();

    QElapsedTimer clock;
    const double cpu0 = cpuMs();
    clock.start();
    auto* g = new Graph;
    PaintWatch watch;
    QwtPlot* plt = g->findChild<QwtPlot*>(QStringLiteral("plt"));
    plt->canvas()->installEventFilter(&watch);
    g->show();
    while (!watch.painted)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double ms = clock.nsecsElapsed() / 1e6;
    const double cpu = cpuMs() - cpu0;

    const Rss after = readRss();
    plt->canvas()->removeEventFilter(&watch);
    delete g;
    QCoreApplication::processEvents();
    return {ms, cpu, after.now - before.now, std::max(after.peak, after.now) - before.now};
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int screenshot(const char* file)
{
    fillDemoSeries(20000);
    Graph g;
    g.show();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const QPixmap shot = g.grab();
    if (!shot.save(QString::fromLocal8Bit(file), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", file);
        return 1;
    }
    std::printf("wrote %s (%dx%d)\n", file, shot.width(), shot.height());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    int runs = 5;
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--screenshot") && i + 1 < argc)
            return screenshot(argv[i + 1]);
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--points") && i + 1 < argc)
            sizes.push_back(std::max(2, std::atoi(argv[++i])));
    }
    if (sizes.empty())
        sizes = {20000, 10000000};

    // The dialog itself (widgets, window and canvas pixel buffers) costs the
    // same with any trace length: measure it with empty traces.
    fillDemoSeries(0);
    openOnce();
    std::vector<double> emptyGrowth;
    for (int r = 0; r < runs; ++r)
        emptyGrowth.push_back(openOnce().rssGrowth);
    const double fixed = median(emptyGrowth);

    std::printf("Graph dialog: construction to first paint, three traces (median of %d runs)\n", runs);
    std::printf("dialog with empty traces: RSS +%.2f MB\n", fixed / 1e6);
    std::printf("%10s %9s %8s %8s %9s %11s %9s %9s %10s\n", "points", "wall ms", "min ms", "max ms", "cpu ms",
                "samples MB", "RSS +MB", "RSS/samp", "beyond/samp");
    for (int n : sizes) {
        fillDemoSeries(n);
        openOnce();  // warm-up: fonts, styles, plugins
        std::vector<double> ms, cpu, growth, peak;
        for (int r = 0; r < runs; ++r) {
            const Run run = openOnce();
            ms.push_back(run.ms);
            cpu.push_back(run.cpu);
            growth.push_back(run.rssGrowth);
            peak.push_back(run.peakGrowth);
        }
        // What the curves hold: x and y of three curves, 8 bytes each. The
        // vectors are implicitly shared with the program-wide ones, so they
        // cost nothing new unless something detaches them.
        const double held = 3.0 * 2.0 * n * sizeof(double);
        const double rss = median(growth);
        std::printf("%10d %9.1f %8.1f %8.1f %9.1f %11.1f %9.2f %9.4f %10.4f\n", n, median(ms),
                    *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()), median(cpu),
                    held / 1e6, rss / 1e6, rss / held, std::max(0.0, rss - fixed) / held);
        std::printf("%10s peak RSS while opening: +%.2f MB\n", "", median(peak) / 1e6);
    }
    std::printf("targets: <= 300 ms at 10,000,000 points; RSS increase <= 2x samples held\n");
    std::printf("(RSS/samp: whole increase; beyond/samp: increase beyond the empty dialog)\n");
    return 0;
}
