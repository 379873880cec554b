#include "passrecord.h"

#include "delays.h"
#include "resultfiles.h"
#include "series.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

#ifndef QUARNEL_VERSION
#define QUARNEL_VERSION "unknown"
#endif

namespace measurement {

const char kRecordColumns[] =
    "pass,time,src2rf_ms,src2hd,src2snk_ms,start_repeats,failed_acquisitions,tsrc_s,trf_s,tsnk_s,outlier";

namespace {

constexpr int kFields = 11;
constexpr qint64 kMaxLine = 64 * 1024;
const char kOutlierKey[] = "# outliers: ";
const char* const kDelayNames[3] = {"src2rf_ms", "src2hd", "src2snk_ms"};

// Shortest text that reads back as the same double; empty for no value.
QString shortest(double v)
{
    if (std::isnan(v))
        return QString();
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

QString isoTime(const QDateTime& when)
{
    // With the offset written out: a local time alone is ambiguous across a
    // clock change, and a long series can span one.
    return when.toOffsetFromUtc(when.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

// A comment line holds one line of text whatever an instrument replied.
QString oneLine(QString s)
{
    for (QChar& c : s)
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    return s.trimmed();
}

// Header values are short; an instrument's reply is cut to keep every line of
// the record far below what the reader accepts.
constexpr int kMaxHeaderValue = 1024;

void headerLine(QString* out, const char* key, const QString& value)
{
    *out += QStringLiteral("# ") + QLatin1String(key) + QStringLiteral(": ") + oneLine(value.left(kMaxHeaderValue))
            + QLatin1Char('\n');
}

// Hands the file's data and, once, its name in the folder to the disk, so a
// power cut after this keeps what was written.
void syncFile(QFile& f, bool withFolder)
{
#ifdef Q_OS_UNIX
    ::fdatasync(f.handle());
    if (withFolder) {
        const int dir = ::open(QFile::encodeName(QFileInfo(f.fileName()).absolutePath()).constData(),
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
#else
    Q_UNUSED(f);
    Q_UNUSED(withFolder);
#endif
}

bool parseNumber(const QString& s, double* v)
{
    if (s.isEmpty()) {
        *v = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    bool ok = false;
    *v = s.toDouble(&ok);
    return ok;
}

bool parseCount(const QString& s, int* v)
{
    bool ok = false;
    *v = s.toInt(&ok);
    return ok && *v >= 0;
}

// One data line (without its line feed) into a row.
bool parseRow(const QString& line, PassRow* row)
{
    const QStringList f = line.split(QLatin1Char(','));
    if (f.size() != kFields)
        return false;
    bool ok = false;
    row->pass = f[0].toInt(&ok);
    if (!ok || row->pass < 1)
        return false;
    row->time = QDateTime::fromString(f[1], Qt::ISODateWithMs);
    row->outlier = f[10];
    return row->time.isValid() && parseNumber(f[2], &row->src2Rf) && parseNumber(f[3], &row->src2Hd)
           && parseNumber(f[4], &row->src2Snk) && parseCount(f[5], &row->startRepeats)
           && parseCount(f[6], &row->failedAcquisitions) && parseNumber(f[7], &row->tsrc)
           && parseNumber(f[8], &row->trf) && parseNumber(f[9], &row->tsnk);
}

QString limitsText(const char* name, const OutlierLimits& l, int count)
{
    if (std::isnan(l.median))
        return QLatin1String(name) + QStringLiteral(" no values");
    return QStringLiteral("%1 median %2 limits %3 .. %4 outliers %5")
        .arg(QLatin1String(name), shortest(l.median), shortest(l.lo), shortest(l.hi))
        .arg(count);
}

}  // namespace

QString passRecordFileName(const QString& stamp)
{
    return stamp + QStringLiteral("Passes.csv");
}

double samplePeriodMs(int osTyp, int pts)
{
    if (pts < 2)
        return std::numeric_limits<double>::quiet_NaN();
    return (axisTime(osTyp, 1.0, pts) - axisTime(osTyp, 0.0, pts)) * 1000.0;
}

RecordOutliers decideOutliers(const QVector<double>& src2Rf, const QVector<double>& src2Hd,
                              const QVector<double>& src2Snk, double resolution)
{
    RecordOutliers o;
    o.resolution = resolution > 0.0 && std::isfinite(resolution) ? resolution : 0.0;
    const auto limits = [&](const QVector<double>& v) {
        DelayStats s;
        s.addAll(v);
        return outlierLimits(s.sorted(), o.resolution);
    };
    o.src2Rf = limits(src2Rf);
    o.src2Hd = limits(src2Hd);
    o.src2Snk = limits(src2Snk);
    return o;
}

QString outlierField(const RecordOutliers& o, const PassRow& row)
{
    QStringList names;
    if (isOutlier(o.src2Rf, row.src2Rf))
        names << QLatin1String(kDelayNames[0]);
    if (isOutlier(o.src2Hd, row.src2Hd))
        names << QLatin1String(kDelayNames[1]);
    if (isOutlier(o.src2Snk, row.src2Snk))
        names << QLatin1String(kDelayNames[2]);
    return names.join(QLatin1Char(' '));
}

QByteArray recordHeaderText(const RecordHeader& h)
{
    const bool first = isFirstFamily(h.osTyp);
    QString s = QStringLiteral("# quarnel per-pass record\n");
    headerLine(&s, "program", h.program + QLatin1Char(' ') + QStringLiteral(QUARNEL_VERSION));
    headerLine(&s, "series_start", isoTime(h.started));
    headerLine(&s, "oscilloscope_resource", h.oscilloscope);
    headerLine(&s, "oscilloscope_idn", h.oscilloscopeId);
    headerLine(&s, "spectrum_analyzer_resource", h.spectrumAnalyzer);
    headerLine(&s, "spectrum_analyzer_idn", h.spectrumAnalyzerId);
    headerLine(&s, "video_analyzer_resource", h.videoAnalyzer);
    headerLine(&s, "video_analyzer_idn", h.videoAnalyzerId);
    headerLine(&s, "oscilloscope_family", first ? QStringLiteral("Ovix") : QStringLiteral("Pelmo"));
    headerLine(&s, "trigger_level_V", shortest(h.triggerLevel));
    headerLine(&s, "centre_frequency_Hz", shortest(h.centreFrequency));
    headerLine(&s, "rf_source",
               h.rfFromScope ? QStringLiteral("oscilloscope channel 3") : QStringLiteral("spectrum analyzer trace 1"));
    headerLine(&s, "hdmi_measurement", h.hdmi ? QStringLiteral("on") : QStringLiteral("off"));
    headerLine(&s, "video_threshold_percent", shortest(h.videoThreshold));
    headerLine(&s, "time_window_s", first ? QStringLiteral("-0.5 0.5") : QStringLiteral("-0.6 0.6"));
    headerLine(&s, "passes", QString::number(h.passes));
    return s.toUtf8();
}

QByteArray recordPointsText(int osTyp, int pts)
{
    QString s;
    headerLine(&s, "points", QString::number(pts));
    headerLine(&s, "sample_period_ms", shortest(samplePeriodMs(osTyp, pts)));
    return s.toUtf8() + kRecordColumns + '\n';
}

QByteArray recordRowText(const PassRow& r)
{
    const QString s = QString::number(r.pass) + QLatin1Char(',') + isoTime(r.time) + QLatin1Char(',')
                      + shortest(r.src2Rf) + QLatin1Char(',') + shortest(r.src2Hd) + QLatin1Char(',')
                      + shortest(r.src2Snk) + QLatin1Char(',') + QString::number(r.startRepeats) + QLatin1Char(',')
                      + QString::number(r.failedAcquisitions) + QLatin1Char(',') + shortest(r.tsrc) + QLatin1Char(',')
                      + shortest(r.trf) + QLatin1Char(',') + shortest(r.tsnk) + QLatin1Char(',') + r.outlier
                      + QLatin1Char('\n');
    return s.toUtf8();
}

QByteArray recordOutlierLine(const RecordOutliers& o, int rfCount, int hdCount, int snkCount)
{
    const QString s = QLatin1String(kOutlierKey)
                      + QStringLiteral("value outside median +- %1 x max(%2 x MAD, %3); ")
                            .arg(shortest(kOutlierZ), shortest(kMadToSigma), shortest(o.resolution))
                      + limitsText(kDelayNames[0], o.src2Rf, rfCount) + QStringLiteral("; ")
                      + limitsText(kDelayNames[1], o.src2Hd, hdCount) + QStringLiteral("; ")
                      + limitsText(kDelayNames[2], o.src2Snk, snkCount) + QLatin1Char('\n');
    return s.toUtf8();
}

// ---- writer ---------------------------------------------------------------------

bool PassRecordWriter::create(const QString& path, const RecordHeader& h)
{
    m_path = path;
    m_osTyp = h.osTyp;
    m_columns = m_failed = false;
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        m_error = m_file.errorString();
        m_failed = true;
        return false;
    }
    if (!write(recordHeaderText(h))) {
        // Not even its header: no record, and no name taken for one.
        m_file.close();
        QFile::remove(path);
        return false;
    }
    syncFile(m_file, true);
    return true;
}

bool PassRecordWriter::createWithFreshStamp(const QString& dataDir, const QDateTime& when, const RecordHeader& h,
                                            QString* stamp)
{
    QDateTime at = when;
    for (int tries = 0; tries < kMaxStampTries; ++tries, at = at.addSecs(1)) {
        *stamp = timeStamp(at);
        if (QFile::exists(dataDir + QLatin1Char('/') + resultsFileName(*stamp)))
            continue;
        if (create(dataDir + QLatin1Char('/') + passRecordFileName(*stamp), h))
            return true;
        if (!QFile::exists(m_path))
            return false;  // not a name clash: the folder cannot be written (or took no header)
    }
    return false;
}

bool PassRecordWriter::append(const PassRow& row, int pts)
{
    if (!m_file.isOpen() || m_failed)
        return false;
    QByteArray bytes;
    if (!m_columns)
        bytes = recordPointsText(m_osTyp, pts);
    bytes += recordRowText(row);
    if (!write(bytes))
        return false;
    syncFile(m_file, false);
    m_columns = true;
    return true;
}

bool PassRecordWriter::write(const QByteArray& bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 w = m_file.write(bytes.constData() + done, bytes.size() - done);
        if (w <= 0) {
            m_error = m_file.errorString();
            m_failed = true;
            return false;
        }
        done += w;
    }
    return true;
}

bool PassRecordWriter::finish(const RecordOutliers& o)
{
    if (!m_file.isOpen())
        return false;
    // A series that counted no pass still ends with a column line: the
    // record is then a table without rows, not a header without a table.
    if (!m_columns && !m_failed && write(recordPointsText(m_osTyp, 0)))
        m_columns = true;
    m_file.close();

    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly)) {
        m_error = out.errorString();
    } else if (!markOutliers(o, &out)) {
        out.cancelWriting();
    } else if (!out.commit()) {
        m_error = out.errorString();
    } else {
        return true;
    }
    // The rows stay unmarked, but the limits still go on record, unless a
    // failed write left a partial row that the line would run into.
    if (m_failed || !markOutliers(o, nullptr))
        return false;
    QFile f(m_path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Append)) {
        const QByteArray line = recordOutlierLine(o, m_outliers[0], m_outliers[1], m_outliers[2]);
        if (f.write(line) == line.size() && f.flush())
            syncFile(f, false);
    }
    return false;
}

bool PassRecordWriter::markOutliers(const RecordOutliers& o, QSaveFile* out)
{
    QFile in(m_path);
    if (!in.open(QIODevice::ReadOnly)) {
        m_error = in.errorString();
        return false;
    }
    int counts[3] = {0, 0, 0};
    bool inRows = false;
    while (!in.atEnd()) {
        QByteArray line = in.readLine(kMaxLine);
        if (!line.endsWith('\n'))
            break;  // a row cut short by a failed write: never a finished pass
        if (inRows && !line.startsWith('#')) {
            PassRow row;
            if (parseRow(QString::fromUtf8(line.constData(), line.size() - 1), &row) && row.outlier.isEmpty()) {
                row.outlier = outlierField(o, row);
                counts[0] += isOutlier(o.src2Rf, row.src2Rf);
                counts[1] += isOutlier(o.src2Hd, row.src2Hd);
                counts[2] += isOutlier(o.src2Snk, row.src2Snk);
                // Only the empty last field changes; every other byte stays.
                line.chop(1);
                line += row.outlier.toUtf8() + '\n';
            }
        } else if (line.startsWith(kRecordColumns)) {
            inRows = true;
        }
        if (out)
            out->write(line);
    }
    if (in.error() != QFileDevice::NoError) {
        m_error = in.errorString();
        return false;
    }
    std::copy(counts, counts + 3, m_outliers);
    if (out)
        out->write(recordOutlierLine(o, counts[0], counts[1], counts[2]));
    return true;
}

// ---- reader ---------------------------------------------------------------------

QString headerValue(const QVector<QPair<QString, QString>>& header, const QString& key)
{
    for (const auto& kv : header)
        if (kv.first == key)
            return kv.second;
    return QString();
}

QString PassRecordFile::headerValue(const QString& key) const
{
    return measurement::headerValue(header, key);
}

bool PassRecordFile::hasOutlierDecision() const
{
    for (const QString& line : trailer)
        if (line.startsWith(QLatin1String(kOutlierKey)))
            return true;
    return false;
}

RecordRead readPassRecord(const QString& path, PassRecordFile* out, QString* error)
{
    *out = PassRecordFile();
    auto fail = [error](RecordRead why, const QString& text) {
        if (error)
            *error = text;
        return why;
    };
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return fail(RecordRead::CannotOpen, f.errorString());

    int lineNo = 0;
    while (!f.atEnd()) {
        const QByteArray bytes = f.readLine(kMaxLine);
        ++lineNo;
        if (bytes.isEmpty() && f.error() != QFileDevice::NoError)
            return fail(RecordRead::NotARecord, f.errorString());
        if (!bytes.endsWith('\n')) {
            if (bytes.size() >= kMaxLine - 1)
                return fail(RecordRead::NotARecord,
                            QStringLiteral("line %1 is longer than %2 bytes").arg(lineNo).arg(kMaxLine));
            out->cutShort = true;  // the last line, unfinished
            break;
        }
        QString line = QString::fromUtf8(bytes.constData(), bytes.size() - 1);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);  // saved again by a program that ends lines with CR LF
        if (line.isEmpty())
            continue;
        if (line.startsWith(QLatin1Char('#'))) {
            if (out->columns) {
                out->trailer << line;
                continue;
            }
            const int colon = line.indexOf(QStringLiteral(": "));
            if (line.startsWith(QLatin1String("# ")) && colon > 2)
                out->header.append({line.mid(2, colon - 2), line.mid(colon + 2)});
            continue;
        }
        if (!out->columns) {
            if (line != QLatin1String(kRecordColumns))
                return fail(RecordRead::NotARecord,
                            QStringLiteral("line %1 is not the column line of a per-pass record").arg(lineNo));
            out->columns = true;
            continue;
        }
        PassRow row;
        if (!parseRow(line, &row)) {
            if (out->badLines++ == 0)
                out->firstBadLine = lineNo;
            continue;
        }
        if (out->rows.size() >= kMaxPasses)
            return fail(RecordRead::TooLarge, QStringLiteral("more than %1 passes").arg(kMaxPasses));
        out->rows.append(row);
    }
    if (f.error() != QFileDevice::NoError)
        return fail(RecordRead::NotARecord, f.errorString());
    return RecordRead::Ok;
}

}  // namespace measurement
