// SCPI / IEEE 488.2 program message parsing for the simulated instruments:
// splitting a message into units, header matching against command patterns
// with short and long forms, and parameter decoding.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace quarnel {
namespace bench {
namespace scpi {

/// Standard SCPI error numbers the instruments queue.
enum ErrorCode {
    NoError = 0,
    CommandError = -100,
    InvalidCharacter = -101,
    SyntaxError = -102,
    InvalidSeparator = -103,
    DataTypeError = -104,
    ParameterNotAllowed = -108,
    MissingParameter = -109,
    HeaderSuffixOutOfRange = -114,
    UndefinedHeader = -113,
    InvalidSuffix = -131,
    IllegalParameterValue = -224,
    ExecutionError = -200,
    SettingsConflict = -221,
    DataOutOfRange = -222,
    DataStale = -230,
    QueueOverflow = -350,
    InputBufferOverrun = -363,
    QueryInterrupted = -410,
    QueryUnterminated = -420
};

/// Standard text of a SCPI error number ("Undefined header").
const char* errorText(int code);

/// One level of a header: "CHAN3" gives mnemonic "CHAN", suffix 3.
struct HeaderNode
{
    std::string mnemonic;  ///< upper-cased
    int suffix = 1;
    bool hasSuffix = false;
};

/// One program message unit: header, query mark and raw parameters.
struct ProgramUnit
{
    bool common = false;              ///< "*XXX"
    bool fromRoot = false;            ///< leading ':'
    bool query = false;               ///< header ends with '?'
    std::string commonName;           ///< upper-cased, without '*' (common only)
    std::vector<HeaderNode> nodes;    ///< compound header levels
    std::vector<std::string> params;  ///< trimmed, quotes kept
    std::string text;                 ///< the unit as written (trimmed)
};

/// Splits a program message (terminator removed) into units at ';' outside
/// quotes and parses each header. On a syntax error returns false with the
/// units before it in `units`, the SCPI error in `error` and its unit index
/// in `errorUnit`.
bool splitMessage(const std::string& message, std::vector<ProgramUnit>& units, int& error, size_t& errorUnit);

/// Parses one unit's text. Returns a SCPI error code, 0 when fine.
int parseUnit(const std::string& text, ProgramUnit& unit);

/// A compiled command pattern such as "[SENSe:]FREQuency:CENTer" or
/// "CHANnel#:DATA[:VALues]": upper-case letters are the short form, the whole
/// word the long form, '#' accepts a numeric suffix, [] marks an optional node.
class Pattern
{
public:
    explicit Pattern(const std::string& text);
    /// Matches header nodes; on success `suffixes` holds one value per '#' node
    /// (1 when the header gave none).
    bool match(const std::vector<HeaderNode>& nodes, std::vector<int>& suffixes) const;
    const std::string& text() const { return m_text; }

private:
    struct Node
    {
        std::string shortForm, longForm;  // upper-cased
        bool optional = false;
        bool takesSuffix = false;
    };
    bool matchFrom(size_t pi, const std::vector<HeaderNode>& nodes, size_t ni, std::vector<int>& suffixes) const;
    std::vector<Node> m_nodes;
    std::string m_text;
};

/// Decimal numeric program data (NR1/NR2/NR3 with exponent), an optional unit
/// suffix with multiplier (S, MS, US, NS, HZ, KHZ, MHZ, GHZ, V, MV, DB, DBM,
/// PCT) and the mnemonics MIN/MAX/DEF (returned through `special`:
/// 1 min, 2 max, 3 def). Returns false for anything else.
bool parseNumber(const std::string& text, double& value, int* special = nullptr);
/// ON/OFF/1/0 (numbers are rounded, non-zero is true).
bool parseBoolean(const std::string& text, bool& value);
/// Character data matched against a pattern such as "SWEep" (short or long
/// form, any case).
bool matchMnemonic(const std::string& text, const std::string& pattern);
/// Upper-cases ASCII.
std::string upper(std::string text);

/// Bounded error queue with standard event status bits.
class ErrorQueue
{
public:
    static constexpr size_t kCapacity = 20;
    /// Queues an error (the last slot becomes -350 when full).
    void push(int code, const std::string& info = std::string());
    /// "<code>,\"<text>\"", "0,\"No error\"" when empty.
    std::string pop();
    bool empty() const { return m_queue.empty(); }
    size_t size() const { return m_queue.size(); }
    void clear() { m_queue.clear(); }
    /// Oldest code without removing it (0 when empty).
    int front() const { return m_queue.empty() ? 0 : m_queue.front().first; }

private:
    std::deque<std::pair<int, std::string>> m_queue;
};

/// ESR bit that a SCPI error class sets (CME, EXE, DDE, QYE).
uint8_t esrBitFor(int code);

/// Formats a number the way instruments answer queries (shortest round-trip up
/// to 9 significant digits, exponent form when needed).
std::string formatNumber(double value);

}  // namespace scpi
}  // namespace bench
}  // namespace quarnel
