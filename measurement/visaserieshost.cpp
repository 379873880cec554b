#include "visaserieshost.h"

#include "tracetransfer.h"
#include "visabinding.h"
#include "visaquery.h"

namespace measurement {

namespace {

bool same(const SeriesProgress& a, const SeriesProgress& b)
{
    return a.counted == b.counted && a.passes == b.passes && a.repeats == b.repeats && a.totalRepeats == b.totalRepeats
           && a.failed == b.failed;
}

}  // namespace

VisaSeriesHost::VisaSeriesHost(const Sessions& sessions, bool visaLoaded)
    : m_sessions(sessions), m_visaLoaded(visaLoaded)
{
}

CallResult VisaSeriesHost::command(Instrument to, const QString& cmd)
{
    QString reply;
    return outcome(to, VisaQuery(session(to), cmd, &reply));
}

CallResult VisaSeriesHost::queryInt(Instrument to, const QString& query, int* value)
{
    return outcome(to, VisaQueryInt(session(to), query, value));
}

CallResult VisaSeriesHost::queryDouble(Instrument to, const QString& query, double* value)
{
    return outcome(to, VisaQueryDouble(session(to), query, value));
}

CallResult VisaSeriesHost::readTrace(Instrument from, const QString& query, QVector<double>* arr)
{
    if (!m_visaLoaded)
        return CallResult::failure(QStringLiteral("no VISA library"));
    QString why;
    const bool ok =
        queryTraceBlock(session(from), query.toLocal8Bit(), arr, &why, [this] { return checkpoint(m_last); });
    return ok ? CallResult::success() : CallResult::failure(why);
}

bool VisaSeriesHost::checkpoint(const SeriesProgress& progress)
{
    const bool changed = !m_started || !same(progress, m_last);
    m_started = true;
    m_last = progress;
    return proceed(progress, changed);
}

ViSession VisaSeriesHost::session(Instrument i) const
{
    switch (i) {
    case Instrument::Oscilloscope:
        return m_sessions.oscilloscope;
    case Instrument::SpectrumAnalyzer:
        return m_sessions.spectrumAnalyzer;
    case Instrument::VideoAnalyzer:
        break;
    }
    return m_sessions.videoAnalyzer;
}

CallResult VisaSeriesHost::outcome(Instrument i, ViStatus st) const
{
    if (st == VI_SUCCESS)
        return CallResult::success();
    return CallResult::failure(visaStatusText(session(i), st));
}

}  // namespace measurement
