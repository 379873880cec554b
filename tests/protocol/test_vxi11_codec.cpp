// VXI-11 core-channel structures: round trips in both directions, the worked
// byte counts of the wire format, truncation and hostile lengths.
#include "protocol/recordmark.h"
#include "protocol/vxi11.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace quarnel::protocol;

namespace {

template <class Args> std::vector<uint8_t> callRecord(CoreProc proc, const Args &args)
{
    XdrWriter w = XdrWriter::forRecord();
    encodeCoreCall(w, 0x42, proc, args);
    EXPECT_TRUE(w.finishRecord());
    return w.take();
}

template <class Result> std::vector<uint8_t> replyRecord(const Result &res)
{
    XdrWriter w = XdrWriter::forRecord();
    encodeCoreReply(w, 0x42, res);
    EXPECT_TRUE(w.finishRecord());
    return w.take();
}

uint32_t mark(const std::vector<uint8_t> &rec) { return loadBigEndian32(rec.data()); }

/// Decodes a call record as a server would; returns the reader at the arguments.
XdrReader serverView(const std::vector<uint8_t> &rec, CoreProc expected)
{
    XdrReader r(rec.data() + kRecordMarkSize, rec.size() - kRecordMarkSize);
    DecodedCall dc;
    EXPECT_TRUE(decodeCallHeader(r, dc));
    EXPECT_EQ(dc.header.program, kDeviceCoreProgram);
    EXPECT_EQ(dc.header.version, kDeviceCoreVersion);
    EXPECT_EQ(dc.header.procedure, static_cast<uint32_t>(expected));
    EXPECT_EQ(dc.header.xid, 0x42u);
    return r;
}

XdrReader clientView(const std::vector<uint8_t> &rec)
{
    XdrReader r(rec.data() + kRecordMarkSize, rec.size() - kRecordMarkSize);
    ReplyHeader h;
    EXPECT_TRUE(decodeReplyHeader(r, h));
    EXPECT_TRUE(h.succeeded());
    EXPECT_EQ(h.xid, 0x42u);
    return r;
}

/// Every strict prefix of the structure bytes must be refused.
template <class T> void expectTruncationsFail(const std::vector<uint8_t> &rec, size_t headerSize)
{
    const uint8_t *body = rec.data() + kRecordMarkSize + headerSize;
    const size_t size = rec.size() - kRecordMarkSize - headerSize;
    for (size_t n = 0; n < size; ++n) {
        XdrReader r(body, n);
        T v;
        EXPECT_FALSE(decode(r, v)) << "prefix " << n << " of " << size;
    }
}

} // namespace

TEST(Vxi11Codec, CreateLinkBothDirectionsAndByteCounts)
{
    CreateLinkParms p;
    p.clientId = 1234567;
    p.lockDevice = true;
    p.lockTimeout = 10000;
    p.device = "inst0";
    auto call = callRecord(CoreProc::CreateLink, p);
    EXPECT_EQ(mark(call), 0x80000040u); // 40 + 24
    XdrReader sr = serverView(call, CoreProc::CreateLink);
    CreateLinkParms q;
    ASSERT_TRUE(decode(sr, q));
    EXPECT_EQ(q.clientId, p.clientId);
    EXPECT_TRUE(q.lockDevice);
    EXPECT_EQ(q.lockTimeout, 10000u);
    EXPECT_EQ(q.device, "inst0");
    EXPECT_TRUE(sr.atEnd());
    expectTruncationsFail<CreateLinkParms>(call, kCallHeaderSize);

    CreateLinkResp resp{kErrNone, 7, 60001, 0x10000};
    auto reply = replyRecord(resp);
    EXPECT_EQ(mark(reply), 0x80000028u); // 24 + 16
    XdrReader cr = clientView(reply);
    CreateLinkResp got;
    ASSERT_TRUE(decode(cr, got));
    EXPECT_EQ(got.lid, 7);
    EXPECT_EQ(got.abortPort, 60001u);
    EXPECT_EQ(got.maxRecvSize, 0x10000u);
    expectTruncationsFail<CreateLinkResp>(reply, kAcceptedReplyHeaderSize);

    // A device name longer than the decoder's bound is refused.
    p.device.assign(kMaxDeviceNameLength + 1, 'x');
    auto longCall = callRecord(CoreProc::CreateLink, p);
    XdrReader lr = serverView(longCall, CoreProc::CreateLink);
    EXPECT_FALSE(decode(lr, q));
}

TEST(Vxi11Codec, DeviceWriteBothDirectionsAndByteCounts)
{
    const char text[] = "*IDN?\n";
    DeviceWriteParms p;
    p.lid = 3;
    p.ioTimeout = 5000;
    p.lockTimeout = 0;
    p.flags = kFlagEnd;
    p.data = ByteView(reinterpret_cast<const uint8_t *>(text), 6);
    auto call = callRecord(CoreProc::DeviceWrite, p);
    EXPECT_EQ(mark(call), 0x80000044u); // 40 + 28
    XdrReader sr = serverView(call, CoreProc::DeviceWrite);
    DeviceWriteParms q;
    ASSERT_TRUE(decode(sr, q));
    EXPECT_EQ(q.lid, 3);
    EXPECT_EQ(q.ioTimeout, 5000u);
    EXPECT_EQ(q.flags, kFlagEnd);
    EXPECT_EQ(q.data.toString(), "*IDN?\n");
    expectTruncationsFail<DeviceWriteParms>(call, kCallHeaderSize);

    auto reply = replyRecord(DeviceWriteResp{kErrNone, 6});
    EXPECT_EQ(mark(reply), 0x80000020u);
    XdrReader cr = clientView(reply);
    DeviceWriteResp got;
    ASSERT_TRUE(decode(cr, got));
    EXPECT_EQ(got.size, 6u);
    expectTruncationsFail<DeviceWriteResp>(reply, kAcceptedReplyHeaderSize);

    // The server may cap what it accepts: a bound below the length fails.
    XdrReader capped = serverView(call, CoreProc::DeviceWrite);
    EXPECT_FALSE(decode(capped, q, 5));
}

