#include "reanalysis.h"

#include <QElapsedTimer>

#include <cmath>
#include <limits>

namespace view {

namespace {

using measurement::kNaN;
// Progress is reported at most this often: a pass of 20,000 points takes a
// fraction of a millisecond, a display update far more.
constexpr qint64 kProgressEveryMs = 40;

}  // namespace

double PassReanalysis::programValue(int delay) const
{
    if (!analysed)
        return kNaN;
    return delay == SrcRf ? program.src2Rf : delay == SrcSnk ? program.src2Snk : stored[SrcHd];
}

double PassReanalysis::midValue(int delay) const
{
    if (!analysed)
        return kNaN;
    return delay == SrcRf ? mid.src2Rf : delay == SrcSnk ? mid.src2Snk : stored[SrcHd];
}

double PassReanalysis::programEdge(int edge) const
{
    if (!analysed)
        return kNaN;
    switch (edge) {
    case 0:
        return program.tsrc;
    case 1:
        return program.irf < pts ? program.trf : kNaN;  // else just past the axis: no edge
    default:
        return program.tsnk;
    }
}

double PassReanalysis::midEdge(int edge) const
{
    if (!analysed)
        return kNaN;
    return edge == 0 ? mid.tsrc : edge == 1 ? mid.trf : mid.tsnk;
}

QVector<double> Reanalysis::programValues(int delay) const
{
    QVector<double> v;
    v.reserve(passes.size());
    for (const PassReanalysis& p : passes)
        v.append(p.programValue(delay));
    return v;
}

QVector<double> Reanalysis::midValues(int delay) const
{
    QVector<double> v;
    v.reserve(passes.size());
    for (const PassReanalysis& p : passes)
        v.append(p.midValue(delay));
    return v;
}

QVector<int> Reanalysis::mismatchedPasses() const
{
    QVector<int> out;
    for (const PassReanalysis& p : passes)
        if (p.analysed && !p.reproduced)
            out.append(p.pass);
    return out;
}

bool sameAsStored(double recomputed, double stored, int storedDigits)
{
    if (std::isnan(recomputed) || std::isnan(stored))
        return std::isnan(recomputed) && std::isnan(stored);
    if (storedDigits <= 0)
        return recomputed == stored;
    return QString::number(recomputed, 'g', storedDigits) == QString::number(stored, 'g', storedDigits);
}

PassReanalysis analysePass(const Series& s, int index, PassWork* work)
{
    PassTraces* buffers = &work->traces;
    PassReanalysis r;
    r.pass = s.pass[index];
    for (int d = 0; d < kDelays; ++d)
        r.stored[d] = s.values[d][index];
    loadPassTraces(s.entry, r.pass, buffers);
    r.problems = buffers->problems;
    if (buffers->d[0].isEmpty())
        return r;  // no source trace, no point count: nothing to re-analyse
    r.analysed = true;
    const int pts = buffers->pts;
    r.pts = pts;
    if (work->tPts != pts || work->tOsTyp != s.osTyp) {
        measurement::buildTimeAxis(s.osTyp, pts, &work->t);
        work->tPts = pts;
        work->tOsTyp = s.osTyp;
    }
    r.program = measurement::computeDelays(s.osTyp, pts, buffers->d[0], buffers->d[1], buffers->d[2], work->t);
    r.mid = midRuleDelays(s.osTyp, pts, buffers->d[0], buffers->d[1], buffers->d[2]);
    const int digits = s.storedDigits;
    r.reproduced = sameAsStored(r.program.src2Rf, r.stored[SrcRf], digits)
                   && sameAsStored(r.program.src2Snk, r.stored[SrcSnk], digits);
    return r;
}

Reanalysis reanalyse(const Series& s, const Progress& progress)
{
    Reanalysis out;
    out.osTyp = s.osTyp;
    const int n = s.passCount();
    out.passes.reserve(n);
    PassWork work;
    QElapsedTimer clock;
    clock.start();
    if (progress && !progress(0, n)) {
        out.cancelled = true;
        return out;
    }
    for (int i = 0; i < n; ++i) {
        out.passes.append(analysePass(s, i, &work));
        const PassReanalysis& p = out.passes.constLast();
        if (!p.analysed)
            ++out.withoutTraces;
        else {
            ++out.analysed;
            if (p.reproduced)
                ++out.reproduced;
        }
        if (progress && clock.elapsed() >= kProgressEveryMs) {
            clock.restart();
            if (!progress(i + 1, n)) {
                out.cancelled = i + 1 < n;
                break;
            }
        }
    }
    if (progress && !out.cancelled)
        progress(out.passes.size(), n);
    return out;
}

}  // namespace view
