// Where a trace transfer parks the raw block: a folder private to this
// process (mode 0700, under the system's temporary folder), created on first
// use and removed when the process ends. Two running programs never share
// the file, and a read-only working folder does not break transfers.
#pragma once

#include <QString>

// Full path of "Trace.tmp" in that folder; empty when no folder can be made.
QString traceTempFile();

#include <QVector>

#include <cstdint>

// Reads back a block's data part that a transfer parked in `path` and
// converts it into *values. The file is mapped, not copied, where the
// system allows. False, with *values untouched, when the file cannot be read
// or holds fewer than `declared` data bytes (a block cut short); bytes past
// the declared length are not data.
bool readParkedTrace(const QString& path, std::uint32_t declared, QVector<double>* values);
