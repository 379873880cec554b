// Formatted I/O: write conversions, and read conversions over scripted reply
// pieces (the way a device delivers a message in chunks, with END at the end).
#include "formatio.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace lanvisa;

namespace {

ViStatus print(std::string& out, const char* fmt, ...)
{
    VaArgs a;
    va_start(a.ap, fmt);
    const ViStatus st = formatPrint(fmt, a, out);
    va_end(a.ap);
    return st;
}

/// A reply delivered in the given pieces; the last piece carries END.
/// `failWith` replaces the piece after the last with an error status.
struct Script
{
    std::vector<std::string> pieces;
    ViStatus failWith = VI_SUCCESS;
    size_t next = 0;
    int refills = 0;

    ScanInput input()
    {
        return ScanInput([this](std::vector<uint8_t>& out, bool& ended) -> ViStatus {
            ++refills;
            if (next == pieces.size()) {
                ended = failWith == VI_SUCCESS;
                return failWith;
            }
            const std::string& p = pieces[next++];
            out.assign(p.begin(), p.end());
            ended = next == pieces.size() && failWith == VI_SUCCESS;
            return VI_SUCCESS;
        });
    }
};

ViStatus scan(Script& script, const char* fmt, ...)
{
    ScanInput in = script.input();
    VaArgs a;
    va_start(a.ap, fmt);
    ViStatus st = formatScan(fmt, a, in);
    va_end(a.ap);
    const ViStatus drained = in.drain();
    return st == VI_SUCCESS ? drained : st;
}

}  // namespace

TEST(FormatPrint, ConversionsTheProgramAndOthersUse)
{
    std::string out;
    ASSERT_EQ(print(out, "FREQ:CENT 5.192e+09;*OPC?\n"), VI_SUCCESS);
    EXPECT_EQ(out, "FREQ:CENT 5.192e+09;*OPC?\n");
    out.clear();
    ASSERT_EQ(print(out, "%s %d %ld %f %.3e %5.1lf %c%% %x %*d", "CHAN1:SCAL", -7, 1234567890123L, 0.5, 1e-9, 2.25, 'Z',
                    255u, 4, 42),
              VI_SUCCESS);
    EXPECT_EQ(out, "CHAN1:SCAL -7 1234567890123 0.500000 1.000e-09   2.2 Z% ff   42");

    out.clear();
    EXPECT_EQ(print(out, "%b", 1), VI_ERROR_NSUP_FMT);  // VISA binary block: not offered
    EXPECT_EQ(print(out, "%y", 1), VI_ERROR_NSUP_FMT);
    EXPECT_EQ(print(out, "%Lf", 1.0L), VI_ERROR_NSUP_FMT);
    EXPECT_EQ(print(out, "abc%"), VI_ERROR_INV_FMT);
    // Absurd widths and precisions are refused at once, not built.
    for (const char* f : {"%99999999999d", "%2147483647d", "%.2147483647f", "%65537d", "%*d", "%.*f"})
        EXPECT_EQ(print(out, f, f[1] == '.' ? 70000 : 1 << 30, 1.5), VI_ERROR_INV_FMT) << f;
    out.clear();
    EXPECT_EQ(print(out, "%-*d|%.*f", -3, 7, -1, 0.5), VI_SUCCESS);
    EXPECT_EQ(out, "7  |0.500000");
    out.clear();
    EXPECT_EQ(print(out, "%s", static_cast<const char*>(nullptr)), VI_ERROR_USER_BUF);
}

TEST(FormatScan, CountedCharactersTakeTheWholeReplyAndStopAtEnd)
{
    std::vector<char> buf(20000, 0);
    Script s{{"1\n"}};
    ASSERT_EQ(scan(s, "%20000c", buf.data()), VI_SUCCESS);
    EXPECT_STREQ(buf.data(), "1\n");  // no NUL added, buffer was zeroed

    // A reply of exactly the count, in several pieces, and one longer than it:
    // the surplus is read and dropped so the next query starts clean.
    std::string big(20000, 'x');
    big[19999] = '\n';
    Script exact{{big.substr(0, 7000), big.substr(7000, 7000), big.substr(14000)}};
    std::fill(buf.begin(), buf.end(), 0);
    ASSERT_EQ(scan(exact, "%20000c", buf.data()), VI_SUCCESS);
    EXPECT_EQ(std::string(buf.data(), 20000), big);
    Script longer{{big, "tail\n"}};
    ASSERT_EQ(scan(longer, "%20000c", buf.data()), VI_SUCCESS);
    EXPECT_EQ(longer.next, 2u) << "the rest of the message must be consumed";
}

