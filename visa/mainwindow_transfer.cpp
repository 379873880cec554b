// Trace transfer: one query, its reply read as an IEEE 488.2 definite-length
// block of little-endian 32-bit floats.
#include "mainwindow.h"

#include "block.h"
#include "tracefile.h"
#include "visabinding.h"

#include <QByteArray>
#include <QFile>

#include <vector>

namespace {

// A trace is moved to the file in one read; the surplus over the declared
// length lets that read run on to the terminator instead of stopping short.
constexpr ViUInt32 kTerminatorSlack = 10;

// Upper bound for discarding an unusable reply: the largest block a header
// can declare plus slack.
constexpr quint64 kMaxDiscard = quint64(block::kMaxDeclaredLength) + kTerminatorSlack;

// Reads and drops the rest of a reply we cannot use, so that the next
// command's reply is not preceded by it. Only needed while the last read
// stopped at its count with the message still going on.
void discardRest(ViSession hdl, ViStatus last)
{
    if (last != VI_SUCCESS_MAX_CNT)
        return;
    std::vector<ViByte> buf(64 * 1024);
    quint64 total = 0;
    while (total < kMaxDiscard) {
        ViUInt32 got = 0;
        const ViStatus st = VisaRead(hdl, buf.data(), ViUInt32(buf.size()), &got);
        total += got;
        if (st != VI_SUCCESS_MAX_CNT || got == 0)
            return;
    }
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

}  // namespace

bool MainWindow::ReadArray(ViSession hdl, QString cmd, QVector<double>* arr)
{
    if (!visaOk || !arr)
        return false;
    // Raw write: the command is not a format here; callers end it with "\n".
    const QByteArray c = cmd.toLocal8Bit();
    if (VisaWrite(hdl, reinterpret_cast<const ViByte*>(c.constData()), ViUInt32(c.size()), nullptr)
        != VI_SUCCESS)
        return false;
    return IntReadArray(hdl, arr);
}

bool MainWindow::IntReadArray(ViSession hdl, QVector<double>* arr)
{
    if (!visaOk || !arr)
        return false;

    // Header "#n" then the n length digits. Positive statuses are normal
    // here: each read stops at its count while the message goes on.
    char head[100] = {};
    ViUInt32 got = 0;
    ViStatus st = VisaRead(hdl, reinterpret_cast<ViByte*>(head), 2, &got);
    if (st < VI_SUCCESS)
        return false;
    const int n = block::lengthDigitCount(head, got);
    if (n < 0) {
        discardRest(hdl, st);
        return false;
    }
    got = 0;
    st = VisaRead(hdl, reinterpret_cast<ViByte*>(head), ViUInt32(n), &got);
    if (st < VI_SUCCESS)
        return false;
    quint32 declared = 0;
    if (!block::parseLength(head, got, n, &declared)) {
        discardRest(hdl, st);
        return false;
    }

    RemoveOnExit file{traceTempFile()};
    if (file.path.isEmpty()) {
        discardRest(hdl, st);
        return false;
    }
    got = 0;
    st = VisaReadToFile(hdl, file.path, declared + kTerminatorSlack, &got);
    if (st < VI_SUCCESS)
        return false;
    // More than the declared length plus slack: the block is taken as
    // declared, the excess dropped so it cannot pose as the next reply.
    discardRest(hdl, st);

    return readParkedTrace(file.path, declared, arr);
}
