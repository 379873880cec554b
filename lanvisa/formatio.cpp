#include "formatio.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lanvisa {

namespace {

/// Longest numeric token accepted when reading; a longer one is not a number.
constexpr size_t kMaxNumberToken = 512;
/// Widest field and longest precision a write conversion may ask for: beyond
/// this no instrument command makes sense, and the C library would spend
/// seconds and gigabytes producing it.
constexpr int kMaxFieldWidth = 65536;
constexpr char kFlagChars[] = "-+ #0";

enum class Length { None, Short, Long, LongLong, LongDouble };

struct Conversion
{
    std::string flags;
    int width = -1;      ///< -1: not given
    int precision = -1;  ///< -1: not given
    bool suppress = false;
    bool countArg = false;  ///< '#' in a read format
    Length length = Length::None;
    char conversion = 0;
};

bool isDigit(int c)
{
    return c >= '0' && c <= '9';
}

/// Reads a decimal number from the format; false above `max`.
bool parseNumber(const char*& p, int& value, int max = INT_MAX)
{
    long v = 0;
    while (isDigit(*p)) {
        v = v * 10 + (*p++ - '0');
        if (v > max)
            return false;
    }
    value = static_cast<int>(v);
    return true;
}

Length parseLength(const char*& p)
{
    if (*p == 'h') {
        ++p;
        return Length::Short;
    }
    if (*p == 'l') {
        ++p;
        if (*p == 'l') {
            ++p;
            return Length::LongLong;
        }
        return Length::Long;
    }
    if (*p == 'L') {
        ++p;
        return Length::LongDouble;
    }
    return Length::None;
}

// ---- printing -------------------------------------------------------------

template <class T>
ViStatus appendFormatted(std::string& out, const std::string& fmt, T value)
{
    const int n = std::snprintf(nullptr, 0, fmt.c_str(), value);
    if (n < 0)
        return VI_ERROR_INV_FMT;
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(n) + 1);
    std::snprintf(&out[start], static_cast<size_t>(n) + 1, fmt.c_str(), value);
    out.resize(start + static_cast<size_t>(n));
    return VI_SUCCESS;
}

ViStatus printOne(const Conversion& s, VaArgs& args, std::string& out)
{
    std::string fmt = "%" + s.flags;
    if (s.width >= 0)
        fmt += std::to_string(s.width);
    if (s.precision >= 0)
        fmt += "." + std::to_string(s.precision);
    switch (s.conversion) {
    case 'd':
    case 'i':
        if (s.length == Length::LongLong)
            return appendFormatted(out, fmt + "lld", va_arg(args.ap, long long));
        if (s.length == Length::Long)
            return appendFormatted(out, fmt + "ld", va_arg(args.ap, long));
        if (s.length == Length::Short)
            return appendFormatted(out, fmt + "d", static_cast<int>(static_cast<short>(va_arg(args.ap, int))));
        return appendFormatted(out, fmt + "d", va_arg(args.ap, int));
    case 'u':
    case 'o':
    case 'x':
    case 'X': {
        const std::string c(1, s.conversion);
        if (s.length == Length::LongLong)
            return appendFormatted(out, fmt + "ll" + c, va_arg(args.ap, unsigned long long));
        if (s.length == Length::Long)
            return appendFormatted(out, fmt + "l" + c, va_arg(args.ap, unsigned long));
        if (s.length == Length::Short)
            return appendFormatted(out, fmt + c,
                                   static_cast<unsigned>(static_cast<unsigned short>(va_arg(args.ap, unsigned))));
        return appendFormatted(out, fmt + c, va_arg(args.ap, unsigned));
    }
    case 'c':
        return appendFormatted(out, fmt + "c", va_arg(args.ap, int));
    case 's': {
        const char* text = va_arg(args.ap, const char*);
        if (text == nullptr)
            return VI_ERROR_USER_BUF;
        return appendFormatted(out, fmt + "s", text);
    }
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
        if (s.length == Length::LongDouble)
            return VI_ERROR_NSUP_FMT;
        return appendFormatted(out, fmt + s.conversion, va_arg(args.ap, double));
    default:
        return VI_ERROR_NSUP_FMT;
    }
}

