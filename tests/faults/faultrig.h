// Shared rig of the end-to-end and fault tests: a simulated bench on private loopback
// addresses, a real MainWindow driven through its controls and our LAN VISA
// library, a poller that answers every modal window, a watchdog that turns a
// hang into a failure, and the checks every row ends with (results written
// before stay intact, settings saved on Cancel).
#pragma once

#include "bench.h"
#include "mainwindow.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace faults {

namespace qb = quarnel::bench;

// Ends the process when a row outlives its bound: an endless hang must fail
// the row, not stall the whole run until ctest's time-out.
class Watchdog
{
public:
    Watchdog(const QString& what, int seconds);
    ~Watchdog();

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    std::thread m_thread;
};

// Answers the modal windows as an operator would (only one at a time may
// exist: two would share the dialogs between them): records and confirms
// message boxes, accepts the result dialog, optionally cancels the series
// view once it has been up `cancelAfterMs`.
class Modals : public QObject
{
public:
    Modals();
    QStringList messages;
    int graphs = 0;
    int cancelAfterMs = -1;
    bool cancelled = false;
    bool sawProgress() const { return m_progressClock.isValid(); }
    // Since the progress display first showed (0 before): with cancelAfterMs,
    // what is over it is the time from the operator's press to now.
    qint64 progressMs() const { return m_progressClock.isValid() ? m_progressClock.elapsed() : 0; }

private:
    void poll();
    QTimer m_timer;
    QElapsedTimer m_progressClock;
};

struct WindowConfig
{
    int osTyp = 0;
    bool scopeRf = false;  // RF from oscilloscope channel 3
    bool hdmi = true;
    bool save = true;
    int passes = 3;
    bool osRst = false, saRst = false, vaRst = false;
    bool hislip = false;  // every instrument over HiSLIP instead of VXI-11
    // Fixed, so that every window sends the same traffic whatever the
    // settings file of the row before left.
    QString trgLvl = QStringLiteral("0.027");
    QString saFrq = QStringLiteral("5.192e+09");
    QString vaThres = QStringLiteral("35");
};

// What one press of Start left behind.
struct SeriesOutcome
{
    QStringList messages;
    int graphs = 0;
    bool cancelled = false;
    qint64 ms = 0;
    size_t truthFrom = 0;         // the bench's first acquisition of this series
    QString resultsFile;          // the file this series wrote, empty when none
    QVector<double> rf, hd, snk;  // per-pass values from that file
    QString stamp;
};

// Files of the data folder and their contents' hashes: what a row must not
// damage. The settings file is left out (Cancel rewrites it by design).
class DataGuard
{
public:
    void record(const QString& dir);
    // Files recorded that are now missing or changed, with the reason.
    QStringList damaged() const;
    int size() const { return m_hash.size(); }

private:
    QMap<QString, QByteArray> m_hash;
};

QString dataDir();
QString cfgFile();
QByteArray sha1(const QString& path);

// Per-pass values of a results file; false when it is not a complete one.
bool readResults(const QString& path, QVector<double>* rf, QVector<double>* hd, QVector<double>* snk);

// The program times edges where they cross fixed levels; the bench's ground
// truth is the onset. Source-to-sink as the program should measure it.
double expectedSinkMs(const qb::GroundTruth& g);
double samplePeriodMs(const qb::GroundTruth& g);
// Within the tolerance, allowing for the results file's six significant digits.
bool near(double got, double want, double tol);

class Rig
{
public:
    explicit Rig(qb::Options opt = qb::testOptions());
    ~Rig();

    qb::Bench& bench() { return *m_bench; }
    // A fresh bench on the rig's addresses.
    void startBench();

    QWidget* control(const char* name) const;
    // A new window with the bench's resource strings and the configuration in
    // its controls; no Init pressed yet.
    void openWindow(const WindowConfig& c);
    // The window as the settings file left it; applyConfig fills it in.
    void createWindow();
    void applyConfig(const WindowConfig& c);
    // Presses the instrument's Init button; returns its text afterwards.
    QString init(qb::Instrument i);
    // Init of every instrument the configuration needs; true when Start is enabled.
    bool initAll();
    bool startEnabled() const;
    // Presses Start and answers the modals; `modals` may preset cancelling.
    SeriesOutcome runSeries(Modals* modals = nullptr, const QString& count = QString());

    // Puts distinctive values into the settings controls, presses Cancel,
    // destroys the window and checks that the settings file holds them.
    // Uses QVERIFY: check QTest::currentTestFailed() afterwards.
    void cancelAndCheckSettings(bool expectSaved = true);
    // A first series whose files (recorded in `guard`) no later row may
    // touch, and the settings saved by Cancel. Uses QVERIFY as above.
    void seedEarlierResults(DataGuard* guard);

    QString resource(qb::Instrument i) const;

private:
    qb::Options m_options;
    std::unique_ptr<qb::Bench> m_bench;
    std::unique_ptr<MainWindow> m_w;
    WindowConfig m_config;
};

// Acquisitions since `from` whose source started inside the program's window.
std::vector<qb::GroundTruth> countedTruth(const qb::Bench& b, size_t from);

// Fault constructors.
qb::Fault dropAt(qb::Instrument i, const std::string& match, int skip = 0, long afterBytes = -1);
qb::Fault noReplyAt(qb::Instrument i, const std::string& match, int skip = 0);

// Number of messages among the first n of `log` containing `match`, any case.
int occurrences(const std::vector<std::string>& log, size_t n, const std::string& match);

// One-time set-up every fault test process shares: the LAN VISA library, the
// offscreen platform with a private data folder.
void prepareProcess();

}  // namespace faults
