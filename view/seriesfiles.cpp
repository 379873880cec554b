#include "seriesfiles.h"

#include "delays.h"

#include "passrecord.h"
#include "resultfiles.h"
#include "series.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>

namespace view {

namespace {

using measurement::kNaN;
constexpr int kStampLength = 20;  // "yyyy-MM-dd_hh-mm-ss_"
// A results file of the largest series the program runs is a few MB; a
// bigger file is not one of its results files and is not read into memory.
constexpr qint64 kMaxResultsBytes = 256LL << 20;

const char* const kLabels[kDelays] = {"Source2RF", "Source2HD", "Source2Snk"};
const char* const kTraceSuffix[3] = {"_src.bin", "_rf.bin", "_snk.bin"};
const measurement::Trace kTraceKinds[3] = {measurement::Trace::Source, measurement::Trace::Rf,
                                           measurement::Trace::Sink};
const char* const kTraceNames[3] = {"source", "RF", "sink"};

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool looksLikeStamp(const QString& s)
{
    static const char kPattern[] = "dddd-dd-dd_dd-dd-dd_";
    if (s.size() < kStampLength)
        return false;
    for (int i = 0; i < kStampLength; ++i) {
        const char p = kPattern[i];
        if (p == 'd' ? !isDigit(s[i]) : s[i] != QLatin1Char(p))
            return false;
    }
    return true;
}

// Set number and trace kind (0 source, 1 RF, 2 sink) of a trace file name's
// tail after the stamp ("001_rf.bin"); false for anything else.
bool parseTraceTail(const QStringRef& tail, int* set, int* kind)
{
    for (int k = 0; k < 3; ++k) {
        const QLatin1String suffix(kTraceSuffix[k]);
        if (!tail.endsWith(suffix))
            continue;
        const QStringRef digits = tail.left(tail.size() - suffix.size());
        if (digits.size() < 3 || digits.size() > 9)
            return false;
        int v = 0;
        for (QChar c : digits) {
            if (!isDigit(c))
                return false;
            v = v * 10 + (c.unicode() - '0');
        }
        if (v < 1)
            return false;
        *set = v;
        *kind = k;
        return true;
    }
    return false;
}

double parseNumber(const QByteArray& token, bool* ok)
{
    const QByteArray t = token.toLower();
    if (t == "nan" || t == "-nan") {
        *ok = true;
        return kNaN;
    }
    return token.toDouble(ok);
}

QString fileLabel(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).fileName());
}

}  // namespace

QString delayName(int delay)
{
    switch (delay) {
    case SrcRf:
        return QStringLiteral("Source -> RF");
    case SrcHd:
        return QStringLiteral("Source -> HDMI");
    default:
        return QStringLiteral("Source -> Sink");
    }
}

QString SeriesEntry::resultsPath() const
{
    return path(measurement::resultsFileName(stamp));
}
QString SeriesEntry::passesPath() const
{
    return path(measurement::passRecordFileName(stamp));
}

QString stampOf(const QString& fileName)
{
    if (!looksLikeStamp(fileName))
        return QString();
    const QStringRef tail = fileName.midRef(kStampLength);
    int set = 0, kind = 0;
    if (tail == QLatin1String("Results.txt") || tail == QLatin1String("Passes.csv")
        || parseTraceTail(tail, &set, &kind))
        return fileName.left(kStampLength);
    return QString();
}

QDateTime stampTime(const QString& stamp)
{
    if (!looksLikeStamp(stamp))
        return QDateTime();
    return QDateTime::fromString(stamp.left(kStampLength), QStringLiteral("yyyy-MM-dd_hh-mm-ss_"));
}