// ---- scanning helpers -----------------------------------------------------

void skipSpace(ScanInput& in)
{
    int c;
    while ((c = in.peek()) >= 0 && std::isspace(c))
        in.advance();
}

size_t limitOf(const Conversion& s)
{
    return s.width > 0 ? std::min(static_cast<size_t>(s.width), kMaxNumberToken) : kMaxNumberToken;
}

/// NR1/NR2/NR3 text: [sign] digits [. digits] [E [sign] digits].
std::string readRealToken(ScanInput& in, size_t limit)
{
    std::string t;
    auto accept = [&](auto pred) {
        const int c = in.peek();
        if (c >= 0 && t.size() < limit && pred(c)) {
            t.push_back(static_cast<char>(c));
            in.advance();
            return true;
        }
        return false;
    };
    auto digits = [&] {
        size_t n = 0;
        while (accept([](int c) { return isDigit(c); }))
            ++n;
        return n;
    };
    accept([](int c) { return c == '+' || c == '-'; });
    size_t mantissa = digits();
    if (accept([](int c) { return c == '.'; }))
        mantissa += digits();
    if (mantissa == 0)
        return std::string();
    if (accept([](int c) { return c == 'e' || c == 'E'; })) {
        accept([](int c) { return c == '+' || c == '-'; });
        if (digits() == 0)
            return std::string();  // "1E" is not a number
    }
    return t;
}

