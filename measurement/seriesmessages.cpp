// What the operator reads about a series: the count field's verdicts and
// the message after a series.
#include "series.h"

#include "delays.h"

#include <QDir>
#include <QStringList>

namespace measurement {

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

QString countRefusal(const QString& text)
{
    const PassCount c = parsePassCount(text);
    if (c.refused)
        return QStringLiteral("The measurement count %1 is too large: at most %2 measurements can be run "
                              "in one series.")
            .arg(text.trimmed())
            .arg(kMaxPasses);
    if (c.passes > 0)
        return QString();
    const QString what = text.trimmed().isEmpty()
                             ? QStringLiteral("No measurement count is given")
                             : QStringLiteral("A measurement count of %1 runs no measurement").arg(text.trimmed());
    return what + QStringLiteral(": enter a number from 1 to %1.").arg(kMaxPasses);
}

namespace {

QString meanNote(const char* what, int contributed, int passes)
{
    return QStringLiteral("%1 mean over %2 of %3 passes.").arg(QLatin1String(what)).arg(contributed).arg(passes);
}

}  // namespace

QString instrumentName(Instrument i)
{
    switch (i) {
    case Instrument::Oscilloscope:
        return QStringLiteral("oscilloscope");
    case Instrument::SpectrumAnalyzer:
        return QStringLiteral("spectrum analyzer");
    case Instrument::VideoAnalyzer:
        break;
    }
    return QStringLiteral("video analyzer");
}

namespace {

QString describe(const StepFailure& f)
{
    return QStringLiteral("%1, \"%2\": %3").arg(instrumentName(f.instrument), f.step, f.fault);
}

}  // namespace

QString seriesMessage(const SeriesResult& r)
{
    QStringList lines;
    switch (r.end) {
    case SeriesEnd::Cancelled:
        lines << QStringLiteral("The measurement was cancelled after %1 of %2 passes.").arg(r.counted).arg(r.passes);
        break;
    case SeriesEnd::Aborted:
        if (r.abortCause.step.isEmpty()) {
            lines << QStringLiteral("The measurement was stopped after %1 of %2 passes: the source trace started "
                                    "outside %3 V ... %4 V in %5 acquisitions in a row. Check the oscilloscope "
                                    "set-up and the source signal.")
                         .arg(r.counted)
                         .arg(r.passes)
                         .arg(kStartLow)
                         .arg(kStartHigh)
                         .arg(r.maxStartRepeats);
        } else {
            lines << QStringLiteral("The measurement was stopped after %1 of %2 passes: %3 acquisitions in a row "
                                    "failed or started outside the start level. The first failure: %4.")
                         .arg(r.counted)
                         .arg(r.passes)
                         .arg(r.maxStartRepeats)
                         .arg(describe(r.abortCause));
        }
        break;
    case SeriesEnd::Completed:
        break;
    }
    if (r.failedAcquisitions > 0) {
        lines << QStringLiteral("%1 acquisitions failed and were not counted:").arg(r.failedAcquisitions);
        int listed = 0;
        for (int i = 0; i < r.failures.size(); ++i) {
            listed += r.failureCounts[i];
            lines << QStringLiteral("  %1x %2").arg(r.failureCounts[i]).arg(describe(r.failures[i]));
        }
        if (listed < r.failedAcquisitions)
            lines << QStringLiteral("  %1x for other reasons").arg(r.failedAcquisitions - listed);
    }
    if (r.counted == 0 && r.passes > 0)
        lines << QStringLiteral("No pass was counted: there are no traces to show.");
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
    if (r.saveData && r.recordFailed)
        lines << (r.recordPath.isEmpty()
                      ? QStringLiteral("The per-pass record could not be created in the folder %1 (%2).")
                            .arg(folder, r.recordError)
                      : QStringLiteral("The per-pass record %1 is incomplete (%2).")
                            .arg(QDir::toNativeSeparators(r.recordPath), r.recordError));
    return lines.join(QLatin1Char('\n'));
}

bool seriesWentWrong(const SeriesResult& r)
{
    const bool files = r.saveData && (r.resultsFailed || r.traceFilesFailed > 0 || r.recordFailed);
    return r.end == SeriesEnd::Aborted || r.failedAcquisitions > 0 || files;
}

}  // namespace measurement
