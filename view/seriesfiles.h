// The files of stored series: which series a data folder holds (from the file
// names alone), the results text, and the trace files of one pass. Plain
// functions; damage is reported as text, never thrown or fatal.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

namespace view {

// The three per-pass values of a series, in the order the program writes
// them: source to RF (ms), source to HDMI (the video analyzer's ms), source
// to sink (ms).
enum Delay { SrcRf = 0, SrcHd = 1, SrcSnk = 2 };
constexpr int kDelays = 3;
QString delayName(int delay);  // "Source -> RF", ...

// What the file names in a data folder say about one series.
struct SeriesEntry
{
    QString folder;
    QString stamp;  // "yyyy-MM-dd_hh-mm-ss_", the prefix of every file name
    QDateTime when;
    bool hasResults = false;
    bool hasPasses = false;  // the per-pass record
    int traceSets = 0;       // sets with all three trace files
    int traceFiles = 0;
    // Trace files per set number 1 .. kMaxPasses (index 0 unused): bit 0
    // source, bit 1 RF, bit 2 sink. Set numbers the program never writes
    // are left out.
    QVector<quint8> sets;

    QString path(const QString& name) const { return folder + QLatin1Char('/') + name; }
    QString resultsPath() const;
    QString passesPath() const;
};

// The stamp a series file name starts with (results file, per-pass record or
// trace file), empty for any other name.
QString stampOf(const QString& fileName);
// Local time of a stamp; invalid for a malformed one.
QDateTime stampTime(const QString& stamp);

// Every series of a folder, newest first, from one read of the folder.
QVector<SeriesEntry> listSeries(const QString& folder);

// The series that `path` names: any of its files, or the folder plus stamp
// prefix. False with a reason when the path is none of these or no file of
// the series exists.
bool seriesFromPath(const QString& path, SeriesEntry* entry, QString* error);

// The results text, read as far as it goes. Values that are not numbers in
// the text ("nan") are missing values; anything unreadable is reported in
// `problems` and counts as missing.
struct ResultsFile
{
    QVector<double> values[kDelays];
    double means[kDelays] = {0.0, 0.0, 0.0};
    bool meanPresent[kDelays] = {false, false, false};
    QStringList problems;
};
ResultsFile parseResultsText(const QByteArray& text);
// False (with *error) only when the file cannot be read at all.
bool readResultsFile(const QString& path, ResultsFile* out, QString* error);

// The three traces of one pass as stored: source (V), RF envelope
// (normalised 0 .. 0.2), sink (V). pts is the source trace's length, the
// point count of the pass.
struct PassTraces
{
    QVector<double> d[3];
    int pts = 0;
    QStringList problems;  // missing, unreadable or cut-short files
};
// Loads into *into, reusing its vectors' storage; problems replaced.
void loadPassTraces(const SeriesEntry& entry, int pass, PassTraces* into);

// Number as the program's files write it: six significant digits.
QString fileNumber(double v);
// Shortest text that reads back as the same double; "" for not-a-number.
QString exactNumber(double v);

}  // namespace view
