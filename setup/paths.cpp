#include "paths.h"

#include <QFileInfo>
#include <QRegExp>
#include <QStringList>

QString dataDirFromLocation(const QString& location)
{
    const QStringList parts = location.split(QRegExp(QStringLiteral("[/\\\\]")), Qt::KeepEmptyParts);
    QString dir;
    for (int i = 0; i + 1 < parts.size(); ++i)
        dir += parts.at(i) + QLatin1Char('/');
    dir += QStringLiteral("Tervane/") + parts.last();
    return dir;
}

QString appNameFromPath(const QString& executablePath)
{
    return QFileInfo(executablePath).baseName();
}

QString cfgFilePath(const QString& dataDir, const QString& appName)
{
    return dataDir + QLatin1Char('/') + appName + QStringLiteral(".cfg");
}
