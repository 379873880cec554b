#include "seriesviewtext.h"

#include "graphutil.h"

#include <algorithm>
#include <cmath>

namespace graph {

namespace {

QString value(double v)
{
    return std::isnan(v) ? unavailableText() : QString::number(v, 'f', 3);
}

}  // namespace

QString passesText(int counted, int passes)
{
    return QStringLiteral("Pass %1 of %2").arg(counted).arg(passes);
}

qint64 timeLeftMs(qint64 elapsedMs, int counted, int passes)
{
    if (counted <= 0 || elapsedMs < 0)
        return -1;
    const int left = std::max(0, passes - counted);
    return static_cast<qint64>(static_cast<double>(elapsedMs) / counted * left + 0.5);
}

QString durationText(qint64 ms)
{
    const qint64 s = std::max<qint64>(0, ms) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString timeText(qint64 elapsedMs, int counted, int passes)
{
    QString s = QStringLiteral("Elapsed ") + durationText(elapsedMs);
    const qint64 left = timeLeftMs(elapsedMs, counted, passes);
    if (left >= 0 && counted < passes)
        s += QStringLiteral(", about ") + durationText(left) + QStringLiteral(" left");
    return s;
}

QString repeatsText(int startRepeats, int failedAcquisitions)
{
    if (startRepeats <= 0 && failedAcquisitions <= 0)
        return QString();
    return QStringLiteral("Start-level repeats %1, failed acquisitions %2").arg(startRepeats).arg(failedAcquisitions);
}

QStringList statRow(const measurement::Summary& s, int outliers)
{
    QStringList c;
    c.reserve(ColCount);
    c << QString::number(s.n) << value(s.mean) << value(s.sigma) << value(s.min) << value(s.median) << value(s.p95)
      << value(s.max) << QString::number(s.missing) << QString::number(outliers);
    return c;
}

int outlierCount(const std::vector<double>& sorted, const measurement::OutlierLimits& limits)
{
    if (std::isnan(limits.lo) || std::isnan(limits.hi))
        return 0;
    const auto below = std::lower_bound(sorted.begin(), sorted.end(), limits.lo);
    const auto above = std::upper_bound(sorted.begin(), sorted.end(), limits.hi);
    return static_cast<int>((below - sorted.begin()) + (sorted.end() - above));
}

}  // namespace graph
