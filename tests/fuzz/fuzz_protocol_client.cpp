// Client-side decoding of hostile replies: RPC reply header and every result
// structure a VXI-11 client or portmapper client reads.
#include "protocol/portmap.h"
#include "protocol/vxi11.h"

#include <cstddef>
#include <cstdint>

namespace p = quarnel::protocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    p::XdrReader r(data, size);
    p::ReplyHeader h;
    uint32_t xid = 0;
    p::MsgType type;
    p::peekMessage(p::ByteView(data, size), xid, type);
    if (!p::decodeReplyHeader(r, h) || !h.succeeded())
        return 0;
    const size_t off = r.offset();
    auto fresh = [&] { return p::XdrReader(data + off, size - off); };
    {
        auto a = fresh();
        uint32_t port;
        p::decodeGetPortResult(a, port);
    }
    {
        auto a = fresh();
        p::CreateLinkResp v;
        p::decode(a, v);
    }
    {
        auto a = fresh();
        p::DeviceWriteResp v;
        p::decode(a, v);
    }
    {
        auto a = fresh();
        p::DeviceReadResp v;
        if (p::decode(a, v, 4096))
            (void)v.data.toString();
    }
    {
        auto a = fresh();
        int32_t e, reason;
        uint32_t n;
        p::decodeReadRespHead(a, e, reason, n);
    }
    {
        auto a = fresh();
        p::DeviceReadStbResp v;
        p::decode(a, v);
    }
    {
        auto a = fresh();
        p::DeviceError v;
        p::decode(a, v);
    }
    return 0;
}
