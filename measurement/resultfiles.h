// Results text, trace-file format and the file names of a series. Plain
// functions: no widgets, no message boxes.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

namespace measurement {

// "yyyy-MM-dd_hh-mm-ss_": prefixes every file name of one series.
QString timeStamp(const QDateTime& when);

// Stamps tried, one second apart, before the files of a series count as
// impossible to create: a series never replaces another's files.
constexpr int kMaxStampTries = 3600;

// Set number k with at least three digits: 001, 999, 1000.
QString setNumber(int k);

enum class Trace { Source, Rf, Sink };

// Name (no folder) of one trace file, e.g. 2015-09-30_14-05-09_001_src.bin.
// An empty stamp gives the bare per-set name used while a series runs.
QString traceFileName(const QString& stamp, int k, Trace which);
QString resultsFileName(const QString& stamp);

// Mean of the values that are numbers, summed in index order from 0.0;
// not-a-number when none is. *contributed (optional) gets their count.
double meanOfDelivered(const QVector<double>& values, int* contributed = nullptr);

// The results text: the per-pass values of the three delays and their means,
// numbers as QString::number(v, 'g', 6) writes them, lines ended by "\n", no
// line feed after the last line.
QByteArray resultsText(const QVector<double>& src2Rf, double src2RfMean, const QVector<double>& src2Hd,
                       double src2HdMean, const QVector<double>& src2Snk, double src2SnkMean);

// Writes the first cnt values of d (no more than d holds) as little-endian
// IEEE 754 doubles, no header. Creates or empties the file. False when it
// cannot be opened or not every byte reached it; *error then says why.
bool writeTraceFile(const QString& path, const QVector<double>& d, qint64 cnt, QString* error = nullptr);

enum class LoadOutcome { Ok, CannotOpen, TooLarge, ReadFailed };

// Appends the file's values (size / 8, a remainder ignored) to *d and sets
// *cnt to their number. On any failure *d and *cnt stay untouched.
LoadOutcome readTraceFile(const QString& path, QVector<double>* d, int* cnt);

// Most values one vector can take: QVector<double> addresses at most 2 GB.
int maxTraceValues();

}  // namespace measurement
