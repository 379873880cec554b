// Cost of the series statistics and of the live view at 100,000 passes:
// time per pass of the statistics update (three delays), of the view's
// per-pass work with its throttled drawing, and the drawing itself. Prints
// figures; asserts nothing.
//
//   quarnel_seriesview_bench [--passes N]
//   quarnel_seriesview_bench --screenshot FILE [--passes N]  (synthetic series)
#include "seriesview.h"
#include "statistics.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr double kPeriodMs = 1000.0 / 19999.0;  // 20,000 points over 1 s

// Delays as the bench gives them: whole sample periods around a mean with
// normal jitter, now and then a dropped frame, and missing values.
struct Synthetic
{
    std::mt19937 rng{2024};
    std::normal_distribution<double> rf{81.5, 1.2}, hd{40.0, 3.0}, snk{102.9, 4.0};
    std::uniform_real_distribution<double> u{0.0, 1.0};

    static double onLattice(double ms) { return std::round(ms / kPeriodMs) * kPeriodMs; }
    void next(double* a, double* b, double* c)
    {
        *a = u(rng) < 0.002 ? std::nan("") : onLattice(rf(rng));
        *b = hd(rng);
        *c = onLattice(snk(rng) + (u(rng) < 0.003 ? 16.7 : 0.0));
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    int passes = 100000;
    const char* shot = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--passes") && i + 1 < argc)
            passes = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--screenshot") && i + 1 < argc)
            shot = argv[++i];
    }
    QApplication app(argc, argv);

    // 1. The statistics alone: three accumulators, one value each per pass.
    {
        Synthetic s;
        measurement::DelayStats st[3];
        std::vector<double> lastBlock;
        QElapsedTimer all;
        all.start();
        qint64 blockStart = 0;
        for (int k = 1; k <= passes; ++k) {
            double v[3];
            s.next(&v[0], &v[1], &v[2]);
            for (int d = 0; d < 3; ++d)
                st[d].add(v[d]);
            if (k % 1000 == 0) {
                const qint64 now = all.nsecsElapsed();
                lastBlock.push_back((now - blockStart) / 1000.0 / 1000.0);  // us per pass
                blockStart = now;
            }
        }
        const double totalUs = all.nsecsElapsed() / 1000.0;
        QElapsedTimer q;
        q.start();
        measurement::Summary sum[3];
        measurement::OutlierLimits lim[3];
        for (int d = 0; d < 3; ++d) {
            sum[d] = st[d].summary();
            lim[d] = measurement::outlierLimits(st[d].sorted(), kPeriodMs);
        }
        const double onDemandUs = q.nsecsElapsed() / 1000.0;
        std::printf("statistics update, %d passes x 3 delays: %.2f us per pass on average, %.2f us per pass "
                    "over the last 1,000 (N = %d)\n",
                    passes, totalUs / passes, lastBlock.empty() ? 0.0 : lastBlock.back(), passes);
        std::printf("summaries and outlier limits of all three on demand at N = %d: %.1f us\n", passes, onDemandUs);
        std::printf("  src2rf mean %.3f sigma %.3f median %.3f p99 %.3f missing %d\n", sum[0].mean, sum[0].sigma,
                    sum[0].median, sum[0].p99, sum[0].missing);
    }

    // 2. The view: per-pass work (statistics and texts) with drawing when due.
    auto* view = new graph::SeriesView;
    view->resize(1000, 760);
    view->begin(passes, true);
    view->show();
    QApplication::processEvents();
    Synthetic s;
    std::vector<double> perPassUs;
    perPassUs.reserve(passes);
    QElapsedTimer all;
    all.start();
    for (int k = 1; k <= passes; ++k) {
        QElapsedTimer one;
        one.start();
        double v[3];
        s.next(&v[0], &v[1], &v[2]);
        view->addPass(v[0], v[1], v[2], kPeriodMs);
        view->setProgress(k, k / 500, k / 2000);
        QApplication::processEvents();
        perPassUs.push_back(one.nsecsElapsed() / 1000.0);
    }
    const double totalMs = all.nsecsElapsed() / 1e6;
    view->end(QString());
    QApplication::processEvents();
    std::printf("live view, %d passes fed as fast as possible: %.0f ms in all, %.1f us per pass (median %.1f us), "
                "drawing %.0f ms of it\n",
                passes, totalMs, totalMs * 1000.0 / passes, median(perPassUs), view->drawingMs());
    std::printf("  (a real pass takes >= 1 s; the bench's fastest ~15 ms)\n");

    if (shot) {
        const QPixmap pm = view->grab();
        if (!pm.save(QString::fromLocal8Bit(shot))) {
            std::fprintf(stderr, "cannot save %s\n", shot);
            return 1;
        }
    }
    delete view;
    return 0;
}
