// Trace transfer: one query, its reply read as an IEEE 488.2 definite-length
// block of little-endian 32-bit floats. Plain functions on a VISA session,
// shared by the window's transfer slots and the measurement series.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <visa.h>

#include <functional>

// Asked between the reads that drop the rest of an unusable reply; false
// gives up on them (the operator cancelled).
using TransferCheck = std::function<bool()>;

// Budget for dropping the rest of a reply when the session's time-out cannot
// be read or is infinite.
constexpr ViUInt32 kDefaultDiscardMs = 5000;

// Reads one block reply into *values (replaced). False with *values untouched
// when no complete block arrived; *why then says what went wrong, for the
// operator (a VISA status as text, or what was wrong with the block). A reply
// that goes on after its block is dropped within one time-out of the session;
// one that does not end by then fails the read and the session is cleared.
bool readTraceBlock(ViSession vi, QVector<double>* values, QString* why = nullptr,
                    const TransferCheck& check = TransferCheck());

// Sends `query` as it is (ending in "\n"), then readTraceBlock.
bool queryTraceBlock(ViSession vi, const QByteArray& query, QVector<double>* values, QString* why = nullptr,
                     const TransferCheck& check = TransferCheck());
