// Raw-socket message ends: the termination character ends a message, except
// inside the data of a definite-length block.
#include "terminatorscanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace lanvisa;

namespace {
/// Feeds `stream` split at `split` and returns the message lengths found.
std::vector<size_t> messages(const std::string& stream, size_t split)
{
    TerminatorScanner s;
    std::vector<size_t> ends;
    size_t start = 0, pos = 0;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(stream.data());
    for (size_t limit : {split, stream.size()}) {
        while (pos < limit) {
            auto r = s.scan(p + pos, limit - pos, '\n');
            pos += r.consumed;
            if (r.terminated) {
                ends.push_back(pos - start);
                start = pos;
            }
        }
    }
    return ends;
}
}  // namespace

TEST(TerminatorScanner, BlockDataNeverEndsAMessageAtAnySplit)
{
    std::string block = "#210\n\n#19ab\n\"x\n";
    ASSERT_EQ(block.size(), 4u + 10 + 1);
    const std::string stream = block + "1\n" + "\"a#9\"\n" + "#H1F\n" + "#0ab\n";
    for (size_t split = 0; split <= stream.size(); ++split) {
        const std::vector<size_t> ends = messages(stream, split);
        ASSERT_EQ(ends, (std::vector<size_t>{15, 2, 6, 5, 5})) << "split " << split;
    }
}

TEST(TerminatorScanner, BrokenHeadersFallBackToText)
{
    // A letter among the length digits ends the header: LF terminates again.
    EXPECT_EQ(messages("#3a\nrest\n", 0), (std::vector<size_t>{4, 5}));
    // An unbalanced quote does not swallow the stream.
    EXPECT_EQ(messages("\"open\nnext\n", 0), (std::vector<size_t>{6, 5}));
    // '#' inside a data element is text; a block starts an element.
    EXPECT_EQ(messages("ACME,Model,SN#19\nnext\n", 0), (std::vector<size_t>{17, 5}));
    EXPECT_EQ(messages("1,#13\n\n\n;#12\n\n\n", 0), (std::vector<size_t>{15}));
    // A block declaring far more than arrives keeps absorbing (time-out decides).
    EXPECT_TRUE(messages("#9999999999abc\n", 0).empty());
}
