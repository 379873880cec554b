// Server-side decoding of hostile input: record reassembly, then the RPC call
// header and every VXI-11 core / portmapper argument structure.
#include "protocol/portmap.h"
#include "protocol/recordmark.h"
#include "protocol/vxi11.h"

#include <cstddef>
#include <cstdint>

namespace p = quarnel::protocol;

namespace {
constexpr size_t kMaxRecord = 64 * 1024;

void decodeCall(const std::vector<uint8_t>& record)
{
    p::XdrReader r(record.data(), record.size());
    p::DecodedCall call;
    if (!p::decodeCallHeader(r, call))
        return;
    const size_t args = r.offset();
    auto fresh = [&] { return p::XdrReader(record.data() + args, record.size() - args); };
    {
        auto a = fresh();
        p::PmapMapping v;
        p::decodePmapMapping(a, v);
    }
    {
        auto a = fresh();
        p::CreateLinkParms v;
        p::decode(a, v);
    }
    {
        auto a = fresh();
        p::DeviceWriteParms v;
        if (p::decode(a, v))
            (void)v.data.toString();
    }
    {
        auto a = fresh();
        p::DeviceReadParms v;
        p::decode(a, v);
    }
    {
        auto a = fresh();
        p::DeviceGenericParms v;
        p::decode(a, v);
    }
    {
        auto a = fresh();
        p::DeviceLink v;
        p::decode(a, v);
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The whole input as one record body, and as a stream of records.
    decodeCall(std::vector<uint8_t>(data, data + size));
    p::RecordAssembler assembler(kMaxRecord);
    size_t pos = 0;
    while (pos < size) {
        size_t used = 0;
        const auto st = assembler.feed(data + pos, size - pos, used);
        pos += used;
        if (st == p::RecordAssembler::Status::TooLarge)
            break;
        if (st == p::RecordAssembler::Status::Complete)
            decodeCall(assembler.takeRecord());
        else if (used == 0)
            break;
    }
    return 0;
}
