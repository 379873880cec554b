// The settings loader on arbitrary INI text: whatever the file holds, loading
// gives values (defaults where keys are absent or broken) and never crashes;
// nor does the strict check of the unattended runner.
#include "settings.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

volatile int g_sink;

// The INI parser is Qt's, which carries no coverage instrumentation: without
// help the fuzzer sees one path for every input and keeps no corpus. These
// branches (one site per key and per outcome) tell it what the parser made
// of the text, so inputs that reach more keys and value forms are kept.
#define QUARNEL_FEEDBACK(key)                                                                                          \
    do {                                                                                                               \
        const QVariant v = s.value(QLatin1String(key));                                                                \
        if (v.isValid()) {                                                                                             \
            g_sink = g_sink + 1;                                                                                       \
            if (v.userType() == QMetaType::QString) {                                                                  \
                bool ok = false;                                                                                       \
                const double d = v.toString().toDouble(&ok);                                                           \
                if (!ok)                                                                                               \
                    g_sink = g_sink + 2;                                                                               \
                else if (!std::isfinite(d))                                                                            \
                    g_sink = g_sink + 3;                                                                               \
                else                                                                                                   \
                    g_sink = g_sink + 4;                                                                               \
            } else if (v.userType() == QMetaType::QStringList) {                                                       \
                g_sink = g_sink + 5;                                                                                   \
            } else {                                                                                                   \
                g_sink = g_sink + 6;                                                                                   \
            }                                                                                                          \
        }                                                                                                              \
    } while (0)

void feedback(const QString& path)
{
    QSettings s(path, QSettings::IniFormat);
    if (s.status() == QSettings::FormatError)
        g_sink = g_sink + 7;
    QUARNEL_FEEDBACK(cfgkey::OsIp);
    QUARNEL_FEEDBACK(cfgkey::OsRst);
    QUARNEL_FEEDBACK(cfgkey::OsTyp);
    QUARNEL_FEEDBACK(cfgkey::OsTrgLvl);
    QUARNEL_FEEDBACK(cfgkey::SaIp);
    QUARNEL_FEEDBACK(cfgkey::SaRst);
    QUARNEL_FEEDBACK(cfgkey::SaFrq);
    QUARNEL_FEEDBACK(cfgkey::SaIfDem);
    QUARNEL_FEEDBACK(cfgkey::VaIp);
    QUARNEL_FEEDBACK(cfgkey::VaRst);
    QUARNEL_FEEDBACK(cfgkey::VaThres);
    QUARNEL_FEEDBACK(cfgkey::VaHdmi);
    QUARNEL_FEEDBACK(cfgkey::SaveData);
    const int groups = s.childGroups().size();
    if (groups > 4)
        g_sink = g_sink + 8;
    else if (groups > 0)
        g_sink = g_sink + 9;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("fuzz.cfg"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        f.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    const CfgValues v = readCfg(path);
    // Whatever the file holds, the numbers meant for the instruments are finite.
    if (!std::isfinite(v.trgLvl) || !std::isfinite(v.saFrq) || !std::isfinite(v.vaThres))
        std::abort();
    // The unattended runner's strict check reads the same file: one line per
    // key at most, plus one for the file itself.
    if (cfgProblems(path).size() > 14)
        std::abort();
    if (!cfgHoldsSerialisedValue(path))
        feedback(path);
    return 0;
}
