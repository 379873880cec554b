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

void SeriesHost::passCounted(const PassRow&, int)
{
}

namespace {

using I = Instrument;

// Triggered acquisition of each oscilloscope family, before channel 1 is read.
// A failed step marked required fails the pass; the others' statuses are
// ignored.
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
    explicit TraceSets(const QString& dataDir) : m_dir(dataDir + QStringLiteral("/.series-XXXXXX"))
    {
        if (!m_dir.isValid())
            m_setupError = m_dir.errorString();
    }

    void write(int k, const QVector<double>& d1, const QVector<double>& d2, const QVector<double>& d3, int cnt,
               SeriesResult* r)
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
    // The stamp was reserved at the start, so a file already under one of
    // these names is a leftover of no series; it gives way.
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

enum class PassEnd { Counted, Repeated, Failed, Stopped };

class SeriesRun
{
public:
    SeriesRun(const SeriesSettings& s, const SeriesTraces& tr, SeriesHost& host) : m_s(s), m_tr(tr), m_host(host) {}

    SeriesResult run()
    {
        m_r.passes = m_s.passes;
        m_r.maxStartRepeats = m_s.maxStartRepeats;
        m_r.saveData = m_s.saveData;
        m_r.dataDir = m_s.dataDir;
        m_progress.passes = m_s.passes;
        // A few numbers per pass: the only series data kept in memory.
        m_r.src2Rf.reserve(m_s.passes);
        m_r.src2Hd.reserve(m_s.passes);
        m_r.src2Snk.reserve(m_s.passes);
        if (m_s.saveData) {
            m_sets.reset(new TraceSets(m_s.dataDir));
            createRecord();
        }

        runPasses();
        if (m_r.counted == 0)
            publishNothing();
        close();
        formMeans();
        if (m_s.saveData)
            writeFiles();
        return m_r;
    }

private:
    void runPasses()
    {
        int inRow = 0;  // passes in a row that did not count
        int repeatsBefore = 0, failedBefore = 0;
        StepFailure runCause;  // first failure among the passes in a row that did not count
        while (m_r.counted < m_s.passes) {
            m_progress.repeats = inRow;
            const PassEnd end = pass();
            if (end == PassEnd::Stopped) {
                m_r.end = SeriesEnd::Cancelled;
                return;
            }
            if (end == PassEnd::Counted) {
                inRow = 0;
                ++m_r.counted;
                if (m_sets)
                    m_sets->write(m_r.counted, m_d1, m_d2, m_d3, m_pts, &m_r);
                publish();
                recordPass(repeatsBefore, failedBefore);
                repeatsBefore = failedBefore = 0;
            } else {
                if (inRow == 0)
                    runCause = StepFailure();
                if (end == PassEnd::Repeated) {
                    ++m_r.totalRepeats;
                    ++repeatsBefore;
                } else {
                    noteFailure();
                    ++failedBefore;
                    if (runCause.step.isEmpty())
                        runCause = m_failure;
                }
                if (++inRow >= m_s.maxStartRepeats) {
                    m_r.end = SeriesEnd::Aborted;
                    m_r.abortCause = runCause;
                    return;
                }
            }
            m_progress.counted = m_r.counted;
            m_progress.repeats = inRow;
            m_progress.totalRepeats = m_r.totalRepeats;
            m_progress.failed = m_r.failedAcquisitions;
            // A cancel that arrives with the last pass already counted
            // changes nothing: the series is complete.
            if (!m_host.checkpoint(m_progress) && m_r.counted < m_s.passes) {
                m_r.end = SeriesEnd::Cancelled;
                return;
            }
        }
    }

    // The failure of the pass just ended, counted by reason.
    void noteFailure()
    {
        ++m_r.failedAcquisitions;
        const int i = m_r.failures.indexOf(m_failure);
        if (i >= 0) {
            ++m_r.failureCounts[i];
        } else if (m_r.failures.size() < kMaxFailureKinds) {
            m_r.failures << m_failure;
            m_r.failureCounts << 1;
        }
    }

