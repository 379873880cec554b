// XDR primitives and RPC record marking, including hostile lengths.
#include "protocol/recordmark.h"
#include "protocol/xdr.h"

#include <gtest/gtest.h>

using namespace quarnel::protocol;

namespace {
std::vector<uint8_t> bytes(std::initializer_list<int> l)
{
    std::vector<uint8_t> v;
    for (int b : l)
        v.push_back(static_cast<uint8_t>(b));
    return v;
}
} // namespace

TEST(Xdr, WordsAreBigEndianAndOpaqueIsPadded)
{
    XdrWriter w;
    w.putUint32(0x01020304);
    w.putInt32(-2);
    w.putString("abcde");
    w.putOpaque(nullptr, 0);
    EXPECT_EQ(w.bytes(), bytes({1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 0, 5, 'a', 'b', 'c', 'd', 'e', 0, 0, 0,
                                0, 0, 0, 0}));

    XdrReader r(w.bytes());
    uint32_t u = 0;
    int32_t i = 0;
    std::string s;
    ByteView empty;
    ASSERT_TRUE(r.getUint32(u) && r.getInt32(i) && r.getString(s, 100) && r.getOpaque(empty, 0));
    EXPECT_EQ(u, 0x01020304u);
    EXPECT_EQ(i, -2);
    EXPECT_EQ(s, "abcde");
    EXPECT_EQ(empty.size, 0u);
    EXPECT_TRUE(r.atEnd());
}

TEST(Xdr, ReaderRejectsBadInputAndStaysFailed)
{
    // Truncated word.
    auto three = bytes({0, 0, 1});
    XdrReader r1(three);
    uint32_t u = 0;
    EXPECT_FALSE(r1.getUint32(u));

    // Opaque whose length exceeds the bound or the input (incl. near 2^32, where
    // length + padding would overflow a 32-bit sum).
    for (uint32_t len : {5u, 0xFFFFFFFFu, 0xFFFFFFFDu}) {
        XdrWriter w;
        w.putUint32(len);
        w.putUint32(0);
        XdrReader r(w.bytes());
        ByteView v;
        EXPECT_FALSE(r.getOpaque(v, UINT32_MAX)) << len;
        EXPECT_FALSE(r.ok());
        EXPECT_FALSE(r.getUint32(u)) << "reader must stay failed";
    }
    XdrWriter w;
    w.putString("toolong");
    XdrReader r2(w.bytes());
    std::string s;
    EXPECT_FALSE(r2.getString(s, 6));

    // XDR bool is 0 or 1 only.
    auto two = bytes({0, 0, 0, 2});
    XdrReader r3(two);
    bool b = false;
    EXPECT_FALSE(r3.getBool(b));
}

TEST(RecordMark, HeaderBitsAndFraming)
{
    EXPECT_EQ(encodeFragmentHeader(0x40, true), 0x80000040u);
    EXPECT_EQ(encodeFragmentHeader(0x40, false), 0x40u);
    FragmentHeader h = decodeFragmentHeader(0x8000001Cu);
    EXPECT_TRUE(h.last);
    EXPECT_EQ(h.length, 28u);

    const std::vector<uint8_t> body = bytes({1, 2, 3, 4, 5, 6, 7});
    auto framed = frameRecord(body, 3);
    EXPECT_EQ(framed, bytes({0, 0, 0, 3, 1, 2, 3, 0, 0, 0, 3, 4, 5, 6, 0x80, 0, 0, 1, 7}));
    EXPECT_EQ(frameRecord(ByteView(), 3), bytes({0x80, 0, 0, 0}));

    XdrWriter w = XdrWriter::forRecord();
    w.putUint32(9);
    ASSERT_TRUE(w.finishRecord());
    EXPECT_EQ(w.bytes(), bytes({0x80, 0, 0, 4, 0, 0, 0, 9}));
}

TEST(RecordMark, AssemblerHandlesEverySplitPointAndBackToBackRecords)
{
    std::vector<uint8_t> body(37);
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> stream = frameRecord(body, 10);
    const std::vector<uint8_t> second = frameRecord(bytes({42}), 10);
    stream.insert(stream.end(), second.begin(), second.end());

    for (size_t split = 0; split <= stream.size(); ++split) {
        RecordAssembler a(1000);
        std::vector<std::vector<uint8_t>> records;
        size_t pos = 0;
        for (size_t end : {split, stream.size()}) {
            while (pos < end) {
                size_t used = 0;
                auto st = a.feed(stream.data() + pos, end - pos, used);
                pos += used;
                ASSERT_NE(st, RecordAssembler::Status::TooLarge);
                if (st == RecordAssembler::Status::Complete)
                    records.push_back(a.takeRecord());
                else
                    ASSERT_EQ(pos, end);
            }
        }
        ASSERT_EQ(records.size(), 2u) << "split " << split;
        EXPECT_EQ(records[0], body);
        EXPECT_EQ(records[1], bytes({42}));
    }
}

TEST(RecordMark, AssemblerRefusesOversizedRecordsWithoutAllocating)
{
    // One fragment announcing 2 GB - 1: must fail at the header, not grow.
    auto hostile = bytes({0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3});
    RecordAssembler a(4096);
    size_t used = 0;
    EXPECT_EQ(a.feed(hostile.data(), hostile.size(), used), RecordAssembler::Status::TooLarge);
    EXPECT_TRUE(a.failed());
    EXPECT_LE(a.record().capacity(), 4096u);

    // Many fragments each within the limit but together over it.
    std::vector<uint8_t> body(5000, 0xAB);
    auto framed = frameRecord(body, 1000);
    RecordAssembler b(4096);
    EXPECT_EQ(b.feed(framed.data(), framed.size(), used), RecordAssembler::Status::TooLarge);
    EXPECT_LE(b.record().capacity(), 4096u);

    b.reset();
    auto ok = frameRecord(bytes({1, 2}), 1000);
    EXPECT_EQ(b.feed(ok.data(), ok.size(), used), RecordAssembler::Status::Complete);
}
