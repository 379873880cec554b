// Where the program keeps its settings and results.
#pragma once

#include <QString>

// Inserts the maker's folder "Tervane" above the last component of a data
// location and normalises separators to "/":
// "C:\Users\op\AppData\Local\tool" -> "C:/Users/op/AppData/Local/Tervane/tool".
QString dataDirFromLocation(const QString& location);

// Base name of an executable path: no folder, nothing from the first "." on.
QString appNameFromPath(const QString& executablePath);

// dataDir + "/" + appName + ".cfg"
QString cfgFilePath(const QString& dataDir, const QString& appName);
