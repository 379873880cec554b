// Trace data as the instruments send it: IEEE 488.2 definite-length arbitrary
// blocks of float32 values (FORM REAL,32) or comma-separated text (FORM ASC),
// plus the deliberately malformed blocks of the fault scripts.
#pragma once

#include "bench.h"

#include <cstddef>
#include <string>

namespace quarnel {
namespace bench {

/// "#<n><length>" for a block of `length` data bytes (n = digits of length, 1..9).
std::string blockHeader(size_t length);

/// Appends `count` values as a definite-length block of 4-byte IEEE 754 values,
/// least significant byte first unless bigEndian. With `fault` the block is
/// malformed as it says (see BlockFault).
void appendFloatBlock(std::string& out, const float* values, size_t count, bool bigEndian,
                      const BlockFault* fault = nullptr);

/// Appends the values as text: "v1,v2,...", 7 significant digits each.
void appendAsciiValues(std::string& out, const float* values, size_t count);

}  // namespace bench
}  // namespace quarnel
