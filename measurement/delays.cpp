#include "delays.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace measurement {

namespace {

constexpr double kMsPerS = 1000.0;

// t[i] when the axis reaches that far; an index past its end has no time.
double timeAt(const QVector<double>& t, int i)
{
    return i >= 0 && i < t.size() ? t[i] : kNaN;
}

}  // namespace

double axisTime(int osTyp, double k, int pts)
{
    if (pts < 2)
        return kNaN;
    const FamilyWindow w = familyWindow(osTyp);
    return (k * w.span) / static_cast<double>(pts - 1) + w.start;
}

void buildTimeAxis(int osTyp, int pts, QVector<double>* t)
{
    if (pts <= 0) {
        t->clear();
        return;
    }
    t->resize(pts);
    double* out = t->data();
    if (pts == 1) {
        out[0] = 0.0;
        return;
    }
    // The same expression as axisTime: the RF edge time is computed with
    // axisTime and must match t bit for bit.
    const FamilyWindow w = familyWindow(osTyp);
    const double last = static_cast<double>(pts - 1);
    for (int k = 0; k < pts; ++k)
        out[k] = (static_cast<double>(k) * w.span) / last + w.start;
}

bool startLevelOk(const QVector<double>& d1)
{
    if (d1.isEmpty())
        return false;
    const double v = d1.first();
    return v > kStartLow && v < kStartHigh;  // false for not-a-number
}

void normaliseRf(QVector<double>* d)
{
    if (d->isEmpty())
        return;
    double* v = d->data();
    const int n = d->size();
    double lo = v[0];
    double hi = v[0];
    for (int i = 1; i < n; ++i) {
        if (v[i] < lo)
            lo = v[i];
        if (v[i] > hi)
            hi = v[i];
    }
    const double factor = 0.2 / (hi - lo);
    for (int i = 0; i < n; ++i)
        v[i] = (v[i] - lo) * factor;
}

PassDelays computeDelays(int osTyp, int pts, const QVector<double>& d1, const QVector<double>& d2,
                         const QVector<double>& d3, const QVector<double>& t)
{
    const int n = std::max(pts, 0);
    PassDelays r;

    // Source edge: first rise above the starting level; index 0 never counts.
    r.isrc = n;
    const int n1 = std::min(n, d1.size());
    if (n1 > 0) {
        const double base = d1[0];
        for (int k = 1; k < n1; ++k) {
            if (d1[k] - base > kSourceRise) {
                r.isrc = k;
                break;
            }
        }
    }
    r.tsrc = r.isrc < n ? timeAt(t, r.isrc) : kNaN;

    // RF edge: first start index at or after the source edge (and below pts)
    // that opens a run of kRfRun values above the level. One pass with a run
    // counter finds the same index as testing every window of eight.
    r.irf = n;
    if (r.isrc < n) {
        int run = 0;
        int start = 0;
        for (int j = r.isrc; j < d2.size(); ++j) {
            if (d2[j] > kRfLevel) {
                if (run == 0) {
                    if (j > n - 1)
                        break;  // a run starting here would begin past the last index
                    start = j;
                }
                if (++run == kRfRun) {
                    r.irf = start;
                    break;
                }
            } else {
                run = 0;
            }
        }
    }
    r.trf = axisTime(osTyp, static_cast<double>(r.irf), n);

    if (r.irf >= n || std::isnan(r.tsrc))
        r.src2Rf = kNaN;
    else if (r.trf == 0.0)
        r.src2Rf = 0.0;
    else
        r.src2Rf = (r.trf - r.tsrc) * kMsPerS;

    // Sink edge: absolute level, searched from the first sample.
    r.isnk = n;
    const int n3 = std::min(n, d3.size());
    for (int k = 0; k < n3; ++k) {
        if (d3[k] >= kSinkLevel) {
            r.isnk = k;
            break;
        }
    }
    r.tsnk = r.isnk < n ? timeAt(t, r.isnk) : kNaN;
    r.src2Snk = (r.tsnk - r.tsrc) * kMsPerS;  // not-a-number when either edge is missing
    return r;
}

}  // namespace measurement
