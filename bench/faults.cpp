#include "faults.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace quarnel {
namespace bench {

static char lowerChar(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

static std::string lower(std::string s)
{
    for (char& c : s)
        c = lowerChar(c);
    return s;
}

bool containsNoCase(const std::string& haystack, const std::string& needle)
{
    if (needle.empty())
        return true;
    auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                          [](char a, char b) { return lowerChar(a) == lowerChar(b); });
    return it != haystack.end();
}

static bool isProcedureName(const std::string& match)
{
    std::string m = lower(match);
    return m == "create_link" || m == "destroy_link" || m.compare(0, 7, "device_") == 0;
}

void FaultBook::add(const Fault& fault)
{
    Entry e;
    e.fault = fault;
    e.text = std::make_shared<const std::string>(std::move(e.fault.text));
    e.fault.text.clear();
    m_entries.push_back(std::move(e));
}

bool FaultBook::isMessageKind(FaultKind kind)
{
    switch (kind) {
    case FaultKind::NoReply:
    case FaultKind::DropConnection:
    case FaultKind::SlowReply:
    case FaultKind::CommandError:
    case FaultKind::ReplaceReply:
    case FaultKind::EndlessReply:
    case FaultKind::HislipError:
    case FaultKind::HislipFatal:
    case FaultKind::NoEnd:
        return true;
    default:
        return false;
    }
}

bool FaultBook::countAndApply(Entry& e)
{
    ++e.seen;
    if (e.seen <= e.fault.skip || exhausted(e))
        return false;
    ++e.applied;
    return true;
}

bool FaultBook::takeMessageFault(Instrument instrument, const std::string& message, Fault& out,
                                 std::shared_ptr<const std::string>* replyText)
{
    bool found = false;
    for (Entry& e : m_entries) {
        if (e.fault.instrument != instrument || !isMessageKind(e.fault.kind) || exhausted(e))
            continue;
        if (isProcedureName(e.fault.match) || !containsNoCase(message, e.fault.match))
            continue;
        if (countAndApply(e) && !found) {
            out = e.fault;
            if (replyText)
                *replyText = e.text;
            found = true;
        }
    }
    return found;
}

bool FaultBook::takeProcedureFault(Instrument instrument, const std::string& procedure, Fault& out)
{
    bool found = false;
    for (Entry& e : m_entries) {
        if (e.fault.instrument != instrument || !isMessageKind(e.fault.kind) || exhausted(e))
            continue;
        if (lower(e.fault.match) != lower(procedure))
            continue;
        if (countAndApply(e) && !found) {
            out = e.fault;
            found = true;
        }
    }
    return found;
}

int FaultBook::blockCandidate(Instrument instrument, const std::string& message) const
{
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& e = m_entries[i];
        if (e.fault.instrument == instrument && e.fault.kind == FaultKind::MalformedBlock && !exhausted(e)
            && containsNoCase(message, e.fault.match))
            return static_cast<int>(i);
    }
    return -1;
}

bool FaultBook::commitBlock(int candidate, BlockFault& block)
{
    if (candidate < 0 || candidate >= static_cast<int>(m_entries.size()))
        return false;
    Entry& e = m_entries[static_cast<size_t>(candidate)];
    if (!countAndApply(e))
        return false;
    block = e.fault.block;
    return true;
}

ModelFaults FaultBook::takeModelFaults()
{
    ModelFaults m;
    for (Entry& e : m_entries) {
        switch (e.fault.kind) {
        case FaultKind::StartLevelOutside:
            if (countAndApply(e)) {
                m.startLevel = true;
                m.level = e.fault.level;
            }
            break;
        case FaultKind::FlatRf:
            if (countAndApply(e))
                m.flatRf = true;
            break;
        case FaultKind::NoSinkEdge:
            if (countAndApply(e))
                m.noSinkEdge = true;
            break;
        case FaultKind::VideoStatusZero:
            if (countAndApply(e))
                m.videoZero = true;
            break;
        default:
            break;
        }
    }
    return m;
}

// ---- the command-line syntax -------------------------------------------------------

static bool parseInt(const std::string& text, long& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (!end || *end != '\0')
        return false;
    value = v;
    return true;
}

