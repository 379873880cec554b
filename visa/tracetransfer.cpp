#include "tracetransfer.h"

#include "block.h"
#include "tracefile.h"
#include "visabinding.h"

#include <QElapsedTimer>
#include <QFile>

#include <vector>

namespace {

// A trace is moved to the file in one read; the surplus over the declared
// length lets that read run on to the terminator instead of stopping short.
constexpr ViUInt32 kTerminatorSlack = 10;

void say(QString* why, const QString& text)
{
    if (why)
        *why = text;
}

// The session's I/O time-out, or the default when it has none we can use.
ViUInt32 discardBudgetMs(ViSession vi, bool* known)
{
    ViUInt32 tmo = 0;
    *known = VisaGetAttribute(vi, VI_ATTR_TMO_VALUE, &tmo) == VI_SUCCESS;
    if (!*known || tmo == VI_TMO_INFINITE || tmo == VI_TMO_IMMEDIATE)
        return kDefaultDiscardMs;
    return tmo;
}

// Reads and drops the rest of a reply we cannot use, so that it does not
// precede the next command's reply. Only needed while the last read stopped
// at its count with the message still going on. One deadline for the whole
// rest, the session's time-out (each read may take only what is left of it),
// and `check` between reads: an instrument that streams on without end holds
// the program for one time-out, not for as long as it streams. A rest that
// did not end is cleared away on the instrument; false then.
bool discardRest(ViSession vi, ViStatus last, const TransferCheck& check)
{
    if (last != VI_SUCCESS_MAX_CNT)
        return true;
    bool known = false;
    const ViUInt32 budget = discardBudgetMs(vi, &known);
    QElapsedTimer clock;
    clock.start();
    std::vector<ViByte> buf(64 * 1024);
    bool ended = false;
    for (;;) {
        if (check && !check())
            break;
        const qint64 left = qint64(budget) - clock.elapsed();
        if (left <= 0)
            break;
        if (known)
            VisaSetAttribute(vi, VI_ATTR_TMO_VALUE, ViAttrState(left));
        ViUInt32 got = 0;
        const ViStatus st = VisaRead(vi, buf.data(), ViUInt32(buf.size()), &got);
        if (st != VI_SUCCESS_MAX_CNT || got == 0) {
            ended = st >= VI_SUCCESS;
            break;
        }
    }
    if (known)
        VisaSetAttribute(vi, VI_ATTR_TMO_VALUE, budget);
    if (!ended)
        VisaClear(vi);
    return ended;
}

// The trace file lives only within one transfer, failed ones included.
struct RemoveOnExit
{
    QString path;
    ~RemoveOnExit()
    {
        if (!path.isEmpty())
            QFile::remove(path);
    }
};

const char* const kNotEnded = "the reply went on after the block and did not end within the time-out";

}  // namespace

bool queryTraceBlock(ViSession vi, const QByteArray& query, QVector<double>* values, QString* why,
                     const TransferCheck& check)
{
    // Raw write: the command is not a format here.
    const ViStatus st =
        VisaWrite(vi, reinterpret_cast<const ViByte*>(query.constData()), ViUInt32(query.size()), nullptr);
    if (st != VI_SUCCESS) {
        say(why, QStringLiteral("the query could not be sent (%1)").arg(visaStatusText(vi, st)));
        return false;
    }
    return readTraceBlock(vi, values, why, check);
}

bool readTraceBlock(ViSession vi, QVector<double>* values, QString* why, const TransferCheck& check)
{
    // Header "#n" then the n length digits. Positive statuses are normal
    // here: each read stops at its count while the message goes on.
    char head[100] = {};
    ViUInt32 got = 0;
    ViStatus st = VisaRead(vi, reinterpret_cast<ViByte*>(head), 2, &got);
    if (st < VI_SUCCESS) {
        say(why, visaStatusText(vi, st));
        return false;
    }
    const int n = block::lengthDigitCount(head, got);
    if (n < 0) {
        say(why, got == 2 && head[0] == '#' && head[1] == '0'
                     ? QStringLiteral("the reply is an indefinite-length block (\"#0\")")
                     : QStringLiteral("the reply is not a binary block (no \"#\" and digit count at its start)"));
        if (!discardRest(vi, st, check))
            say(why, QString::fromLatin1(kNotEnded));
        return false;
    }
    got = 0;
    st = VisaRead(vi, reinterpret_cast<ViByte*>(head), ViUInt32(n), &got);
    if (st < VI_SUCCESS) {
        say(why, visaStatusText(vi, st));
        return false;
    }
    quint32 declared = 0;
    if (!block::parseLength(head, got, n, &declared)) {
        say(why, QStringLiteral("the block's length field is not %1 digits").arg(n));
        if (!discardRest(vi, st, check))
            say(why, QString::fromLatin1(kNotEnded));
        return false;
    }

    RemoveOnExit file{traceTempFile()};
    if (file.path.isEmpty()) {
        say(why, QStringLiteral("no transfer file could be made"));
        discardRest(vi, st, check);
        return false;
    }
    got = 0;
    st = VisaReadToFile(vi, file.path, declared + kTerminatorSlack, &got);
    if (st < VI_SUCCESS) {
        say(why, visaStatusText(vi, st));
        return false;
    }
    // More than the declared length plus slack: the block is taken as
    // declared, the excess dropped so it cannot pose as the next reply.
    if (!discardRest(vi, st, check)) {
        say(why, QString::fromLatin1(kNotEnded));
        return false;
    }
    if (!readParkedTrace(file.path, declared, values)) {
        say(why, got < declared ? QStringLiteral("the block ended after %1 of %2 data bytes").arg(got).arg(declared)
                                : QStringLiteral("the block's data could not be read back"));
        return false;
    }
    return true;
}
