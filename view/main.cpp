#include "commandline.h"
#include "series.h"
#include "viewerwindow.h"

#include <QApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (view::isCommandLineRun(args)) {
        // No display needed, none opened.
        QCoreApplication app(argc, argv);
        app.setApplicationVersion(QStringLiteral(QUARNEL_VERSION));
        QTextStream out(stdout);
        QTextStream err(stderr);
        return view::runCommandLine(app.arguments(), out, err, view::programDataDir());
    }
    QApplication app(argc, argv);
    app.setApplicationVersion(QStringLiteral(QUARNEL_VERSION));
    ViewerWindow w(view::programDataDir());
    const QStringList rest = app.arguments().mid(1);
    if (rest.isEmpty() || !w.openPath(rest.first()))
        w.openFolder(view::programDataDir());
    w.show();
    return app.exec();
}
