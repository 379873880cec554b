// VXI-11 core-channel structures: round trips in both directions, the worked
// byte counts of the wire format, truncation and hostile lengths.
#include "protocol/recordmark.h"
#include "protocol/vxi11.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

using namespace quarnel::protocol;

namespace {

const uint32_t kXid = 0x42;

struct Record
{
    std::vector<uint8_t> bytes;
    size_t header; // RPC header size after the record mark

    uint32_t mark() const { return loadBigEndian32(bytes.data()); }
    XdrReader body() const { return XdrReader(bytes.data() + kRecordMarkSize, bytes.size() - kRecordMarkSize); }
    XdrReader args() const { return XdrReader(bytes.data() + kRecordMarkSize + header, bytes.size() - kRecordMarkSize - header); }
};

template <class Args> Record callRecord(CoreProc proc, const Args &args)
{
    XdrWriter w = XdrWriter::forRecord();
    encodeCoreCall(w, kXid, proc, args);
    EXPECT_TRUE(w.finishRecord());
    Record rec{w.take(), kCallHeaderSize};
    // As a server decodes it.
    XdrReader r = rec.body();
    DecodedCall dc;
    EXPECT_TRUE(decodeCallHeader(r, dc));
    EXPECT_EQ(dc.header.program, kDeviceCoreProgram);
    EXPECT_EQ(dc.header.version, kDeviceCoreVersion);
    EXPECT_EQ(dc.header.procedure, static_cast<uint32_t>(proc));
    EXPECT_EQ(dc.header.xid, kXid);
    return rec;
}

template <class Result> Record replyRecord(const Result &res)
{
    XdrWriter w = XdrWriter::forRecord();
    encodeCoreReply(w, kXid, res);
    EXPECT_TRUE(w.finishRecord());
    Record rec{w.take(), kAcceptedReplyHeaderSize};
    XdrReader r = rec.body();
    ReplyHeader h;
    EXPECT_TRUE(decodeReplyHeader(r, h));
    EXPECT_TRUE(h.succeeded());
    EXPECT_EQ(h.xid, kXid);
    return rec;
}

/// Decodes the structure of a record and checks that every strict prefix of
/// its bytes is refused.
template <class T> T decoded(const Record &rec)
{
    XdrReader r = rec.args();
    T v;
    EXPECT_TRUE(decode(r, v));
    EXPECT_TRUE(r.atEnd());
    const size_t size = rec.bytes.size() - kRecordMarkSize - rec.header;
    for (size_t n = 0; n < size; ++n) {
        XdrReader cut(rec.bytes.data() + kRecordMarkSize + rec.header, n);
        T t;
        EXPECT_FALSE(decode(cut, t)) << "prefix " << n << " of " << size;
    }
    return v;
}

} // namespace

// Calls as the VXI-11 and ONC RPC documents lay them out, written out by
// hand: the library and the bench share the encoder, so only fixed bytes
// catch a mistake both would make.
TEST(Vxi11Codec, CallsHaveTheDocumentedBytes)
{
    auto hex = [](const std::vector<uint8_t> &b) {
        std::string s;
        char buf[3];
        for (size_t i = 0; i < b.size(); ++i) {
            std::snprintf(buf, sizeof buf, "%02x", b[i]);
            s += (i && i % 4 == 0 ? " " : "") + std::string(buf);
        }
        return s;
    };
    // Record mark, xid 0x42, CALL, RPC version 2, program 0x0607AF version 1,
    // the procedure, empty credentials and verifier.
    auto header = [](const char *mark, const char *proc) {
        return std::string(mark) + " 00000042 00000000 00000002 000607af 00000001 " + proc
            + " 00000000 00000000 00000000 00000000 ";
    };
    CreateLinkParms link;
    link.clientId = 1234567;
    link.lockDevice = true;
    link.lockTimeout = 10000;
    link.device = "inst0";
    EXPECT_EQ(hex(callRecord(CoreProc::CreateLink, link).bytes),
              header("80000040", "0000000a") + "0012d687 00000001 00002710 00000005 696e7374 30000000");

    const char text[] = "*IDN?\n";
    DeviceWriteParms write;
    write.lid = 3;
    write.ioTimeout = 5000;
    write.flags = kFlagEnd;
    write.data = ByteView(reinterpret_cast<const uint8_t *>(text), 6);
    EXPECT_EQ(hex(callRecord(CoreProc::DeviceWrite, write).bytes),
              header("80000044", "0000000b") + "00000003 00001388 00000000 00000008 00000006 2a49444e 3f0a0000");

    DeviceReadParms read;
    read.lid = 3;
    read.requestSize = 1000;
    read.ioTimeout = 5000;
    read.termChar = '\n';
    EXPECT_EQ(hex(callRecord(CoreProc::DeviceRead, read).bytes),
              header("80000040", "0000000c") + "00000003 000003e8 00001388 00000000 00000000 0000000a");
}

TEST(Vxi11Codec, CreateLink)
{
    CreateLinkParms p;
    p.clientId = 1234567;
    p.lockDevice = true;
    p.lockTimeout = 10000;
    p.device = "inst0";
    Record call = callRecord(CoreProc::CreateLink, p);
    EXPECT_EQ(call.mark(), 0x80000040u); // 40 + 24
    const CreateLinkParms q = decoded<CreateLinkParms>(call);
    EXPECT_EQ(q.clientId, p.clientId);
    EXPECT_TRUE(q.lockDevice);
    EXPECT_EQ(q.lockTimeout, 10000u);
    EXPECT_EQ(q.device, "inst0");

    Record reply = replyRecord(CreateLinkResp{kErrNone, 7, 60001, 0x10000});
    EXPECT_EQ(reply.mark(), 0x80000028u); // 24 + 16
    const CreateLinkResp got = decoded<CreateLinkResp>(reply);
    EXPECT_EQ(got.lid, 7);
    EXPECT_EQ(got.abortPort, 60001u);
    EXPECT_EQ(got.maxRecvSize, 0x10000u);

    // A device name longer than the decoder's bound is refused.
    p.device.assign(kMaxDeviceNameLength + 1, 'x');
    const Record longName = callRecord(CoreProc::CreateLink, p); // the reader points into it
    XdrReader lr = longName.args();
    CreateLinkParms l;
    EXPECT_FALSE(decode(lr, l));
}