static std::string unescape(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool parseFault(const std::string& text, Fault& fault, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = "fault \"" + text + "\": " + why;
        return false;
    };
    Fault f;
    // Split on ':' except that "match=" swallows the rest.
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= text.size()) {
        if (lower(text.substr(pos, 6)) == "match=") {
            parts.push_back(text.substr(pos));
            break;
        }
        size_t colon = text.find(':', pos);
        if (colon == std::string::npos) {
            parts.push_back(text.substr(pos));
            break;
        }
        parts.push_back(text.substr(pos, colon - pos));
        pos = colon + 1;
    }
    if (parts.size() < 2)
        return fail("expected INSTRUMENT:KIND[:key=value...]");
    if (!parseInstrument(parts[0], f.instrument))
        return fail("unknown instrument \"" + parts[0] + "\" (scope, sa, va)");
    static const struct
    {
        const char* name;
        FaultKind kind;
    } kinds[] = {{"noreply", FaultKind::NoReply},
                 {"drop", FaultKind::DropConnection},
                 {"slow", FaultKind::SlowReply},
                 {"error", FaultKind::CommandError},
                 {"reply", FaultKind::ReplaceReply},
                 {"block", FaultKind::MalformedBlock},
                 {"endless", FaultKind::EndlessReply},
                 {"startlevel", FaultKind::StartLevelOutside},
                 {"flatrf", FaultKind::FlatRf},
                 {"nosink", FaultKind::NoSinkEdge},
                 {"videozero", FaultKind::VideoStatusZero},
                 {"hserror", FaultKind::HislipError},
                 {"hsfatal", FaultKind::HislipFatal},
                 {"noend", FaultKind::NoEnd}};
    bool kindFound = false;
    for (const auto& k : kinds)
        if (lower(parts[1]) == k.name) {
            f.kind = k.kind;
            kindFound = true;
        }
    if (!kindFound)
        return fail("unknown kind \"" + parts[1] + "\"");
    if (f.kind == FaultKind::VideoStatusZero)
        f.instrument = Instrument::VideoAnalyzer;
    for (size_t i = 2; i < parts.size(); ++i) {
        const std::string& p = parts[i];
        size_t eq = p.find('=');
        if (eq == std::string::npos)
            return fail("expected key=value, got \"" + p + "\"");
        std::string key = lower(p.substr(0, eq));
        std::string value = p.substr(eq + 1);
        long n = 0;
        if (key == "match") {
            f.match = unescape(value);
        } else if (key == "text") {
            f.text = unescape(value);
        } else if (key == "skip" || key == "count" || key == "after" || key == "delay" || key == "code" || key == "vxi"
                   || key == "hscode") {
            if (!parseInt(value, n))
                return fail("\"" + key + "\" needs an integer");
            if ((key == "skip" || key == "count" || key == "delay" || key == "vxi") && n < 0)
                return fail("\"" + key + "\" must not be negative");
            if (key == "skip")
                f.skip = static_cast<int>(n);
            else if (key == "count")
                f.count = static_cast<int>(n);
            else if (key == "after")
                f.afterBytes = n;
            else if (key == "delay")
                f.delayMs = static_cast<int>(std::min(n, 3600000L));
            else if (key == "code")
                f.scpiError = static_cast<int>(n);
            else if (key == "hscode")
                f.hislipCode = static_cast<int>(std::min(std::max(n, 0L), 255L));
            else
                f.vxiError = static_cast<int>(n);
        } else if (key == "level") {
            char* end = nullptr;
            double v = std::strtod(value.c_str(), &end);
            if (value.empty() || !end || *end)
                return fail("\"level\" needs a number");
            f.level = v;
        } else if (key == "block") {
            static const struct
            {
                const char* name;
                BlockFault kind;
            } blocks[] = {{"nohash", BlockFault::NoHash},          {"hash0", BlockFault::IndefiniteLength},
                          {"nondigit", BlockFault::NonDigitCount}, {"nondigitlen", BlockFault::NonDigitLength},
                          {"short", BlockFault::ShortData},        {"far", BlockFault::LengthFarBeyond},
                          {"newline", BlockFault::NewlineInData}};
            bool ok = false;
            for (const auto& b : blocks)
                if (lower(value) == b.name) {
                    f.block = b.kind;
                    ok = true;
                }
            if (!ok)
                return fail("unknown block fault \"" + value + "\"");
        } else {
            return fail("unknown key \"" + key + "\"");
        }
    }
    fault = f;
    return true;
}

std::string faultSyntaxHelp()
{
    return "Fault syntax: INSTRUMENT:KIND[:key=value]...[:match=TEXT]\n"
           "  INSTRUMENT  scope | sa | va\n"
           "  KIND        noreply    message (or procedure) is swallowed, the client times out\n"
           "              drop       connection closed at the message (after=N: after N reply bytes)\n"
           "              slow       reply only after delay=MS milliseconds\n"
           "              error      message refused with SCPI error code=N (default -200), no reply;\n"
           "                         on a procedure (match=device_local ...) VXI-11 error vxi=N (17)\n"
           "              reply      reply replaced by text=TEXT (\\n for a line feed)\n"
           "              endless    reply sent without END, then 64 KiB of filler every delay=MS\n"
           "                         (2000) until the next message or a device clear\n"
           "              block      next binary block malformed: block=nohash|hash0|nondigit|\n"
           "                         nondigitlen|short|far|newline\n"
           "              startlevel source starts at level=V (0.4) for count acquisitions\n"
           "              flatrf     RF envelope exactly flat for count acquisitions\n"
           "              nosink     no sink edge for count acquisitions\n"
           "              videozero  video analyzer status 0 for count acquisitions\n"
           "              hserror    HiSLIP: an Error message (hscode=N, 0) instead of the reply\n"
           "              hsfatal    HiSLIP: a FatalError (hscode=N, 0), then the session closes\n"
           "              noend      HiSLIP: the reply as Data only, its DataEND never comes\n"
           "  skip=N      let N matching messages/acquisitions pass first (0)\n"
           "  count=N     apply N times, 0 = always (1)\n"
           "  match=TEXT  case-insensitive part of the message, or a VXI-11 procedure name;\n"
           "              takes the rest of the argument verbatim (must come last)\n"
           "Examples: scope:noreply:match=*TRG   sa:drop:after=100:match=TRAC?\n"
           "          scope:block:block=short:match=CHAN2:DATA?   scope:startlevel:count=3\n"
           "          va:error:match=device_local   scope:hsfatal:hscode=1:match=*IDN?\n";
}

}  // namespace bench
}  // namespace quarnel
