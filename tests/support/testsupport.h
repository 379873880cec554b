// Shared helpers for the Qt tests: a private data folder, modal-dialog
// handling and the paths of the test VISA libraries.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace testsupport {

// Points XDG_DATA_HOME (and HOME) at a fresh temporary folder and selects the
// offscreen platform. Call before constructing QApplication.
void isolateEnvironment();

// Folder of the test VISA libraries built next to the test executables.
QString fakeVisaPath(const QString& variant = QStringLiteral("full"));

// Runs fn on the next modal dialog that appears (polling from the event
// loop), then closes it. Returns immediately; the check happens later.
void onNextModal(std::function<void(QWidget*)> fn, int timeoutMs = 10000);

// Text of the top-level QMessageBox, or empty.
QString messageBoxText(QWidget* w);

}  // namespace testsupport
