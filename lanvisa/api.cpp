// The exported VISA C functions. Each one only validates its arguments, finds
// the session and delegates; every exception stops here and becomes a status.
#pragma GCC visibility push(default)
#include "visa.h"
#pragma GCC visibility pop

#include "formatio.h"
#include "registry.h"
#include "status.h"

#include <cstdio>
#include <cstring>
#include <new>

using lanvisa::Registry;
using lanvisa::Session;
using lanvisa::VaArgs;

namespace {

template <class F>
ViStatus guarded(F&& body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return VI_ERROR_ALLOC;
    } catch (...) {
        return VI_ERROR_SYSTEM_ERROR;
    }
}

/// Runs body on the instrument session vi, or says why there is none.
template <class F>
ViStatus withSession(ViSession vi, F&& body)
{
    return guarded([&]() -> ViStatus {
        std::shared_ptr<Session> s = Registry::instance().session(vi);
        if (!s)
            return Registry::instance().isResourceManager(vi) ? VI_ERROR_NSUP_OPER : VI_ERROR_INV_OBJECT;
        return body(*s);
    });
}

void storeCount(ViPUInt32 out, size_t n)
{
    if (out)
        *out = static_cast<ViUInt32>(n);
}

}  // namespace

extern "C" {

ViStatus viOpenDefaultRM(ViPSession vi)
{
    return guarded([&]() -> ViStatus {
        if (vi == nullptr)
            return VI_ERROR_USER_BUF;
        return Registry::instance().openResourceManager(*vi);
    });
}

ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout, ViPSession vi)
{
    return guarded([&]() -> ViStatus {
        if (vi == nullptr)
            return VI_ERROR_USER_BUF;
        *vi = VI_NULL;
        return Registry::instance().openSession(sesn, name, mode, timeout, *vi);
    });
}

ViStatus viClose(ViObject vi)
{
    return guarded([&] { return Registry::instance().close(vi); });
}

ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt)
{
    storeCount(retCnt, 0);
    return withSession(vi, [&](Session& s) -> ViStatus {
        if (buf == nullptr && cnt > 0)
            return VI_ERROR_USER_BUF;
        size_t written = 0;
        const ViStatus st = s.write(buf, cnt, written);
        storeCount(retCnt, written);
        return st;
    });
}

ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt)
{
    storeCount(retCnt, 0);
    return withSession(vi, [&](Session& s) -> ViStatus {
        if (buf == nullptr && cnt > 0)
            return VI_ERROR_USER_BUF;
        size_t got = 0;
        const ViStatus st = s.read(buf, cnt, got);
        storeCount(retCnt, got);
        return st;
    });
}

ViStatus viReadToFile(ViSession vi, ViConstString filename, ViUInt32 cnt, ViPUInt32 retCnt)
{
    storeCount(retCnt, 0);
    return withSession(vi, [&](Session& s) -> ViStatus {
        if (filename == nullptr || filename[0] == '\0')
            return VI_ERROR_FILE_ACCESS;
        size_t got = 0;
        const ViStatus st = s.readToFile(filename, cnt, got);
        storeCount(retCnt, got);
        return st;
    });
}

ViStatus viVPrintf(ViSession vi, ViConstString writeFmt, ViVAList params)
{
    VaArgs args;
    va_copy(args.ap, params);
    const ViStatus st = withSession(vi, [&](Session& s) { return s.printf(writeFmt, args); });
    va_end(args.ap);
    return st;
}

ViStatus viPrintf(ViSession vi, ViConstString writeFmt, ...)
{
    VaArgs args;
    va_start(args.ap, writeFmt);
    const ViStatus st = withSession(vi, [&](Session& s) { return s.printf(writeFmt, args); });
    va_end(args.ap);
    return st;
}

ViStatus viVScanf(ViSession vi, ViConstString readFmt, ViVAList params)
{
    VaArgs args;
    va_copy(args.ap, params);
    const ViStatus st = withSession(vi, [&](Session& s) { return s.scanf(readFmt, args); });
    va_end(args.ap);
    return st;
}

ViStatus viScanf(ViSession vi, ViConstString readFmt, ...)
{
    VaArgs args;
    va_start(args.ap, readFmt);
    const ViStatus st = withSession(vi, [&](Session& s) { return s.scanf(readFmt, args); });
    va_end(args.ap);
    return st;
}

ViStatus viVQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ViVAList params)
{
    VaArgs args;
    va_copy(args.ap, params);
    const ViStatus st = withSession(vi, [&](Session& s) { return s.queryf(writeFmt, readFmt, args); });
    va_end(args.ap);
    return st;
}

ViStatus viQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ...)
{
    VaArgs args;
    va_start(args.ap, readFmt);
    const ViStatus st = withSession(vi, [&](Session& s) { return s.queryf(writeFmt, readFmt, args); });
    va_end(args.ap);
    return st;
}

ViStatus viClear(ViSession vi)
{
    return withSession(vi, [&](Session& s) { return s.clear(); });
}

ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue)
{
    return guarded([&]() -> ViStatus {
        if (Registry::instance().isResourceManager(vi))
            return Registry::instance().setRmAttribute(vi, attrName, attrValue);
        return withSession(vi, [&](Session& s) { return s.setAttribute(attrName, attrValue); });
    });
}

ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue)
{
    return guarded([&]() -> ViStatus {
        if (attrValue == nullptr)
            return VI_ERROR_USER_BUF;
        if (Registry::instance().isResourceManager(vi))
            return Registry::instance().getRmAttribute(vi, attrName, attrValue);
        return withSession(vi, [&](Session& s) { return s.getAttribute(attrName, attrValue); });
    });
}

ViStatus viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size)
{
    return withSession(vi, [&](Session& s) { return s.setBuf(mask, size); });
}

ViStatus viFlush(ViSession vi, ViUInt16 mask)
{
    return withSession(vi, [&](Session& s) { return s.flush(mask); });
}

ViStatus viReadSTB(ViSession vi, ViPUInt16 status)
{
    return withSession(vi, [&](Session& s) -> ViStatus {
        if (status == nullptr)
            return VI_ERROR_USER_BUF;
        return s.readStb(*status);
    });
}

ViStatus viGpibControlREN(ViSession vi, ViUInt16 mode)
{
    return withSession(vi, [&](Session& s) { return s.gpibControlRen(mode); });
}

ViStatus viStatusDesc(ViObject, ViStatus status, ViChar desc[])
{
    return guarded([&]() -> ViStatus {
        if (desc == nullptr)
            return VI_ERROR_USER_BUF;
        const char* text = lanvisa::statusText(status);
        if (text == nullptr) {
            std::snprintf(desc, VI_FIND_BUFLEN, "Unknown status code 0x%08X.", static_cast<unsigned>(status));
            return VI_WARN_UNKNOWN_STATUS;
        }
        std::snprintf(desc, VI_FIND_BUFLEN, "%s", text);
        return VI_SUCCESS;
    });
}

}  // extern "C"
