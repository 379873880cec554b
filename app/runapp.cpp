#include "runapp.h"

#include "mainwindow.h"

#include <QApplication>

int runQuarnel(int argc, char** argv)
{
    QApplication a(argc, argv);
    // Declared after the application object, so destroyed (and the settings
    // saved) before it.
    MainWindow w;
    w.show();
    return a.exec();
}