    // One pass, on the series' own buffers. Every instrument call is followed
    // by a checkpoint; a stop there abandons the pass uncounted.
    PassEnd pass()
    {
        CallResult c;
        if (!command(I::SpectrumAnalyzer, "INIT:CONT OFF;*OPC?\n", &c))
            return PassEnd::Stopped;
        if (!c.ok)
            return failed(I::SpectrumAnalyzer, "INIT:CONT OFF;*OPC?\n", c);

        const bool first = isFirstFamily(m_s.osTyp);
        for (const AcquireStep& step : first ? kFirstFamilyAcquire : kSecondFamilyAcquire) {
            if (!command(I::Oscilloscope, step.cmd, &c))
                return PassEnd::Stopped;
            if (!c.ok && step.required)
                return failed(I::Oscilloscope, step.cmd, c);
        }
        const QString chan1 = QStringLiteral("CHAN1:DATA?\n");
        if (!read(I::Oscilloscope, chan1, &m_d1, &c))
            return PassEnd::Stopped;
        if (!c.ok)
            return failed(I::Oscilloscope, chan1, c);
        m_pts = m_d1.size();
        if (!first) {
            const QString cmd = QStringLiteral("SWE:POIN ") + QString::number(m_pts) + QStringLiteral(";*OPC?\n");
            if (!command(I::SpectrumAnalyzer, cmd, &c))
                return PassEnd::Stopped;
        }

        // The axis depends only on the point count: built again only when
        // that changes.
        if (m_t.size() != m_pts)
            buildTimeAxis(m_s.osTyp, m_pts, &m_t);
        if (!startLevelOk(m_d1))
            return PassEnd::Repeated;

        if (m_s.rfFromScope) {
            const QString chan3 = QStringLiteral("CHAN3:DATA?\n");
            if (!read(I::Oscilloscope, chan3, &m_d2, &c))
                return PassEnd::Stopped;
            if (!c.ok)
                return failed(I::Oscilloscope, chan3, c);
        } else {
            if (!command(I::SpectrumAnalyzer, "FORM REAL,32;*OPC?\n", &c))
                return PassEnd::Stopped;
            if (!c.ok)
                return failed(I::SpectrumAnalyzer, "FORM REAL,32;*OPC?\n", c);
            const QString trac = QStringLiteral("TRAC? TRACE1, ") + QString::number(m_pts) + QLatin1Char('\n');
            if (!read(I::SpectrumAnalyzer, trac, &m_d2, &c))
                return PassEnd::Stopped;
            if (!c.ok)
                return failed(I::SpectrumAnalyzer, trac, c);
        }
        normaliseRf(&m_d2);

        // HDMI off: 0 as ever. On: not-a-number unless the analyzer delivered;
        // a missing reading is the truth about this pass, not a reason to repeat it.
        double hd = 0.0;
        if (m_s.hdmi) {
            hd = kNaN;
            int status = 0;
            if (!queryInt("READ:AVDA:TTV:STAT?\n", &status, &c))
                return PassEnd::Stopped;
            if (c.ok && status == 1) {
                int count = 0;
                if (!queryInt("READ:AVDA:TTV:COUN?\n", &count, &c))
                    return PassEnd::Stopped;
                if (c.ok) {
                    double v = kNaN;
                    if (!queryDouble("READ:AVDA:TTV:VAL?\n", &v, &c))
                        return PassEnd::Stopped;
                    if (c.ok)
                        hd = v;
                }
            }
        }

        const QString chan2 = QStringLiteral("CHAN2:DATA?\n");
        if (!read(I::Oscilloscope, chan2, &m_d3, &c))
            return PassEnd::Stopped;
        if (!c.ok)
            return failed(I::Oscilloscope, chan2, c);

        m_delays = computeDelays(m_s.osTyp, m_pts, m_d1, m_d2, m_d3, m_t);
        m_r.src2Rf.append(m_delays.src2Rf);
        m_r.src2Hd.append(hd);
        m_r.src2Snk.append(m_delays.src2Snk);
        return PassEnd::Counted;
    }

    PassEnd failed(Instrument i, const QString& step, const CallResult& c)
    {
        m_failure.instrument = i;
        m_failure.step = step.trimmed();
        m_failure.fault = c.fault;
        return PassEnd::Failed;
    }
    PassEnd failed(Instrument i, const char* step, const CallResult& c)
    {
        return failed(i, QString::fromLatin1(step), c);
    }

    // The counted pass becomes the program-wide one. Swapped, not copied: the
    // series' buffers take the old storage and fill it again next pass. The
    // axis is shared instead, and stays the series' own for the next pass.
    void publish()
    {
        m_tr.d1->swap(m_d1);
        m_tr.d2->swap(m_d2);
        m_tr.d3->swap(m_d3);
        *m_tr.t = m_t;
        *m_tr.pts = m_pts;
        setEdges(m_delays.tsrc, m_delays.trf, m_delays.tsnk);
    }

    void publishNothing()
    {
        m_tr.d1->clear();
        m_tr.d2->clear();
        m_tr.d3->clear();
        m_tr.t->clear();
        *m_tr.pts = 0;
        setEdges(kNaN, kNaN, kNaN);
    }

    void setEdges(double src, double rf, double snk)
    {
        if (m_tr.tsrc)
            *m_tr.tsrc = src;
        if (m_tr.trf)
            *m_tr.trf = rf;
        if (m_tr.tsnk)
            *m_tr.tsnk = snk;
    }

