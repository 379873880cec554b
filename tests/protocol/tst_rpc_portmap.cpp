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

TEST(Portmap, GetPortCallAndReply)
{
    XdrWriter w = XdrWriter::forRecord();
    encodeGetPortCall(w, 0x1234, PmapMapping{0x0607AF, 1, kIpProtoTcp, 0});
    ASSERT_TRUE(w.finishRecord());
    EXPECT_EQ(words(w.bytes()), (std::vector<uint32_t>{0x80000038, 0x1234, 0, 2, 100000, 2, 3, 0, 0, 0, 0,
                                                       0x0607AF, 1, 6, 0}));
    // As the server decodes it.
    XdrReader r(w.bytes().data() + kRecordMarkSize, w.size() - kRecordMarkSize);
    DecodedCall dc;
    PmapMapping m;
    ASSERT_TRUE(decodeCallHeader(r, dc));
    EXPECT_EQ(dc.rpcVersion, kRpcVersion);
    EXPECT_EQ(dc.header.program, kPmapProgram);
    EXPECT_EQ(dc.header.procedure, kPmapProcGetPort);
    ASSERT_TRUE(decodePmapMapping(r, m));
    EXPECT_EQ(m.program, 0x0607AFu);
    EXPECT_EQ(m.protocol, kIpProtoTcp);
    EXPECT_TRUE(r.atEnd());

    for (uint32_t port : {40123u, 70000u}) { // the second cannot be a TCP port
        XdrWriter reply;
        encodeGetPortReply(reply, 77, port);
        EXPECT_EQ(words(reply.bytes()), (std::vector<uint32_t>{77, 1, 0, 0, 0, 0, port}));
        XdrReader rr(reply.bytes());
        ReplyHeader h;
        uint32_t got = 0;
        ASSERT_TRUE(decodeReplyHeader(rr, h) && h.succeeded());
        EXPECT_EQ(decodeGetPortResult(rr, got), port == 40123u);
    }
}

TEST(Rpc, CallHeaderSkipsForeignCredentialsAndRefusesTheRest)
{
    // A call with an AUTH_SYS credential of 12 bytes must still decode.
    XdrWriter w;
    for (uint32_t v : {5u, 0u, 2u, 0x0607AFu, 1u, 23u, 1u})
        w.putUint32(v);
    const uint8_t cred[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    w.putOpaque(cred, sizeof cred);
    for (uint32_t v : {0u, 0u, 99u}) // verifier, first argument
        w.putUint32(v);
    XdrReader r(w.bytes());
    DecodedCall dc;
    ASSERT_TRUE(decodeCallHeader(r, dc));
    EXPECT_EQ(dc.credentialFlavor, 1u);
    EXPECT_EQ(dc.header.procedure, 23u);
    uint32_t arg = 0;
    ASSERT_TRUE(r.getUint32(arg));
    EXPECT_EQ(arg, 99u);

    // An auth body over 400 bytes, and a reply given to the call decoder.
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
        size_t size;
        std::function<bool(const ReplyHeader &)> check;
    };
    const std::vector<Case> cases = {
        {[](XdrWriter &w) { encodeAcceptedReply(w, 1, AcceptStat::Success); }, kAcceptedReplyHeaderSize,
         [](const ReplyHeader &h) { return h.succeeded(); }},
        {[](XdrWriter &w) { encodeAcceptedReply(w, 1, AcceptStat::ProgMismatch, 1, 3); }, 32,
         [](const ReplyHeader &h) {
             return h.acceptStat == AcceptStat::ProgMismatch && h.mismatchLow == 1 && h.mismatchHigh == 3;
         }},
        {[](XdrWriter &w) { encodeAcceptedReply(w, 1, AcceptStat::ProcUnavail); }, 24,
         [](const ReplyHeader &h) { return !h.succeeded() && h.acceptStat == AcceptStat::ProcUnavail; }},
        {[](XdrWriter &w) { encodeDeniedReply(w, 1, RejectStat::RpcMismatch, 2, 2); }, 24,
         [](const ReplyHeader &h) {
             return h.replyStat == ReplyStat::Denied && h.rejectStat == RejectStat::RpcMismatch &&
                    h.mismatchHigh == 2;
         }},
        {[](XdrWriter &w) { encodeDeniedReply(w, 1, RejectStat::AuthError, 0, 0, AuthStat::TooWeak); }, 20,
         [](const ReplyHeader &h) { return h.rejectStat == RejectStat::AuthError && h.authStat == AuthStat::TooWeak; }},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        XdrWriter w;
        cases[i].enc(w);
        EXPECT_EQ(w.size(), cases[i].size) << "case " << i;
        ReplyHeader h;
        XdrReader r(w.bytes());
        ASSERT_TRUE(decodeReplyHeader(r, h));
        EXPECT_EQ(h.xid, 1u);
        EXPECT_TRUE(r.atEnd());
        EXPECT_TRUE(cases[i].check(h)) << "case " << i;
        for (size_t n = 0; n < w.size(); ++n) { // every truncation is refused
            XdrReader t(w.bytes().data(), n);
            ReplyHeader th;
            EXPECT_FALSE(decodeReplyHeader(t, th)) << "case " << i << " cut at " << n;
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
