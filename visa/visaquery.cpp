#include "visaquery.h"

#include "visabinding.h"

#include <QByteArray>

#include <cstring>

QByteArray queryWriteFormat(const QString& cmd)
{
    QByteArray fmt = cmd.toLocal8Bit();
    // A bare "%" would make viQueryf read an argument that was never passed.
    // No command we build contains one; this keeps it harmless if one does.
    if (fmt.contains('%'))
        fmt.replace("%", "%%");
    return fmt;
}

ViStatus VisaQuery(ViSession vi, QString cmd, QString* reply)
{
    // Zeroed per call: "%20000c" stores the characters but no terminating zero.
    char buf[kQueryReplySize];
    std::memset(buf, 0, sizeof buf);
    const QByteArray fmt = queryWriteFormat(cmd);
    const ViStatus status = g_visa.viQueryfText(vi, fmt.constData(), "%20000c", buf);
    if (status == VI_SUCCESS && reply)
        *reply = QString::fromUtf8(buf, int(qstrnlen(buf, sizeof buf)));
    return status;
}

ViStatus VisaQueryDouble(ViSession vi, QString cmd, double* value)
{
    const QByteArray fmt = queryWriteFormat(cmd);
    return g_visa.viQueryfDouble(vi, fmt.constData(), "%lf", value);
}

ViStatus VisaQueryInt(ViSession vi, QString cmd, int* value)
{
    const QByteArray fmt = queryWriteFormat(cmd);
    return g_visa.viQueryfInt(vi, fmt.constData(), "%d", value);
}
