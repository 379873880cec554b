// Server-side decoding of what a hostile HiSLIP client sends: the message
// assembler over a stream fed in pieces of varying size, then the decoders of
// every client message the server reads (Initialize, AsyncInitialize,
// AsyncMaximumMessageSize).
#include "protocol/hislip.h"

#include <cstddef>
#include <cstdint>

namespace hs = quarnel::protocol::hislip;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte sets the largest payload and the piece size.
    hs::MessageAssembler assembler(size_t(data[0]) * 16);
    const size_t piece = 1 + data[0] % 23;
    size_t pos = 1;
    while (pos < size) {
        const size_t end = std::min(size, pos + piece);
        while (pos < end) {
            size_t used = 0;
            const auto st = assembler.feed(data + pos, end - pos, used);
            pos += used;
            if (st == hs::MessageAssembler::Status::BadHeader)
                return 0;
            if (st != hs::MessageAssembler::Status::Complete)
                continue;
            const hs::Header& h = assembler.header();
            uint64_t max = 0;
            hs::decodeMaximumSize(quarnel::protocol::ByteView(assembler.payload()), max);
            (void)hs::negotiatedVersion(hs::versionOf(h.parameter), hs::kVersion11);
            (void)hs::sessionIdOf(h.parameter);
            assembler.next();
        }
    }
    return 0;
}
