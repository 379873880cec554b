// ONC RPC headers and the portmapper GETPORT exchange, byte for byte.
#include "protocol/portmap.h"
#include "protocol/recordmark.h"
#include "protocol/rpc.h"

#include <gtest/gtest.h>

#include <functional>

using namespace quarnel::protocol;

namespace {
std::vector<uint32_t> words(const std::vector<uint8_t> &b)
{
    std::vector<uint32_t> w;
    for (size_t i = 0; i + 4 <= b.size(); i += 4)
        w.push_back(loadBigEndian32(b.data() + i));
    return w;
}
} // namespace

TEST(Portmap, GetPortCallMatchesTheWireLayout)
{
    XdrWriter w = XdrWriter::forRecord();
    encodeGetPortCall(w, 0x1234, PmapMapping{0x0607AF, 1, kIpProtoTcp, 0});
    ASSERT_TRUE(w.finishRecord());
    const std::vector<uint32_t> expected = {0x80000038, 0x1234, 0, 2, 100000, 2, 3, 0, 0, 0, 0, 0x0607AF, 1, 6, 0};
    EXPECT_EQ(words(w.bytes()), expected);
}

TEST(Portmap, ServerDecodesCallAndClientDecodesReply)
{
    XdrWriter call;
    encodeGetPortCall(call, 77, PmapMapping{0x0607AF, 1, kIpProtoTcp, 0});
    XdrReader r(call.bytes());
    DecodedCall dc;
    PmapMapping m;
    ASSERT_TRUE(decodeCallHeader(r, dc));
    EXPECT_EQ(dc.header.xid, 77u);
    EXPECT_EQ(dc.rpcVersion, kRpcVersion);
    EXPECT_EQ(dc.header.program, kPmapProgram);
    EXPECT_EQ(dc.header.procedure, kPmapProcGetPort);
    ASSERT_TRUE(decodePmapMapping(r, m));
    EXPECT_EQ(m.program, 0x0607AFu);
    EXPECT_EQ(m.protocol, kIpProtoTcp);
    EXPECT_TRUE(r.atEnd());

    XdrWriter reply;
    encodeGetPortReply(reply, 77, 40123);
    EXPECT_EQ(words(reply.bytes()), (std::vector<uint32_t>{77, 1, 0, 0, 0, 0, 40123}));
    XdrReader rr(reply.bytes());
    ReplyHeader h;
    uint32_t port = 0;
    ASSERT_TRUE(decodeReplyHeader(rr, h));
    ASSERT_TRUE(h.succeeded());
    ASSERT_TRUE(decodeGetPortResult(rr, port));
    EXPECT_EQ(port, 40123u);

    // A port number that cannot be a TCP port is refused.
    XdrWriter bad;
    encodeGetPortReply(bad, 77, 70000);
    XdrReader br(bad.bytes());
    ASSERT_TRUE(decodeReplyHeader(br, h));
    EXPECT_FALSE(decodeGetPortResult(br, port));
}