/// IEEE 488.2 non-decimal numbers: #H1F, #Q17, #B101 (the '#' already seen).
bool readNonDecimal(ScanInput& in, long long& value)
{
    const int kind = std::toupper(in.peek());
    int base = 0;
    if (kind == 'H')
        base = 16;
    else if (kind == 'Q')
        base = 8;
    else if (kind == 'B')
        base = 2;
    else
        return false;
    in.advance();
    std::string t;
    int c;
    while ((c = in.peek()) >= 0 && std::isxdigit(c) && t.size() < kMaxNumberToken) {
        t.push_back(static_cast<char>(c));
        in.advance();
    }
    if (t.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(t.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || v > static_cast<unsigned long long>(LLONG_MAX))
        return false;
    value = static_cast<long long>(v);
    return true;
}

enum class Outcome { Stored, AtEnd, Mismatch, Error };

Outcome scanInteger(const Conversion& s, VaArgs& args, ScanInput& in)
{
    skipSpace(in);
    if (in.peek() < 0)
        return in.status() != VI_SUCCESS ? Outcome::Error : Outcome::AtEnd;
    long long value = 0;
    if (in.peek() == '#') {
        in.advance();
        if (!readNonDecimal(in, value))
            return Outcome::Mismatch;
    } else {
        const std::string t = readRealToken(in, limitOf(s));
        if (t.empty())
            return in.status() != VI_SUCCESS ? Outcome::Error : Outcome::Mismatch;
        errno = 0;
        const double d = std::strtod(t.c_str(), nullptr);
        const double rounded = std::nearbyint(d);
        if (errno == ERANGE || !(rounded >= static_cast<double>(LLONG_MIN))
            || !(rounded < static_cast<double>(LLONG_MAX)))
            return Outcome::Mismatch;
        // Exact for integers written as integers; NR2/NR3 text is rounded.
        value = (t.find_first_of(".eE") == std::string::npos) ? std::strtoll(t.c_str(), nullptr, 10)
                                                              : static_cast<long long>(rounded);
    }
    if (s.suppress)
        return Outcome::Stored;
    switch (s.length) {
    case Length::Short:
        if (value < SHRT_MIN || value > SHRT_MAX)
            return Outcome::Mismatch;
        *va_arg(args.ap, short*) = static_cast<short>(value);
        break;
    case Length::Long:
        *va_arg(args.ap, long*) = static_cast<long>(value);
        break;
    case Length::LongLong:
        *va_arg(args.ap, long long*) = value;
        break;
    default:
        if (value < INT_MIN || value > INT_MAX)
            return Outcome::Mismatch;
        *va_arg(args.ap, int*) = static_cast<int>(value);
        break;
    }
    return Outcome::Stored;
}

Outcome scanReal(const Conversion& s, VaArgs& args, ScanInput& in)
{
    skipSpace(in);
    if (in.peek() < 0)
        return in.status() != VI_SUCCESS ? Outcome::Error : Outcome::AtEnd;
    const std::string t = readRealToken(in, limitOf(s));
    if (t.empty())
        return in.status() != VI_SUCCESS ? Outcome::Error : Outcome::Mismatch;
    const double d = std::strtod(t.c_str(), nullptr);  // overflow gives +-HUGE_VAL, as C does
    if (s.suppress)
        return Outcome::Stored;
    if (s.length == Length::Long)
        *va_arg(args.ap, double*) = d;
    else
        *va_arg(args.ap, float*) = static_cast<float>(d);
    return Outcome::Stored;
}

/// %s %c %t %T: character conversions writing into a char buffer.
Outcome scanChars(const Conversion& s, VaArgs& args, ScanInput& in)
{
    int* countOut = nullptr;
    size_t width = s.width > 0 ? static_cast<size_t>(s.width) : 0;
    if (s.countArg && !s.suppress) {
        countOut = va_arg(args.ap, int*);
        if (countOut == nullptr || *countOut <= 0)
            return Outcome::Mismatch;
        width = static_cast<size_t>(*countOut);
    }
    char* dst = s.suppress ? nullptr : va_arg(args.ap, char*);
    if (!s.suppress && dst == nullptr)
        return Outcome::Mismatch;
    const bool nulTerminated = s.conversion != 'c';
    // Characters that may be stored: a width counts the terminating NUL.
    size_t capacity = SIZE_MAX;
    if (s.conversion == 'c')
        capacity = width > 0 ? width : 1;
    else if (width > 0)
        capacity = width - 1;

    if (s.conversion == 's')
        skipSpace(in);
    if (in.peek() < 0) {
        if (in.status() != VI_SUCCESS)
            return Outcome::Error;
        return Outcome::AtEnd;
    }
    size_t n = 0;
    if (s.conversion == 'c' && !s.suppress) {
        n = in.take(dst, capacity);  // bulk: %20000c reads whole replies
    } else {
        int c;
        while (n < capacity && (c = in.peek()) >= 0) {
            if (s.conversion == 's' && std::isspace(c))
                break;
            if (dst)
                dst[n] = static_cast<char>(c);
            ++n;
            in.advance();
            if (s.conversion == 'T' && c == '\n')
                break;
        }
    }
    if (in.status() != VI_SUCCESS)
        return Outcome::Error;
    if (dst && nulTerminated)
        dst[n] = '\0';
    if (countOut)
        *countOut = static_cast<int>(n);
    return Outcome::Stored;
}

}  // namespace

ViStatus formatPrint(const char* format, VaArgs& args, std::string& out, const PrintProgress& progress)
{
    if (format == nullptr)
        return VI_ERROR_USER_BUF;
    for (const char* p = format; *p;) {
        if (*p != '%') {
            out.push_back(*p++);
            continue;
        }
        ++p;
        if (*p == '%') {
            out.push_back('%');
            ++p;
            continue;
        }
        Conversion s;
        while (*p && std::strchr(kFlagChars, *p))
            s.flags.push_back(*p++);
        if (*p == '*') {
            const int width = va_arg(args.ap, int);
            if (width < 0)
                s.flags.push_back('-');
            if (width < -kMaxFieldWidth || width > kMaxFieldWidth)
                return VI_ERROR_INV_FMT;
            s.width = width < 0 ? -width : width;
            ++p;
        } else if (isDigit(*p) && !parseNumber(p, s.width, kMaxFieldWidth)) {
            return VI_ERROR_INV_FMT;
        }
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                s.precision = va_arg(args.ap, int);
                if (s.precision > kMaxFieldWidth)
                    return VI_ERROR_INV_FMT;
                s.precision = std::max(s.precision, -1);  // negative: as if not given
                ++p;
            } else if (!parseNumber(p, s.precision, kMaxFieldWidth)) {
                return VI_ERROR_INV_FMT;
            }
        }
        s.length = parseLength(p);
        if (*p == '\0')
            return VI_ERROR_INV_FMT;
        s.conversion = *p++;
        ViStatus st = printOne(s, args, out);
        if (st == VI_SUCCESS && progress)
            st = progress(out);
        if (st != VI_SUCCESS)
            return st;
    }
    return VI_SUCCESS;
}

