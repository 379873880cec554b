#include "testsupport.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QtEndian>

#include <cstdlib>
#include <cstring>

namespace testsupport {

void isolateEnvironment()
{
    // Lives for the whole test process; removed at exit.
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/quarnel-test-XXXXXX"));
    const QByteArray h = home.path().toLocal8Bit();
    qputenv("HOME", h);
    qputenv("XDG_DATA_HOME", h + "/data");
    qputenv("XDG_CONFIG_HOME", h + "/config");
    qputenv("XDG_RUNTIME_DIR", h + "/run");
    QDir().mkpath(home.path() + QStringLiteral("/run"));
    QFile::setPermissions(home.path() + QStringLiteral("/run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (qEnvironmentVariableIsEmpty("QUARNEL_TEST_REAL_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

QString recVisaPath(const char* lacking)
{
    const char* path = !lacking                                ? RECVISA_PATH
                       : !qstrcmp(lacking, "viGpibControlREN") ? RECVISA_NO_viGpibControlREN
                       : !qstrcmp(lacking, "viReadSTB")        ? RECVISA_NO_viReadSTB
                       : !qstrcmp(lacking, "viOpen")           ? RECVISA_NO_viOpen
                                                               : nullptr;
    if (!path)
        qFatal("no recording VISA library lacking %s", lacking);
    return QString::fromLocal8Bit(path);
}

void onNextModal(std::function<void(QWidget*)> fn, int timeoutMs)
{
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, fn, timeoutMs]() {
        QWidget* w = QApplication::activeModalWidget();
        if (!w && clock->elapsed() < timeoutMs)
            return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        fn(w);
        if (auto* box = qobject_cast<QMessageBox*>(w))
            box->done(QMessageBox::Ok);
        else if (auto* dlg = qobject_cast<QDialog*>(w))
            dlg->done(QDialog::Accepted);
        else if (w)
            w->close();
    });
    timer->start();
}

QString messageBoxText(QWidget* w)
{
    auto* box = qobject_cast<QMessageBox*>(w);
    return box ? box->text() : QString();
}

QStringList toQt(const std::vector<std::string>& list)
{
    QStringList out;
    for (const std::string& s : list)
        out << QString::fromStdString(s);
    return out;
}

QByteArray floatBytes(float f)
{
    quint32 bits;
    std::memcpy(&bits, &f, 4);
    QByteArray out(4, '\0');
    qToLittleEndian(bits, out.data());
    return out;
}

bool readArray(QObject* window, ViSession vi, const QString& cmd, QVector<double>* arr)
{
    bool ok = false;
    if (!QMetaObject::invokeMethod(window, "ReadArray", Qt::DirectConnection, Q_RETURN_ARG(bool, ok),
                                   Q_ARG(ViSession, vi), Q_ARG(QString, cmd), Q_ARG(QVector<double>*, arr)))
        qFatal("ReadArray not invocable");
    return ok;
}

}  // namespace testsupport