TEST(Rpc, CallHeaderSkipsForeignCredentialsByLength)
{
    // A call with an AUTH_SYS credential of 12 bytes must still decode.
    XdrWriter w;
    for (uint32_t v : {5u, 0u, 2u, 0x0607AFu, 1u, 23u, 1u})
        w.putUint32(v);
    const uint8_t cred[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    w.putOpaque(cred, sizeof cred);
    w.putUint32(0);
    w.putUint32(0);
    w.putUint32(99); // first argument
    XdrReader r(w.bytes());
    DecodedCall dc;
    ASSERT_TRUE(decodeCallHeader(r, dc));
    EXPECT_EQ(dc.credentialFlavor, 1u);
    EXPECT_EQ(dc.header.procedure, 23u);
    uint32_t arg = 0;
    ASSERT_TRUE(r.getUint32(arg));
    EXPECT_EQ(arg, 99u);

    // Oversized auth body (> 400) and a REPLY given to the call decoder fail.
    XdrWriter big;
    for (uint32_t v : {5u, 0u, 2u, 1u, 1u, 1u, 1u, 401u})
        big.putUint32(v);
    big.bytes().resize(big.size() + 404);
    XdrReader rb(big.bytes());
    EXPECT_FALSE(decodeCallHeader(rb, dc));
    XdrWriter reply;
    encodeAcceptedReply(reply, 5, AcceptStat::Success);
    XdrReader rr(reply.bytes());
    EXPECT_FALSE(decodeCallHeader(rr, dc));
}

TEST(Rpc, EveryReplyKindRoundTrips)
{
    struct Case
    {
        std::function<void(XdrWriter &)> enc;
        std::function<void(const ReplyHeader &)> check;
        size_t size;
    };
    const std::vector<Case> cases = {
        {[](XdrWriter &w) { encodeAcceptedReply(w, 1, AcceptStat::Success); },
         [](const ReplyHeader &h) { EXPECT_TRUE(h.succeeded()); }, kAcceptedReplyHeaderSize},
        {[](XdrWriter &w) { encodeAcceptedReply(w, 1, AcceptStat::ProgMismatch, 1, 3); },
         [](const ReplyHeader &h) {
             EXPECT_EQ(h.acceptStat, AcceptStat::ProgMismatch);
             EXPECT_EQ(h.mismatchLow, 1u);
             EXPECT_EQ(h.mismatchHigh, 3u);
         },
         32},
        {[](XdrWriter &w) { encodeAcceptedReply(w, 1, AcceptStat::ProcUnavail); },
         [](const ReplyHeader &h) {
             EXPECT_FALSE(h.succeeded());
             EXPECT_EQ(h.acceptStat, AcceptStat::ProcUnavail);
         },
         24},
        {[](XdrWriter &w) { encodeDeniedReply(w, 1, RejectStat::RpcMismatch, 2, 2); },
         [](const ReplyHeader &h) {
             EXPECT_EQ(h.replyStat, ReplyStat::Denied);
             EXPECT_EQ(h.rejectStat, RejectStat::RpcMismatch);
             EXPECT_EQ(h.mismatchHigh, 2u);
         },
         24},
        {[](XdrWriter &w) { encodeDeniedReply(w, 1, RejectStat::AuthError, 0, 0, AuthStat::TooWeak); },
         [](const ReplyHeader &h) {
             EXPECT_EQ(h.rejectStat, RejectStat::AuthError);
             EXPECT_EQ(h.authStat, AuthStat::TooWeak);
         },
         20},
    };
    for (const Case &c : cases) {
        XdrWriter w;
        c.enc(w);
        EXPECT_EQ(w.size(), c.size);
        ReplyHeader h;
        XdrReader r(w.bytes());
        ASSERT_TRUE(decodeReplyHeader(r, h));
        EXPECT_EQ(h.xid, 1u);
        EXPECT_TRUE(r.atEnd());
        c.check(h);
        // Every truncation of the header is refused.
        for (size_t n = 0; n < w.size(); ++n) {
            XdrReader t(w.bytes().data(), n);
            ReplyHeader th;
            EXPECT_FALSE(decodeReplyHeader(t, th)) << n;
        }
    }

    // Out-of-range enum values are refused rather than cast.
    XdrWriter w;
    for (uint32_t v : {1u, 1u, 0u, 0u, 0u, 6u})
        w.putUint32(v);
    XdrReader r(w.bytes());
    ReplyHeader h;
    EXPECT_FALSE(decodeReplyHeader(r, h));

    uint32_t xid = 0;
    MsgType type = MsgType::Call;
    XdrWriter rep;
    encodeAcceptedReply(rep, 99, AcceptStat::Success);
    ASSERT_TRUE(peekMessage(rep.bytes(), xid, type));
    EXPECT_EQ(xid, 99u);
    EXPECT_EQ(type, MsgType::Reply);
}
