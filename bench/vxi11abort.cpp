// The VXI-11 abort channel: device_abort flags a link's running device_read.
#include "vxi11core.h"

#include "linkregistry.h"

#include "protocol/rpc.h"
#include "protocol/vxi11.h"

namespace quarnel {
namespace bench {

namespace p = protocol;

namespace {
constexpr size_t kAbortMaxRecord = 4096;
}  // namespace

void serveVxi11Abort(const ServerContext& ctx, int fd, Instrument instrument, int connectionId)
{
    readRecords(ctx, fd, kAbortMaxRecord, kAbortMaxRecord, [&](const std::vector<uint8_t>& record) {
        p::XdrReader r(record.data(), record.size());
        p::DecodedCall call;
        if (!p::decodeCallHeader(r, call))
            return false;
        p::XdrWriter w = p::XdrWriter::forRecord();
        p::DeviceLink link;
        if (call.header.program != p::kDeviceAsyncProgram) {
            p::encodeAcceptedReply(w, call.header.xid, p::AcceptStat::ProgUnavail);
        } else if (call.header.procedure != p::kDeviceAbortProc) {
            p::encodeAcceptedReply(w, call.header.xid, p::AcceptStat::ProcUnavail);
        } else if (!p::decode(r, link)) {
            p::encodeAcceptedReply(w, call.header.xid, p::AcceptStat::GarbageArgs);
        } else {
            ctx.core.log(instrument, LogKind::Procedure, Transport::Vxi11, connectionId, link.lid, "device_abort");
            const int32_t error = ctx.links.abort(instrument, link.lid) ? p::kErrNone : p::kErrInvalidLinkId;
            p::encodeCoreReply(w, call.header.xid, p::DeviceError{error});
        }
        return w.finishRecord() && sendAll(fd, w.bytes().data(), w.size());
    });
}

}  // namespace bench
}  // namespace quarnel
