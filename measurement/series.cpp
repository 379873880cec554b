#include "series.h"

#include "delays.h"
#include "resultfiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <limits>
#include <memory>

namespace measurement {

SeriesHost::~SeriesHost() = default;

PassCount parsePassCount(const QString& text)
{
    PassCount c;
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, 10);
    if (!ok || v <= 0)
        return c;  // not a number, zero or negative: no pass
    if (v > kMaxPasses) {
        c.refused = true;
        return c;
    }
    c.passes = static_cast<int>(v);
    return c;
}

QString refusedCountMessage(const QString& text)
{
    return QStringLiteral("The measurement count %1 is too large: at most %2 measurements can be run "
                          "in one series.")
        .arg(text.trimmed())
        .arg(kMaxPasses);
}

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using I = Instrument;

// Triggered acquisition of each oscilloscope family, before channel 1 is read.
// A failed step marked required ends the acquisition; the pass then works on
// the traces it already has.
struct AcquireStep
{
    const char* cmd;
    bool required;
};
const AcquireStep kFirstFamilyAcquire[] = {
    {"INIT:CONT OFF;*OPC?\n", true},
    {"*TRG;*OPC?\n", true},
    {"FORM REAL,32;*OPC?\n", true},
};
const AcquireStep kSecondFamilyAcquire[] = {
    {"SING;*OPC?\n", false},
    {"FORM REAL,32;*OPC?\n", true},
    {"*TRG;*OPC?\n", true},
};

// Per-pass trace files of a series with Save Data: written into a private
// folder of the data folder as each pass ends, renamed to their time-stamped
// names when the series ends. The folder and anything left in it go when the
// series ends.
class TraceSets
{
public:
    explicit TraceSets(const QString& dataDir)
        : m_dir(dataDir + QStringLiteral("/.series-XXXXXX"))
    {
        if (!m_dir.isValid())
            m_setupError = m_dir.errorString();
    }

    void write(int k, const QVector<double>& d1, const QVector<double>& d2, const QVector<double>& d3,
               int cnt, SeriesResult* r)
    {
        const QVector<double>* src[] = {&d1, &d2, &d3};
        for (int i = 0; i < 3; ++i) {
            if (!m_dir.isValid()) {
                fail(r, m_setupError);
                continue;
            }
            QString err;
            const QString path = m_dir.filePath(traceFileName(QString(), k, kKinds[i]));
            if (!writeTraceFile(path, *src[i], cnt, &err)) {
                // Cut short (a full disk): it must not get a final name as if whole.
                QFile::remove(path);
                fail(r, err);
            }
        }
    }

    // Gives every set file that was written its final name in the data folder.
    // An older file of the same name (a series in the same second) is replaced.
    void publish(const QString& dataDir, const QString& stamp, int sets, SeriesResult* r)
    {
        if (!m_dir.isValid())
            return;  // every file was counted as failed when it was due
        for (int k = 1; k <= sets; ++k) {
            for (Trace kind : kKinds) {
                const QString from = m_dir.filePath(traceFileName(QString(), k, kind));
                if (!QFile::exists(from))
                    continue;  // its write failure is already counted
                const QString to = dataDir + QLatin1Char('/') + traceFileName(stamp, k, kind);
                if (QFile::rename(from, to))
                    continue;
                if (QFile::exists(to) && QFile::remove(to) && QFile::rename(from, to))
                    continue;
                fail(r, QStringLiteral("cannot rename %1").arg(QDir::toNativeSeparators(from)));
            }
        }
    }

private:
    static void fail(SeriesResult* r, const QString& why)
    {
        if (r->traceFilesFailed++ == 0)
            r->traceError = why;
    }

    static constexpr Trace kKinds[3] = {Trace::Source, Trace::Rf, Trace::Sink};
    QTemporaryDir m_dir;
    QString m_setupError;
};
constexpr Trace TraceSets::kKinds[3];

enum class PassEnd { Counted, Repeated, Stopped };

