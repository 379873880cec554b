// A recording VISA library for unit tests of the program's binding: every
// call is appended to an in-process log the test reads back through
// fakevisa_log(). Built several times, each build leaving out one function
// (FAKEVISA_OMIT_<name>) to exercise the loader's failure paths.
#include <visa.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#define FV_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
std::mutex g_mu;
std::string g_log;
ViStatus g_rmStatus = VI_SUCCESS;
[[maybe_unused]] ViSession g_next = 100;  // session handles handed out by viOpen

void logLine(const std::string& s)
{
    std::lock_guard<std::mutex> lk(g_mu);
    g_log += s;
    g_log += '\n';
}
}  // namespace

// ---- test control -------------------------------------------------------------
FV_EXPORT const char* fakevisa_log()
{
    std::lock_guard<std::mutex> lk(g_mu);
    static std::string copy;
    copy = g_log;
    return copy.c_str();
}
FV_EXPORT void fakevisa_reset()
{
    std::lock_guard<std::mutex> lk(g_mu);
    g_log.clear();
    g_rmStatus = VI_SUCCESS;
}
FV_EXPORT void fakevisa_setRmStatus(ViStatus s)
{
    g_rmStatus = s;
}

// ---- VISA ---------------------------------------------------------------------
#ifndef FAKEVISA_OMIT_viOpenDefaultRM
FV_EXPORT ViStatus viOpenDefaultRM(ViPSession vi)
{
    logLine("viOpenDefaultRM");
    if (vi)
        *vi = 1;
    return g_rmStatus;
}
#endif
#ifndef FAKEVISA_OMIT_viStatusDesc
FV_EXPORT ViStatus viStatusDesc(ViObject, ViStatus, ViChar desc[])
{
    if (desc)
        std::strcpy(desc, "fake");
    return VI_SUCCESS;
}
#endif
#ifndef FAKEVISA_OMIT_viOpen
FV_EXPORT ViStatus viOpen(ViSession, ViConstRsrc name, ViAccessMode mode, ViUInt32 tmo, ViPSession vi)
{
    char buf[512];
    std::snprintf(buf, sizeof buf, "viOpen %s %u %u", name ? name : "(null)", mode, tmo);
    logLine(buf);
    if (vi)
        *vi = ++g_next;
    return VI_SUCCESS;
}
#endif
#ifndef FAKEVISA_OMIT_viWrite
FV_EXPORT ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 ret)
{
    logLine("viWrite " + std::to_string(vi) + " " + std::string(reinterpret_cast<const char*>(buf), cnt));
    if (ret)
        *ret = cnt;
    return VI_SUCCESS;
}
#endif
#ifndef FAKEVISA_OMIT_viRead
FV_EXPORT ViStatus viRead(ViSession vi, ViPBuf, ViUInt32, ViPUInt32 ret)
{
    logLine("viRead " + std::to_string(vi));
    if (ret)
        *ret = 0;
    return VI_ERROR_TMO;
}
#endif
#ifndef FAKEVISA_OMIT_viQueryf
FV_EXPORT ViStatus viQueryf(ViSession vi, ViConstString w, ViConstString r, ...)
{
    logLine("viQueryf " + std::to_string(vi) + " " + (w ? w : "") + " | " + (r ? r : ""));
    return VI_SUCCESS;
}
#endif
#ifndef FAKEVISA_OMIT_viPrintf
FV_EXPORT ViStatus viPrintf(ViSession, ViConstString, ...)
{
    return VI_SUCCESS;
}
#endif
#ifndef FAKEVISA_OMIT_viScanf
FV_EXPORT ViStatus viScanf(ViSession, ViConstString, ...)
{
    return VI_SUCCESS;
}
#endif
#ifndef FAKEVISA_OMIT_viReadToFile
FV_EXPORT ViStatus viReadToFile(ViSession vi, ViConstString, ViUInt32, ViPUInt32 ret)
{
    logLine("viReadToFile " + std::to_string(vi));
    if (ret)
        *ret = 0;
    return VI_ERROR_TMO;
}
#endif
#ifndef FAKEVISA_OMIT_viClear
FV_EXPORT ViStatus viClear(ViSession)
{
    return VI_SUCCESS;
}
#endif
#ifndef FAKEVISA_OMIT_viClose
FV_EXPORT ViStatus viClose(ViObject vi)
{
    logLine("viClose " + std::to_string(vi));
    return vi == 0 ? VI_WARN_NULL_OBJECT : VI_SUCCESS;
}
#endif
#ifndef FAKEVISA_OMIT_viSetAttribute
FV_EXPORT ViStatus viSetAttribute(ViObject vi, ViAttr a, ViAttrState v)
{
    logLine("viSetAttribute " + std::to_string(vi) + " " + std::to_string(a) + " " + std::to_string(v));
    return VI_SUCCESS;
}
#endif
#ifndef FAKEVISA_OMIT_viGetAttribute
FV_EXPORT ViStatus viGetAttribute(ViObject, ViAttr, void*)
{
    return VI_ERROR_NSUP_ATTR;
}
#endif
#ifndef FAKEVISA_OMIT_viSetBuf
FV_EXPORT ViStatus viSetBuf(ViSession, ViUInt16, ViUInt32)
{
    return VI_SUCCESS;
}
#endif
#ifndef FAKEVISA_OMIT_viReadSTB
FV_EXPORT ViStatus viReadSTB(ViSession, ViPUInt16 s)
{
    if (s)
        *s = 0;
    return VI_SUCCESS;
}
#endif
#ifndef FAKEVISA_OMIT_viGpibControlREN
FV_EXPORT ViStatus viGpibControlREN(ViSession vi, ViUInt16 mode)
{
    logLine("viGpibControlREN " + std::to_string(vi) + " " + std::to_string(mode));
    return VI_SUCCESS;
}
#endif
