#include "rpc.h"

namespace quarnel {
namespace protocol {

namespace {

void putEmptyAuth(XdrWriter& w)
{
    w.putUint32(static_cast<uint32_t>(AuthFlavor::None));
    w.putUint32(0);  // body length
}

bool skipAuth(XdrReader& r, uint32_t& flavor)
{
    return r.getUint32(flavor) && r.skipOpaque(kMaxAuthBodyLength);
}

}  // namespace

void encodeCallHeader(XdrWriter& w, const CallHeader& h)
{
    w.putUint32(h.xid);
    w.putUint32(static_cast<uint32_t>(MsgType::Call));
    w.putUint32(kRpcVersion);
    w.putUint32(h.program);
    w.putUint32(h.version);
    w.putUint32(h.procedure);
    putEmptyAuth(w);  // credential
    putEmptyAuth(w);  // verifier
}

bool decodeCallHeader(XdrReader& r, DecodedCall& out)
{
    uint32_t type = 0;
    uint32_t verifierFlavor = 0;
    if (!r.getUint32(out.header.xid) || !r.getUint32(type))
        return false;
    if (type != static_cast<uint32_t>(MsgType::Call)) {
        r.fail();
        return false;
    }
    return r.getUint32(out.rpcVersion) && r.getUint32(out.header.program) && r.getUint32(out.header.version)
           && r.getUint32(out.header.procedure) && skipAuth(r, out.credentialFlavor) && skipAuth(r, verifierFlavor);
}

void encodeAcceptedReply(XdrWriter& w, uint32_t xid, AcceptStat stat, uint32_t mismatchLow, uint32_t mismatchHigh)
{
    w.putUint32(xid);
    w.putUint32(static_cast<uint32_t>(MsgType::Reply));
    w.putUint32(static_cast<uint32_t>(ReplyStat::Accepted));
    putEmptyAuth(w);
    w.putUint32(static_cast<uint32_t>(stat));
    if (stat == AcceptStat::ProgMismatch) {
        w.putUint32(mismatchLow);
        w.putUint32(mismatchHigh);
    }
}

void encodeDeniedReply(XdrWriter& w, uint32_t xid, RejectStat stat, uint32_t low, uint32_t high, AuthStat authStat)
{
    w.putUint32(xid);
    w.putUint32(static_cast<uint32_t>(MsgType::Reply));
    w.putUint32(static_cast<uint32_t>(ReplyStat::Denied));
    w.putUint32(static_cast<uint32_t>(stat));
    if (stat == RejectStat::RpcMismatch) {
        w.putUint32(low);
        w.putUint32(high);
    } else {
        w.putUint32(static_cast<uint32_t>(authStat));
    }
}

bool decodeReplyHeader(XdrReader& r, ReplyHeader& out)
{
    uint32_t type = 0;
    uint32_t stat = 0;
    if (!r.getUint32(out.xid) || !r.getUint32(type) || !r.getUint32(stat))
        return false;
    if (type != static_cast<uint32_t>(MsgType::Reply) || stat > static_cast<uint32_t>(ReplyStat::Denied)) {
        r.fail();
        return false;
    }
    out.replyStat = static_cast<ReplyStat>(stat);
    if (out.replyStat == ReplyStat::Accepted) {
        uint32_t flavor = 0;
        uint32_t accept = 0;
        if (!skipAuth(r, flavor) || !r.getUint32(accept))
            return false;
        if (accept > static_cast<uint32_t>(AcceptStat::SystemErr)) {
            r.fail();
            return false;
        }
        out.acceptStat = static_cast<AcceptStat>(accept);
        if (out.acceptStat == AcceptStat::ProgMismatch)
            return r.getUint32(out.mismatchLow) && r.getUint32(out.mismatchHigh);
        return true;
    }
    uint32_t reject = 0;
    if (!r.getUint32(reject))
        return false;
    if (reject > static_cast<uint32_t>(RejectStat::AuthError)) {
        r.fail();
        return false;
    }
    out.rejectStat = static_cast<RejectStat>(reject);
    if (out.rejectStat == RejectStat::RpcMismatch)
        return r.getUint32(out.mismatchLow) && r.getUint32(out.mismatchHigh);
    uint32_t auth = 0;
    if (!r.getUint32(auth))
        return false;
    if (auth > static_cast<uint32_t>(AuthStat::TooWeak)) {
        r.fail();
        return false;
    }
    out.authStat = static_cast<AuthStat>(auth);
    return true;
}

bool peekMessage(ByteView message, uint32_t& xid, MsgType& type)
{
    XdrReader r(message);
    uint32_t t = 0;
    if (!r.getUint32(xid) || !r.getUint32(t) || t > static_cast<uint32_t>(MsgType::Reply))
        return false;
    type = static_cast<MsgType>(t);
    return true;
}

}  // namespace protocol
}  // namespace quarnel
