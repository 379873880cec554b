#include "runner.h"

#include "instrumentinit.h"
#include "paths.h"
#include "resultfiles.h"
#include "sequence.h"
#include "settings.h"
#include "statistics.h"
#include "visabinding.h"
#include "visaserieshost.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QThread>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace run {

using measurement::Instrument;
using measurement::SeriesResult;

// ---- cancelling ---------------------------------------------------------------

namespace {

volatile std::sig_atomic_t g_signals = 0;

extern "C" void onSignal(int)
{
    if (g_signals) {
        static const char msg[] = "quarnel-run: second signal: ending at once\n";
        ssize_t ignored = ::write(STDERR_FILENO, msg, sizeof msg - 1);
        (void)ignored;
        ::_exit(ExitCancelled);
    }
    g_signals = 1;
}

}  // namespace

void installCancelHandlers()
{
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    // Blocking reads wait out their time-out as they would without the
    // signal; the cancel is seen at the next checkpoint, as Cancel is.
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A reader of the JSON that goes away (`| head`) must not end the run
    // before the closing commands and the files: the write fails instead.
    std::signal(SIGPIPE, SIG_IGN);
}

bool cancelRequested()
{
    return g_signals != 0;
}

// ---- places ---------------------------------------------------------------------

QString programDataDir()
{
    // The window's folder, whatever this program is called.
    return dataDirFromLocation(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                               + QStringLiteral("/quarnel"));
}

QString programConfigFile()
{
    return cfgFilePath(programDataDir(), QStringLiteral("quarnel"));
}

// ---- results ----------------------------------------------------------------------

ExitStatus seriesStatus(const SeriesResult& r)
{
    if (r.end == measurement::SeriesEnd::Aborted)
        return ExitInstrument;
    if (r.saveData && (r.resultsFailed || r.traceFilesFailed > 0 || r.recordFailed))
        return ExitFiles;
    if (r.end == measurement::SeriesEnd::Cancelled)
        return ExitCancelled;
    return ExitSuccess;
}

namespace {

QJsonValue number(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null);
}

QJsonObject summaryObject(const QVector<double>& values)
{
    const measurement::Summary s = measurement::summarize(values);
    return QJsonObject{{"n", s.n},
                       {"missing", s.missing},
                       {"mean", number(s.mean)},
                       {"sigma", number(s.sigma)},
                       {"min", number(s.min)},
                       {"p5", number(s.p5)},
                       {"median", number(s.median)},
                       {"p95", number(s.p95)},
                       {"p99", number(s.p99)},
                       {"max", number(s.max)}};
}

QByteArray line(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

const char* endName(measurement::SeriesEnd e)
{
    switch (e) {
    case measurement::SeriesEnd::Completed:
        return "completed";
    case measurement::SeriesEnd::Cancelled:
        return "cancelled";
    case measurement::SeriesEnd::Aborted:
        break;
    }
    return "aborted";
}

QJsonObject failureObject(const measurement::StepFailure& f)
{
    return QJsonObject{{"instrument", measurement::instrumentName(f.instrument)}, {"step", f.step}, {"fault", f.fault}};
}

}  // namespace

QByteArray passJson(int series, const measurement::PassRow& row)
{
    return line(QJsonObject{{"type", "pass"},
                            {"series", series},
                            {"pass", row.pass},
                            {"time", row.time.toOffsetFromUtc(row.time.offsetFromUtc()).toString(Qt::ISODateWithMs)},
                            {"src2rf_ms", number(row.src2Rf)},
                            {"src2hd", number(row.src2Hd)},
                            {"src2snk_ms", number(row.src2Snk)},
                            {"start_repeats", row.startRepeats},
                            {"failed_acquisitions", row.failedAcquisitions},
                            {"tsrc_s", number(row.tsrc)},
                            {"trf_s", number(row.trf)},
                            {"tsnk_s", number(row.tsnk)}});
}