    void close()
    {
        m_host.command(I::Oscilloscope,
                       isFirstFamily(m_s.osTyp) ? QStringLiteral("RUNC;*OPC?\n") : QStringLiteral("RUN;*OPC?\n"));
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
        finishRecord();
        // The results file is created, never replaced. Its stamp is the one
        // the per-pass record reserved when the series started. Without a
        // record, or when the name is taken after all (a program that does
        // not reserve stamps), a series that ends in the same second as an
        // earlier one (a quick failing series, or a second program instance
        // on the same data folder) takes the next free second for its stamp
        // instead of overwriting that one's files.
        QFile f;
        bool opened = false;
        if (!m_r.stamp.isEmpty()) {
            f.setFileName(m_s.dataDir + QLatin1Char('/') + resultsFileName(m_r.stamp));
            opened = f.open(QIODevice::WriteOnly | QIODevice::NewOnly);
        }
        QDateTime when = QDateTime::currentDateTime();
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
        const QByteArray text =
            resultsText(m_r.src2Rf, m_r.src2RfMean, m_r.src2Hd, m_r.src2HdMean, m_r.src2Snk, m_r.src2SnkMean);
        const bool written = f.write(text) == text.size() && f.flush();
        f.close();
        if (!written || f.error() != QFileDevice::NoError) {
            m_r.resultsFailed = true;
            m_r.resultsError = f.errorString();
        }
        m_sets->publish(m_s.dataDir, m_r.stamp, m_r.counted, &m_r);
    }

    void createRecord()
    {
        RecordHeader h = m_s.record;
        h.started = QDateTime::currentDateTime();
        h.passes = m_s.passes;
        h.osTyp = m_s.osTyp;
        h.rfFromScope = m_s.rfFromScope;
        h.hdmi = m_s.hdmi;
        if (m_record.createWithFreshStamp(m_s.dataDir, h.started, h, &m_r.stamp)) {
            m_r.recordPath = m_record.path();
        } else {
            m_r.stamp.clear();
            recordFailed();
        }
    }

    // The pass just counted, with the passes that did not count since the
    // previous one: a row of the record, handed to the disk before the series
    // goes on, and to the host.
    void recordPass(int startRepeats, int failedAcquisitions)
    {
        PassRow row;
        row.pass = m_r.counted;
        row.time = QDateTime::currentDateTime();
        row.src2Rf = m_r.src2Rf.last();
        row.src2Hd = m_s.hdmi ? m_r.src2Hd.last() : kNaN;  // not measured: no value
        row.src2Snk = m_r.src2Snk.last();
        row.startRepeats = startRepeats;
        row.failedAcquisitions = failedAcquisitions;
        row.tsrc = m_delays.tsrc;
        row.trf = m_delays.irf < m_pts ? m_delays.trf : kNaN;  // no RF edge: no time
        row.tsnk = m_delays.tsnk;
        if (m_record.isOpen() && !m_record.append(row, *m_tr.pts))
            recordFailed();
        m_host.passCounted(row, *m_tr.pts);
    }

    // The outlier decision over the counted passes goes into the record.
    void finishRecord()
    {
        if (!m_record.isOpen())
            return;
        const QVector<double> none;
        const RecordOutliers o =
            decideOutliers(m_r.src2Rf, m_s.hdmi ? m_r.src2Hd : none, m_r.src2Snk, samplePeriodMs(m_s.osTyp, *m_tr.pts));
        if (!m_record.finish(o))
            recordFailed();
    }

    void recordFailed()
    {
        if (!m_r.recordFailed)
            m_r.recordError = m_record.errorString();
        m_r.recordFailed = true;
    }

    bool command(Instrument to, const char* cmd, CallResult* c) { return command(to, QString::fromLatin1(cmd), c); }
    bool command(Instrument to, const QString& cmd, CallResult* c)
    {
        *c = m_host.command(to, cmd);
        return m_host.checkpoint(m_progress);
    }
    bool queryInt(const char* q, int* v, CallResult* c)
    {
        *c = m_host.queryInt(I::VideoAnalyzer, QString::fromLatin1(q), v);
        return m_host.checkpoint(m_progress);
    }
    bool queryDouble(const char* q, double* v, CallResult* c)
    {
        *c = m_host.queryDouble(I::VideoAnalyzer, QString::fromLatin1(q), v);
        return m_host.checkpoint(m_progress);
    }
    bool read(Instrument from, const QString& q, QVector<double>* arr, CallResult* c)
    {
        *c = m_host.readTrace(from, q, arr);
        return m_host.checkpoint(m_progress);
    }

    const SeriesSettings& m_s;
    const SeriesTraces& m_tr;
    SeriesHost& m_host;
    SeriesResult m_r;
    SeriesProgress m_progress;
    std::unique_ptr<TraceSets> m_sets;
    PassRecordWriter m_record;
    // The pass under way: published only when it counts. m_t always holds the
    // axis of m_t.size() points.
    QVector<double> m_d1, m_d2, m_d3, m_t;
    int m_pts = 0;
    PassDelays m_delays;
    StepFailure m_failure;  // of the pass that just failed
};

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

}  // namespace measurement
