#include "runapp.h"

#include "mainwindow.h"
#include "uifont.h"

#include <QApplication>

int runQuarnel(int argc, char** argv)
{
    QApplication a(argc, argv);
    chooseUiFont();
    // Declared after the application object, so destroyed (and the settings
    // saved) before it.
    MainWindow w;
    w.show();
    return a.exec();
}