QByteArray summaryJson(int series, const SeriesResult& r, bool hdmi)
{
    QJsonArray failures;
    for (int i = 0; i < r.failures.size(); ++i) {
        QJsonObject f = failureObject(r.failures[i]);
        f.insert("count", r.failureCounts[i]);
        failures.append(f);
    }
    QJsonObject o{{"type", "summary"},
                  {"series", series},
                  {"end", endName(r.end)},
                  {"status", int(seriesStatus(r))},
                  {"passes", r.passes},
                  {"counted", r.counted},
                  {"start_repeats", r.totalRepeats},
                  {"failed_acquisitions", r.failedAcquisitions},
                  {"failures", failures},
                  {"abort_cause", r.end == measurement::SeriesEnd::Aborted ? QJsonValue(failureObject(r.abortCause))
                                                                           : QJsonValue(QJsonValue::Null)},
                  {"src2rf_ms", summaryObject(r.src2Rf)},
                  {"src2hd", hdmi ? QJsonValue(summaryObject(r.src2Hd)) : QJsonValue(QJsonValue::Null)},
                  {"src2snk_ms", summaryObject(r.src2Snk)},
                  {"message", measurement::seriesMessage(r)}};
    const bool results = r.saveData && r.returnCode == 0;
    const QString dir = QDir(r.dataDir).absolutePath();
    o.insert("data_dir", r.saveData ? QJsonValue(dir) : QJsonValue(QJsonValue::Null));
    o.insert("stamp", results ? QJsonValue(r.stamp) : QJsonValue(QJsonValue::Null));
    o.insert("results_file", results ? QJsonValue(dir + QLatin1Char('/') + measurement::resultsFileName(r.stamp))
                                     : QJsonValue(QJsonValue::Null));
    o.insert("record_file", r.saveData && !r.recordPath.isEmpty()
                                ? QJsonValue(QFileInfo(r.recordPath).absoluteFilePath())
                                : QJsonValue(QJsonValue::Null));
    // Three per counted pass: <stamp><set>_src.bin, _rf.bin, _snk.bin.
    o.insert("trace_files", results ? 3 * r.counted - r.traceFilesFailed : 0);
    o.insert("trace_files_failed", r.saveData ? (results ? r.traceFilesFailed : 3 * r.counted) : 0);
    return line(o);
}

// ---- the run ------------------------------------------------------------------------

