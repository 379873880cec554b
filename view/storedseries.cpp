#include "storedseries.h"

#include "delays.h"

#include "passrecord.h"
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

using measurement::kNaN;

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

// The record's rows, the family from its header, and what it says about
// how the series ended.
void takeRecord(const measurement::PassRecordFile& rec, Series* s)
{
    const int n = rec.rows.size();
    sizeColumns(s, n);
    for (int i = 0; i < n; ++i) {
        const measurement::PassRow& r = rec.rows[i];
        s->pass[i] = r.pass;
        s->values[SrcRf][i] = r.src2Rf;
        s->values[SrcHd][i] = r.src2Hd;
        s->values[SrcSnk][i] = r.src2Snk;
        s->edges[0][i] = r.tsrc;
        s->edges[1][i] = r.trf;
        s->edges[2][i] = r.tsnk;
        s->times[i] = r.time.isValid() ? r.time.toString(Qt::ISODateWithMs) : QString();
        s->outliers[i] = r.outlier;
    }
    s->header = rec.header;
    s->storedDigits = 0;
    const QString family = rec.headerValue(QStringLiteral("oscilloscope_family"));
    if (family == QLatin1String("Ovix") || family == QLatin1String("Pelmo")) {
        s->osTyp = family == QLatin1String("Ovix") ? 0 : 1;
        s->familyKnown = true;
    } else {
        s->problems << QStringLiteral("The per-pass record does not name the oscilloscope family.");
    }
    if (rec.cutShort)
        s->problems << QStringLiteral("The per-pass record ends inside a row (the series was interrupted); that "
                                      "row is left out.");
    if (rec.badLines > 0)
        s->problems << QStringLiteral("%1 rows of the per-pass record could not be read (the first at line %2); "
                                      "they are left out.")
                           .arg(rec.badLines)
                           .arg(rec.firstBadLine);
    if (!rec.hasOutlierDecision())
        s->problems << QStringLiteral("The per-pass record has no outlier decision: the series did not end.");
}

// The results file against the record: the same passes, the same values to
// the results file's six digits.
void crossCheck(const ResultsFile& r, Series* s)
{
    const int n = r.values[SrcRf].size();
    if (n != s->passCount()) {
        s->problems
            << QStringLiteral("The results file holds %1 passes, the per-pass record %2.").arg(n).arg(s->passCount());
    }
    int differ = 0;
    QString first;
    // With the HDMI measurement off the record leaves the field empty where
    // the results file writes 0.
    const bool hdmiOff = s->headerValue(QStringLiteral("hdmi_measurement")) == QLatin1String("off");
    for (int i = 0; i < std::min(n, s->passCount()); ++i) {
        for (int d = 0; d < kDelays; ++d) {
            if (d == SrcHd && hdmiOff)
                continue;
            const double a = i < r.values[d].size() ? r.values[d][i] : kNaN;
            const double b = s->values[d][i];
            // Six significant digits differ by at most half a unit in the
            // sixth; only values near that bound need the text compared.
            if ((std::isnan(a) && std::isnan(b)) || std::abs(a - b) <= 4e-6 * std::abs(b)
                || fileNumber(a) == fileNumber(b))
                continue;
            if (differ++ == 0)
                first = QStringLiteral("pass %1, %2: %3 against %4")
                            .arg(s->pass[i])
                            .arg(delayName(d), fileNumber(a), fileNumber(b));
        }
    }
    if (differ > 0)
        s->problems << QStringLiteral("The results file and the per-pass record differ in %1 values (first: %2).")
                           .arg(differ)
                           .arg(first);
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

QString Series::headerValue(const QString& key) const
{
    return measurement::headerValue(header, key);
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
    ResultsFile results;
    QString resultsError;
    const bool haveResults = entry.hasResults && readResultsFile(entry.resultsPath(), &results, &resultsError);
    bool fromRecord = false;
    if (entry.hasPasses) {
        measurement::PassRecordFile rec;
        QString why;
        const measurement::RecordRead read = measurement::readPassRecord(entry.passesPath(), &rec, &why);
        if (read == measurement::RecordRead::Ok && (rec.columns || !haveResults)) {
            // A record without its column line: the series ended before its
            // first pass; with nothing else to go by, that is the series.
            takeRecord(rec, &s);
            s.source = QFileInfo(entry.passesPath()).fileName();
            fromRecord = true;
        } else if (read == measurement::RecordRead::Ok) {
            s.problems << QStringLiteral("The per-pass record holds no pass.");
        } else {
            s.problems << QStringLiteral("The per-pass record cannot be used: %1")
                              .arg(why.isEmpty() ? QStringLiteral("it cannot be read.") : why);
        }
    }
    if (fromRecord) {
        if (haveResults) {
            s.problems << results.problems;
            crossCheck(results, &s);
        } else {
            s.problems << (entry.hasResults ? resultsError
                                            : QStringLiteral("The series has no results file (it did not end)."));
        }
    } else if (haveResults) {
        takeResults(results, &s);
        s.source = QFileInfo(entry.resultsPath()).fileName();
        s.problems << results.problems;
        if (s.pass.isEmpty() && results.problems.size() >= kDelays) {
            *error = QStringLiteral("%1 is not a results file of the program.")
                         .arg(QDir::toNativeSeparators(entry.resultsPath()));
            return false;
        }
    } else {
        *error = entry.hasResults ? resultsError
                                  : QStringLiteral("The series %1 in %2 has neither a results file nor a per-pass "
                                                   "record; trace files alone carry no delays.")
                                        .arg(entry.stamp, QDir::toNativeSeparators(entry.folder));
        if (!s.problems.isEmpty())
            *error += QLatin1Char(' ') + s.problems.join(QLatin1Char(' '));
        return false;
    }

    s.traces = entry.sets;
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
    bool ok = false;
    const double recorded = s.headerValue(QStringLiteral("sample_period_ms")).toDouble(&ok);
    if (ok && recorded > 0.0 && std::isfinite(recorded))
        return recorded;
    for (int i = 0; i < s.passCount(); ++i) {
        if (!s.hasTraces(s.pass[i]))
            continue;
        const QFileInfo fi(
            s.entry.path(measurement::traceFileName(s.entry.stamp, s.pass[i], measurement::Trace::Source)));
        const qint64 pts = fi.size() / 8;
        return pts >= 2 && pts <= measurement::maxTraceValues() ? measurement::samplePeriodMs(s.osTyp, int(pts)) : 0.0;
    }
    return 0.0;
}

}  // namespace view
