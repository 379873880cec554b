// The operator's answer to the modal window on top (for the rig and the
// preloaded stand-in): a message box's text, read and confirmed; the result
// dialog accepted.
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
