// Exports of a series and of its re-analysis: CSV (one row per pass, '# '
// header lines) and JSON (the series, its statistics and its passes), and
// the statistics table as text. Missing values are empty CSV fields and JSON
// nulls, never numbers. Numbers are written so that they read back as the
// same doubles.
#pragma once

#include "reanalysis.h"
#include "storedseries.h"

#include <QByteArray>
#include <QString>

namespace view {

// One column of per-pass values with its machine name (CSV/JSON key) and its
// title for people.
struct ValueColumn
{
    QString key;
    QString title;
    QVector<double> values;
};
// The three stored delays.
QVector<ValueColumn> seriesColumns(const Series& s);
// Stored, program's rules, 50 % rule and their difference for source->RF and
// source->sink, then the stored HDMI value; calibrated columns after the raw
// ones when `cal` is given and not all zero.
QVector<ValueColumn> reanalysisColumns(const Reanalysis& r, const Calibration* cal);

QByteArray seriesCsv(const Series& s);
QByteArray seriesJson(const Series& s);
// Calibration offsets are applied when `cal` is given and not all zero; the
// raw values are always written as well.
QByteArray reanalysisCsv(const Series& s, const Reanalysis& r, const Calibration* cal = nullptr);
QByteArray reanalysisJson(const Series& s, const Reanalysis& r, const Calibration* cal = nullptr);

// The statistics table of a series (and of its re-analysis when given), as
// fixed-width text for a terminal.
QString summaryText(const Series& s, const Reanalysis* r = nullptr, const Calibration* cal = nullptr);

}  // namespace view
