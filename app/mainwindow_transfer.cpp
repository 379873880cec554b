// The window's trace transfer slots; the transfer itself is in tracetransfer.h.
#include "mainwindow.h"

#include "tracetransfer.h"

bool MainWindow::ReadArray(ViSession hdl, QString cmd, QVector<double>* arr)
{
    if (!visaOk || !arr)
        return false;
    // Callers end the command with "\n".
    return queryTraceBlock(hdl, cmd.toLocal8Bit(), arr);
}

bool MainWindow::IntReadArray(ViSession hdl, QVector<double>* arr)
{
    if (!visaOk || !arr)
        return false;
    return readTraceBlock(hdl, arr);
}
