// The measurement series: per-pass instrument traffic of each oscilloscope
// family, the start-level check with its bound, per-pass trace files, the
// closing commands, the means and the results file. No widgets: the window
// supplies the instrument calls, the delay computation and the progress
// display through SeriesHost.
#pragma once

#include "passrecord.h"

#include <QString>
#include <QVector>

namespace measurement {

// Largest accepted measurement count. Every pass waits for a triggered
// acquisition over a window of 1 s or more, so 100,000 passes are more than a
// day of continuous measuring; with Save Data at 20,000 points they are also
// ~48 GB of trace files. A larger count is refused before any instrument
// traffic.
constexpr int kMaxPasses = 100000;

// Consecutive passes that did not count, start-level repeats and failed
// acquisitions alike, after which the series is aborted. With a working
// set-up a trace starting outside the window is a chance event (the source
// was mid-transition when triggered) and a failed acquisition a rare one;
// even at one chance in two, twenty in a row happen once in a million
// series. Twenty in a row therefore mean the set-up is wrong or an
// instrument no longer answers, and at the instruments' 5 s time-out they
// still end the series within a couple of minutes. The operator can cancel
// sooner.
constexpr int kMaxStartRepeats = 20;

struct PassCount
{
    int passes = 0;        // 0 for text that is not a number, zero or negative
    bool refused = false;  // a count above kMaxPasses
};

// Reads the measurement count as the count field holds it.
PassCount parsePassCount(const QString& text);
// Why a count runs no series: it is larger than kMaxPasses, or runs no pass
// at all (empty, 0; an empty series would still write an empty results
// file). Empty when it runs.
QString countRefusal(const QString& text);

enum class Instrument { Oscilloscope, SpectrumAnalyzer, VideoAnalyzer };

// "oscilloscope", "spectrum analyzer", "video analyzer".
QString instrumentName(Instrument i);

struct SeriesProgress
{
    int counted = 0;       // passes counted so far
    int passes = 0;        // N
    int repeats = 0;       // passes in a row that did not count (bounded by maxStartRepeats)
    int totalRepeats = 0;  // start-level repeats over the series
    int failed = 0;        // failed acquisitions over the series
};

// Outcome of one instrument call. A failure says why in the operator's
// words: the VISA status as text, or what was wrong with a trace block.
struct CallResult
{
    bool ok = false;
    QString fault;  // empty on success

    static CallResult success() { return {true, QString()}; }
    static CallResult failure(const QString& why) { return {false, why}; }
};

// What the series needs from the program: the instrument calls and the
// progress display. Every call blocks until the instrument answers or its
// time-out ends; none of them touches the program-wide traces, which the
// series publishes itself when a pass counts.
class SeriesHost
{
public:
    virtual ~SeriesHost();
    // A setting command ending in "*OPC?": success exactly when its status is 0.
    virtual CallResult command(Instrument to, const QString& cmd) = 0;
    virtual CallResult queryInt(Instrument to, const QString& query, int* value) = 0;
    virtual CallResult queryDouble(Instrument to, const QString& query, double* value) = 0;
    // Sends `query` and reads the reply's binary block of 32-bit floats into
    // *arr (replaced); on failure *arr is left as it was. A transfer that has
    // to wait out a misbehaving instrument calls checkpoint() (with the last
    // progress it was given) between its reads and gives up when it says stop.
    virtual CallResult readTrace(Instrument from, const QString& query, QVector<double>* arr) = 0;
    // Called between instrument calls and after every pass: the only place
    // where the host may process events. False stops the series.
    virtual bool checkpoint(const SeriesProgress& progress) = 0;
    // A pass has counted, as the per-pass record has it (its outlier field
    // still empty); pts is its point count. Called before the checkpoint that
    // follows the pass. The default does nothing.
    virtual void passCounted(const PassRow& row, int pts);
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
    // Header of the per-pass record written with saveData. The series sets
    // its start time, N, oscilloscope family, RF source and HDMI flag.
    RecordHeader record;
};

// The program-wide traces and edge times the series publishes. They change
// only when a pass counts, all together, so they always show one pass:
// after the series the last counted one. A series in which no pass counted
// leaves them empty (pts 0, edges not-a-number) rather than showing a pass
// of an earlier series as if it were this one's.
struct SeriesTraces
{
    QVector<double>* d1 = nullptr;
    QVector<double>* d2 = nullptr;  // normalised RF trace
    QVector<double>* d3 = nullptr;
    QVector<double>* t = nullptr;
    int* pts = nullptr;
    double* tsrc = nullptr;  // optional
    double* trf = nullptr;   // optional
    double* tsnk = nullptr;  // optional
};

enum class SeriesEnd { Completed, Cancelled, Aborted };

// One step of a pass that failed: which instrument, the command or query as
// sent (without its "\n"), and why.
struct StepFailure
{
    Instrument instrument = Instrument::Oscilloscope;
    QString step;
    QString fault;