TEST(Vxi11Codec, DeviceReadBothDirectionsAndByteCounts)
{
    DeviceReadParms p{9, 80010, 5000, 10000, kFlagTermCharSet, '\n'};
    auto call = callRecord(CoreProc::DeviceRead, p);
    EXPECT_EQ(mark(call), 0x80000040u); // 40 + 6 words
    XdrReader sr = serverView(call, CoreProc::DeviceRead);
    DeviceReadParms q;
    ASSERT_TRUE(decode(sr, q));
    EXPECT_EQ(q.lid, 9);
    EXPECT_EQ(q.requestSize, 80010u);
    EXPECT_EQ(q.ioTimeout, 5000u);
    EXPECT_EQ(q.lockTimeout, 10000u);
    EXPECT_EQ(q.flags, kFlagTermCharSet);
    EXPECT_EQ(q.termChar, '\n');
    expectTruncationsFail<DeviceReadParms>(call, kCallHeaderSize);

    const uint8_t data[] = {'1', '\n'};
    auto reply = replyRecord(DeviceReadResp{kErrNone, kReasonEnd, ByteView(data, 2)});
    EXPECT_EQ(mark(reply), 0x80000028u); // 24 + 12 + 2 + 2 pad
    XdrReader cr = clientView(reply);
    DeviceReadResp got;
    ASSERT_TRUE(decode(cr, got, 2));
    EXPECT_EQ(got.reason, kReasonEnd);
    EXPECT_EQ(got.data.toString(), "1\n");
    expectTruncationsFail<DeviceReadResp>(reply, kAcceptedReplyHeaderSize);

    // A reply carrying more than the client asked for is refused.
    XdrReader over = clientView(reply);
    EXPECT_FALSE(decode(over, got, 1));

    // Streaming head: same bytes as the structure encoder.
    XdrWriter head;
    encodeReadRespHead(head, kErrNone, kReasonEnd, 2);
    EXPECT_EQ(0, std::memcmp(head.bytes().data(), reply.data() + kRecordMarkSize + kAcceptedReplyHeaderSize,
                             kReadRespHeadSize));
    XdrReader hr(head.bytes());
    int32_t err = -1, reason = -1;
    uint32_t len = 0;
    ASSERT_TRUE(decodeReadRespHead(hr, err, reason, len));
    EXPECT_EQ(len, 2u);

    // A zero-length reply is legal.
    auto empty = replyRecord(DeviceReadResp{kErrIoTimeout, 0, ByteView()});
    XdrReader er = clientView(empty);
    ASSERT_TRUE(decode(er, got, 0));
    EXPECT_EQ(got.error, kErrIoTimeout);
    EXPECT_EQ(got.data.size, 0u);
}

TEST(Vxi11Codec, GenericCallsStbAndErrors)
{
    DeviceGenericParms p{4, 0, 1000, 5000};
    for (CoreProc proc : {CoreProc::DeviceLocal, CoreProc::DeviceClear, CoreProc::DeviceRemote,
                          CoreProc::DeviceTrigger, CoreProc::DeviceReadStb}) {
        auto call = callRecord(proc, p);
        EXPECT_EQ(mark(call), 0x80000038u); // 40 + 4 words
        XdrReader sr = serverView(call, proc);
        DeviceGenericParms q;
        ASSERT_TRUE(decode(sr, q));
        EXPECT_EQ(q.lid, 4);
        // lock_timeout precedes io_timeout in this structure.
        EXPECT_EQ(q.lockTimeout, 1000u);
        EXPECT_EQ(q.ioTimeout, 5000u);
    }
    auto err = replyRecord(DeviceError{kErrOperationNotSupported});
    EXPECT_EQ(mark(err), 0x8000001Cu);
    XdrReader er = clientView(err);
    DeviceError e;
    ASSERT_TRUE(decode(er, e));
    EXPECT_EQ(e.error, kErrOperationNotSupported);

    auto stb = replyRecord(DeviceReadStbResp{kErrNone, 0x50});
    XdrReader sr = clientView(stb);
    DeviceReadStbResp s;
    ASSERT_TRUE(decode(sr, s));
    EXPECT_EQ(s.stb, 0x50);

    auto destroy = callRecord(CoreProc::DestroyLink, DeviceLink{12});
    EXPECT_EQ(mark(destroy), 0x8000002Cu);
    XdrReader dr = serverView(destroy, CoreProc::DestroyLink);
    DeviceLink l;
    ASSERT_TRUE(decode(dr, l));
    EXPECT_EQ(l.lid, 12);
}
