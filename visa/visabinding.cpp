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

QStringList& report()
{
    static QStringList lines;
    return lines;
}

template <typename Fn>
bool resolveInto(QLibrary& lib, const char* name, Fn& slot, const char** missing)
{
    slot = reinterpret_cast<Fn>(lib.resolve(name));
    if (!slot)
        *missing = name;
    return slot != nullptr;
}

// One attempt on one library: entries are stored in table order as they are
// resolved; the first missing one stops the attempt and is named in *missing.
bool resolveAll(QLibrary& lib, const char** missing)
{
    VisaFunctionTable& v = g_visa;
    return resolveInto(lib, "viOpenDefaultRM", v.viOpenDefaultRM, missing)
           && resolveInto(lib, "viStatusDesc", v.viStatusDesc, missing) && resolveInto(lib, "viOpen", v.viOpen, missing)
           && resolveInto(lib, "viWrite", v.viWrite, missing) && resolveInto(lib, "viRead", v.viRead, missing)
           && resolveInto(lib, "viQueryf", v.viQueryfText, missing)
           && resolveInto(lib, "viQueryf", v.viQueryfDouble, missing)
           && resolveInto(lib, "viQueryf", v.viQueryfInt, missing) && resolveInto(lib, "viPrintf", v.viPrintf, missing)
           && resolveInto(lib, "viScanf", v.viScanf, missing)
           && resolveInto(lib, "viReadToFile", v.viReadToFile, missing)
           && resolveInto(lib, "viClear", v.viClear, missing) && resolveInto(lib, "viClose", v.viClose, missing)
           && resolveInto(lib, "viSetAttribute", v.viSetAttribute, missing)
           && resolveInto(lib, "viGetAttribute", v.viGetAttribute, missing)
           && resolveInto(lib, "viSetBuf", v.viSetBuf, missing) && resolveInto(lib, "viReadSTB", v.viReadSTB, missing)
           && resolveInto(lib, "viGpibControlREN", v.viGpibControlREN, missing);
}

}  // namespace

QStringList defaultVisaCandidates()
{
    QStringList list{QStringLiteral("visa64"), QStringLiteral("visa")};
    // Our LAN VISA library: beside the executable, in the build tree's lib/,
    // and in the installed layout's lib/quarnel.
    const QString exeDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    // All three even when absent, so that a failed start names every place
    // that was looked in.
    const QStringList dirs{exeDir, exeDir + QStringLiteral("/../lib"),
                           exeDir + QStringLiteral("/../") + QString::fromLatin1(QUARNEL_LIBDIR)
                               + QStringLiteral("/quarnel")};
    for (const QString& d : dirs) {
        const QString f = QDir::cleanPath(d + QStringLiteral("/liblanvisa.so"));
        if (!list.contains(f))
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
    report().clear();
    for (const QString& name : candidates) {
        // A bare name is looked up by the system's loader, a path is taken as it is.
        const QString where = QFileInfo(name).isAbsolute()
                                  ? name
                                  : QStringLiteral("lib%1.so in the system library path (LD_LIBRARY_PATH=\"%2\", "
                                                   "/etc/ld.so.cache, /lib, /usr/lib)")
                                        .arg(name, QString::fromLocal8Bit(qgetenv("LD_LIBRARY_PATH")));
        if (QFileInfo(name).isAbsolute() && !QFileInfo::exists(name)) {
            report() << where + QStringLiteral(": no such file");
            continue;
        }
        // Never unloaded: the table points into it for the rest of the process.
        QLibrary lib;
        lib.setFileName(name);
        if (!lib.load()) {
            report() << where + QStringLiteral(": ") + lib.errorString();
            continue;
        }
        const char* missing = nullptr;
        if (resolveAll(lib, &missing)) {
            loadedName() = lib.fileName();
            return true;
        }
        // A library lacking a function is dropped; the next one starts from
        // scratch so the table never mixes two libraries.
        report() << where + QStringLiteral(": lacks ") + QLatin1String(missing);
    }
    return false;
}

QStringList visaLoadReport()
{
    return report();
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
