// The real program's entry: one window, closed with Cancel, destroyed (and
// its settings saved) while the application object still exists.
#include "mainwindow.h"
#include "runapp.h"
#include "testsupport.h"
#include "visabinding.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {
bool g_windowSeen = false;
bool g_appAliveAtWindowDeath = false;

// Polls: the start-up measures its windows first, processing events already.
void driveProgram()
{
    auto* poll = new QTimer(QCoreApplication::instance());
    QObject::connect(poll, &QTimer::timeout, [poll] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* mw = qobject_cast<MainWindow*>(w);
            if (!mw || !mw->isVisible())
                continue;
            poll->stop();
            g_windowSeen = true;
            QObject::connect(mw, &QObject::destroyed,
                             [] { g_appAliveAtWindowDeath = QCoreApplication::instance() != nullptr; });
            mw->findChild<QDialogButtonBox*>("Cancel")->button(QDialogButtonBox::Cancel)->click();
        }
    });
    poll->start(10);
}
}  // namespace

Q_COREAPP_STARTUP_FUNCTION(driveProgram)

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    setVisaCandidates({testsupport::recVisaPath()});
    const int rc = runQuarnel(argc, argv);
    const QString cfg = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + "/Tervane/tst_runapp/tst_runapp.cfg";
    const bool saved = QFile::exists(cfg);
    std::printf("exit %d, window shown %d, app alive at window death %d, settings saved %d\n", rc, g_windowSeen,
                g_appAliveAtWindowDeath, saved);
    return (rc == 0 && g_windowSeen && g_appAliveAtWindowDeath && saved) ? 0 : 1;
}