namespace {

struct Scan
{
    SeriesEntry entry;
    QHash<int, quint8> sets;
};

// Reads the folder once, gathering every series file name of `onlyStamp`
// (all series when it is empty).
QHash<QString, Scan> scanFolder(const QString& folder, const QString& onlyStamp = QString())
{
    QHash<QString, Scan> byStamp;
    const QStringList filter = onlyStamp.isEmpty() ? QStringList() : QStringList{onlyStamp + QLatin1Char('*')};
    QDirIterator it(folder, filter, QDir::Files | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        if (!looksLikeStamp(name))
            continue;
        const QString stamp = name.left(kStampLength);
        const QStringRef tail = name.midRef(kStampLength);
        int set = 0, kind = 0;
        const bool results = tail == QLatin1String("Results.txt");
        const bool passes = tail == QLatin1String("Passes.csv");
        const bool trace = !results && !passes && parseTraceTail(tail, &set, &kind);
        if (!results && !passes && !trace)
            continue;
        Scan& s = byStamp[stamp];
        if (s.entry.stamp.isEmpty()) {
            s.entry.folder = folder;
            s.entry.stamp = stamp;
            s.entry.when = stampTime(stamp);
        }
        if (results)
            s.entry.hasResults = true;
        else if (passes)
            s.entry.hasPasses = true;
        else {
            ++s.entry.traceFiles;
            s.sets[set] |= quint8(1u << kind);
        }
    }
    for (Scan& s : byStamp) {
        s.entry.traceSets = int(std::count(s.sets.cbegin(), s.sets.cend(), quint8(7)));
        int last = 0;
        for (auto it = s.sets.cbegin(); it != s.sets.cend(); ++it)
            if (it.key() <= measurement::kMaxPasses)
                last = std::max(last, it.key());
        s.entry.sets.fill(0, last + 1);
        for (auto it = s.sets.cbegin(); it != s.sets.cend(); ++it)
            if (it.key() <= last)
                s.entry.sets[it.key()] = it.value();
    }
    return byStamp;
}

}  // namespace

QVector<SeriesEntry> listSeries(const QString& folder)
{
    const QString dir = QDir(folder).absolutePath();
    QVector<SeriesEntry> out;
    for (const Scan& s : scanFolder(dir))
        out.append(s.entry);
    std::sort(out.begin(), out.end(), [](const SeriesEntry& a, const SeriesEntry& b) { return a.stamp > b.stamp; });
    return out;
}

bool seriesFromPath(const QString& path, SeriesEntry* entry, QString* error)
{
    const QFileInfo fi(path);
    const QString shown = QDir::toNativeSeparators(path);
    if (fi.isDir()) {
        *error = QStringLiteral("%1 is a folder; name one file of a series in it (its results file, per-pass "
                                "record or a trace file).")
                     .arg(shown);
        return false;
    }
    QString stamp = stampOf(fi.fileName());
    if (stamp.isEmpty() && !fi.exists() && fi.fileName().size() == kStampLength && looksLikeStamp(fi.fileName()))
        stamp = fi.fileName();  // folder plus stamp prefix
    if (stamp.isEmpty()) {
        *error = fi.exists() ? QStringLiteral("%1 is not a file of a series (expected a name like "
                                              "2015-09-30_14-05-09_Results.txt, _Passes.csv or _001_src.bin).")
                                   .arg(shown)
                             : QStringLiteral("%1 does not exist.").arg(shown);
        return false;
    }
    const QString folder = fi.absolutePath();
    const QHash<QString, Scan> found = scanFolder(folder, stamp);
    if (!found.contains(stamp)) {
        *error =
            QStringLiteral("No file of the series %1 was found in %2.").arg(stamp, QDir::toNativeSeparators(folder));
        return false;
    }
    *entry = found.value(stamp).entry;
    return true;
}

