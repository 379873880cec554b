#include "recvisa.h"

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
};

const ViSession kRm = 1;

State& st()
{
    static State s;
    return s;
}

// Records the call and returns the scripted status for it (0 when none).
// `move` receives the bytes a failing read still delivers.
ViStatus record(const std::string& op, ViSession vi, const std::string& text,
                unsigned long long value, long* move = nullptr)
{
    State& s = st();
    s.calls.push_back({op, vi, text, value});
    // Every matching rule counts the call; the first one active decides.
    const Rule* chosen = nullptr;
    for (Rule& r : s.rules) {
        if (r.op != op || text.find(r.match) == std::string::npos)
            continue;
        const int n = r.seen++;
        if (n < r.skip || (r.count > 0 && n >= r.skip + r.count))
            continue;
        if (!chosen)
            chosen = &r;
    }
    if (!chosen)
        return VI_SUCCESS;
    if (move)
        *move = chosen->move;
    return chosen->status;
}

bool isOpen(ViSession vi)
{
    return st().open.count(vi) != 0;
}

// Takes up to `cnt` bytes of the first pending message. `end` tells whether
// its end was reached.
std::string take(std::size_t cnt, bool* end)
{
    State& s = st();
    *end = false;
    if (s.messages.empty())
        return std::string();
    std::string& m = s.messages.front();
    const std::string out = m.substr(0, cnt);
    m.erase(0, out.size());
    if (m.empty()) {
        s.messages.pop_front();
        *end = true;
    }
    return out;
}

// Common part of viRead and viReadToFile.
ViStatus readInto(const std::string& op, ViSession vi, const std::string& text, ViUInt32 cnt,
                  std::string* data)
{
    long move = 0;
    const ViStatus scripted = record(op, vi, text, cnt, &move);
    bool end = false;
    if (scripted != VI_SUCCESS) {
        if (move > 0)
            *data = take(std::min<std::size_t>(std::size_t(move), cnt), &end);
        return scripted;
    }
    if (!isOpen(vi))
        return VI_ERROR_INV_OBJECT;
    if (st().messages.empty())
        return VI_ERROR_TMO;
    *data = take(cnt, &end);
    return end ? VI_SUCCESS : VI_SUCCESS_MAX_CNT;
}

// Write format as it goes out: "%%" is one "%"; other conversions would
// need arguments the program never passes.
bool render(const char* fmt, std::string* out)
{
    for (const char* p = fmt; *p; ++p) {
        if (*p != '%') {
            out->push_back(*p);
            continue;
        }
        if (p[1] != '%')
            return false;
        out->push_back('%');
        ++p;
    }
    return true;
}

}  // namespace

namespace recvisa {

void reset()
{
    State& s = st();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.clear();
    s.rules.clear();
    s.replies.clear();
    s.messages.clear();
    s.open.clear();
    s.next = 1001;
}

void failOn(const std::string& op, const std::string& match, ViStatus status, int skip, int count,
            long move)
{
    State& s = st();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.rules.push_back({op, match, status, skip, count, move});
}

void replyTo(const std::string& match, const std::string& reply)
{
    State& s = st();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.replies.emplace_back(match, reply);
}

void pushMessage(const std::string& bytes)
{
    State& s = st();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!bytes.empty())
        s.messages.push_back(bytes);
}

std::size_t pendingBytes()
{
    State& s = st();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::size_t n = 0;
    for (const std::string& m : s.messages)
        n += m.size();
    return n;
}

std::vector<Call> calls()
{
    State& s = st();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.calls;
}

std::vector<std::string> queries()
{
    std::vector<std::string> out;
    for (const Call& c : calls())
        if (c.op == "query")
            out.push_back(c.text);
    return out;
}

std::vector<ViSession> openSessions()
{
    State& s = st();
    std::lock_guard<std::mutex> lock(s.mutex);
    return std::vector<ViSession>(s.open.begin(), s.open.end());
}

}  // namespace recvisa

// ---- the exported VISA functions -----------------------------------------------

extern "C" {

ViStatus viOpenDefaultRM(ViPSession vi)
{
    std::lock_guard<std::mutex> lock(st().mutex);
    const ViStatus s = record("rm", 0, "", 0);
    *vi = s < VI_SUCCESS ? 0 : kRm;
    return s;
}

ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
                ViPSession vi)
{
    std::lock_guard<std::mutex> lock(st().mutex);
    const ViStatus s = record("open", sesn, name ? name : "", (unsigned long long)mode << 32 | timeout);
    if (s < VI_SUCCESS || sesn != kRm) {
        *vi = VI_NULL;
        return s < VI_SUCCESS ? s : VI_ERROR_INV_OBJECT;
    }
    *vi = st().next++;
    st().open.insert(*vi);
    return s;
}

ViStatus viClose(ViObject vi)
{
    std::lock_guard<std::mutex> lock(st().mutex);
    const ViStatus s = record("close", vi, "", 0);
    if (vi == VI_NULL)
        return VI_WARN_NULL_OBJECT;
    st().open.erase(vi);
    return s;
}

ViStatus viSetAttribute(ViObject vi, ViAttr attr, ViAttrState value)
{
    std::lock_guard<std::mutex> lock(st().mutex);
    char text[32];
    std::snprintf(text, sizeof text, "0x%08X", unsigned(attr));
    const ViStatus s = record("attr", vi, text, value);
    if (s != VI_SUCCESS)
        return s;
    return isOpen(vi) ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
}

