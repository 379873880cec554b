#include "runner.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(QUARNEL_VERSION));
    run::RunOptions o;
    QString error;
    if (!run::parseRunArguments(app.arguments().mid(1), &o, &error)) {
        std::fprintf(stderr, "quarnel-run: %s\nTry 'quarnel-run --help'.\n", qUtf8Printable(error));
        return run::ExitUsage;
    }
    if (o.help) {
        std::fputs(qUtf8Printable(run::runHelpText()), stdout);
        return run::ExitSuccess;
    }
    run::installCancelHandlers();
    return run::runUnattended(o);
}
