#include "commandline.h"
#include "storedseries.h"
#include "viewerwindow.h"

#include <QApplication>
#include <QMessageBox>
#include <QTabWidget>
#include <QTextStream>

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
    view::WindowRequest request;
    QString error;
    if (!view::parseWindowArguments(app.arguments(), &request, &error)) {
        QTextStream(stderr) << "quarnel-view: " << error << " (--help lists the options)\n";
        return view::ExitUsage;
    }
    ViewerWindow w(view::programDataDir());
    w.setFamilyAnswer(request.family);
    w.show();
    if (request.path.isEmpty() || !w.openPath(request.path))
        w.openFolder(view::programDataDir());
    w.startWith(request.tab, request.reanalyse, request.pass);
    return app.exec();
}
