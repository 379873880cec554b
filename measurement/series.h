// The measurement series: per-pass instrument traffic of each oscilloscope
// family, the start-level check with its bound, per-pass trace files, the
// closing commands, the means and the results file. No widgets: the window
// supplies the instrument calls, the delay computation and the progress
// display through SeriesHost.
#pragma once

#include <QString>
#include <QVector>

namespace measurement {

// Largest accepted measurement count. Every pass waits for a triggered
// acquisition over a window of 1 s or more, so 100,000 passes are more than a
// day of continuous measuring; with Save Data at 20,000 points they are also
// ~48 GB of trace files. A larger count is refused before any instrument
// traffic.
constexpr int kMaxPasses = 100000;

// Consecutive start-level repeats after which the series is aborted. With a
// working set-up a trace starting outside the window is a chance event (the
// source was mid-transition when triggered); even at one chance in two,
// twenty in a row happen once in a million series. Twenty in a row therefore
// means the set-up is wrong or the oscilloscope no longer delivers traces,
// and at the instruments' 5 s time-out they still end the series within a
// couple of minutes. The operator can cancel sooner.
constexpr int kMaxStartRepeats = 20;

struct PassCount
{
    int passes = 0;        // 0 for text that is not a number, zero or negative
    bool refused = false;  // a count above kMaxPasses
};

// Reads the measurement count as the count field holds it.
PassCount parsePassCount(const QString& text);
QString refusedCountMessage(const QString& text);

enum class Instrument { Oscilloscope, SpectrumAnalyzer, VideoAnalyzer };

struct SeriesProgress
{
    int counted = 0;       // passes counted so far
    int passes = 0;        // N
    int repeats = 0;       // consecutive start-level repeats of the current pass
    int totalRepeats = 0;  // start-level repeats over the series
};

// What the series needs from the program. Every call blocks until the
// instrument answers or its time-out ends.
class SeriesHost
{
public:
    virtual ~SeriesHost();
    // A setting command ending in "*OPC?": true when it completed (status 0).
    virtual bool command(Instrument to, const QString& cmd) = 0;
    virtual bool queryInt(Instrument to, const QString& query, int* value) = 0;
    virtual bool queryDouble(Instrument to, const QString& query, double* value) = 0;
    // Binary block of 32-bit floats into *arr; *arr is untouched on failure.
    virtual bool readTrace(Instrument from, const QString& query, QVector<double>* arr) = 0;
    // The pass's delays, ms; also leaves the edge times for the result display.
    virtual void calcDelays(int pts, QVector<double>* d1, QVector<double>* d2, QVector<double>* d3,
                            QVector<double>* t, double* src2Rf, double* src2Snk) = 0;
    // Called between instrument calls and after every pass: the only place
    // where the host may process events. False stops the series.
    virtual bool checkpoint(const SeriesProgress& progress) = 0;
};

struct SeriesSettings
{
    int passes = 0;
    int osTyp = 0;             // 0 first family, any other value second family
    bool rfFromScope = false;  // RF envelope from oscilloscope channel 3
    bool hdmi = false;         // ask the video analyzer for its delay
    bool saveData = false;     // read once at the start of the series
    QString dataDir;
    int maxStartRepeats = kMaxStartRepeats;
};

// The program-wide traces the series fills; they keep the last pass.
struct SeriesTraces
{
    QVector<double>* d1 = nullptr;
    QVector<double>* d2 = nullptr;
    QVector<double>* d3 = nullptr;
    QVector<double>* t = nullptr;
    int* pts = nullptr;
};

enum class SeriesEnd { Completed, Cancelled, Aborted };

struct SeriesResult
{
    SeriesEnd end = SeriesEnd::Completed;
    int passes = 0;        // N
    int counted = 0;       // passes that were counted
    int totalRepeats = 0;  // start-level repeats
    int maxStartRepeats = kMaxStartRepeats;  // the bound that applied
    // Per counted pass: source-to-RF (ms), source-to-HDMI (video analyzer's
    // unit), source-to-sink (ms). Not-a-number where a pass gave no value.
    QVector<double> src2Rf, src2Hd, src2Snk;
    double src2RfMean = 0.0, src2HdMean = 0.0, src2SnkMean = 0.0;
    int rfContributed = 0, hdContributed = 0, snkContributed = 0;

    // Files; only with saveData.
    bool saveData = false;
    QString dataDir;
    QString stamp;             // time stamp of the file names
    bool resultsFailed = false;
    QString resultsError;
    int traceFilesFailed = 0;  // trace files that did not reach their final name
    QString traceError;        // the first reason
    int returnCode = 0;        // 0, or -1 when the results file could not be opened
};

// Runs a whole series: the passes, the closing commands (always), the means
// over the passes that delivered each value, and the files when saveData is
// set. Trace files of each counted pass go into a private folder inside the
// data folder as the pass ends and get their time-stamped names at the end.
SeriesResult runSeries(const SeriesSettings& settings, const SeriesTraces& traces, SeriesHost& host);

// What the operator is to learn after the series (cancelled or aborted, means
// over fewer passes than requested, files not written); empty when the series
// ran as asked.
QString seriesMessage(const SeriesResult& r);

}  // namespace measurement
