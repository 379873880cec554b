// HiSLIP framing against byte sequences written by hand from the message
// layout (16-byte big-endian header: "HS", type, control code, 32-bit
// parameter, 64-bit payload length), never produced by the codec itself.
#include "protocol/hislip.h"

#include <gtest/gtest.h>

#include <vector>

using namespace quarnel::protocol;
namespace hs = quarnel::protocol::hislip;

namespace {
using Bytes = std::vector<uint8_t>;

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Initialize, version 1.1, vendor "QL", sub-address "hislip0".
const Bytes kInitialize = {0x48, 0x53, 0x00, 0x00, 0x01, 0x01, 0x51, 0x4C, 0, 0, 0, 0, 0, 0, 0, 0x07,
                           'h',  'i',  's',  'l',  'i',  'p',  '0'};
// DataEND, RMT delivered, MessageID 0xFFFFFF00, "*IDN?\n".
const Bytes kDataEnd = {0x48, 0x53, 0x07, 0x01, 0xFF, 0xFF, 0xFF, 0x00, 0, 0, 0, 0, 0, 0, 0, 0x06,
                        '*',  'I',  'D',  'N',  '?',  '\n'};
// Data announcing 0x0000000102030405 payload bytes (no payload follows).
const Bytes kHugeData = {0x48, 0x53, 0x06, 0x00, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05};
} // namespace

TEST(HislipCodec, EncodesAndDecodesTheWrittenBytes)
{
    const std::string sub = "hislip0";
    EXPECT_EQ(hs::encodeMessage(hs::Type::Initialize, 0, hs::initializeParameter(hs::kVersion11, "QL"),
                                ByteView(reinterpret_cast<const uint8_t *>(sub.data()), sub.size())),
              kInitialize);
    const std::string idn = "*IDN?\n";
    EXPECT_EQ(hs::encodeMessage(hs::Type::DataEnd, hs::kRmtDelivered, 0xFFFFFF00u,
                                ByteView(reinterpret_cast<const uint8_t *>(idn.data()), idn.size())),
              kDataEnd);

    // InitializeResponse: synchronized, version 1.0, session 42.
    const Bytes response = {0x48, 0x53, 0x01, 0x00, 0x01, 0x00, 0x00, 0x2A, 0, 0, 0, 0, 0, 0, 0, 0};
    hs::Header h;
    ASSERT_TRUE(hs::decodeHeader(response.data(), h));
    EXPECT_EQ(h.type, 1);
    EXPECT_EQ(hs::versionOf(h.parameter), 0x0100);
    EXPECT_EQ(hs::sessionIdOf(h.parameter), 42);
    EXPECT_EQ(hs::negotiatedVersion(hs::kVersion11, hs::versionOf(h.parameter)), 0x0100);
    ASSERT_TRUE(hs::decodeHeader(kHugeData.data(), h));
    EXPECT_EQ(h.length, 0x0102030405ull);
    const Bytes badPrologue = {0x48, 0x54, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(hs::decodeHeader(badPrologue.data(), h));

    // AsyncMaximumMessageSize payload: 1 MiB as a 64-bit big-endian number.
    const Bytes oneMiB = {0, 0, 0, 0, 0x00, 0x10, 0x00, 0x00};
    EXPECT_EQ(hs::encodeMaximumSize(1u << 20), oneMiB);
    uint64_t size = 0;
    EXPECT_TRUE(hs::decodeMaximumSize(ByteView(oneMiB), size));
    EXPECT_EQ(size, 1u << 20);
    EXPECT_FALSE(hs::decodeMaximumSize(ByteView(oneMiB.data(), 7), size));
}

TEST(HislipCodec, AssemblerKeepsInStepAtAnySplitAndSkipsOversizedPayloads)
{
    // An Error whose 40-byte text exceeds the 16-byte maximum, then a DataEND.
    const Bytes tooLarge = cat({{0x48, 0x53, 0x03, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40}, Bytes(40, 'x')});
    const Bytes stream = cat({kInitialize, tooLarge, kDataEnd});
    for (size_t split = 0; split <= stream.size(); ++split) {
        hs::MessageAssembler a(16);
        std::vector<std::string> seen;
        for (auto piece : {std::make_pair(size_t(0), split), std::make_pair(split, stream.size())}) {
            size_t at = piece.first;
            while (at < piece.second) {
                size_t used = 0;
                const auto st = a.feed(stream.data() + at, piece.second - at, used);
                at += used;
                if (st == hs::MessageAssembler::Status::TooLarge)
                    seen.push_back("too large " + std::to_string(a.header().type));
                if (st == hs::MessageAssembler::Status::Complete) {
                    seen.push_back(std::to_string(a.header().type) + " " +
                                   std::string(a.payload().begin(), a.payload().end()));
                    a.next();
                }
            }
        }
        ASSERT_EQ(seen, (std::vector<std::string>{"0 hislip0", "too large 3", "7 *IDN?\n"})) << "split " << split;
    }
    hs::MessageAssembler a(16);
    size_t used = 0;
    const Bytes junk = {0x47, 0x45, 0x54, 0x20, 0x2F, 0x20, 0x48, 0x54, 0x54, 0x50, 0x2F, 0x31, 0x2E, 0x31, 0x0D, 0x0A};
    EXPECT_EQ(a.feed(junk.data(), junk.size(), used), hs::MessageAssembler::Status::BadHeader);
}
