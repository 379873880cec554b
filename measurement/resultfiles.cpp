#include "resultfiles.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

namespace measurement {

namespace {

constexpr qint64 kValueBytes = 8;
// Large traces go to and come from the disk in slices of this many values, so
// a conversion buffer (big-endian hosts only) stays small.
constexpr qint64 kSliceValues = 1 << 16;

QString sixDigits(double v)
{
    return QString::number(v, 'g', 6);
}

// Writes all n bytes. A write that stops short (a full disk takes what fits)
// is retried, so that the failing one leaves the reason in the error string
// instead of "Unknown error".
bool writeAll(QFile& f, const char* data, qint64 n)
{
    qint64 done = 0;
    while (done < n) {
        const qint64 w = f.write(data + done, n - done);
        if (w <= 0)
            return false;
        done += w;
    }
    return true;
}

void appendLine(QString* out, const char* label, const QVector<double>& values)
{
    out->append(QLatin1String(label));
    for (double v : values) {
        out->append(QLatin1Char(' '));
        out->append(sixDigits(v));
    }
}

}  // namespace

QString timeStamp(const QDateTime& when)
{
    return when.toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss_"));
}

QString setNumber(int k)
{
    return QStringLiteral("%1").arg(k, 3, 10, QLatin1Char('0'));
}

QString traceFileName(const QString& stamp, int k, Trace which)
{
    const char* suffix = which == Trace::Source ? "_src" : which == Trace::Rf ? "_rf" : "_snk";
    return stamp + setNumber(k) + QLatin1String(suffix) + QStringLiteral(".bin");
}

QString resultsFileName(const QString& stamp)
{
    return stamp + QStringLiteral("Results.txt");
}

double meanOfDelivered(const QVector<double>& values, int* contributed)
{
    double sum = 0.0;
    int n = 0;
    for (double v : values) {
        if (std::isnan(v))
            continue;
        sum += v;
        ++n;
    }
    if (contributed)
        *contributed = n;
    return n > 0 ? sum / static_cast<double>(n) : std::numeric_limits<double>::quiet_NaN();
}

QByteArray resultsText(const QVector<double>& src2Rf, double src2RfMean, const QVector<double>& src2Hd,
                       double src2HdMean, const QVector<double>& src2Snk, double src2SnkMean)
{
    QString s;
    appendLine(&s, "Source2RF Delay:", src2Rf);
    s += QStringLiteral("\nSource2RF Mean: ") + sixDigits(src2RfMean) + QLatin1Char('\n');
    appendLine(&s, "Source2HD Delay:", src2Hd);
    s += QStringLiteral("\nSource2HD Mean: ") + sixDigits(src2HdMean) + QLatin1Char('\n');
    appendLine(&s, "Source2Snk Delay:", src2Snk);
    s += QStringLiteral("\nSource2Snk Mean: ") + sixDigits(src2SnkMean);
    return s.toUtf8();
}

int maxTraceValues()
{
    // Qt 5 containers hold at most INT_MAX bytes including their header.
    return static_cast<int>((static_cast<qint64>(INT_MAX) - 64) / kValueBytes);
}

bool writeTraceFile(const QString& path, const QVector<double>& d, qint64 cnt, QString* error)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        if (error)
            *error = f.errorString();
        return false;
    }
    // Never past the end of the vector: a shorter trace gives a shorter file.
    const qint64 n = std::max<qint64>(0, std::min<qint64>(cnt, d.size()));
    const double* src = d.constData();
    bool ok = true;
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    const qint64 bytes = n * kValueBytes;
    ok = writeAll(f, reinterpret_cast<const char*>(src), bytes);
#else
    QVector<quint64> slice(static_cast<int>(std::min(n, kSliceValues)));
    for (qint64 i = 0; ok && i < n; i += kSliceValues) {
        const qint64 m = std::min(kSliceValues, n - i);
        for (qint64 j = 0; j < m; ++j) {
            quint64 bits;
            std::memcpy(&bits, src + i + j, sizeof bits);
            slice[static_cast<int>(j)] = qToLittleEndian(bits);
        }
        ok = writeAll(f, reinterpret_cast<const char*>(slice.constData()), m * kValueBytes);
    }
#endif
    if (ok && !f.flush())
        ok = false;
    if (!ok && error)
        *error = f.errorString();
    f.close();
    if (ok && f.error() != QFileDevice::NoError) {
        ok = false;
        if (error)
            *error = f.errorString();
    }
    return ok;
}

LoadOutcome readTraceFile(const QString& path, QVector<double>* d, int* cnt)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return LoadOutcome::CannotOpen;
    const qint64 n = f.size() / kValueBytes;
    if (n > static_cast<qint64>(maxTraceValues()) - d->size())
        return LoadOutcome::TooLarge;

    const int old = d->size();
    d->resize(old + static_cast<int>(n));
    char* dst = reinterpret_cast<char*>(d->data() + old);
    const qint64 want = n * kValueBytes;
    qint64 got = 0;
    while (got < want) {
        const qint64 r = f.read(dst + got, want - got);
        if (r <= 0)
            break;
        got += r;
    }
    if (got != want) {
        d->resize(old);
        return LoadOutcome::ReadFailed;
    }
#if Q_BYTE_ORDER != Q_LITTLE_ENDIAN
    for (qint64 i = 0; i < n; ++i) {
        quint64 bits;
        std::memcpy(&bits, d->data() + old + i, sizeof bits);
        bits = qFromLittleEndian(bits);
        std::memcpy(d->data() + old + i, &bits, sizeof bits);
    }
#endif
    *cnt = static_cast<int>(n);
    return LoadOutcome::Ok;
}

}  // namespace measurement
