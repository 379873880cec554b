// quarnel-view without a display: the statistics table or an export of one
// series on standard output. Exit status 0 when the series was read whole
// and consistent, 1 when it could not be read or has problems (reported on
// standard error; the output then covers what was readable), 2 for a
// command line that makes no sense.
#pragma once

#include <QStringList>

class QTextStream;

namespace view {

enum ExitStatus { ExitOk = 0, ExitProblems = 1, ExitUsage = 2 };

// True when the arguments ask for output without a window (--summary, --csv,
// --json, --help, --version).
bool isCommandLineRun(const QStringList& args);

// Runs one command line (args[0] is the program). `programDataDir` is where
// the program's settings say which family old series were taken with.
int runCommandLine(const QStringList& args, QTextStream& out, QTextStream& err, const QString& programDataDir);

// What a window run is asked to show first.
struct WindowRequest
{
    QString path;  // folder or series file; empty: the program's data folder
    int pass = 0;  // pass number to show in the pass window; 0: none
    QString tab;   // passes, statistics, distribution, reanalysis or compare
    bool reanalyse = false;
    int family = -1;  // answer for series that do not record it; -1: ask
};
// False with *error for arguments that make no sense.
bool parseWindowArguments(const QStringList& args, WindowRequest* request, QString* error);

}  // namespace view
