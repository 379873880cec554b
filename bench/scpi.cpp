#include "scpi.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quarnel {
namespace bench {
namespace scpi {

const char* errorText(int code)
{
    switch (code) {
    case NoError:
        return "No error";
    case CommandError:
        return "Command error";
    case InvalidCharacter:
        return "Invalid character";
    case SyntaxError:
        return "Syntax error";
    case InvalidSeparator:
        return "Invalid separator";
    case DataTypeError:
        return "Data type error";
    case ParameterNotAllowed:
        return "Parameter not allowed";
    case MissingParameter:
        return "Missing parameter";
    case UndefinedHeader:
        return "Undefined header";
    case HeaderSuffixOutOfRange:
        return "Header suffix out of range";
    case InvalidSuffix:
        return "Invalid suffix";
    case ExecutionError:
        return "Execution error";
    case SettingsConflict:
        return "Settings conflict";
    case DataOutOfRange:
        return "Data out of range";
    case IllegalParameterValue:
        return "Illegal parameter value";
    case DataStale:
        return "Data corrupt or stale";
    case QueueOverflow:
        return "Queue overflow";
    case InputBufferOverrun:
        return "Input buffer overrun";
    case QueryInterrupted:
        return "Query INTERRUPTED";
    case QueryUnterminated:
        return "Query UNTERMINATED";
    default:
        break;
    }
    if (code <= -100 && code > -200)
        return "Command error";
    if (code <= -200 && code > -300)
        return "Execution error";
    if (code <= -300 && code > -400)
        return "Device-specific error";
    if (code <= -400 && code > -500)
        return "Query error";
    return "Device error";
}

std::string upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

static std::string trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

static bool isMnemonicChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

int parseUnit(const std::string& rawText, ProgramUnit& unit)
{
    unit = ProgramUnit();
    unit.text = trim(rawText);
    const std::string& t = unit.text;
    size_t i = 0;
    if (t.empty())
        return CommandError;  // an empty unit between two ';'

    // Header: common "*NAME[?]" or compound "[:]NODE{:NODE}[?]".
    if (t[0] == '*') {
        unit.common = true;
        i = 1;
        size_t b = i;
        while (i < t.size() && std::isalpha(static_cast<unsigned char>(t[i])))
            ++i;
        if (i == b)
            return CommandError;
        unit.commonName = upper(t.substr(b, i - b));
    } else {
        if (t[0] == ':') {
            unit.fromRoot = true;
            i = 1;
        }
        for (;;) {
            size_t b = i;
            if (i >= t.size() || !std::isalpha(static_cast<unsigned char>(t[i])))
                return i >= t.size() ? CommandError : InvalidCharacter;
            while (i < t.size() && isMnemonicChar(t[i]))
                ++i;
            std::string word = t.substr(b, i - b);
            HeaderNode node;
            size_t d = word.size();
            while (d > 0 && std::isdigit(static_cast<unsigned char>(word[d - 1])))
                --d;
            if (d < word.size()) {
                if (word.size() - d > 9)
                    return HeaderSuffixOutOfRange;
                node.suffix = std::atoi(word.c_str() + d);
                node.hasSuffix = true;
                word.resize(d);
            }
            node.mnemonic = upper(word);
            unit.nodes.push_back(node);
            if (i < t.size() && t[i] == ':') {
                ++i;
                continue;
            }
            break;
        }
    }
    if (i < t.size() && t[i] == '?') {
        unit.query = true;
        ++i;
    }
    if (i < t.size() && !std::isspace(static_cast<unsigned char>(t[i])))
        return InvalidCharacter;

    // Parameters: ',' separated, quotes protect separators.
    std::string rest = trim(t.substr(i));
    if (rest.empty())
        return NoError;
    std::string current;
    char quote = 0;
    for (size_t k = 0; k < rest.size(); ++k) {
        char c = rest[k];
        if (quote) {
            current += c;
            if (c == quote) {
                // A doubled quote is an escaped quote inside the string.
                if (k + 1 < rest.size() && rest[k + 1] == quote) {
                    current += rest[++k];
                } else {
                    quote = 0;
                }
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
            current += c;
        } else if (c == ',') {
            std::string p = trim(current);
            if (p.empty())
                return SyntaxError;
            unit.params.push_back(p);
            current.clear();
        } else {
            current += c;
        }
    }
    if (quote)
        return SyntaxError;
    std::string p = trim(current);
    if (p.empty())
        return SyntaxError;
    unit.params.push_back(p);
    return NoError;
}

namespace {
/// Parses the units in order up to the first bad one, whose error and index it sets.
bool parseUnits(const std::vector<std::string>& texts, std::vector<ProgramUnit>& units, int& error, size_t& errorUnit)
{
    for (size_t k = 0; k < texts.size(); ++k) {
        ProgramUnit u;
        int e = parseUnit(texts[k], u);
        if (e) {
            error = e;
            errorUnit = k;
            return false;
        }
        units.push_back(u);
    }
    return true;
}
}  // namespace

bool splitMessage(const std::string& message, std::vector<ProgramUnit>& units, int& error, size_t& errorUnit)
{
    units.clear();
    error = NoError;
    errorUnit = 0;
    std::vector<std::string> texts;
    std::string current;
    char quote = 0;
    for (char c : message) {
        if (quote) {
            if (c == quote)
                quote = 0;
            current += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
            current += c;
        } else if (c == ';') {
            texts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (quote) {
        error = SyntaxError;
        errorUnit = texts.size();
        // Units before the open string still count.
        parseUnits(texts, units, error, errorUnit);
        return false;
    }
    // A trailing ';' (or a message of white space only) adds nothing.
    if (!trim(current).empty() || texts.empty())
        texts.push_back(current);
    if (texts.size() == 1 && trim(texts[0]).empty())
        return true;  // empty message: nothing to do
    return parseUnits(texts, units, error, errorUnit);
}

Pattern::Pattern(const std::string& text) : m_text(text)
{
    size_t i = 0;
    while (i < text.size()) {
        Node node;
        if (text[i] == '[') {
            node.optional = true;
            ++i;
        }
        if (i < text.size() && text[i] == ':')
            ++i;
        std::string word;
        while (i < text.size() && text[i] != ':' && text[i] != '[' && text[i] != ']') {
            word += text[i];
            ++i;
        }
        if (!word.empty() && word.back() == '#') {
            node.takesSuffix = true;
            word.pop_back();
        }
        for (char c : word)
            if (std::isupper(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)))
                node.shortForm += c;
        node.longForm = upper(word);
        if (node.shortForm.empty())
            node.shortForm = node.longForm;
        if (i < text.size() && text[i] == ']')
            ++i;
        if (!node.longForm.empty())
            m_nodes.push_back(node);
    }
}

bool Pattern::match(const std::vector<HeaderNode>& nodes, std::vector<int>& suffixes) const
{
    suffixes.clear();
    return matchFrom(0, nodes, 0, suffixes);
}

bool Pattern::matchFrom(size_t pi, const std::vector<HeaderNode>& nodes, size_t ni, std::vector<int>& suffixes) const
{
    if (pi == m_nodes.size())
        return ni == nodes.size();
    const Node& p = m_nodes[pi];
    size_t mark = suffixes.size();
    if (ni < nodes.size()) {
        const HeaderNode& h = nodes[ni];
        bool nameOk = h.mnemonic == p.shortForm || h.mnemonic == p.longForm;
        bool suffixOk = !h.hasSuffix || p.takesSuffix;
        if (nameOk && suffixOk) {
            if (p.takesSuffix)
                suffixes.push_back(h.suffix);
            if (matchFrom(pi + 1, nodes, ni + 1, suffixes))
                return true;
            suffixes.resize(mark);
        }
    }
    if (p.optional) {
        if (p.takesSuffix)
            suffixes.push_back(1);
        if (matchFrom(pi + 1, nodes, ni, suffixes))
            return true;
        suffixes.resize(mark);
    }
    return false;
}

bool matchMnemonic(const std::string& text, const std::string& pattern)
{
    std::string shortForm;
    for (char c : pattern)
        if (std::isupper(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)))
            shortForm += c;
    std::string u = upper(trim(text));
    return !u.empty() && (u == shortForm || u == upper(pattern));
}

bool parseNumber(const std::string& rawText, double& value, int* special)
{
    std::string text = trim(rawText);
    if (special)
        *special = 0;
    std::string u = upper(text);
    if (u == "MIN" || u == "MINIMUM" || u == "MAX" || u == "MAXIMUM" || u == "DEF" || u == "DEFAULT") {
        if (!special)
            return false;
        *special = u.compare(0, 3, "MIN") == 0 ? 1 : u.compare(0, 3, "MAX") == 0 ? 2 : 3;
        value = 0.0;
        return true;
    }
    // Mantissa and exponent by hand: strtod would also take "inf", "nan", hex.
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    size_t digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        while (j < text.size() && text[j] == ' ')
            ++j;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        size_t expDigits = 0;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) {
            ++j;
            ++expDigits;
        }
        if (expDigits > 0)
            i = j;
    }
    std::string number = text.substr(0, i);
    number.erase(std::remove(number.begin(), number.end(), ' '), number.end());
    double v = std::strtod(number.c_str(), nullptr);
    std::string unit = upper(trim(text.substr(i)));
    double mult = 1.0;
    if (!unit.empty()) {
        static const struct
        {
            const char* name;
            double mult;
        } units[] = {{"S", 1.0},   {"MS", 1e-3},  {"US", 1e-6}, {"NS", 1e-9}, {"HZ", 1.0},  {"KHZ", 1e3}, {"MHZ", 1e6},
                     {"GHZ", 1e9}, {"MAHZ", 1e6}, {"V", 1.0},   {"MV", 1e-3}, {"UV", 1e-6}, {"DB", 1.0},  {"DBM", 1.0},
                     {"PCT", 1.0}, {"K", 1e3},    {"M", 1e-3},  {"MA", 1e6},  {"G", 1e9},   {"U", 1e-6},  {"N", 1e-9}};
        bool found = false;
        for (const auto& entry : units)
            if (unit == entry.name) {
                mult = entry.mult;
                found = true;
                break;
            }
        if (!found)
            return false;
    }
    v *= mult;
    if (!std::isfinite(v))
        return false;
    value = v;
    return true;
}

bool parseBoolean(const std::string& text, bool& value)
{
    std::string u = upper(trim(text));
    if (u == "ON") {
        value = true;
        return true;
    }
    if (u == "OFF") {
        value = false;
        return true;
    }
    double v;
    if (!parseNumber(text, v))
        return false;
    value = std::lround(v) != 0;
    return true;
}

void ErrorQueue::push(int code, const std::string& info)
{
    if (m_queue.size() >= kCapacity)
        return;
    if (m_queue.size() == kCapacity - 1) {
        m_queue.emplace_back(QueueOverflow, std::string());
        return;
    }
    m_queue.emplace_back(code, info);
}

std::string ErrorQueue::pop()
{
    if (m_queue.empty())
        return "0,\"No error\"";
    auto e = m_queue.front();
    m_queue.pop_front();
    std::string text = std::to_string(e.first) + ",\"" + errorText(e.first);
    if (!e.second.empty()) {
        std::string info = e.second;
        for (char& c : info)
            if (c == '"' || c == '\n' || c == '\r')
                c = '\'';
        if (info.size() > 60)
            info.resize(60);
        text += ";" + info;
    }
    return text + "\"";
}

uint8_t esrBitFor(int code)
{
    if (code <= -100 && code > -200)
        return 0x20;  // CME
    if (code <= -200 && code > -300)
        return 0x10;  // EXE
    if (code <= -300 && code > -400)
        return 0x08;  // DDE
    if (code <= -400 && code > -500)
        return 0x04;  // QYE
    return 0x08;
}

std::string formatNumber(double value)
{
    if (std::isnan(value))
        return "9.91E+37";  // SCPI's not-a-number
    char buf[40];
    for (int precision = 6; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, value);
        if (std::strtod(buf, nullptr) == value || precision >= 9)
            break;
    }
    return buf;
}

}  // namespace scpi
}  // namespace bench
}  // namespace quarnel
