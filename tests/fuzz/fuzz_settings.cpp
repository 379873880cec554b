// The settings loader on arbitrary INI text: whatever the file holds, loading
// gives values (defaults where keys are absent or broken) and never crashes.
#include "settings.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstdint>
#include <cstdlib>

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
    // Formatting what was read must work for every double, NaN and inf included.
    const QString s = formatNumber(v.trgLvl) + formatNumber(v.saFrq) + formatNumber(v.vaThres);
    if (s.isEmpty())
        std::abort();
    return 0;
}