TEST(Vxi11Codec, DeviceWrite)
{
    const char text[] = "*IDN?\n";
    DeviceWriteParms p;
    p.lid = 3;
    p.ioTimeout = 5000;
    p.flags = kFlagEnd;
    p.data = ByteView(reinterpret_cast<const uint8_t *>(text), 6);
    Record call = callRecord(CoreProc::DeviceWrite, p);
    EXPECT_EQ(call.mark(), 0x80000044u); // 40 + 28
    const DeviceWriteParms q = decoded<DeviceWriteParms>(call);
    EXPECT_EQ(q.lid, 3);
    EXPECT_EQ(q.ioTimeout, 5000u);
    EXPECT_EQ(q.flags, kFlagEnd);
    EXPECT_EQ(q.data.toString(), "*IDN?\n");
    // The server may cap what it accepts: a bound below the length fails.
    XdrReader capped = call.args();
    DeviceWriteParms c;
    EXPECT_FALSE(decode(capped, c, 5));

    Record reply = replyRecord(DeviceWriteResp{kErrNone, 6});
    EXPECT_EQ(reply.mark(), 0x80000020u);
    EXPECT_EQ(decoded<DeviceWriteResp>(reply).size, 6u);
}

TEST(Vxi11Codec, DeviceRead)
{
    Record call = callRecord(CoreProc::DeviceRead, DeviceReadParms{9, 80010, 5000, 10000, kFlagTermCharSet, '\n'});
    EXPECT_EQ(call.mark(), 0x80000040u); // 40 + 6 words
    const DeviceReadParms q = decoded<DeviceReadParms>(call);
    EXPECT_EQ(q.lid, 9);
    EXPECT_EQ(q.requestSize, 80010u);
    EXPECT_EQ(q.ioTimeout, 5000u);
    EXPECT_EQ(q.lockTimeout, 10000u);
    EXPECT_EQ(q.flags, kFlagTermCharSet);
    EXPECT_EQ(q.termChar, '\n');

    const uint8_t data[] = {'1', '\n'};
    Record reply = replyRecord(DeviceReadResp{kErrNone, kReasonEnd, ByteView(data, 2)});
    EXPECT_EQ(reply.mark(), 0x80000028u); // 24 + 12 + 2 + 2 pad
    const DeviceReadResp got = decoded<DeviceReadResp>(reply);
    EXPECT_EQ(got.reason, kReasonEnd);
    EXPECT_EQ(got.data.toString(), "1\n");
    // A reply carrying more than the client asked for is refused.
    XdrReader over = reply.args();
    DeviceReadResp o;
    EXPECT_FALSE(decode(over, o, 1));

    // Streaming head: the same bytes as the structure encoder.
    XdrWriter head;
    encodeReadRespHead(head, kErrNone, kReasonEnd, 2);
    EXPECT_EQ(0, std::memcmp(head.bytes().data(), reply.bytes.data() + kRecordMarkSize + reply.header,
                             kReadRespHeadSize));
    XdrReader hr(head.bytes());
    int32_t err = -1, reason = -1;
    uint32_t len = 0;
    ASSERT_TRUE(decodeReadRespHead(hr, err, reason, len));
    EXPECT_EQ(len, 2u);

    // A zero-length reply is legal.
    const DeviceReadResp empty = decoded<DeviceReadResp>(replyRecord(DeviceReadResp{kErrIoTimeout, 0, ByteView()}));
    EXPECT_EQ(empty.error, kErrIoTimeout);
    EXPECT_EQ(empty.data.size, 0u);
}

TEST(Vxi11Codec, GenericCallsStbErrorsAndLink)
{
    for (CoreProc proc : {CoreProc::DeviceLocal, CoreProc::DeviceClear, CoreProc::DeviceRemote,
                          CoreProc::DeviceTrigger, CoreProc::DeviceReadStb}) {
        Record call = callRecord(proc, DeviceGenericParms{4, 0, 1000, 5000});
        EXPECT_EQ(call.mark(), 0x80000038u); // 40 + 4 words
        const DeviceGenericParms q = decoded<DeviceGenericParms>(call);
        EXPECT_EQ(q.lid, 4);
        EXPECT_EQ(q.lockTimeout, 1000u); // lock_timeout precedes io_timeout here
        EXPECT_EQ(q.ioTimeout, 5000u);
    }
    Record err = replyRecord(DeviceError{kErrOperationNotSupported});
    EXPECT_EQ(err.mark(), 0x8000001Cu);
    EXPECT_EQ(decoded<DeviceError>(err).error, kErrOperationNotSupported);
    EXPECT_EQ(decoded<DeviceReadStbResp>(replyRecord(DeviceReadStbResp{kErrNone, 0x50})).stb, 0x50);

    Record destroy = callRecord(CoreProc::DestroyLink, DeviceLink{12});
    EXPECT_EQ(destroy.mark(), 0x8000002Cu);
    EXPECT_EQ(decoded<DeviceLink>(destroy).lid, 12);
}
