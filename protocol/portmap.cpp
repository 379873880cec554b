#include "portmap.h"

namespace quarnel {
namespace protocol {

namespace {
constexpr uint32_t kMaxPortNumber = 65535;
}

void encodePmapMapping(XdrWriter& w, const PmapMapping& m)
{
    w.putUint32(m.program);
    w.putUint32(m.version);
    w.putUint32(m.protocol);
    w.putUint32(m.port);
}

bool decodePmapMapping(XdrReader& r, PmapMapping& m)
{
    return r.getUint32(m.program) && r.getUint32(m.version) && r.getUint32(m.protocol) && r.getUint32(m.port);
}

void encodeGetPortCall(XdrWriter& w, uint32_t xid, const PmapMapping& query)
{
    encodeCallHeader(w, CallHeader{xid, kPmapProgram, kPmapVersion, kPmapProcGetPort});
    encodePmapMapping(w, query);
}

void encodeGetPortReply(XdrWriter& w, uint32_t xid, uint32_t port)
{
    encodeAcceptedReply(w, xid, AcceptStat::Success);
    w.putUint32(port);
}

bool decodeGetPortResult(XdrReader& r, uint32_t& port)
{
    if (!r.getUint32(port))
        return false;
    if (port > kMaxPortNumber) {
        r.fail();
        return false;
    }
    return true;
}

}  // namespace protocol
}  // namespace quarnel
