// The instrument side of a series on the three Init sessions: the calls of
// SeriesHost through the loaded VISA library. What happens between the calls
// (showing progress, noticing a cancel) is the running program's: the window
// and the unattended runner each add only that.
#pragma once

#include "series.h"

#include <visa.h>

namespace measurement {

struct Sessions
{
    ViSession oscilloscope = VI_NULL;
    ViSession spectrumAnalyzer = VI_NULL;
    ViSession videoAnalyzer = VI_NULL;
};

class VisaSeriesHost : public SeriesHost
{
public:
    // `visaLoaded` false: every trace read fails at once (there is no library
    // to read with).
    VisaSeriesHost(const Sessions& sessions, bool visaLoaded);

    CallResult command(Instrument to, const QString& cmd) override;
    CallResult queryInt(Instrument to, const QString& query, int* value) override;
    CallResult queryDouble(Instrument to, const QString& query, double* value) override;
    // A misbehaving instrument is waited out between the reads, with the
    // program's checkpoint (and its cancel) alive.
    CallResult readTrace(Instrument from, const QString& query, QVector<double>* arr) override;
    bool checkpoint(const SeriesProgress& progress) final;

protected:
    // Between instrument calls: `changed` says whether the progress differs
    // from the last one given. False stops the series.
    virtual bool proceed(const SeriesProgress& progress, bool changed) = 0;

private:
    ViSession session(Instrument i) const;
    CallResult outcome(Instrument i, ViStatus st) const;

    Sessions m_sessions;
    bool m_visaLoaded;
    bool m_started = false;
    SeriesProgress m_last;
};

}  // namespace measurement