class SeriesRun
{
public:
    SeriesRun(const SeriesSettings& s, const SeriesTraces& tr, SeriesHost& host)
        : m_s(s), m_tr(tr), m_host(host)
    {
    }

    SeriesResult run()
    {
        m_r.passes = m_s.passes;
        m_r.maxStartRepeats = m_s.maxStartRepeats;
        m_r.saveData = m_s.saveData;
        m_r.dataDir = m_s.dataDir;
        // Three doubles per pass: the only series data kept in memory.
        m_r.src2Rf.reserve(m_s.passes);
        m_r.src2Hd.reserve(m_s.passes);
        m_r.src2Snk.reserve(m_s.passes);
        if (m_s.saveData)
            m_sets.reset(new TraceSets(m_s.dataDir));

        runPasses();
        close();
        formMeans();
        if (m_s.saveData)
            writeFiles();
        return m_r;
    }

private:
    void runPasses()
    {
        int repeats = 0;
        while (m_r.counted < m_s.passes) {
            m_progress.repeats = repeats;
            const PassEnd end = pass();
            if (end == PassEnd::Stopped) {
                m_r.end = SeriesEnd::Cancelled;
                return;
            }
            if (end == PassEnd::Repeated) {
                ++m_r.totalRepeats;
                m_progress.totalRepeats = m_r.totalRepeats;
                if (++repeats >= m_s.maxStartRepeats) {
                    m_r.end = SeriesEnd::Aborted;
                    return;
                }
                m_progress.repeats = repeats;
            } else {
                repeats = 0;
                m_progress.repeats = 0;
                ++m_r.counted;
                m_progress.counted = m_r.counted;
                if (m_sets)
                    m_sets->write(m_r.counted, *m_tr.d1, *m_tr.d2, *m_tr.d3, *m_tr.pts, &m_r);
            }
            // A cancel that arrives with the last pass already counted
            // changes nothing: the series is complete.
            if (!m_host.checkpoint(m_progress) && m_r.counted < m_s.passes) {
                m_r.end = SeriesEnd::Cancelled;
                return;
            }
        }
    }

    // One pass. Every instrument call is followed by a checkpoint; a stop
    // there abandons the pass uncounted.
    PassEnd pass()
    {
        bool ok = false;
        if (!command(I::SpectrumAnalyzer, "INIT:CONT OFF;*OPC?\n", &ok))
            return PassEnd::Stopped;
        if (ok && !acquire())
            return PassEnd::Stopped;

        buildTimeAxis(m_s.osTyp, *m_tr.pts, m_tr.t);
        if (!startLevelOk(*m_tr.d1))
            return PassEnd::Repeated;

        const QString pts = QString::number(*m_tr.pts);
        if (m_s.rfFromScope) {
            if (!read(I::Oscilloscope, QStringLiteral("CHAN3:DATA?\n"), m_tr.d2))
                return PassEnd::Stopped;
        } else {
            if (!command(I::SpectrumAnalyzer, "FORM REAL,32;*OPC?\n", &ok))
                return PassEnd::Stopped;
            if (ok && !read(I::SpectrumAnalyzer, QStringLiteral("TRAC? TRACE1, ") + pts + QLatin1Char('\n'), m_tr.d2))
                return PassEnd::Stopped;
        }
        normaliseRf(m_tr.d2);

        // HDMI off: 0 as ever. On: not-a-number unless the analyzer delivered.
        double hd = 0.0;
        if (m_s.hdmi) {
            hd = kNaN;
            int status = 0;
            if (!queryInt("READ:AVDA:TTV:STAT?\n", &status, &ok))
                return PassEnd::Stopped;
            if (ok && status == 1) {
                int count = 0;
                if (!queryInt("READ:AVDA:TTV:COUN?\n", &count, &ok))
                    return PassEnd::Stopped;
                if (ok) {
                    double v = kNaN;
                    if (!queryDouble("READ:AVDA:TTV:VAL?\n", &v, &ok))
                        return PassEnd::Stopped;
                    if (ok)
                        hd = v;
                }
            }
        }

        if (!read(I::Oscilloscope, QStringLiteral("CHAN2:DATA?\n"), m_tr.d3))
            return PassEnd::Stopped;

        double rf = kNaN;
        double snk = kNaN;
        m_host.calcDelays(*m_tr.pts, m_tr.d1, m_tr.d2, m_tr.d3, m_tr.t, &rf, &snk);
        m_r.src2Rf.append(rf);
        m_r.src2Hd.append(hd);
        m_r.src2Snk.append(snk);
        return PassEnd::Counted;
    }

