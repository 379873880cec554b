// Run-time VISA binding: the library is loaded by name and never linked, so
// the program starts (and says so) on machines without any VISA installed.
#pragma once

#include <QString>
#include <QStringList>

#include <visa.h>

typedef ViStatus (*PviOpenDefaultRM)(ViPSession);
typedef ViStatus (*PviStatusDesc)(ViObject, ViStatus, ViChar*);
typedef ViStatus (*PviOpen)(ViSession, ViConstRsrc, ViAccessMode, ViUInt32, ViPSession);
typedef ViStatus (*PviWrite)(ViSession, ViConstBuf, ViUInt32, ViPUInt32);
typedef ViStatus (*PviRead)(ViSession, ViPBuf, ViUInt32, ViPUInt32);
// Three typed views of the one variadic viQueryf: text, double and int replies.
typedef ViStatus (*PviQueryfText)(ViSession, ViConstString, ViConstString, ViChar*);
typedef ViStatus (*PviQueryfDouble)(ViSession, ViConstString, ViConstString, double*);
typedef ViStatus (*PviQueryfInt)(ViSession, ViConstString, ViConstString, int*);
typedef ViStatus (*PviPrintf)(ViSession, ViConstString, ...);
typedef ViStatus (*PviScanf)(ViSession, ViConstString, ...);
typedef ViStatus (*PviReadToFile)(ViSession, ViConstString, ViUInt32, ViPUInt32);
typedef ViStatus (*PviClear)(ViSession);
typedef ViStatus (*PviClose)(ViObject);
typedef ViStatus (*PviSetAttribute)(ViObject, ViAttr, ViAttrState);
typedef ViStatus (*PviGetAttribute)(ViObject, ViAttr, void*);
typedef ViStatus (*PviSetBuf)(ViSession, ViUInt16, ViUInt32);
typedef ViStatus (*PviReadSTB)(ViSession, ViPUInt16);
typedef ViStatus (*PviGpibControlREN)(ViSession, ViUInt16);

// The VISA function table, in resolve order. All null until LoadVisa fills it.
struct VisaFunctionTable
{
    PviOpenDefaultRM viOpenDefaultRM = nullptr;
    PviStatusDesc viStatusDesc = nullptr;
    PviOpen viOpen = nullptr;
    PviWrite viWrite = nullptr;
    PviRead viRead = nullptr;
    PviQueryfText viQueryfText = nullptr;
    PviQueryfDouble viQueryfDouble = nullptr;
    PviQueryfInt viQueryfInt = nullptr;
    PviPrintf viPrintf = nullptr;
    PviScanf viScanf = nullptr;
    PviReadToFile viReadToFile = nullptr;
    PviClear viClear = nullptr;
    PviClose viClose = nullptr;
    PviSetAttribute viSetAttribute = nullptr;
    PviGetAttribute viGetAttribute = nullptr;
    PviSetBuf viSetBuf = nullptr;
    PviReadSTB viReadSTB = nullptr;
    PviGpibControlREN viGpibControlREN = nullptr;
};

extern VisaFunctionTable g_visa;

// Library candidates tried in order: "visa64", "visa", then our LAN VISA
// library next to the executable (build tree and installed layout).
QStringList defaultVisaCandidates();
// Tests point the loader elsewhere; an empty list restores the defaults.
void setVisaCandidates(const QStringList& candidates);
QStringList visaCandidates();

// Loads the first candidate that resolves all 18 functions; the table then
// comes wholly from that library, which stays loaded for the process.
bool LoadVisa();
bool LoadVisa(const QStringList& candidates);
// File name of the library LoadVisa settled on (empty when none).
QString loadedVisaLibrary();
// What the last LoadVisa tried and why each was not taken, one line per file
// or search path (only those tried before the one it settled on).
QStringList visaLoadReport();

ViStatus VisaOpenDefaultRM(ViSession* rm);
ViStatus VisaOpen(ViSession rm, QString name, ViAccessMode mode, ViUInt32 timeout, ViSession* vi);
ViStatus VisaClose(ViSession vi);
ViStatus VisaWrite(ViSession vi, const ViByte* buf, ViUInt32 cnt, ViUInt32* retCnt);
ViStatus VisaRead(ViSession vi, ViByte* buf, ViUInt32 cnt, ViUInt32* retCnt);
ViStatus VisaReadToFile(ViSession vi, QString fnam, ViUInt32 cnt, ViUInt32* retCnt);
ViStatus VisaSetAttribute(ViSession vi, ViAttr attr, ViAttrState value);
ViStatus VisaGetAttribute(ViSession vi, ViAttr attr, void* value);
ViStatus VisaClear(ViSession vi);
// A status in words for the operator: the library's description, or the
// code in hexadecimal when it has none.
QString visaStatusText(ViSession vi, ViStatus status);
ViStatus VisaGpibControlREN(ViSession vi, ViUInt16 mode);