TEST(FormatScan, NumbersInTheFormsInstrumentsSend)
{
    double d = 0;
    int i = 0;
    long l = 0;
    short h = 0;
    float f = 0;
    Script s1{{"1.234E+00\n"}};
    ASSERT_EQ(scan(s1, "%lf", &d), VI_SUCCESS);
    EXPECT_DOUBLE_EQ(d, 1.234);
    Script s2{{" -17\n"}};
    ASSERT_EQ(scan(s2, "%d", &i), VI_SUCCESS);
    EXPECT_EQ(i, -17);
    Script s3{{"+2.6E+1\n"}};  // NR3 into an integer is rounded
    ASSERT_EQ(scan(s3, "%d", &i), VI_SUCCESS);
    EXPECT_EQ(i, 26);
    Script s4{{"#H1F,#B101,9000000000\n"}};
    ASSERT_EQ(scan(s4, "%d,%hd,%ld", &i, &h, &l), VI_SUCCESS);
    EXPECT_EQ(i, 31);
    EXPECT_EQ(h, 5);
    EXPECT_EQ(l, 9000000000L);
    Script s5{{"1.", "5e", "-3;", "7\n"}};  // a number split across pieces
    ASSERT_EQ(scan(s5, "%f;%d", &f, &i), VI_SUCCESS);
    EXPECT_FLOAT_EQ(f, 1.5e-3f);
    EXPECT_EQ(i, 7);
}

TEST(FormatScan, StringsAndLines)
{
    char word[8] = {};
    char rest[64] = {};
    char line[64] = {};
    int n = 0;
    Script s{{"  Tervane,Model X\n"}};
    ASSERT_EQ(scan(s, "%8s%t", word, rest), VI_SUCCESS);
    EXPECT_STREQ(word, "Tervane");  // width 8 counts the NUL
    EXPECT_STREQ(rest, ",Model X\n");
    Script t{{"ab\ncd\n"}};
    ASSERT_EQ(scan(t, "%T", line), VI_SUCCESS);
    EXPECT_STREQ(line, "ab\n");
    n = 4;
    char counted[4] = {};
    Script u{{"xyz12\n"}};
    ASSERT_EQ(scan(u, "%#c", &n, counted), VI_SUCCESS);
    EXPECT_EQ(n, 4);
    EXPECT_EQ(std::string(counted, 4), "xyz1");
}

TEST(FormatScan, MismatchesEndsAndErrors)
{
    int a = -1, b = -1;
    double d = 0;
    Script noNumber{{"OFF\n"}};
    EXPECT_EQ(scan(noNumber, "%d", &a), VI_ERROR_INV_FMT);
    Script empty{{"\n"}};
    EXPECT_EQ(scan(empty, "%lf", &d), VI_ERROR_INV_FMT) << "nothing assigned must not be success";
    Script shortReply{{"5\n"}};
    EXPECT_EQ(scan(shortReply, "%d,%d", &a, &b), VI_SUCCESS);  // END ends the format
    EXPECT_EQ(a, 5);
    EXPECT_EQ(b, -1);
    Script literal{{"5;6\n"}};
    EXPECT_EQ(scan(literal, "%d,%d", &a, &b), VI_ERROR_INV_FMT);
    Script overflow{{"99999999999\n"}};
    EXPECT_EQ(scan(overflow, "%d", &a), VI_ERROR_INV_FMT);

    Script timeout{{"12"}, VI_ERROR_TMO};
    EXPECT_EQ(scan(timeout, "%d", &a), VI_ERROR_TMO);
    Script lost{{}, VI_ERROR_CONN_LOST};
    char buf[10];
    EXPECT_EQ(scan(lost, "%10c", buf), VI_ERROR_CONN_LOST);

    Script any{{"1\n"}};
    EXPECT_EQ(scan(any, "%b", &a), VI_ERROR_NSUP_FMT);
    EXPECT_EQ(scan(any, "%[abc]", buf), VI_ERROR_NSUP_FMT);
    EXPECT_EQ(scan(any, "%u", &a), VI_ERROR_NSUP_FMT);
    EXPECT_EQ(scan(any, "%", &a), VI_ERROR_INV_FMT);
}
