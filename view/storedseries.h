// One stored series as the viewer holds it: the per-pass values and what is
// known about each pass, from the per-pass record when the series has one,
// else from its results file; which passes have trace files; and every
// damage found on the way. Loading never fails on damage: what is readable
// is kept, the rest reported.
#pragma once

#include "seriesfiles.h"

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

namespace view {

struct Series
{
    SeriesEntry entry;
    // Oscilloscope family (0 first, else second): it decides the time axis of
    // the traces. Series without a per-pass record do not say; the caller
    // asks and sets it (familyKnown stays false).
    int osTyp = 1;
    bool familyKnown = false;
    QString source;  // the file the values come from
    // Significant digits of the stored values: the per-pass record keeps
    // them whole (0), the results file to six digits.
    int storedDigits = 6;

    // Per pass, all of one length: pass number (= trace set number), the
    // three values (missing: not-a-number), the recorded edge times in s
    // (not-a-number when not recorded), the pass's time and outlier note as
    // recorded (empty when not).
    QVector<int> pass;
    QVector<double> values[kDelays];
    QVector<double> edges[3];
    QStringList times;
    QStringList outliers;
    // Trace files per pass number (index 0 unused): bit 0 source, 1 RF, 2 sink.
    QVector<quint8> traces;

    // Header of the per-pass record ("key", "value"), in file order; empty
    // for a series written before the record existed.
    QVector<QPair<QString, QString>> header;
    QStringList problems;

    int passCount() const { return pass.size(); }
    bool hasTraces(int passNumber) const
    {
        return passNumber > 0 && passNumber < traces.size() && traces[passNumber] == 7;
    }
    // Index of a pass number in the per-pass vectors, -1 when absent.
    int indexOf(int passNumber) const;
    QString headerValue(const QString& key) const;
    // "first" / "second" family, with "(assumed)" when the files do not say.
    QString familyText() const;
};

// Loads the series of `entry`: from its per-pass record when it has one
// (checked against the results file), else from the results file. False
// only when nothing of it can be read (*error says why); damage is listed in
// Series::problems.
bool loadSeries(const SeriesEntry& entry, Series* out, QString* error);

// The family the program itself is set to, from its settings file in
// `dataDir` (the program's default when the file does not say).
int programFamily(const QString& dataDir);
// The program's data folder on this system.
QString programDataDir();

}  // namespace view

namespace view {

// Time between two samples of the series' traces in ms (from the record,
// else from the first source trace file's length and the family); 0 when
// neither says.
double samplePeriodMs(const Series& s);

}  // namespace view
