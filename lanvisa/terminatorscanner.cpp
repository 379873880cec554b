#include "terminatorscanner.h"

#include <algorithm>

namespace lanvisa {

namespace {
constexpr uint8_t kBlockStart = '#';
constexpr uint8_t kDoubleQuote = '"';
constexpr uint8_t kSingleQuote = '\'';
constexpr uint8_t kDataSeparator = ',';
constexpr uint8_t kUnitSeparator = ';';

bool isDigit(uint8_t c)
{
    return c >= '0' && c <= '9';
}
}  // namespace

TerminatorScanner::Result TerminatorScanner::scan(const uint8_t* data, size_t n, uint8_t term)
{
    Result r;
    size_t i = 0;
    while (i < n) {
        if (m_state == State::BlockData) {
            const size_t k = static_cast<size_t>(std::min<uint64_t>(m_blockLeft, n - i));
            i += k;
            m_blockLeft -= k;
            if (m_blockLeft == 0)
                m_state = State::Text;
            continue;
        }
        const uint8_t c = data[i++];
        if (c == term) {
            // Ends the message in every state but block data: an unbalanced quote
            // or a broken header must not swallow the rest of the stream.
            m_state = State::Text;
            m_elementStart = true;
            r.consumed = i;
            r.terminated = true;
            return r;
        }
        switch (m_state) {
        case State::Text:
            if (c == kDoubleQuote || c == kSingleQuote) {
                m_quote = static_cast<char>(c);
                m_state = State::Quoted;
            } else if (c == kBlockStart && m_elementStart) {
                m_state = State::Hash;
            }
            m_elementStart = c == kDataSeparator || c == kUnitSeparator;
            break;
        case State::Quoted:
            if (c == static_cast<uint8_t>(m_quote))
                m_state = State::Text;
            break;
        case State::Hash:
            // "#0" (indefinite length) ends only at the terminator; "#H", "#Q",
            // "#B" are non-decimal numbers.
            if (isDigit(c) && c != '0') {
                m_digitsLeft = c - '0';
                m_blockLeft = 0;
                m_state = State::LengthDigits;
            } else {
                m_state = State::Text;
            }
            break;
        case State::LengthDigits:
            if (!isDigit(c)) {
                m_state = State::Text;
                break;
            }
            m_blockLeft = m_blockLeft * 10 + static_cast<uint64_t>(c - '0');
            if (--m_digitsLeft == 0)
                m_state = m_blockLeft > 0 ? State::BlockData : State::Text;
            break;
        case State::BlockData:
            break;
        }
    }
    r.consumed = n;
    return r;
}

}  // namespace lanvisa
