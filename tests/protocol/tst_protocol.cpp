// The shared codecs against bytes written out by hand from the published
// layouts (XDR, ONC RPC record marking and messages, portmapper, VXI-11,
// HiSLIP). The library and the bench share encoder and decoder, so a round
// trip cannot catch a mistake both make; fixed bytes can. Decoder robustness
// against arbitrary input is the fuzz targets' business.
#include "protocol/hislip.h"
#include "protocol/portmap.h"
#include "protocol/recordmark.h"
#include "protocol/rpc.h"
#include "protocol/vxi11.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>

using namespace quarnel::protocol;
namespace hs = quarnel::protocol::hislip;

namespace {
using Bytes = std::vector<uint8_t>;

// Hex digits, blanks between them ignored: "80000040 00000042".
Bytes hex(const std::string& s)
{
    std::string digits;
    for (char c : s)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += c;
    Bytes out;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

template <class T>
Bytes encoded(const T& v)
{
    XdrWriter w;
    encode(w, v);
    return w.take();
}

// A VXI-11 structure against its known bytes: the encoder writes them, the
// decoder takes all of them back into the same fields (encoding what it read
// gives them again), and every strict prefix is refused.
template <class T>
void expectBytes(const T& v, const std::string& known)
{
    const Bytes k = hex(known);
    EXPECT_EQ(encoded(v), k) << known;
    XdrReader r(k);
    T got;
    ASSERT_TRUE(decode(r, got)) << known;
    EXPECT_TRUE(r.atEnd()) << known;
    EXPECT_EQ(encoded(got), k) << known;
    for (size_t n = 0; n < k.size(); ++n) {
        XdrReader cut(k.data(), n);
        T t;
        EXPECT_FALSE(decode(cut, t)) << known << " cut at " << n;
    }
}

// Record mark, RPC call header with xid 0x42 and AUTH_NONE, for a core call.
std::string coreCall(const char* mark, const char* proc)
{
    return std::string(mark) + " 00000042 00000000 00000002 000607af 00000001 " + proc
           + " 00000000 00000000 00000000 00000000 ";
}
}  // namespace

// Words, strings and padding: the VXI-11 rows below.
TEST(Xdr, BoolAndBoundsRefused)
{
    const Bytes bytes = hex("00000002 00000005 61626364 65000000");
    XdrReader r(bytes);
    bool b = false;
    EXPECT_FALSE(r.getBool(b));  // 0 or 1 only
    XdrReader longer(bytes.data() + 4, 12);
    std::string s;
    EXPECT_FALSE(longer.getString(s, 4));  // over the caller's bound
}

TEST(RecordMark, FragmentsAndAssemblyAtEverySplit)
{
    EXPECT_EQ(encodeFragmentHeader(0x40, true), 0x80000040u);
    EXPECT_EQ(decodeFragmentHeader(0x1Cu).length, 28u);
    EXPECT_FALSE(decodeFragmentHeader(0x1Cu).last);
    EXPECT_EQ(frameRecord(hex("01020304050607"), 3), hex("00000003 010203 00000003 040506 80000001 07"));
    EXPECT_EQ(frameRecord(ByteView(), 3), hex("80000000"));

    Bytes body(37);
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<uint8_t>(i * 7);
    Bytes stream = frameRecord(body, 10);
    const Bytes second = hex("80000001 2a");
    stream.insert(stream.end(), second.begin(), second.end());
    for (size_t split = 0; split <= stream.size(); ++split) {
        RecordAssembler a(1000);
        std::vector<Bytes> records;
        size_t pos = 0;
        for (size_t end : {split, stream.size()})
            while (pos < end) {
                size_t used = 0;
                const auto st = a.feed(stream.data() + pos, end - pos, used);
                pos += used;
                ASSERT_NE(st, RecordAssembler::Status::TooLarge);
                if (st == RecordAssembler::Status::Complete)
                    records.push_back(a.takeRecord());
            }
        ASSERT_EQ(records, (std::vector<Bytes>{body, hex("2a")})) << "split " << split;
    }
}

TEST(RecordMark, TheCapHoldsForTheWholeRecord)
{
    size_t used = 0;
    const Bytes hostile = hex("ffffffff 010203");  // one fragment of 2 GB
    RecordAssembler a(4096);
    EXPECT_EQ(a.feed(hostile.data(), hostile.size(), used), RecordAssembler::Status::TooLarge);
    EXPECT_LE(a.record().capacity(), 4096u);
    // Fragments each within the cap, together over it.
    const Bytes framed = frameRecord(Bytes(5000, 0xAB), 1000);
    RecordAssembler b(4096);
    EXPECT_EQ(b.feed(framed.data(), framed.size(), used), RecordAssembler::Status::TooLarge);
    EXPECT_LE(b.record().capacity(), 4096u);
    b.reset();
    const Bytes ok = hex("80000002 0102");
    EXPECT_EQ(b.feed(ok.data(), ok.size(), used), RecordAssembler::Status::Complete);
}

TEST(Rpc, GetPortCallAndReply)
{
    XdrWriter w = XdrWriter::forRecord();
    encodeGetPortCall(w, 0x1234, PmapMapping{0x0607AF, 1, kIpProtoTcp, 0});
    ASSERT_TRUE(w.finishRecord());
    const Bytes call = hex("80000038 00001234 00000000 00000002 000186a0 00000002 00000003 00000000 00000000"
                           " 00000000 00000000 000607af 00000001 00000006 00000000");
    EXPECT_EQ(w.bytes(), call);
    XdrReader r(call.data() + kRecordMarkSize, call.size() - kRecordMarkSize);
    DecodedCall dc;
    PmapMapping m;
    ASSERT_TRUE(decodeCallHeader(r, dc) && decodePmapMapping(r, m));
    EXPECT_EQ(dc.rpcVersion, 2u);
    EXPECT_EQ(dc.header.xid, 0x1234u);
    EXPECT_EQ(dc.header.program, 100000u);
    EXPECT_EQ(dc.header.procedure, 3u);
    EXPECT_EQ(m.program, 0x0607AFu);
    EXPECT_EQ(m.protocol, 6u);
    EXPECT_TRUE(r.atEnd());

    // Ports 40123 and 70000; the second is no TCP port.
    for (auto port : {std::make_pair(40123u, "00009cbb"), std::make_pair(70000u, "00011170")}) {
        XdrWriter reply;
        encodeGetPortReply(reply, 0x77, port.first);
        EXPECT_EQ(reply.bytes(),
                  hex(std::string("00000077 00000001 00000000 00000000 00000000 00000000 ") + port.second));
        XdrReader rr(reply.bytes());
        ReplyHeader h;
        uint32_t got = 0;
        ASSERT_TRUE(decodeReplyHeader(rr, h) && h.succeeded());
        EXPECT_EQ(decodeGetPortResult(rr, got), port.first == 40123u);
    }
}

TEST(Rpc, ReplyKinds)
{
    struct Row
    {
        std::function<void(XdrWriter&)> enc;
        const char* known;
        std::function<bool(const ReplyHeader&)> check;
    };
    const std::vector<Row> rows = {
        {[](XdrWriter& w) { encodeAcceptedReply(w, 1, AcceptStat::Success); },
         "00000001 00000001 00000000 00000000 00000000 00000000", [](const ReplyHeader& h) { return h.succeeded(); }},
        {[](XdrWriter& w) { encodeAcceptedReply(w, 1, AcceptStat::ProgMismatch, 1, 3); },
         "00000001 00000001 00000000 00000000 00000000 00000002 00000001 00000003",
         [](const ReplyHeader& h) {
             return h.acceptStat == AcceptStat::ProgMismatch && h.mismatchLow == 1 && h.mismatchHigh == 3;
         }},
        {[](XdrWriter& w) { encodeAcceptedReply(w, 1, AcceptStat::ProcUnavail); },
         "00000001 00000001 00000000 00000000 00000000 00000003",
         [](const ReplyHeader& h) { return !h.succeeded() && h.acceptStat == AcceptStat::ProcUnavail; }},
        {[](XdrWriter& w) { encodeDeniedReply(w, 1, RejectStat::RpcMismatch, 2, 2); },
         "00000001 00000001 00000001 00000000 00000002 00000002",
         [](const ReplyHeader& h) {
             return h.replyStat == ReplyStat::Denied && h.rejectStat == RejectStat::RpcMismatch && h.mismatchHigh == 2;
         }},
        {[](XdrWriter& w) { encodeDeniedReply(w, 1, RejectStat::AuthError, 0, 0, AuthStat::TooWeak); },
         "00000001 00000001 00000001 00000001 00000005",
         [](const ReplyHeader& h) { return h.rejectStat == RejectStat::AuthError && h.authStat == AuthStat::TooWeak; }},
    };
    for (const Row& row : rows) {
        XdrWriter w;
        row.enc(w);
        const Bytes k = hex(row.known);
        EXPECT_EQ(w.bytes(), k) << row.known;
        XdrReader r(k);
        ReplyHeader h;
        ASSERT_TRUE(decodeReplyHeader(r, h)) << row.known;
        EXPECT_TRUE(r.atEnd() && h.xid == 1 && row.check(h)) << row.known;
        for (size_t n = 0; n < k.size(); ++n) {
            XdrReader cut(k.data(), n);
            EXPECT_FALSE(decodeReplyHeader(cut, h)) << row.known << " cut at " << n;
        }
    }
    // Unknown accept_stat 6 is refused, not cast; so is a call.
    const Bytes unknown = hex("00000001 00000001 00000000 00000000 00000000 00000006");
    XdrReader ru(unknown);
    ReplyHeader h;
    EXPECT_FALSE(decodeReplyHeader(ru, h));
    const Bytes callMsg = hex("00000005 00000000 00000002 00000001 00000001 00000001");
    XdrReader rc(callMsg);
    EXPECT_FALSE(decodeReplyHeader(rc, h));
    uint32_t xid = 0;
    MsgType type = MsgType::Call;
    ASSERT_TRUE(peekMessage(hex(rows[0].known), xid, type));
    EXPECT_EQ(type, MsgType::Reply);
}

TEST(Rpc, CallHeaderSkipsForeignCredentialsAndRefusesLongOnes)
{
    // AUTH_SYS credential of 12 bytes, AUTH_NONE verifier, first argument 99.
    const Bytes call = hex("00000005 00000000 00000002 000607af 00000001 00000017 00000001 0000000c"
                           " 01020304 05060708 090a0b0c 00000000 00000000 00000063");
    XdrReader r(call);
    DecodedCall dc;
    ASSERT_TRUE(decodeCallHeader(r, dc));
    EXPECT_EQ(dc.credentialFlavor, 1u);
    EXPECT_EQ(dc.header.procedure, 23u);
    uint32_t arg = 0;
    ASSERT_TRUE(r.getUint32(arg));
    EXPECT_EQ(arg, 99u);
    Bytes big = hex("00000005 00000000 00000002 00000001 00000001 00000001 00000001 00000191");  // body 401
    big.resize(big.size() + 404);
    XdrReader rb(big);
    EXPECT_FALSE(decodeCallHeader(rb, dc));
}

TEST(Vxi11, CallsAndRepliesHaveTheDocumentedBytes)
{
    CreateLinkParms link;
    link.clientId = 1234567;
    link.lockDevice = true;
    link.lockTimeout = 10000;
    link.device = "inst0";
    XdrWriter w = XdrWriter::forRecord();
    encodeCoreCall(w, 0x42, CoreProc::CreateLink, link);
    ASSERT_TRUE(w.finishRecord());
    EXPECT_EQ(w.bytes(),
              hex(coreCall("80000040", "0000000a") + "0012d687 00000001 00002710 00000005 696e7374 30000000"));
    XdrReader r(w.bytes().data() + kRecordMarkSize, w.size() - kRecordMarkSize);
    DecodedCall dc;
    ASSERT_TRUE(decodeCallHeader(r, dc));
    EXPECT_EQ(dc.header.program, 0x0607AFu);
    EXPECT_EQ(dc.header.version, 1u);
    EXPECT_EQ(dc.header.procedure, 10u);

    const Bytes idn = text("*IDN?\n");
    DeviceWriteParms write;
    write.lid = 3;
    write.ioTimeout = 5000;
    write.flags = kFlagEnd;
    write.data = ByteView(idn);
    XdrWriter ww = XdrWriter::forRecord();
    encodeCoreCall(ww, 0x42, CoreProc::DeviceWrite, write);
    ASSERT_TRUE(ww.finishRecord());
    EXPECT_EQ(ww.bytes(),
              hex(coreCall("80000044", "0000000b") + "00000003 00001388 00000000 00000008 00000006 2a49444e 3f0a0000"));

    XdrWriter reply = XdrWriter::forRecord();
    encodeCoreReply(reply, 0x42, CreateLinkResp{kErrNone, 7, 60001, 0x10000});
    ASSERT_TRUE(reply.finishRecord());
    EXPECT_EQ(reply.bytes(), hex("80000028 00000042 00000001 00000000 00000000 00000000 00000000"
                                 " 00000000 00000007 0000ea61 00010000"));

    // Every structure alone: lock_timeout precedes io_timeout in the generic
    // parameters, termChar travels as a word, reason END is 4.
    expectBytes(link, "0012d687 00000001 00002710 00000005 696e7374 30000000");
    expectBytes(CreateLinkResp{kErrNone, 7, 60001, 0x10000}, "00000000 00000007 0000ea61 00010000");
    expectBytes(write, "00000003 00001388 00000000 00000008 00000006 2a49444e 3f0a0000");
    expectBytes(DeviceWriteResp{kErrNone, 6}, "00000000 00000006");
    expectBytes(DeviceReadParms{9, 80010, 5000, 10000, kFlagTermCharSet, '\n'},
                "00000009 0001388a 00001388 00002710 00000080 0000000a");
    const Bytes one = text("1\n");
    expectBytes(DeviceReadResp{kErrNone, kReasonEnd, ByteView(one)}, "00000000 00000004 00000002 310a0000");
    expectBytes(DeviceReadResp{kErrIoTimeout, 0, ByteView()}, "0000000f 00000000 00000000");
    expectBytes(DeviceGenericParms{4, 0, 1000, 5000}, "00000004 00000000 000003e8 00001388");
    expectBytes(DeviceReadStbResp{kErrNone, 0x50}, "00000000 00000050");
    expectBytes(DeviceError{kErrOperationNotSupported}, "00000008");
    expectBytes(DeviceLink{12}, "0000000c");

    // The streaming head of a read reply is the structure's first three words.
    XdrWriter head;
    encodeReadRespHead(head, kErrNone, kReasonEnd, 2);
    EXPECT_EQ(head.bytes(), hex("00000000 00000004 00000002"));
}

TEST(Vxi11, DecodersKeepTheirBounds)
{
    CreateLinkParms longName;
    longName.device.assign(kMaxDeviceNameLength + 1, 'x');
    const Bytes name = encoded(longName);
    XdrReader rn(name);
    EXPECT_FALSE(decode(rn, longName));
    // A write beyond what the server takes, a read reply beyond what was asked.
    const Bytes write = hex("00000003 00001388 00000000 00000008 00000006 2a49444e 3f0a0000");
    XdrReader rw(write);
    DeviceWriteParms w;
    EXPECT_FALSE(decode(rw, w, 5));
    const Bytes read = hex("00000000 00000004 00000002 310a0000");
    XdrReader rr(read);
    DeviceReadResp rd;
    EXPECT_FALSE(decode(rr, rd, 1));
}

TEST(Hislip, MessagesHaveTheDocumentedBytes)
{
    // Initialize: version 1.1, vendor "QL", sub-address "hislip0".
    const Bytes initialize = hex("4853 00 00 0101514c 0000000000000007") + text("hislip0");
    EXPECT_EQ(hs::encodeMessage(hs::Type::Initialize, 0, hs::initializeParameter(hs::kVersion11, "QL"),
                                ByteView(text("hislip0"))),
              initialize);
    // DataEND, RMT delivered, the first MessageID, "*IDN?\n".
    const Bytes dataEnd = hex("4853 07 01 ffffff00 0000000000000006") + text("*IDN?\n");
    const Bytes idn = text("*IDN?\n");
    EXPECT_EQ(hs::encodeMessage(hs::Type::DataEnd, hs::kRmtDelivered, hs::kFirstMessageId, ByteView(idn)), dataEnd);
    EXPECT_EQ(hs::nextMessageId(0xFFFFFFFEu), 0u);

    // InitializeResponse: synchronized, server version 1.0, session 42; the
    // client's 1.1 meets it at 1.0.
    hs::Header h;
    ASSERT_TRUE(hs::decodeHeader(hex("4853 01 00 0100002a 0000000000000000").data(), h));
    EXPECT_EQ(h.type, 1);
    EXPECT_EQ(hs::sessionIdOf(h.parameter), 42);
    EXPECT_EQ(hs::negotiatedVersion(hs::kVersion11, hs::versionOf(h.parameter)), hs::kVersion10);
    EXPECT_EQ(hs::negotiatedVersion(hs::kVersion10, hs::kVersion11), hs::kVersion10);
    ASSERT_TRUE(hs::decodeHeader(hex("4853 06 00 00000000 0000000102030405").data(), h));
    EXPECT_EQ(h.length, 0x0102030405ull);
    EXPECT_FALSE(hs::decodeHeader(hex("4854 06 00 00000000 0000000000000000").data(), h));

    // AsyncMaximumMessageSize payload: 1 MiB as 64 bits.
    const Bytes oneMiB = hex("0000000000100000");
    EXPECT_EQ(hs::encodeMaximumSize(1u << 20), oneMiB);
    uint64_t size = 0;
    EXPECT_TRUE(hs::decodeMaximumSize(ByteView(oneMiB), size));
    EXPECT_EQ(size, 1u << 20);
    EXPECT_FALSE(hs::decodeMaximumSize(ByteView(oneMiB.data(), 7), size));

    // The assembler at every split: an Error whose 40-byte text exceeds the
    // 16-byte maximum is skipped, the messages around it arrive whole.
    const Bytes stream = initialize + hex("4853 03 04 00000000 0000000000000028") + Bytes(40, 'x') + dataEnd;
    for (size_t split = 0; split <= stream.size(); ++split) {
        hs::MessageAssembler a(16);
        std::vector<std::string> seen;
        size_t at = 0;
        for (size_t end : {split, stream.size()})
            while (at < end) {
                size_t used = 0;
                const auto st = a.feed(stream.data() + at, end - at, used);
                at += used;
                if (st == hs::MessageAssembler::Status::TooLarge)
                    seen.push_back("too large " + std::to_string(a.header().type));
                if (st == hs::MessageAssembler::Status::Complete) {
                    seen.push_back(std::to_string(a.header().type) + " "
                                   + std::string(a.payload().begin(), a.payload().end()));
                    a.next();
                }
            }
        ASSERT_EQ(seen, (std::vector<std::string>{"0 hislip0", "too large 3", "7 *IDN?\n"})) << "split " << split;
    }
    hs::MessageAssembler a(16);
    size_t used = 0;
    const Bytes http = text("GET / HTTP/1.1\r\n");
    EXPECT_EQ(a.feed(http.data(), http.size(), used), hs::MessageAssembler::Status::BadHeader);
}
