#include "tracefile.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

namespace {

// The per-user runtime folder is memory-backed on most systems: a trace
// passes through it without touching the disk. Otherwise the temp folder.
QString tempBase()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        const QFileInfo fi(runtime);
        if (fi.isDir() && fi.isWritable())
            return runtime;
    }
    return QDir::tempPath();
}

}  // namespace

QString traceTempFile()
{
    static std::unique_ptr<QTemporaryDir> dir;
    // Made again if it could not be made before or was cleaned away meanwhile.
    if (!dir || !dir->isValid() || !QFileInfo(dir->path()).isDir())
        dir.reset(new QTemporaryDir(tempBase() + QStringLiteral("/quarnel-XXXXXX")));
    if (!dir->isValid())
        return QString();
    return dir->filePath(QStringLiteral("Trace.tmp"));
}
