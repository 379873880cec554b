#include "viewersettings.h"

#include <QSettings>

#include <cmath>

namespace view {

namespace {
const char* const kOffsetKeys[kDelays] = {"Calibration/Source2RF ms", "Calibration/Source2HD ms",
                                          "Calibration/Source2Snk ms"};
const char* const kSubtractKey = "Calibration/Subtract";
}  // namespace

QString viewerSettingsPath(const QString& dataDir)
{
    return dataDir + QStringLiteral("/quarnel-view.cfg");
}

ViewerSettings readViewerSettings(const QString& path)
{
    ViewerSettings v;
    QSettings s(path, QSettings::IniFormat);
    for (int d = 0; d < kDelays; ++d) {
        bool ok = false;
        const double ms = s.value(QLatin1String(kOffsetKeys[d]), 0.0).toDouble(&ok);
        v.calibration.offsetMs[d] = ok && std::isfinite(ms) ? ms : 0.0;
    }
    v.subtract = s.value(QLatin1String(kSubtractKey), false).toBool();
    return v;
}

bool writeViewerSettings(const QString& path, const ViewerSettings& v)
{
    QSettings s(path, QSettings::IniFormat);
    for (int d = 0; d < kDelays; ++d)
        s.setValue(QLatin1String(kOffsetKeys[d]), v.calibration.offsetMs[d]);
    s.setValue(QLatin1String(kSubtractKey), v.subtract);
    s.sync();
    return s.status() == QSettings::NoError;
}

}  // namespace view