ResultsFile parseResultsText(const QByteArray& text)
{
    ResultsFile r;
    bool delayFound[kDelays] = {false, false, false};
    bool meanFound[kDelays] = {false, false, false};
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray& raw : lines) {
        const QByteArray line = raw.trimmed();
        for (int d = 0; d < kDelays; ++d) {
            const QByteArray delayLabel = QByteArray(kLabels[d]) + " Delay:";
            const QByteArray meanLabel = QByteArray(kLabels[d]) + " Mean:";
            if (line.startsWith(delayLabel)) {
                if (delayFound[d]) {
                    r.problems << QStringLiteral("The results file has a second \"%1\" line; it is ignored.")
                                      .arg(QString::fromLatin1(delayLabel));
                    continue;
                }
                delayFound[d] = true;
                const QList<QByteArray> tokens = line.mid(delayLabel.size()).simplified().split(' ');
                for (const QByteArray& tok : tokens) {
                    if (tok.isEmpty())
                        continue;
                    bool ok = false;
                    const double v = parseNumber(tok, &ok);
                    if (!ok)
                        r.problems << QStringLiteral("Value %1 of \"%2\" is not a number (\"%3\"); it counts as "
                                                     "missing.")
                                          .arg(r.values[d].size() + 1)
                                          .arg(QString::fromLatin1(delayLabel), QString::fromLatin1(tok.left(40)));
                    r.values[d].append(ok ? v : kNaN);
                }
            } else if (line.startsWith(meanLabel)) {
                meanFound[d] = true;
                bool ok = false;
                const double v = parseNumber(line.mid(meanLabel.size()).trimmed(), &ok);
                r.meanPresent[d] = ok;
                r.means[d] = ok ? v : kNaN;
                if (!ok)
                    r.problems
                        << QStringLiteral("The \"%1\" line holds no number.").arg(QString::fromLatin1(meanLabel));
            }
        }
    }
    for (int d = 0; d < kDelays; ++d) {
        if (!delayFound[d])
            r.problems << QStringLiteral("The results file has no \"%1 Delay:\" line.").arg(QLatin1String(kLabels[d]));
        if (!meanFound[d])
            r.problems << QStringLiteral("The results file has no \"%1 Mean:\" line.").arg(QLatin1String(kLabels[d]));
    }
    const int n0 = r.values[0].size();
    if (r.values[1].size() != n0 || r.values[2].size() != n0)
        r.problems << QStringLiteral("The three delay lines of the results file hold different numbers of passes "
                                     "(%1, %2, %3).")
                          .arg(n0)
                          .arg(r.values[1].size())
                          .arg(r.values[2].size());
    // The stored means against their values: both went through six
    // significant digits, so they may differ in the last of them.
    for (int d = 0; d < kDelays; ++d) {
        if (!delayFound[d] || !r.meanPresent[d])
            continue;
        const double mean = measurement::meanOfDelivered(r.values[d]);
        double scale = std::abs(mean);
        for (double v : r.values[d])
            if (std::isfinite(v))
                scale = std::max(scale, std::abs(v));
        const bool same =
            (std::isnan(mean) && std::isnan(r.means[d])) || std::abs(mean - r.means[d]) <= 2e-5 * scale + 1e-12;
        if (!same)
            r.problems << QStringLiteral("The stored %1 mean (%2) does not match its values (their mean: %3).")
                              .arg(QLatin1String(kLabels[d]), fileNumber(r.means[d]), fileNumber(mean));
    }
    return r;
}

bool readResultsFile(const QString& path, ResultsFile* out, QString* error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1 cannot be read: %2").arg(QDir::toNativeSeparators(path), f.errorString());
        return false;
    }
    if (f.size() > kMaxResultsBytes) {
        *error = QStringLiteral("%1 is too large for a results file (%2 bytes).")
                     .arg(QDir::toNativeSeparators(path))
                     .arg(f.size());
        return false;
    }
    const QByteArray text = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        *error = QStringLiteral("%1 cannot be read: %2").arg(QDir::toNativeSeparators(path), f.errorString());
        return false;
    }
    *out = parseResultsText(text);
    return true;
}

void loadPassTraces(const SeriesEntry& entry, int pass, PassTraces* into)
{
    into->problems.clear();
    into->pts = 0;
    for (int k = 0; k < 3; ++k) {
        QVector<double>& d = into->d[k];
        d.clear();  // keeps the capacity
        const QString path = entry.path(measurement::traceFileName(entry.stamp, pass, kTraceKinds[k]));
        const QFileInfo fi(path);
        if (!fi.exists()) {
            into->problems << QStringLiteral("Pass %1: the %2 trace file %3 is missing.")
                                  .arg(pass)
                                  .arg(QLatin1String(kTraceNames[k]), fileLabel(path));
            continue;
        }
        int cnt = 0;
        switch (measurement::readTraceFile(path, &d, &cnt)) {
        case measurement::LoadOutcome::Ok:
            break;
        case measurement::LoadOutcome::TooLarge:
            into->problems << QStringLiteral("Pass %1: %2 is too large to load (at most %3 values).")
                                  .arg(pass)
                                  .arg(fileLabel(path))
                                  .arg(measurement::maxTraceValues());
            continue;
        default:
            into->problems << QStringLiteral("Pass %1: %2 cannot be read.").arg(pass).arg(fileLabel(path));
            continue;
        }
        if (fi.size() % 8 != 0)
            into->problems
                << QStringLiteral("Pass %1: %2 ends inside a value (cut short).").arg(pass).arg(fileLabel(path));
    }
    into->pts = into->d[0].size();
    if (into->d[0].isEmpty())
        return;
    for (int k = 1; k < 3; ++k) {
        if (!into->d[k].isEmpty() && into->d[k].size() != into->pts)
            into->problems << QStringLiteral("Pass %1: the %2 trace holds %3 values, the source trace %4.")
                                  .arg(pass)
                                  .arg(QLatin1String(kTraceNames[k]))
                                  .arg(into->d[k].size())
                                  .arg(into->pts);
    }
}

QString fileNumber(double v)
{
    return QString::number(v, 'g', 6);
}

QString exactNumber(double v)
{
    if (std::isnan(v))
        return QString();
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

}  // namespace view
