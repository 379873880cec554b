// Where a trace transfer parks the raw block: a folder private to this
// process (mode 0700, under the system's temporary folder), created on first
// use and removed when the process ends. Two running programs never share
// the file, and a read-only working folder does not break transfers.
#pragma once

#include <QString>

// Full path of "Trace.tmp" in that folder; empty when no folder can be made.
QString traceTempFile();
