// The viewer's own settings: an INI file beside the program's, holding the
// calibration offsets and whether they are subtracted.
#pragma once

#include "reanalysis.h"

#include <QString>

namespace view {

struct ViewerSettings
{
    Calibration calibration;
    bool subtract = false;
};

// "<dataDir>/quarnel-view.cfg"
QString viewerSettingsPath(const QString& dataDir);
// Missing or unreadable values are 0 / off; values that are not finite numbers too.
ViewerSettings readViewerSettings(const QString& path);
bool writeViewerSettings(const QString& path, const ViewerSettings& s);

}  // namespace view