    // Triggered acquisition and channel 1. False only when stopped.
    bool acquire()
    {
        const bool first = isFirstFamily(m_s.osTyp);
        const AcquireStep* steps = first ? kFirstFamilyAcquire : kSecondFamilyAcquire;
        bool ok = false;
        for (int i = 0; i < 3; ++i) {
            if (!command(I::Oscilloscope, steps[i].cmd, &ok))
                return false;
            if (!ok && steps[i].required)
                return true;
        }
        QVector<double>& d1 = *m_tr.d1;
        const bool stopped = !readInto(I::Oscilloscope, QStringLiteral("CHAN1:DATA?\n"), &d1, &ok);
        if (stopped)
            return false;
        if (!ok)
            return true;
        *m_tr.pts = d1.size();
        if (!first) {
            const QString cmd = QStringLiteral("SWE:POIN ") + QString::number(*m_tr.pts) + QStringLiteral(";*OPC?\n");
            if (!command(I::SpectrumAnalyzer, cmd, &ok))
                return false;
        }
        return true;
    }

    void close()
    {
        m_host.command(I::Oscilloscope, isFirstFamily(m_s.osTyp) ? QStringLiteral("RUNC;*OPC?\n")
                                                                 : QStringLiteral("RUN;*OPC?\n"));
        m_host.command(I::SpectrumAnalyzer, QStringLiteral("INIT:CONT ON;*OPC?\n"));
    }

    void formMeans()
    {
        m_r.src2RfMean = meanOfDelivered(m_r.src2Rf, &m_r.rfContributed);
        m_r.src2HdMean = meanOfDelivered(m_r.src2Hd, &m_r.hdContributed);
        m_r.src2SnkMean = meanOfDelivered(m_r.src2Snk, &m_r.snkContributed);
    }

    void writeFiles()
    {
        // The results file is created, never replaced: a series that ends in
        // the same second as an earlier one (a quick failing series, or a
        // second program instance on the same data folder) takes the next
        // free second for its stamp instead of overwriting that one's files.
        QDateTime when = QDateTime::currentDateTime();
        QFile f;
        bool opened = false;
        for (int tries = 0; !opened && tries < kMaxStampTries; ++tries, when = when.addSecs(1)) {
            m_r.stamp = timeStamp(when);
            f.setFileName(m_s.dataDir + QLatin1Char('/') + resultsFileName(m_r.stamp));
            opened = f.open(QIODevice::WriteOnly | QIODevice::NewOnly);
            if (!opened && !f.exists())
                break;  // not a name clash: the folder cannot be written
        }
        if (!opened) {
            // No results file, no trace files: the sets are discarded with the
            // private folder.
            m_r.resultsFailed = true;
            m_r.resultsError = f.errorString();
            m_r.returnCode = -1;
            return;
        }
        const QByteArray text = resultsText(m_r.src2Rf, m_r.src2RfMean, m_r.src2Hd, m_r.src2HdMean,
                                            m_r.src2Snk, m_r.src2SnkMean);
        const bool written = f.write(text) == text.size() && f.flush();
        f.close();
        if (!written || f.error() != QFileDevice::NoError) {
            m_r.resultsFailed = true;
            m_r.resultsError = f.errorString();
        }
        m_sets->publish(m_s.dataDir, m_r.stamp, m_r.counted, &m_r);
    }

