// The three Init buttons: read the form, run the instrument's set-up
// sequence on its session, show "Ready" or "Init".
#include "mainwindow.h"

#include "fields.h"
#include "globals.h"
#include "instrumentinit.h"
#include "sequence.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QStatusBar>

namespace {

bool isChecked(const QCheckBox* box)
{
    return box->checkState() != Qt::Unchecked;
}

// Shows the outcome on the button; the readiness protocol knows only these two texts.
void showOutcome(QPushButton* button, bool ready)
{
    button->setText(ready ? QStringLiteral("Ready") : QStringLiteral("Init"));
}

// The number of a field, or a refusal naming it on the status bar: a value
// that is not a finite number never goes into a command.
bool readField(QStatusBar* bar, const QString& field, const QString& text, double* value)
{
    if (setup::parseSettingNumber(text, value))
        return true;
    bar->showMessage(setup::badFieldMessage(field, text));
    return false;
}

}  // namespace

void MainWindow::on_OsInit_clicked()
{
    ui->OsInit->setText(QStringLiteral("Init"));
    QCoreApplication::processEvents();
    if (!visaOk) {
        UndimStart();
        return;
    }

    ui->statusbar->clearMessage();
    if (!readField(ui->statusbar, QStringLiteral("Trigger Level"), ui->OsTrgLvl->text(), &trgLvl)) {
        UndimStart();
        return;
    }
    setup::OscilloscopeParams p;
    p.type = g_osTyp;
    p.reset = isChecked(ui->OsRst);
    p.ifDemod = isChecked(ui->SaIfDem);
    p.triggerLevel = trgLvl;

    const ViStatus st = setup::initInstrument(setup::oscilloscopeSequence(p), rm, ui->OsIp->text(), &osHdl).status;
    showOutcome(ui->OsInit, st == VI_SUCCESS);
    UndimStart();
}

void MainWindow::on_SaInit_clicked()
{
    ui->SaInit->setText(QStringLiteral("Init"));
    QCoreApplication::processEvents();
    if (!visaOk) {
        UndimStart();
        return;
    }

    ui->statusbar->clearMessage();
    if (!readField(ui->statusbar, QStringLiteral("Center Frequency"), ui->SaFrq->text(), &ctrFrq)) {
        UndimStart();
        return;
    }
    setup::AnalyzerParams p;
    p.oscilloscopeType = g_osTyp;
    // Reset like the other two instruments when its box is ticked.
    p.reset = isChecked(ui->SaRst);
    p.centreFrequency = ctrFrq;

    const ViStatus st = setup::initInstrument(setup::analyzerSequence(p), rm, ui->SaIp->text(), &saHdl).status;
    showOutcome(ui->SaInit, st == VI_SUCCESS);
    UndimStart();
}

void MainWindow::on_VaInit_clicked()
{
    ui->VaInit->setText(QStringLiteral("Init"));
    QCoreApplication::processEvents();
    if (!visaOk) {
        UndimStart();
        return;
    }

    ui->statusbar->clearMessage();
    setup::VideoParams p;
    if (!readField(ui->statusbar, QStringLiteral("Threshold"), ui->VaThres->text(), &p.threshold)) {
        UndimStart();
        return;
    }
    p.reset = isChecked(ui->VaRst);

    const ViStatus st = setup::initInstrument(setup::videoSequence(p), rm, ui->VaIp->text(), &vaHdl).status;
    showOutcome(ui->VaInit, st == VI_SUCCESS);
    UndimStart();
}
