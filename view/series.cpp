#include "series.h"

#include "paths.h"
#include "resultfiles.h"
#include "settings.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <limits>

namespace view {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void sizeColumns(Series* s, int n)
{
    s->pass.resize(n);
    for (int i = 0; i < n; ++i)
        s->pass[i] = i + 1;
    for (int d = 0; d < kDelays; ++d)
        s->values[d].fill(kNaN, n);
    for (int e = 0; e < 3; ++e)
        s->edges[e].fill(kNaN, n);
    s->times = QStringList();
    s->outliers = QStringList();
    for (int i = 0; i < n; ++i) {
        s->times << QString();
        s->outliers << QString();
    }
}

// Values of the results file: pass j is value j of each delay line. Lines of
// different lengths (a damaged file) give as many passes as the longest,
// the others missing there.
void takeResults(const ResultsFile& r, Series* s)
{
    int n = 0;
    for (int d = 0; d < kDelays; ++d)
        n = std::max(n, r.values[d].size());
    sizeColumns(s, n);
    for (int d = 0; d < kDelays; ++d)
        std::copy(r.values[d].cbegin(), r.values[d].cend(), s->values[d].begin());
}

}  // namespace

int Series::indexOf(int passNumber) const
{
    // Pass numbers ascend; usually index = number - 1.
    if (passNumber >= 1 && passNumber <= pass.size() && pass[passNumber - 1] == passNumber)
        return passNumber - 1;
    const auto it = std::lower_bound(pass.cbegin(), pass.cend(), passNumber);
    return it != pass.cend() && *it == passNumber ? int(it - pass.cbegin()) : -1;
}

QString Series::familyText() const
{
    QString s = osTyp == 0 ? QStringLiteral("first") : QStringLiteral("second");
    if (!familyKnown)
        s += QStringLiteral(" (assumed)");
    return s;
}

bool loadSeries(const SeriesEntry& entry, Series* out, QString* error)
{
    Series s;
    s.entry = entry;
    if (!entry.hasResults) {
        *error = QStringLiteral("The series %1 in %2 has no results file.")
                     .arg(entry.stamp, QDir::toNativeSeparators(entry.folder));
        if (entry.traceFiles > 0)
            *error += QStringLiteral(" Its %1 trace files alone carry no delays.").arg(entry.traceFiles);
        return false;
    }
    ResultsFile r;
    if (!readResultsFile(entry.resultsPath(), &r, error))
        return false;
    takeResults(r, &s);
    s.source = QFileInfo(entry.resultsPath()).fileName();
    s.problems << r.problems;
    if (s.pass.isEmpty() && r.problems.size() >= kDelays) {
        *error = QStringLiteral("%1 is not a results file of the program.")
                     .arg(QDir::toNativeSeparators(entry.resultsPath()));
        return false;
    }

    s.traces = traceMasks(entry, s.passCount());
    int partial = 0;
    for (int k = 1; k < s.traces.size(); ++k)
        if (s.traces[k] != 0 && s.traces[k] != 7)
            ++partial;
    if (partial > 0)
        s.problems << QStringLiteral("%1 passes have only some of their three trace files.").arg(partial);
    if (entry.traceSets > s.passCount())
        s.problems << QStringLiteral("There are trace files for %1 passes, but values for only %2.")
                          .arg(entry.traceSets)
                          .arg(s.passCount());
    *out = s;
    return true;
}

int programFamily(const QString& dataDir)
{
    return readCfg(cfgFilePath(dataDir, QStringLiteral("quarnel"))).osTyp;
}

QString programDataDir()
{
    // The program's location, whatever this program is called: the generic
    // data location with the program's name, the maker's folder above it.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return dataDirFromLocation(base + QStringLiteral("/quarnel"));
}

}  // namespace view

namespace view {

double samplePeriodMs(const Series& s)
{
    for (int i = 0; i < s.passCount(); ++i) {
        if (!s.hasTraces(s.pass[i]))
            continue;
        const QFileInfo fi(s.entry.path(measurement::traceFileName(s.entry.stamp, s.pass[i],
                                                                   measurement::Trace::Source)));
        const qint64 pts = fi.size() / 8;
        if (pts < 2)
            return 0.0;
        const double window = s.osTyp == 0 ? 1.0 : 1.2;
        return window / double(pts - 1) * 1000.0;
    }
    return 0.0;
}

}  // namespace view
