// RPC reply matching over a scripted byte stream: stale replies are skipped,
// fragments are joined, and a time-out in the middle of a record leaves the
// stream in step for the next call.
#include "rpcchannel.h"
#include "status.h"

#include "protocol/recordmark.h"
#include "protocol/rpc.h"
#include "protocol/vxi11.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

using namespace lanvisa;
namespace p = quarnel::protocol;

namespace {

std::vector<uint8_t> replyRecord(uint32_t xid, uint32_t value, size_t fragment)
{
    p::XdrWriter w;
    p::encodeAcceptedReply(w, xid, p::AcceptStat::Success);
    w.putUint32(value);
    return p::frameRecord(w.bytes(), fragment);
}

struct Pair
{
    int peer = -1;
    TcpConnection conn;
    Pair()
    {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        conn.adopt(fds[0]);
        peer = fds[1];
    }
    ~Pair() { ::close(peer); }
    void send(const std::vector<uint8_t>& b, size_t from = 0, size_t to = SIZE_MAX)
    {
        to = std::min(to, b.size());
        ASSERT_EQ(::write(peer, b.data() + from, to - from), ssize_t(to - from));
    }
};

uint32_t resultOf(const std::vector<uint8_t>& head)
{
    p::XdrReader r(head.data(), head.size());
    p::ReplyHeader h;
    uint32_t v = 0;
    EXPECT_TRUE(p::decodeReplyHeader(r, h) && h.succeeded() && r.getUint32(v));
    return v;
}

}  // namespace

TEST(RpcChannel, SkipsStaleRepliesAndJoinsFragments)
{
    Pair pair;
    RpcChannel rpc(pair.conn);
    pair.send(replyRecord(100, 1, 3));  // late answer to an earlier call
    pair.send(replyRecord(101, 2, 5));
    std::vector<uint8_t> head;
    ASSERT_EQ(rpc.beginReply(101, Deadline::afterMs(1000), head), VI_SUCCESS);
    ASSERT_EQ(rpc.endReply(Deadline::afterMs(1000)), VI_SUCCESS);
    EXPECT_EQ(resultOf(head), 2u);
}

TEST(RpcChannel, TimeOutInsideARecordKeepsTheStreamInStep)
{
    Pair pair;
    RpcChannel rpc(pair.conn);
    const auto first = replyRecord(7, 70, 1000);
    const auto second = replyRecord(8, 80, 1000);
    std::vector<uint8_t> head;
    // Half a record mark, then a time-out.
    pair.send(first, 0, 2);
    EXPECT_EQ(rpc.beginReply(7, Deadline::afterMs(50), head), VI_ERROR_TMO);
    // The rest of the header and half the body, then a time-out.
    pair.send(first, 2, 15);
    EXPECT_EQ(rpc.beginReply(7, Deadline::afterMs(50), head), VI_ERROR_TMO);
    // The old reply completes late; the next call's reply follows it.
    pair.send(first, 15);
    pair.send(second);
    ASSERT_EQ(rpc.beginReply(8, Deadline::afterMs(1000), head), VI_SUCCESS);
    EXPECT_EQ(resultOf(head), 80u);
    EXPECT_TRUE(rpc.usable());
}

TEST(RpcChannel, ShortRecordAndPeerCloseAreReported)
{
    Pair pair;
    RpcChannel rpc(pair.conn);
    pair.send(replyRecord(5, 1, 1000));
    std::vector<uint8_t> head;
    ASSERT_EQ(rpc.beginReply(5, Deadline::afterMs(1000), head), VI_SUCCESS);
    uint8_t more[8];
    EXPECT_EQ(rpc.readBody(more, sizeof more, Deadline::afterMs(100)), VI_ERROR_IO);
    ::shutdown(pair.peer, SHUT_WR);
    EXPECT_EQ(rpc.beginReply(6, Deadline::afterMs(1000), head), VI_ERROR_CONN_LOST);
    EXPECT_FALSE(rpc.usable());
}

TEST(Vxi11Status, ErrorCodesMapAndEveryStatusHasAText)
{
    EXPECT_EQ(statusFromVxi11Error(p::kErrNone, Vxi11Context::Io), VI_SUCCESS);
    EXPECT_EQ(statusFromVxi11Error(p::kErrIoTimeout, Vxi11Context::Io), VI_ERROR_TMO);
    EXPECT_EQ(statusFromVxi11Error(p::kErrOutOfResources, Vxi11Context::Open), VI_ERROR_RSRC_BUSY);
    EXPECT_EQ(statusFromVxi11Error(p::kErrInvalidAddress, Vxi11Context::Open), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(statusFromVxi11Error(p::kErrDeviceLocked, Vxi11Context::Io), VI_ERROR_RSRC_LOCKED);
    EXPECT_EQ(statusFromVxi11Error(p::kErrOperationNotSupported, Vxi11Context::Io), VI_ERROR_NSUP_OPER);
    EXPECT_EQ(statusFromVxi11Error(p::kErrAbort, Vxi11Context::Io), VI_ERROR_ABORT);
    EXPECT_EQ(statusFromVxi11Error(12345, Vxi11Context::Io), VI_ERROR_IO);
    for (int e = -2; e < 40; ++e)
        for (Vxi11Context c : {Vxi11Context::Open, Vxi11Context::Io})
            EXPECT_NE(statusText(statusFromVxi11Error(e, c)), nullptr) << e;
    for (ViStatus s : {VI_SUCCESS_TERM_CHAR, VI_SUCCESS_MAX_CNT, VI_WARN_NULL_OBJECT, VI_WARN_NSUP_BUF,
                       VI_WARN_UNKNOWN_STATUS, VI_ERROR_INV_RSRC_NAME, VI_ERROR_FILE_ACCESS, VI_ERROR_FILE_IO,
                       VI_ERROR_CONN_LOST, VI_ERROR_INV_SETUP, VI_ERROR_INV_MODE, VI_ERROR_USER_BUF, VI_ERROR_INV_SIZE,
                       VI_ERROR_INV_MASK, VI_ERROR_NSUP_FMT, VI_ERROR_INV_FMT})
        EXPECT_NE(statusText(s), nullptr) << std::hex << s;
}
