// Edge search and delay arithmetic of one measurement pass. Plain functions on
// vectors: no widgets, no instruments, no program-wide state.
#pragma once

#include <QVector>
#include <limits>

namespace measurement {

// Fixed levels of the edge search.
constexpr double kSourceRise = 0.035;  // V above the first source sample, strictly greater
constexpr double kRfLevel = 0.05;      // normalised RF envelope, strictly greater...
constexpr int kRfRun = 8;              // ...on this many consecutive samples
constexpr double kSinkLevel = 0.06;    // V, absolute, greater or equal

// Start-level window of the first source sample, both ends excluded.
constexpr double kStartLow = -0.05;
constexpr double kStartHigh = 0.3;
// Not a number: a delay or time that was not found.
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Oscilloscope families: index 0 of the type box is the first family, any
// other index the second. The first family's window spans -0.5 .. +0.5 s, the
// second's -0.6 .. +0.6 s, time 0 in the middle.
inline bool isFirstFamily(int osTyp)
{
    return osTyp == 0;
}

// The family's time window: it starts at start seconds and spans span seconds.
struct FamilyWindow
{
    double start;
    double span;
};
inline FamilyWindow familyWindow(int osTyp)
{
    return isFirstFamily(osTyp) ? FamilyWindow{-0.5, 1.0} : FamilyWindow{-0.6, 1.2};
}

// Time of sample index k on the axis of a pass with pts samples. Needs
// pts >= 2; fewer samples have no axis spacing and give not-a-number.
double axisTime(int osTyp, double k, int pts);

// Fills t with pts sample times. A single sample sits at time 0, the middle of
// the window; pts <= 0 leaves t empty. Reuses t's storage.
void buildTimeAxis(int osTyp, int pts, QVector<double>* t);

// True when the source trace starts inside the start-level window. An empty
// trace or a first value that is not a number fails.
bool startLevelOk(const QVector<double>& d1);

// Scales d in place to 0 .. 0.2 over its own minimum and maximum. A flat trace
// becomes all not-a-number (0/0): it then has no RF edge, which is the truth.
void normaliseRf(QVector<double>* d);

// Result of one pass's edge search. Indices equal pts when no edge was found.
// Times in seconds, delays in milliseconds; an edge or delay that does not
// exist is not-a-number, never a plausible value.
struct PassDelays
{
    int isrc = 0;
    int irf = 0;
    int isnk = 0;
    double tsrc = 0.0;
    double trf = 0.0;  // no RF edge: just past the end of the axis (off the plot)
    double tsnk = 0.0;
    double src2Rf = 0.0;
    double src2Snk = 0.0;
};

// Finds the source, RF and sink edges of a pass and the two delays. Only
// indices below pts and below each vector's own length are read; positions a
// trace does not reach count as below its level.
PassDelays computeDelays(int osTyp, int pts, const QVector<double>& d1, const QVector<double>& d2,
                         const QVector<double>& d3, const QVector<double>& t);

}  // namespace measurement
