// The per-pass record of a series, yyyy-MM-dd_hh-mm-ss_Passes.csv: header
// lines "# key: value" with what a reader needs to interpret the numbers, one
// column line, then one row per counted pass, appended and made durable as
// the pass ends, so that a crash or a power cut keeps every finished pass.
// When the series ends the outlier decision is folded into the rows'
// "outlier" field and stated in a final comment line. A writer and a reader;
// no widgets.
#pragma once

#include "statistics.h"

#include <QDateTime>
#include <QFile>
#include <QPair>
#include <QString>
#include <QVector>

#include <limits>

class QSaveFile;

namespace measurement {

QString passRecordFileName(const QString& stamp);  // stamp + "Passes.csv"

// The column line, without its line feed.
extern const char kRecordColumns[];

// What the record says about the series and its set-up. Texts go into
// comment lines: line breaks in them (an identification reply) become blanks.
struct RecordHeader
{
    QString program = QStringLiteral("quarnel");
    QDateTime started;
    QString oscilloscope, spectrumAnalyzer, videoAnalyzer;  // resource strings
    // "*IDN?" replies from the Init; empty when not obtained.
    QString oscilloscopeId, spectrumAnalyzerId, videoAnalyzerId;
    int osTyp = 0;                                                      // 0 first family, else second
    double triggerLevel = std::numeric_limits<double>::quiet_NaN();     // V
    double centreFrequency = std::numeric_limits<double>::quiet_NaN();  // Hz
    bool rfFromScope = false;  // RF from oscilloscope channel 3, else analyzer trace 1
    bool hdmi = false;
    double videoThreshold = std::numeric_limits<double>::quiet_NaN();  // percent
    int passes = 0;                                                    // N
};

// One counted pass. Not-a-number: the pass delivered no such value (an
// empty field).
struct PassRow
{
    int pass = 0;                                               // 1 .. N
    QDateTime time;                                             // when the pass was counted
    double src2Rf = std::numeric_limits<double>::quiet_NaN();   // ms
    double src2Hd = std::numeric_limits<double>::quiet_NaN();   // video analyzer's unit (ms)
    double src2Snk = std::numeric_limits<double>::quiet_NaN();  // ms
    int startRepeats = 0;                                       // start-level repeats before this pass was counted
    int failedAcquisitions = 0;                                 // failed acquisitions before this pass was counted
    double tsrc = std::numeric_limits<double>::quiet_NaN();     // edge times, s
    double trf = std::numeric_limits<double>::quiet_NaN();
    double tsnk = std::numeric_limits<double>::quiet_NaN();
    // Column names of the delays that are outliers, separated by blanks
    // ("src2rf_ms src2snk_ms"); empty until the series has ended.
    QString outlier;
};

// The outlier limits of the three delays at the end of a series.
struct RecordOutliers
{
    double resolution = 0.0;  // ms, the floor of the rule (sample period)
    OutlierLimits src2Rf, src2Hd, src2Snk;
};

// The limits over a series' values in pass order (not-a-number: missing),
// with the sample period in ms as the rule's floor.
RecordOutliers decideOutliers(const QVector<double>& src2Rf, const QVector<double>& src2Hd,
                              const QVector<double>& src2Snk, double resolution);

// The outlier field of a row under these limits.
QString outlierField(const RecordOutliers& o, const PassRow& row);

// Pure formatting, each piece with its line feeds. Numbers are written in the
// shortest form that reads back as the same double; times in ISO 8601 with
// milliseconds and the UTC offset (a series can span a clock change).
QByteArray recordHeaderText(const RecordHeader& h);
// The pieces the first counted pass adds before its row: point count, sample
// period and the column line.
QByteArray recordPointsText(int osTyp, int pts);
QByteArray recordRowText(const PassRow& row);
QByteArray recordOutlierLine(const RecordOutliers& o, int rfCount, int hdCount, int snkCount);

// Sample period in ms of a pass with pts points; not-a-number below 2 points.
double samplePeriodMs(int osTyp, int pts);

class PassRecordWriter
{
public:
    PassRecordWriter() = default;
    PassRecordWriter(const PassRecordWriter&) = delete;
    PassRecordWriter& operator=(const PassRecordWriter&) = delete;

    // Creates the file (never replaces one: false when it exists) and writes
    // the header. False with errorString() when it cannot.
    bool create(const QString& path, const RecordHeader& h);
    // Appends a counted pass and hands it to the disk before returning. pts
    // is the pass's point count; the first pass writes it with the column
    // line. After a failed write nothing more is appended (a row after a
    // partial one would be misread); the file keeps every row written before.
    bool append(const PassRow& row, int pts);
    // Ends the record: every row gets its outlier field and the final comment
    // line states the rule. The complete new file replaces the old one in one
    // step, so an interruption leaves one or the other. If it cannot be
    // replaced, the final line is appended to the file as it stands.
    bool finish(const RecordOutliers& o);

    // Creates the record of a series that starts at `when` in dataDir under
    // the first stamp, from that second on, that no results file or record
    // in the folder has yet: the record reserves the stamp for the series'
    // results file, which is written only at its end. *stamp gets it.
    bool createWithFreshStamp(const QString& dataDir, const QDateTime& when, const RecordHeader& h, QString* stamp);

    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

private:
    bool write(const QByteArray& bytes);
    // Reads the rows back and counts the outliers; with out, writes the
    // record with every row's outlier field and the final line into it.
    bool markOutliers(const RecordOutliers& o, QSaveFile* out);

    QFile m_file;
    QString m_path;
    QString m_error;
    int m_osTyp = 0;
    int m_outliers[3] = {0, 0, 0};
    bool m_columns = false;
    bool m_failed = false;
};

// The value of `key` among "# key: value" header lines in order; null when absent.
QString headerValue(const QVector<QPair<QString, QString>>& header, const QString& key);

// A record read back.
struct PassRecordFile
{
    QVector<QPair<QString, QString>> header;  // "# key: value" before the column line, in order
    QVector<PassRow> rows;
    QStringList trailer;   // comment lines after the column line: the outlier decision
    bool columns = false;  // the column line was found (no pass finished without it)
    // The last line had no line feed: a row cut mid-way (crash, full disk).
    // It is not among the rows.
    bool cutShort = false;
    int badLines = 0;      // rows in the middle that could not be read, skipped
    int firstBadLine = 0;  // line number (1-based) of the first

    QString headerValue(const QString& key) const;
    bool hasOutlierDecision() const;  // the series ended and its outliers are marked
};

enum class RecordRead { Ok, CannotOpen, NotARecord, TooLarge };

// Reads a record. Lines longer than 64 KiB, more than 100,000 rows or a
// column line other than the one written here give NotARecord or TooLarge
// with *error saying why; *out then holds what was read up to there.
RecordRead readPassRecord(const QString& path, PassRecordFile* out, QString* error = nullptr);

}  // namespace measurement
