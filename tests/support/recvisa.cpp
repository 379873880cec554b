#include "recvisa.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>

namespace {

struct Rule
{
    std::string op, match;
    ViStatus status;
    int skip, count;
    long move;
    int seen = 0;
};

struct State
{
    std::mutex mutex;
    std::vector<recvisa::Call> calls;
    std::vector<Rule> rules;
    std::vector<std::pair<std::string, std::string>> replies;
    std::deque<std::string> messages;
    std::set<ViSession> open;
    ViSession next = 1001;
} g;

const ViSession kRm = 1;

// Records the call; returns its scripted status (0 when none). Every
// matching rule counts the call, the first active one decides.
ViStatus record(const std::string& op, ViSession vi, const std::string& text, unsigned long long value = 0,
                long* move = nullptr)
{
    g.calls.push_back({op, vi, text, value});
    const Rule* chosen = nullptr;
    for (Rule& r : g.rules) {
        if (r.op != op || text.find(r.match) == std::string::npos)
            continue;
        const int n = r.seen++;
        if (!chosen && n >= r.skip && (r.count == 0 || n < r.skip + r.count))
            chosen = &r;
    }
    if (chosen && move)
        *move = chosen->move;
    return chosen ? chosen->status : VI_SUCCESS;
}

// Scripted failure first, then the session check.
ViStatus onSession(ViStatus scripted, ViSession vi)
{
    if (scripted != VI_SUCCESS)
        return scripted;
    return g.open.count(vi) ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
}

// Up to `cnt` bytes of the first pending message; *end when it is used up.
std::string take(std::size_t cnt, bool* end)
{
    *end = false;
    if (g.messages.empty())
        return std::string();
    std::string& m = g.messages.front();
    const std::string out = m.substr(0, cnt);
    m.erase(0, out.size());
    if (m.empty()) {
        g.messages.pop_front();
        *end = true;
    }
    return out;
}

ViStatus readInto(const std::string& op, ViSession vi, const std::string& text, ViUInt32 cnt, std::string* data)
{
    long move = 0;
    const ViStatus scripted = record(op, vi, text, cnt, &move);
    bool end = false;
    if (scripted != VI_SUCCESS) {
        if (move > 0)
            *data = take(std::min<std::size_t>(std::size_t(move), cnt), &end);
        return scripted;
    }
    if (!g.open.count(vi))
        return VI_ERROR_INV_OBJECT;
    if (g.messages.empty())
        return VI_ERROR_TMO;
    *data = take(cnt, &end);
    return end ? VI_SUCCESS : VI_SUCCESS_MAX_CNT;
}

// The write format as it goes out: "%%" is "%"; any other conversion would
// need an argument the program never passes.
bool render(const char* fmt, std::string* out)
{
    for (const char* p = fmt; *p; ++p) {
        if (*p == '%' && *++p != '%')
            return false;
        out->push_back(*p);
    }
    return true;
}

}  // namespace

namespace recvisa {

void reset()
{
    std::lock_guard<std::mutex> lock(g.mutex);
    g.calls.clear();
    g.rules.clear();
    g.replies.clear();
    g.messages.clear();
    g.open.clear();
    g.next = 1001;
}

void failOn(const std::string& op, const std::string& match, ViStatus status, int skip, int count, long move)
{
    std::lock_guard<std::mutex> lock(g.mutex);
    g.rules.push_back({op, match, status, skip, count, move});
}

void replyTo(const std::string& match, const std::string& reply)
{
    std::lock_guard<std::mutex> lock(g.mutex);
    g.replies.emplace_back(match, reply);
}

void pushMessage(const std::string& bytes)
{
    std::lock_guard<std::mutex> lock(g.mutex);
    if (!bytes.empty())
        g.messages.push_back(bytes);
}

std::vector<Call> calls()
{
    std::lock_guard<std::mutex> lock(g.mutex);
    return g.calls;
}

std::vector<Call> callsOf(const std::string& op)
{
    std::vector<Call> out;
    for (const Call& c : calls())
        if (c.op == op)
            out.push_back(c);
    return out;
}

std::vector<std::string> queries()
{
    std::vector<std::string> out;
    for (const Call& c : callsOf("query"))
        out.push_back(c.text);
    return out;
}

std::vector<ViSession> openSessions()
{
    std::lock_guard<std::mutex> lock(g.mutex);
    return std::vector<ViSession>(g.open.begin(), g.open.end());
}

}  // namespace recvisa

// ---- the exported VISA functions -----------------------------------------------

#define LOCKED std::lock_guard<std::mutex> lock(g.mutex)

