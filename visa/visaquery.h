// The one way commands reach an instrument: every setting command ends in
// ";*OPC?\n" and is itself a query, so a step succeeded exactly when the
// query returns VI_SUCCESS (0). Any other status, warnings included, is a
// failure of that step.
#pragma once

#include <QString>

#include <visa.h>

// Size of the reply buffer; longer replies are cut to this many bytes.
constexpr int kQueryReplySize = 20000;

// Sends `cmd` and reads the reply as text (up to 20000 bytes, UTF-8, up to
// the first zero byte, terminator kept). *reply is replaced only on status 0.
ViStatus VisaQuery(ViSession vi, QString cmd, QString* reply);
// Sends `cmd` and reads one real number into *value.
ViStatus VisaQueryDouble(ViSession vi, QString cmd, double* value);
// Sends `cmd` and reads one integer into *value.
ViStatus VisaQueryInt(ViSession vi, QString cmd, int* value);

// The write format for a command text: the command goes out byte for byte,
// any "%" doubled so it can never be taken for a conversion.
QByteArray queryWriteFormat(const QString& cmd);
