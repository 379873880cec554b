#include "visabinding.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

VisaFunctionTable g_visa;

namespace {

QStringList& candidateOverride()
{
    static QStringList list;
    return list;
}

QString& loadedName()
{
    static QString name;
    return name;
}

template <typename Fn>
bool resolveInto(QLibrary& lib, const char* name, Fn& slot)
{
    slot = reinterpret_cast<Fn>(lib.resolve(name));
    return slot != nullptr;
}

// One attempt on one library: entries are stored in table order as they are
// resolved; the first missing one stops the attempt.
bool resolveAll(QLibrary& lib)
{
    VisaFunctionTable& v = g_visa;
    return resolveInto(lib, "viOpenDefaultRM", v.viOpenDefaultRM)
        && resolveInto(lib, "viStatusDesc", v.viStatusDesc)
        && resolveInto(lib, "viOpen", v.viOpen)
        && resolveInto(lib, "viWrite", v.viWrite)
        && resolveInto(lib, "viRead", v.viRead)
        && resolveInto(lib, "viQueryf", v.viQueryfText)
        && resolveInto(lib, "viQueryf", v.viQueryfDouble)
        && resolveInto(lib, "viQueryf", v.viQueryfInt)
        && resolveInto(lib, "viPrintf", v.viPrintf)
        && resolveInto(lib, "viScanf", v.viScanf)
        && resolveInto(lib, "viReadToFile", v.viReadToFile)
        && resolveInto(lib, "viClear", v.viClear)
        && resolveInto(lib, "viClose", v.viClose)
        && resolveInto(lib, "viSetAttribute", v.viSetAttribute)
        && resolveInto(lib, "viGetAttribute", v.viGetAttribute)
        && resolveInto(lib, "viSetBuf", v.viSetBuf)
        && resolveInto(lib, "viReadSTB", v.viReadSTB)
        && resolveInto(lib, "viGpibControlREN", v.viGpibControlREN);
}

}  // namespace

QStringList defaultVisaCandidates()
{
    QStringList list{QStringLiteral("visa64"), QStringLiteral("visa")};
    // Our LAN VISA library: beside the executable, in the build tree's lib/,
    // and in the installed layout's lib/quarnel.
    const QString exeDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                        : QDir::currentPath();
    const QStringList dirs{exeDir, exeDir + QStringLiteral("/../lib"),
                           exeDir + QStringLiteral("/../") + QString::fromLatin1(QUARNEL_LIBDIR) + QStringLiteral("/quarnel")};
    for (const QString& d : dirs) {
        const QString f = QDir::cleanPath(d + QStringLiteral("/liblanvisa.so"));
        if (QFileInfo::exists(f) && !list.contains(f))
            list << f;
    }
    return list;
}

void setVisaCandidates(const QStringList& candidates)
{
    candidateOverride() = candidates;
}

QStringList visaCandidates()
{
    return candidateOverride().isEmpty() ? defaultVisaCandidates() : candidateOverride();
}

bool LoadVisa()
{
    return LoadVisa(visaCandidates());
}

bool LoadVisa(const QStringList& candidates)
{
    loadedName().clear();
    for (const QString& name : candidates) {
        // Never unloaded: the table points into it for the rest of the process.
        QLibrary lib;
        lib.setFileName(name);
        if (!lib.load())
            continue;
        if (resolveAll(lib)) {
            loadedName() = lib.fileName();
            return true;
        }
        // A library lacking a function is dropped; the next one starts from
        // scratch so the table never mixes two libraries.
    }
    return false;
}

QString loadedVisaLibrary()
{
    return loadedName();
}

ViStatus VisaOpenDefaultRM(ViSession* rm)
{
    return g_visa.viOpenDefaultRM(rm);
}

ViStatus VisaOpen(ViSession rm, QString name, ViAccessMode mode, ViUInt32 timeout, ViSession* vi)
{
    const QByteArray n = name.toLocal8Bit();
    return g_visa.viOpen(rm, n.constData(), mode, timeout, vi);
}

ViStatus VisaClose(ViSession vi)
{
    return g_visa.viClose(vi);
}

ViStatus VisaWrite(ViSession vi, const ViByte* buf, ViUInt32 cnt, ViUInt32* retCnt)
{
    return g_visa.viWrite(vi, buf, cnt, retCnt);
}

ViStatus VisaRead(ViSession vi, ViByte* buf, ViUInt32 cnt, ViUInt32* retCnt)
{
    return g_visa.viRead(vi, buf, cnt, retCnt);
}

ViStatus VisaReadToFile(ViSession vi, QString fnam, ViUInt32 cnt, ViUInt32* retCnt)
{
    const QByteArray f = fnam.toLocal8Bit();
    return g_visa.viReadToFile(vi, f.constData(), cnt, retCnt);
}

ViStatus VisaSetAttribute(ViSession vi, ViAttr attr, ViAttrState value)
{
    return g_visa.viSetAttribute(vi, attr, value);
}

ViStatus VisaGetAttribute(ViSession vi, ViAttr attr, void* value)
{
    return g_visa.viGetAttribute(vi, attr, value);
}

ViStatus VisaClear(ViSession vi)
{
    return g_visa.viClear(vi);
}

QString visaStatusText(ViSession vi, ViStatus status)
{
    const QString code = QStringLiteral("VISA status 0x%1").arg(quint32(status), 8, 16, QLatin1Char('0'));
    ViChar desc[VI_FIND_BUFLEN + 1] = {};
    if (!g_visa.viStatusDesc || g_visa.viStatusDesc(vi, status, desc) < VI_SUCCESS || desc[0] == '\0')
        return code;
    desc[VI_FIND_BUFLEN] = '\0';
    return QString::fromLocal8Bit(desc);
}

ViStatus VisaGpibControlREN(ViSession vi, ViUInt16 mode)
{
    return g_visa.viGpibControlREN(vi, mode);
}