    bool operator==(const StepFailure& o) const
    {
        return instrument == o.instrument && step == o.step && fault == o.fault;
    }
};

// Distinct failure reasons kept per series; further ones are only counted.
constexpr int kMaxFailureKinds = 8;

struct SeriesResult
{
    SeriesEnd end = SeriesEnd::Completed;
    int passes = 0;                          // N
    int counted = 0;                         // passes that were counted
    int totalRepeats = 0;                    // start-level repeats
    int maxStartRepeats = kMaxStartRepeats;  // the bound that applied
    // Per counted pass: source-to-RF (ms), source-to-HDMI (video analyzer's
    // unit), source-to-sink (ms). Not-a-number where a pass gave no value.
    QVector<double> src2Rf, src2Hd, src2Snk;
    double src2RfMean = 0.0, src2HdMean = 0.0, src2SnkMean = 0.0;
    int rfContributed = 0, hdContributed = 0, snkContributed = 0;

    // Failed acquisitions: passes in which a step the pass depends on
    // failed; each was repeated (or ended the series at the bound).
    int failedAcquisitions = 0;
    QVector<StepFailure> failures;  // distinct reasons, in order of first appearance
    QVector<int> failureCounts;     // how often each of them occurred
    // With end == Aborted: the first failure among the passes in a row that
    // reached the bound; its step is empty when they were all start-level
    // repeats.
    StepFailure abortCause;

    // Files; only with saveData.
    bool saveData = false;
    QString dataDir;
    QString stamp;  // time stamp of the file names
    // The per-pass record: created when the series starts (it reserves the
    // stamp), one row per counted pass, outliers marked at the end.
    QString recordPath;  // empty when it could not be created
    bool recordFailed = false;
    QString recordError;
    bool resultsFailed = false;
    QString resultsError;
    int traceFilesFailed = 0;  // trace files that did not reach their final name
    QString traceError;        // the first reason
    int returnCode = 0;        // 0, or -1 when the results file could not be opened
};

// Runs a whole series: the passes, the closing commands (always), the means
// over the passes that delivered each value, and the files when saveData is
// set. A pass counts only when everything it measured was read in it: a
// failed arming of the analyzer, a failed acquisition step or a failed trace
// read fails the pass, which is then repeated like a start-level repeat.
// Only the video analyzer's reading may be missing from a counted pass
// (not-a-number). Trace files of each counted pass go into a private folder inside the
// data folder as the pass ends and get their time-stamped names at the end.
SeriesResult runSeries(const SeriesSettings& settings, const SeriesTraces& traces, SeriesHost& host);

// What the operator is to learn after the series (cancelled or aborted,
// failed acquisitions and why, no pass counted, means over fewer passes than
// requested, files not written); empty when the series ran as asked.
QString seriesMessage(const SeriesResult& r);
// True when that message reports trouble rather than news: the series was
// stopped, acquisitions failed, or files it was to write were not written.
bool seriesWentWrong(const SeriesResult& r);

}  // namespace measurement
