#include "tracefile.h"

#include "block.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>
#include <new>

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

bool readParkedTrace(const QString& path, std::uint32_t declared, QVector<double>* values)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    // Sized by what actually arrived, never by what the header claimed.
    const qint64 size = f.size();
    uchar* mapped = size > 0 ? f.map(0, size) : nullptr;
    bool complete = false;
    try {
        QByteArray copy;
        if (!mapped)
            copy = f.readAll();
        const char* data = mapped ? reinterpret_cast<const char*>(mapped) : copy.constData();
        const std::size_t have = mapped ? std::size_t(size) : std::size_t(copy.size());
        const std::size_t bytes = block::dataBytes(declared, data, have);
        // A block cut short is a failed transfer: fewer points would be
        // spread over the whole time window and skew every edge time.
        complete = bytes >= declared;
        if (complete)
            block::decodeFloat32Into(data, bytes, values);
    } catch (const std::bad_alloc&) {
        complete = false;
    }
    if (mapped)
        f.unmap(mapped);
    return complete;
}
