// The operator's answer to the modal window on top, shared by the in-process
// rig and the stand-in preloaded into the program: a message box is read and
// confirmed, the result dialog accepted. Returns the message box's text, or
// an empty string.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QMessageBox>

namespace faults {

inline QString answerModal(QWidget* w, int* graphs)
{
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
        const QString text = box->text();
        box->done(QMessageBox::Ok);
        return text;
    }
    if (w && w->inherits("Graph")) {
        ++*graphs;
        static_cast<QDialog*>(w)->done(QDialog::Accepted);
    }
    return QString();
}

}  // namespace faults
