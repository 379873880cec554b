// The amplitude-independent edge rule: each edge where the trace crosses 50 %
// of the step between its two state levels (the usual definition of a pulse
// transition instant), interpolated between the two samples around it. A
// weaker or stronger signal moves both state levels, not the crossing time.
// Plain functions on raw arrays; no Qt widgets.
#pragma once

#include <QVector>

namespace view {

// The low and high state of a two-state trace, found as the modes of the
// lower and upper half of the trace's histogram (refined to the mean of the
// samples around each mode). ok is false when the trace has no two distinct
// states: fewer than two finite samples, a flat trace, or modes that lie
// closer together than a quarter of the trace's range (noise only). Traces
// of millions of samples are sampled evenly for this.
struct StateLevels
{
    double low = 0.0;
    double high = 0.0;
    bool ok = false;
    double mid() const { return 0.5 * (low + high); }
};
StateLevels stateLevels(const double* d, int n);

// Fractional index of the first rising crossing of `level` at or after index
// `from`: the first k > from with d[k-1] < level <= d[k], interpolated
// linearly between k-1 and k. Not-a-number when there is none; samples that
// are not numbers never take part in a crossing.
double risingCrossing(const double* d, int n, int from, double level);

// The three edges of a pass by the 50 % rule, times in seconds on the pass's
// axis, delays in milliseconds. The RF edge is searched from the source edge
// on, as the program's own rule does; an edge that does not exist and every
// delay that needs it are not-a-number.
struct MidRuleDelays
{
    StateLevels src, rf, snk;
    double tsrc = 0.0, trf = 0.0, tsnk = 0.0;
    double src2Rf = 0.0, src2Snk = 0.0;
};
MidRuleDelays midRuleDelays(int osTyp, int pts, const QVector<double>& d1, const QVector<double>& d2,
                            const QVector<double>& d3);

}  // namespace view