namespace {

void err(const QString& text)
{
    const QByteArray b = QByteArrayLiteral("quarnel-run: ") + text.toUtf8() + '\n';
    std::fwrite(b.constData(), 1, size_t(b.size()), stderr);
    std::fflush(stderr);
}

void out(const QByteArray& jsonLine)
{
    std::fwrite(jsonLine.constData(), 1, size_t(jsonLine.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QString meanText(const char* name, const measurement::DelayStats& s)
{
    if (s.count() == 0)
        return QStringLiteral("%1 n/a").arg(QLatin1String(name));
    QString t = QStringLiteral("%1 %2").arg(QLatin1String(name)).arg(s.mean(), 0, 'f', 3);
    if (s.count() > 1)
        t += QStringLiteral(" \u03c3 %1").arg(s.sigma(), 0, 'f', 3);
    return t;
}

// The console's side of a series: progress lines, JSON lines, the signal.
class ConsoleHost : public measurement::VisaSeriesHost
{
public:
    ConsoleHost(const measurement::Sessions& s, const RunOptions& o, int series, bool hdmi)
        : VisaSeriesHost(s, true), m_o(o), m_series(series), m_hdmi(hdmi)
    {
        for (measurement::DelayStats* d : {&m_rf, &m_hd, &m_snk})
            d->reserve(o.passes);
    }

    void passCounted(const measurement::PassRow& row, int) override
    {
        m_rf.add(row.src2Rf);
        m_hd.add(row.src2Hd);
        m_snk.add(row.src2Snk);
        if (m_o.json)
            out(passJson(m_series, row));
    }

    // The last progress, unless it was the last line shown.
    void reportEnd()
    {
        if (m_unshown)
            report(m_last);
    }

protected:
    bool proceed(const measurement::SeriesProgress& p, bool changed) override
    {
        m_last = p;
        m_unshown = m_unshown || changed;
        // At most two lines a second; what is in between shows in the next.
        if (m_unshown && (!m_shown.isValid() || m_shown.elapsed() >= 500))
            report(p);
        return !cancelRequested();
    }

private:
    void report(const measurement::SeriesProgress& p)
    {
        m_unshown = false;
        if (m_o.quiet || (p.counted == 0 && p.totalRepeats == 0 && p.failed == 0))
            return;
        QString s;
        if (m_o.repeat > 1)
            s = QStringLiteral("series %1 of %2, ").arg(m_series).arg(m_o.repeat);
        s += QStringLiteral("pass %1 of %2: ").arg(p.counted).arg(p.passes) + meanText("src->rf", m_rf);
        if (m_hdmi)
            s += QStringLiteral(", ") + meanText("src->hdmi", m_hd);
        s += QStringLiteral(", ") + meanText("src->snk", m_snk) + QStringLiteral(" ms");
        if (p.totalRepeats > 0 || p.failed > 0)
            s += QStringLiteral("; %1 start-level repeats, %2 failed acquisitions").arg(p.totalRepeats).arg(p.failed);
        err(s);
        m_shown.start();
    }

    measurement::SeriesProgress m_last;
    bool m_unshown = false;
    const RunOptions& m_o;
    int m_series;
    bool m_hdmi;
    measurement::DelayStats m_rf, m_hd, m_snk;
    QElapsedTimer m_shown;
};

// The sessions the run opened, closed however it ends.
struct Instruments
{
    ViSession rm = VI_NULL;
    measurement::Sessions s;
    ~Instruments()
    {
        for (ViSession v : {s.oscilloscope, s.spectrumAnalyzer, s.videoAnalyzer, rm})
            if (v != VI_NULL)
                VisaClose(v);
    }
};

// Runs one Init; false (with the message written) when it fails.
bool init(Instrument which, const setup::Sequence& seq, ViSession rm, const QString& resource, ViSession* session,
          bool quiet, QString* identification)
{
    const setup::Result r = setup::initInstrument(seq, rm, resource, session);
    *identification = r.identification;
    const QString name = measurement::instrumentName(which);
    if (r.status != VI_SUCCESS) {
        err(QStringLiteral("%1 Init failed at \"%2\": %3 (%4)")
                .arg(name, r.decisive.step, visaStatusText(*session != VI_NULL ? *session : rm, r.decisive.status),
                     resource));
        return false;
    }
    if (!quiet) {
        const QString idn = r.identification.trimmed();
        err(name + QStringLiteral(" ready") + (idn.isEmpty() ? QString() : QStringLiteral(": ") + idn));
    }
    return true;
}

bool pause(double seconds)
{
    QElapsedTimer clock;
    clock.start();
    while (!cancelRequested() && clock.elapsed() < qint64(seconds * 1000.0))
        QThread::msleep(50);
    return !cancelRequested();
}

}  // namespace

int runUnattended(const RunOptions& o)
{
    // ---- settings: the file, then the options
    const QString cfg = o.config.isEmpty() ? programConfigFile() : o.config;
    CfgValues v;
    if (!o.config.isEmpty() || QFileInfo::exists(cfg)) {
        const QStringList problems = cfgProblems(cfg);
        for (const QString& p : problems)
            err(QStringLiteral("settings: ") + p);
        if (!problems.isEmpty())
            return ExitUsage;
        v = readCfg(cfg);
    } else if (!o.quiet) {
        err(QStringLiteral("no settings file %1: the defaults apply").arg(cfg));
    }
    if (!o.scope.isEmpty())
        v.osIp = o.scope;
    if (!o.analyzer.isEmpty())
        v.saIp = o.analyzer;
    if (!o.video.isEmpty())
        v.vaIp = o.video;
    if (o.osTyp)
        v.osTyp = *o.osTyp;
    if (o.rfFromScope)
        v.saIfDem = *o.rfFromScope;
    if (o.hdmi)
        v.vaHdmi = *o.hdmi;
    if (o.save)
        v.saveData = *o.save;

    const QString dataDir = o.dataDir.isEmpty() ? programDataDir() : o.dataDir;
    if (v.saveData && !QDir().mkpath(dataDir)) {
        err(QStringLiteral("the data folder %1 cannot be created").arg(QDir::toNativeSeparators(dataDir)));
        return ExitFiles;
    }

    // ---- the instruments, as the window's Init buttons set them up
    if (!LoadVisa()) {
        err(QStringLiteral("no VISA library could be loaded. Tried, in this order:\n  %1")
                .arg(visaLoadReport().join(QStringLiteral("\n  "))));
        return ExitInstrument;
    }
    Instruments in;
    if (VisaOpenDefaultRM(&in.rm) != VI_SUCCESS) {
        in.rm = VI_NULL;
        err(QStringLiteral("the VISA resource manager is not available (%1)").arg(loadedVisaLibrary()));
        return ExitInstrument;
    }
    setup::OscilloscopeParams op;
    op.type = v.osTyp;
    op.reset = v.osRst;
    op.ifDemod = v.saIfDem;
    op.triggerLevel = v.trgLvl;
    setup::AnalyzerParams ap;
    ap.oscilloscopeType = v.osTyp;
    ap.reset = v.saRst;
    ap.centreFrequency = v.saFrq;
    setup::VideoParams vp;
    vp.reset = v.vaRst;
    vp.threshold = v.vaThres;
    measurement::SeriesSettings s;
    s.passes = o.passes;
    s.osTyp = v.osTyp;
    s.rfFromScope = v.saIfDem;
    s.hdmi = v.vaHdmi;
    s.saveData = v.saveData;
    s.dataDir = dataDir;
    // What the Inits used and learned heads the per-pass record, as the window's do.
    measurement::RecordHeader& h = s.record;
    h.oscilloscope = v.osIp;
    h.spectrumAnalyzer = v.saIp;
    h.triggerLevel = v.trgLvl;
    h.centreFrequency = v.saFrq;
    struct Setup
    {
        Instrument which;
        setup::Sequence seq;
        QString resource;
        ViSession* session;
        QString* identification;
    };
    QVector<Setup> setups{
        {Instrument::Oscilloscope, setup::oscilloscopeSequence(op), v.osIp, &in.s.oscilloscope, &h.oscilloscopeId},
        {Instrument::SpectrumAnalyzer, setup::analyzerSequence(ap), v.saIp, &in.s.spectrumAnalyzer,
         &h.spectrumAnalyzerId}};
    if (v.vaHdmi) {
        setups.append(
            {Instrument::VideoAnalyzer, setup::videoSequence(vp), v.vaIp, &in.s.videoAnalyzer, &h.videoAnalyzerId});
        h.videoAnalyzer = v.vaIp;
        h.videoThreshold = v.vaThres;
    }
    // In the order an operator presses the buttons; a signal stops before the next.
    for (const Setup& u : setups) {
        if (cancelRequested())
            return ExitCancelled;
        if (!init(u.which, u.seq, in.rm, u.resource, u.session, o.quiet, u.identification))
            return ExitInstrument;
    }

    // ---- the series
    // The series publishes the last counted pass here, as it does into the
    // window's traces; nobody plots them.
    QVector<double> d1, d2, d3, t;
    int pts = 0;
    const measurement::SeriesTraces traces{&d1, &d2, &d3, &t, &pts, nullptr, nullptr, nullptr};

    for (int k = 1; k <= o.repeat; ++k) {
        if (cancelRequested())
            return ExitCancelled;
        ConsoleHost host(in.s, o, k, v.vaHdmi);
        const SeriesResult r = measurement::runSeries(s, traces, host);
        host.reportEnd();
        const QString note = measurement::seriesMessage(r);
        if (!note.isEmpty())
            err(note);
        if (r.saveData && r.returnCode == 0 && !o.quiet)
            err(QStringLiteral("results: %1")
                    .arg(QDir::toNativeSeparators(
                        QDir(dataDir).absoluteFilePath(measurement::resultsFileName(r.stamp)))));
        if (o.json)
            out(summaryJson(k, r, v.vaHdmi));
        const ExitStatus st = seriesStatus(r);
        if (st != ExitSuccess)
            return st;
        if (k < o.repeat && !pause(o.intervalS))
            return ExitCancelled;
    }
    return ExitSuccess;
}

}  // namespace run