extern "C" {

ViStatus viOpenDefaultRM(ViPSession vi)
{
    LOCKED;
    const ViStatus s = record("rm", 0, "");
    *vi = s < VI_SUCCESS ? 0 : kRm;
    return s;
}

#ifndef RECVISA_OMIT_viOpen
ViStatus viOpen(ViSession rm, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout, ViPSession vi)
{
    LOCKED;
    const ViStatus s = record("open", rm, name ? name : "", (unsigned long long)mode << 32 | timeout);
    *vi = VI_NULL;
    if (s < VI_SUCCESS)
        return s;
    if (rm != kRm)
        return VI_ERROR_INV_OBJECT;
    *vi = g.next++;
    g.open.insert(*vi);
    return s;
}
#endif

ViStatus viClose(ViObject vi)
{
    LOCKED;
    const ViStatus s = record("close", vi, "");
    g.open.erase(vi);
    return vi == VI_NULL ? VI_WARN_NULL_OBJECT : s;
}

ViStatus viSetAttribute(ViObject vi, ViAttr attr, ViAttrState value)
{
    LOCKED;
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", unsigned(attr));
    return onSession(record("attr", vi, text, value), vi);
}

#ifndef RECVISA_OMIT_viGpibControlREN
ViStatus viGpibControlREN(ViSession vi, ViUInt16 mode)
{
    LOCKED;
    return onSession(record("ren", vi, "", mode), vi);
}
#endif

ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt)
{
    LOCKED;
    const ViStatus s = onSession(record("write", vi, std::string((const char*)buf, cnt), cnt), vi);
    if (retCnt)
        *retCnt = s == VI_SUCCESS ? cnt : 0;
    return s;
}

ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt)
{
    LOCKED;
    std::string data;
    const ViStatus s = readInto("read", vi, "", cnt, &data);
    std::memcpy(buf, data.data(), data.size());
    if (retCnt)
        *retCnt = ViUInt32(data.size());
    return s;
}

ViStatus viReadToFile(ViSession vi, ViConstString filename, ViUInt32 cnt, ViPUInt32 retCnt)
{
    LOCKED;
    std::string data;
    ViStatus s = readInto("readtofile", vi, filename, cnt, &data);
    FILE* f = s == VI_ERROR_FILE_ACCESS ? nullptr : std::fopen(filename, "wb");
    if (!f) {
        s = VI_ERROR_FILE_ACCESS;
        data.clear();
    } else {
        if (std::fwrite(data.data(), 1, data.size(), f) != data.size())
            s = VI_ERROR_FILE_IO;
        std::fclose(f);
    }
    if (retCnt)
        *retCnt = ViUInt32(data.size());
    return s;
}

ViStatus viQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ...)
{
    LOCKED;
    std::string command;
    const bool formatOk = render(writeFmt, &command);
    const ViStatus scripted = record("query", vi, command);
    if (!formatOk)
        return VI_ERROR_INV_FMT;
    if (!g.open.count(vi))
        return onSession(scripted, vi);
    std::string reply = "1\n";
    for (const auto& r : g.replies)
        if (command.find(r.first) != std::string::npos) {
            reply = r.second;
            break;
        }
    // The reply is stored even with a scripted status: a library may fill
    // the buffer and still report a warning.
    va_list ap;
    va_start(ap, readFmt);
    ViStatus status = scripted;
    const std::string rf = readFmt;
    if (rf == "%lf")
        *va_arg(ap, double*) = std::strtod(reply.c_str(), nullptr);
    else if (rf == "%d")
        *va_arg(ap, int*) = int(std::strtol(reply.c_str(), nullptr, 10));
    else if (rf.size() > 2 && rf[0] == '%' && rf.back() == 'c')
        std::memcpy(va_arg(ap, char*), reply.data(),
                    std::min<std::size_t>(std::strtoul(rf.c_str() + 1, nullptr, 10), reply.size()));
    else
        status = VI_ERROR_NSUP_FMT;
    va_end(ap);
    return status;
}

// Resolved by the program but never to be called: recorded as "other".
#define NEVER_CALLED(name, ...)                                                                                        \
    ViStatus name(__VA_ARGS__)                                                                                         \
    {                                                                                                                  \
        LOCKED;                                                                                                        \
        record("other", vi, #name);                                                                                    \
        return VI_ERROR_NSUP_OPER;                                                                                     \
    }
NEVER_CALLED(viStatusDesc, ViObject vi, ViStatus, ViChar[])
NEVER_CALLED(viPrintf, ViSession vi, ViConstString, ...)
NEVER_CALLED(viScanf, ViSession vi, ViConstString, ...)
NEVER_CALLED(viClear, ViSession vi)
NEVER_CALLED(viGetAttribute, ViObject vi, ViAttr, void*)
NEVER_CALLED(viSetBuf, ViSession vi, ViUInt16, ViUInt32)
#ifndef RECVISA_OMIT_viReadSTB
NEVER_CALLED(viReadSTB, ViSession vi, ViPUInt16)
#endif

}  // extern "C"
