#include "testsupport.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <cstdlib>

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
    QFile::setPermissions(home.path() + QStringLiteral("/run"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (qEnvironmentVariableIsEmpty("QUARNEL_TEST_REAL_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

QString fakeVisaPath(const QString& variant)
{
    return QStringLiteral(QUARNEL_TEST_LIBDIR "/libfakevisa_") + variant + QStringLiteral(".so");
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

}  // namespace testsupport