ViStatus viQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ...)
{
    std::lock_guard<std::mutex> lock(st().mutex);
    std::string command;
    const bool formatOk = render(writeFmt, &command);
    const ViStatus scripted = record("query", vi, command, 0);
    if (!formatOk)
        return VI_ERROR_INV_FMT;
    if (!isOpen(vi))
        return scripted != VI_SUCCESS ? scripted : VI_ERROR_INV_OBJECT;

    std::string reply = "1\n";
    for (const auto& r : st().replies) {
        if (command.find(r.first) != std::string::npos) {
            reply = r.second;
            break;
        }
    }

    // The reply is stored even when a status is scripted: a library may well
    // fill the buffer and still report a warning.
    va_list ap;
    va_start(ap, readFmt);
    ViStatus status = scripted;
    const std::string rf = readFmt;
    if (rf == "%lf") {
        *va_arg(ap, double*) = std::strtod(reply.c_str(), nullptr);
    } else if (rf == "%d") {
        *va_arg(ap, int*) = int(std::strtol(reply.c_str(), nullptr, 10));
    } else if (rf.size() > 2 && rf.front() == '%' && rf.back() == 'c') {
        const unsigned long width = std::strtoul(rf.c_str() + 1, nullptr, 10);
        char* buf = va_arg(ap, char*);
        std::memcpy(buf, reply.data(), std::min<std::size_t>(width, reply.size()));
    } else {
        status = VI_ERROR_NSUP_FMT;
    }
    va_end(ap);
    return status;
}

ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt)
{
    std::lock_guard<std::mutex> lock(st().mutex);
    const ViStatus s = record("write", vi, std::string(reinterpret_cast<const char*>(buf), cnt), cnt);
    if (retCnt)
        *retCnt = s == VI_SUCCESS ? cnt : 0;
    if (s != VI_SUCCESS)
        return s;
    return isOpen(vi) ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
}

ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt)
{
    std::lock_guard<std::mutex> lock(st().mutex);
    std::string data;
    const ViStatus s = readInto("read", vi, "", cnt, &data);
    std::memcpy(buf, data.data(), data.size());
    if (retCnt)
        *retCnt = ViUInt32(data.size());
    return s;
}

ViStatus viReadToFile(ViSession vi, ViConstString filename, ViUInt32 cnt, ViPUInt32 retCnt)
{
    std::lock_guard<std::mutex> lock(st().mutex);
    std::string data;
    ViStatus s = readInto("readtofile", vi, filename, cnt, &data);
    if (s == VI_ERROR_FILE_ACCESS) {
        if (retCnt)
            *retCnt = 0;
        return s;
    }
    if (FILE* f = std::fopen(filename, "wb")) {
        if (std::fwrite(data.data(), 1, data.size(), f) != data.size())
            s = VI_ERROR_FILE_IO;
        std::fclose(f);
    } else {
        s = VI_ERROR_FILE_ACCESS;
        data.clear();
    }
    if (retCnt)
        *retCnt = ViUInt32(data.size());
    return s;
}

ViStatus viGpibControlREN(ViSession vi, ViUInt16 mode)
{
    std::lock_guard<std::mutex> lock(st().mutex);
    const ViStatus s = record("ren", vi, "", mode);
    if (s != VI_SUCCESS)
        return s;
    return isOpen(vi) ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
}

// Resolved by the program but never to be called: a call is recorded as "other".
ViStatus viStatusDesc(ViObject vi, ViStatus, ViChar desc[])
{
    std::lock_guard<std::mutex> lock(st().mutex);
    record("other", vi, "viStatusDesc", 0);
    desc[0] = 0;
    return VI_ERROR_NSUP_OPER;
}

ViStatus viPrintf(ViSession vi, ViConstString, ...)
{
    std::lock_guard<std::mutex> lock(st().mutex);
    record("other", vi, "viPrintf", 0);
    return VI_ERROR_NSUP_OPER;
}

ViStatus viScanf(ViSession vi, ViConstString, ...)
{
    std::lock_guard<std::mutex> lock(st().mutex);
    record("other", vi, "viScanf", 0);
    return VI_ERROR_NSUP_OPER;
}

ViStatus viClear(ViSession vi)
{
    std::lock_guard<std::mutex> lock(st().mutex);
    record("other", vi, "viClear", 0);
    return VI_ERROR_NSUP_OPER;
}

ViStatus viGetAttribute(ViObject vi, ViAttr, void*)
{
    std::lock_guard<std::mutex> lock(st().mutex);
    record("other", vi, "viGetAttribute", 0);
    return VI_ERROR_NSUP_OPER;
}

ViStatus viSetBuf(ViSession vi, ViUInt16, ViUInt32)
{
    std::lock_guard<std::mutex> lock(st().mutex);
    record("other", vi, "viSetBuf", 0);
    return VI_ERROR_NSUP_OPER;
}

ViStatus viReadSTB(ViSession vi, ViPUInt16)
{
    std::lock_guard<std::mutex> lock(st().mutex);
    record("other", vi, "viReadSTB", 0);
    return VI_ERROR_NSUP_OPER;
}

}  // extern "C"
