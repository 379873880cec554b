#include "block.h"

#include <cstdio>
#include <cstring>

namespace quarnel {
namespace bench {

std::string blockHeader(size_t length)
{
    std::string digits = std::to_string(length);
    return "#" + std::to_string(digits.size()) + digits;
}

void appendFloatBlock(std::string& out, const float* values, size_t count, bool bigEndian, const BlockFault* fault)
{
    const size_t length = count * 4;
    size_t sendBytes = length;
    std::string header = blockHeader(length);
    if (fault) {
        switch (*fault) {
        case BlockFault::NoHash:
            header.erase(0, 1);
            break;
        case BlockFault::IndefiniteLength:
            header = "#0";
            break;
        case BlockFault::NonDigitCount:
            header[1] = 'A';
            break;
        case BlockFault::NonDigitLength:
            header[header.size() > 3 ? 3 : header.size() - 1] = 'X';
            break;
        case BlockFault::ShortData:
            sendBytes = length / 2;
            break;
        case BlockFault::LengthFarBeyond:
            header = "#9999999999";
            break;
        case BlockFault::NewlineInData:
            break;
        }
    }
    // Room for the response's terminator too, so that it never moves the block.
    out.reserve(out.size() + header.size() + length + 1);
    out += header;
    size_t dataAt = out.size();
    out.resize(dataAt + length);
    char* p = &out[dataAt];
    // The host's own order goes out as one copy; the other order word by word.
    const uint32_t probe = 1;
    unsigned char hostFirstByte;
    std::memcpy(&hostFirstByte, &probe, 1);
    const bool hostLittle = hostFirstByte == 1;
    if (length == 0) {
        // nothing to copy (and `values` may be null)
    } else if (hostLittle != bigEndian) {
        std::memcpy(p, values, length);
    } else {
        for (size_t i = 0; i < count; ++i) {
            uint32_t bits;
            std::memcpy(&bits, &values[i], 4);
            bits = (bits >> 24) | ((bits >> 8) & 0xFF00u) | ((bits << 8) & 0xFF0000u) | (bits << 24);
            std::memcpy(p + 4 * i, &bits, 4);
        }
    }
    if (fault && *fault == BlockFault::NewlineInData && length > 0)
        p[0] = '\n';
    out.resize(dataAt + sendBytes);
}

void appendAsciiValues(std::string& out, const float* values, size_t count)
{
    char buf[32];
    out.reserve(out.size() + count * 14);
    for (size_t i = 0; i < count; ++i) {
        int n = std::snprintf(buf, sizeof buf, i ? ",%.7g" : "%.7g", static_cast<double>(values[i]));
        out.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace bench
}  // namespace quarnel
