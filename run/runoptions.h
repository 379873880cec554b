// The command line of quarnel-run: what a script may override of the
// program's settings, and how the run reports. Plain functions.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace run {

// The exit statuses, in the order that decides when several apply: an
// instrument failure first, then files not written, then a cancel.
enum ExitStatus {
    ExitSuccess = 0,
    ExitInstrument = 1,  // the VISA library, an Init, or a series stopped by failing instruments
    ExitUsage = 2,       // bad options or settings file
    ExitCancelled = 3,   // SIGINT or SIGTERM
    ExitFiles = 4,       // results, trace or record files not written
};

// Most series one run may chain, and the longest pause between them (s).
constexpr int kMaxRepeat = 100000;
constexpr double kMaxIntervalS = 86400.0;

struct RunOptions
{
    bool help = false;
    QString config;                  // empty: the program's own settings file
    int passes = 1;                  // the window's default count
    QString dataDir;                 // empty: the program's data folder
    QString scope, analyzer, video;  // empty: from the settings
    std::optional<int> osTyp;        // 0 first family, 1 second
    std::optional<bool> rfFromScope, hdmi, save;
    bool quiet = false;
    bool json = false;
    int repeat = 1;
    double intervalS = 0.0;
};

// Reads the arguments after the program name. False with *error (one line,
// naming the option) for anything it does not take.
bool parseRunArguments(const QStringList& args, RunOptions* o, QString* error);

QString runHelpText();

}  // namespace run
