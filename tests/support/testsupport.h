// Shared helpers for the Qt tests: a private data folder, modal-dialog
// handling and the paths of the recording VISA libraries.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <visa.h>

#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace testsupport {

// Points XDG_DATA_HOME (and HOME) at a fresh temporary folder and selects the
// offscreen platform. Call before constructing QApplication.
void isolateEnvironment();

// The recording VISA library (recvisa.h), or its variant lacking the named
// function: "viGpibControlREN", "viReadSTB" or "viOpen".
QString recVisaPath(const char* lacking = nullptr);

// Runs fn on the next modal dialog that appears (polling from the event
// loop), then closes it. Returns immediately; the check happens later.
void onNextModal(std::function<void(QWidget*)> fn, int timeoutMs = 10000);

// Text of the top-level QMessageBox, or empty.
QString messageBoxText(QWidget* w);

// A control of a form by object name; a missing one ends the test run.
template <typename T>
T* child(const QObject* form, const char* name)
{
    T* c = form->findChild<T*>(QLatin1String(name));
    if (!c)
        qFatal("no control %s", name);
    return c;
}

QStringList toQt(const std::vector<std::string>& list);

// One single-precision value as the instruments send it (little-endian).
QByteArray floatBytes(float f);

// MainWindow::ReadArray reached through the meta-object system.
bool readArray(QObject* window, ViSession vi, const QString& cmd, QVector<double>* arr);

}  // namespace testsupport
