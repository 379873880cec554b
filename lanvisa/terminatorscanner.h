// Finds the termination character in a raw-socket byte stream without being
// fooled by IEEE 488.2 definite-length blocks: inside "#<n><n digits><data>"
// the data may hold any byte, the termination character included, so it is
// stepped over by its declared length. A block is a response data element, so
// '#' starts one only where an element starts: at the start of the reply or
// after ',' or ';' ("SN#19" is text). Inside quoted strings it starts nothing.
// Pure and incremental: bytes may arrive in any pieces.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lanvisa {

class TerminatorScanner
{
public:
    struct Result
    {
        size_t consumed = 0;      ///< bytes scanned, the terminator included if found
        bool terminated = false;  ///< the last consumed byte ends the message
    };

    /// Scans up to n bytes for `term`.
    Result scan(const uint8_t* data, size_t n, uint8_t term);
    /// Forgets any partial message state (after a device clear or a time-out).
    void reset() { *this = TerminatorScanner(); }
    bool inBlock() const { return m_state == State::BlockData; }

private:
    enum class State { Text, Quoted, Hash, LengthDigits, BlockData };
    State m_state = State::Text;
    char m_quote = 0;
    bool m_elementStart = true;
    int m_digitsLeft = 0;
    uint64_t m_blockLeft = 0;
};

}  // namespace lanvisa
