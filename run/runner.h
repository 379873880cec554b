// One unattended run of quarnel-run: settings, VISA library, the Inits and
// the series, through the same code as the window's buttons. Output goes to
// the standard streams; the exit status is returned.
#pragma once

#include "runoptions.h"
#include "series.h"

#include <QByteArray>
#include <QString>

namespace run {

// Where the program keeps its settings and files when no option says
// otherwise: the window's data folder and settings file.
QString programDataDir();
QString programConfigFile();

// SIGINT and SIGTERM cancel the run; a second one ends the process at once
// with ExitCancelled.
void installCancelHandlers();
bool cancelRequested();

// The status a finished series gives the run.
ExitStatus seriesStatus(const measurement::SeriesResult& r);

// The JSON lines of --json (no line feed).
QByteArray passJson(int series, const measurement::PassRow& row);
QByteArray summaryJson(int series, const measurement::SeriesResult& r, bool hdmi);

int runUnattended(const RunOptions& o);

}  // namespace run