bool ScanInput::ensure()
{
    if (m_pos < m_buf.size())
        return true;
    while (!m_ended && m_status == VI_SUCCESS) {
        m_buf.clear();
        m_pos = 0;
        m_status = m_refill(m_buf, m_ended);
        if (!m_buf.empty())
            return true;  // data that came with an error is still the message's
    }
    return false;
}

int ScanInput::peek()
{
    return ensure() ? m_buf[m_pos] : -1;
}

size_t ScanInput::take(char* dst, size_t n)
{
    size_t done = 0;
    while (done < n && ensure()) {
        const size_t k = std::min(n - done, m_buf.size() - m_pos);
        std::memcpy(dst + done, m_buf.data() + m_pos, k);
        m_pos += k;
        done += k;
    }
    return done;
}

ViStatus ScanInput::drain()
{
    while (ensure())
        m_pos = m_buf.size();
    return m_status;
}

ViStatus formatScan(const char* format, VaArgs& args, ScanInput& in)
{
    if (format == nullptr)
        return VI_ERROR_USER_BUF;
    int assigned = 0;
    for (const char* p = format; *p;) {
        const unsigned char fc = static_cast<unsigned char>(*p);
        if (std::isspace(fc)) {
            skipSpace(in);
            ++p;
            continue;
        }
        if (fc != '%' || p[1] == '%') {
            const char literal = fc == '%' ? '%' : static_cast<char>(fc);
            p += fc == '%' ? 2 : 1;
            const int c = in.peek();
            if (c == static_cast<unsigned char>(literal)) {
                in.advance();
                continue;
            }
            if (c < 0 && in.status() != VI_SUCCESS)
                return in.status();
            // The message ended (or only its LF terminator is left): the rest of
            // the format is ignored.
            if ((c < 0 || c == '\n') && assigned > 0)
                return VI_SUCCESS;
            return VI_ERROR_INV_FMT;
        }
        ++p;
        Conversion s;
        while (*p == '*' || *p == '#') {
            (*p == '*' ? s.suppress : s.countArg) = true;
            ++p;
        }
        if (isDigit(*p) && !parseNumber(p, s.width))
            return VI_ERROR_INV_FMT;
        s.length = parseLength(p);
        if (*p == '\0')
            return VI_ERROR_INV_FMT;
        s.conversion = *p++;
        Outcome o;
        switch (s.conversion) {
        case 'd':
        case 'i':
            if (s.length == Length::LongDouble)
                return VI_ERROR_NSUP_FMT;
            o = scanInteger(s, args, in);
            break;
        case 'f':
        case 'e':
        case 'g':
        case 'E':
        case 'G':
            if (s.length != Length::None && s.length != Length::Long)
                return VI_ERROR_NSUP_FMT;
            o = scanReal(s, args, in);
            break;
        case 's':
        case 'c':
        case 't':
        case 'T':
            if (s.length != Length::None)
                return VI_ERROR_NSUP_FMT;
            o = scanChars(s, args, in);
            break;
        default:
            return VI_ERROR_NSUP_FMT;
        }
        switch (o) {
        case Outcome::Stored:
            if (!s.suppress)
                ++assigned;
            break;
        case Outcome::AtEnd:
            return assigned > 0 ? VI_SUCCESS : VI_ERROR_INV_FMT;
        case Outcome::Mismatch:
            return VI_ERROR_INV_FMT;
        case Outcome::Error:
            return in.status();
        }
    }
    return in.status();
}

}  // namespace lanvisa