    bool command(Instrument to, const char* cmd, bool* ok)
    {
        return command(to, QString::fromLatin1(cmd), ok);
    }
    bool command(Instrument to, const QString& cmd, bool* ok)
    {
        *ok = m_host.command(to, cmd);
        return m_host.checkpoint(m_progress);
    }
    bool queryInt(const char* q, int* v, bool* ok)
    {
        *ok = m_host.queryInt(I::VideoAnalyzer, QString::fromLatin1(q), v);
        return m_host.checkpoint(m_progress);
    }
    bool queryDouble(const char* q, double* v, bool* ok)
    {
        *ok = m_host.queryDouble(I::VideoAnalyzer, QString::fromLatin1(q), v);
        return m_host.checkpoint(m_progress);
    }
    bool readInto(Instrument from, const QString& q, QVector<double>* arr, bool* ok)
    {
        *ok = m_host.readTrace(from, q, arr);
        return m_host.checkpoint(m_progress);
    }
    // A read whose failure the pass ignores: the vector keeps its content.
    bool read(Instrument from, const QString& q, QVector<double>* arr)
    {
        bool ok = false;
        return readInto(from, q, arr, &ok);
    }

    const SeriesSettings& m_s;
    const SeriesTraces& m_tr;
    SeriesHost& m_host;
    SeriesResult m_r;
    SeriesProgress m_progress;
    std::unique_ptr<TraceSets> m_sets;
};

QString meanNote(const char* what, int contributed, int passes)
{
    return QStringLiteral("%1 mean over %2 of %3 passes.").arg(QLatin1String(what)).arg(contributed).arg(passes);
}

}  // namespace

SeriesResult runSeries(const SeriesSettings& settings, const SeriesTraces& traces, SeriesHost& host)
{
    SeriesSettings s = settings;
    if (s.passes < 0)
        s.passes = 0;
    if (s.passes > kMaxPasses)
        s.passes = 0;  // the caller refuses such counts; never run them
    if (s.maxStartRepeats < 1)
        s.maxStartRepeats = 1;
    SeriesRun run(s, traces, host);
    return run.run();
}

QString seriesMessage(const SeriesResult& r)
{
    QStringList lines;
    switch (r.end) {
    case SeriesEnd::Cancelled:
        lines << QStringLiteral("The measurement was cancelled after %1 of %2 passes.").arg(r.counted).arg(r.passes);
        break;
    case SeriesEnd::Aborted:
        lines << QStringLiteral("The measurement was stopped after %1 of %2 passes: the source trace started "
                                "outside %3 V ... %4 V in %5 acquisitions in a row. Check the oscilloscope "
                                "set-up and the source signal.")
                     .arg(r.counted)
                     .arg(r.passes)
                     .arg(kStartLow)
                     .arg(kStartHigh)
                     .arg(r.maxStartRepeats);
        break;
    case SeriesEnd::Completed:
        break;
    }
    if (r.rfContributed < r.passes)
        lines << meanNote("Source -> RF", r.rfContributed, r.passes);
    if (r.hdContributed < r.passes)
        lines << meanNote("Source -> HDMI", r.hdContributed, r.passes);
    if (r.snkContributed < r.passes)
        lines << meanNote("Source -> Sink", r.snkContributed, r.passes);

    const QString folder = QDir::toNativeSeparators(r.dataDir);
    if (r.saveData && r.resultsFailed && r.returnCode != 0) {
        lines << QStringLiteral("The results file could not be written in the folder %1 (%2); no trace "
                                "files were written.")
                     .arg(folder, r.resultsError);
    } else if (r.saveData) {
        if (r.resultsFailed)
            lines << QStringLiteral("The results file in the folder %1 could not be written completely (%2).")
                         .arg(folder, r.resultsError);
        if (r.traceFilesFailed > 0)
            lines << QStringLiteral("%1 of %2 trace files could not be written in the folder %3 (%4).")
                         .arg(r.traceFilesFailed)
                         .arg(3 * r.counted)
                         .arg(folder, r.traceError);
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace measurement
