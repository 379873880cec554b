// Re-analysis of a stored series from its trace files: every pass by the
// program's own edge rules (which must give the stored delays again: a check
// of the files) and by the 50 % rule, side by side; per-path calibration
// offsets subtracted on request, the raw values always kept.
#pragma once

#include "delays.h"
#include "storedseries.h"
#include "transitions.h"

#include <QStringList>
#include <QVector>

#include <functional>

namespace view {

// Offsets in ms per path (cables, sensors, the analyzer's window with the
// first oscilloscope family), subtracted from a delay when applied.
struct Calibration
{
    double offsetMs[kDelays] = {0.0, 0.0, 0.0};
    bool isZero() const { return offsetMs[0] == 0.0 && offsetMs[1] == 0.0 && offsetMs[2] == 0.0; }
    double apply(int delay, double ms) const { return ms - offsetMs[delay]; }
};

struct PassReanalysis
{
    int pass = 0;
    bool analysed = false;  // its traces could be loaded (perhaps damaged)
    QStringList problems;   // damage of its trace files
    double stored[kDelays] = {0.0, 0.0, 0.0};
    measurement::PassDelays program;  // the program's rules
    MidRuleDelays mid;                // the 50 % rule
    bool reproduced = false;          // program rules gave the stored values
    int pts = 0;                      // point count of its traces

    // The value of a delay by either rule; HDMI comes from the video
    // analyzer, not from a trace, and stays as stored.
    double programValue(int delay) const;
    double midValue(int delay) const;
    // Edge times in s (0 source, 1 RF, 2 sink); not-a-number where none was found.
    double programEdge(int edge) const;
    double midEdge(int edge) const;
};

struct Reanalysis
{
    int osTyp = 1;
    QVector<PassReanalysis> passes;  // in the series' pass order
    int analysed = 0;
    int reproduced = 0;
    int withoutTraces = 0;
    bool cancelled = false;

    int mismatched() const { return analysed - reproduced; }
    QVector<double> programValues(int delay) const;
    QVector<double> midValues(int delay) const;
    // Passes whose program-rule result differs from the stored one.
    QVector<int> mismatchedPasses() const;
};

// Whether a recomputed delay is the stored one, given the stored value's
// significant digits (0: stored at full precision). Not-a-number matches
// not-a-number only.
bool sameAsStored(double recomputed, double stored, int storedDigits);

// Storage reused from pass to pass: the traces and the time axis.
struct PassWork
{
    PassTraces traces;
    QVector<double> t;
    int tPts = -1;
    int tOsTyp = -1;
};

// The pass at `index` of the series.
PassReanalysis analysePass(const Series& s, int index, PassWork* work);

// Called now and then with the passes done so far; false cancels.
using Progress = std::function<bool(int done, int total)>;

// All passes of the series in order. A cancel keeps the passes done so far.
Reanalysis reanalyse(const Series& s, const Progress& progress = Progress());

}  // namespace view
