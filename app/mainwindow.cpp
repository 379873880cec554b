// MainWindow: start-up, shut-down, settings and the form's own slots.
#include "mainwindow.h"

#include "globals.h"
#include "instrumentinit.h"
#include "paths.h"
#include "settings.h"
#include "ui_mainwindow.h"
#include "visabinding.h"

#include <QCoreApplication>
#include <QDir>
#include <QDoubleValidator>
#include <QMessageBox>
#include <QRegularExpressionValidator>
#include <QStandardPaths>

namespace {

// The controls that only matter with the HDMI measurement on.
void enableVaControls(Ui_MainWindow* ui, bool on)
{
    ui->VaInit->setEnabled(on);
    ui->VaIp->setEnabled(on);
    ui->VaRst->setEnabled(on);
    ui->VaThres->setEnabled(on);
    ui->VaThresLbl->setEnabled(on);
}

// Only what can become a number can be typed; the fields are read with the C
// locale, so the validators use it too (no decimal comma, no grouping).
void setValidators(Ui_MainWindow* ui, QObject* owner)
{
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    for (QLineEdit* e : {ui->OsTrgLvl, ui->SaFrq, ui->VaThres}) {
        auto* v = new QDoubleValidator(owner);
        v->setNotation(QDoubleValidator::ScientificNotation);
        v->setLocale(c);
        e->setValidator(v);
    }
    // Digits only; a count above the maximum is still refused with its reason.
    ui->MeasCnt->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,9}")), owner));
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    ui = new Ui_MainWindow;
    ui->setupUi(this);
    // The controls sit at fixed places: a larger window is only grey.
    setFixedSize(size());
    setValidators(ui, this);

    visaOk = LoadVisa();
    if (!visaOk) {
        const QString tried = QStringLiteral("Tried, in this order:\n") + visaLoadReport().join(QLatin1Char('\n'));
        for (QPushButton* b : {ui->OsInit, ui->SaInit, ui->VaInit})
            b->setToolTip(QStringLiteral("No VISA library is loaded, so no Init can run.\n") + tried);
        QMessageBox::information(this, QStringLiteral("VISA Error"),
                                 QStringLiteral("The VISA Library could not be loaded.\n\n") + tried, QMessageBox::Ok,
                                 QMessageBox::NoButton);
        close();
    } else if (VisaOpenDefaultRM(&rm) != VI_SUCCESS) {
        // Without a library there is no resource manager to miss: one message is enough.
        QMessageBox::information(this, QStringLiteral("VISA Error"),
                                 QStringLiteral("VISA master handle not available."), QMessageBox::Ok,
                                 QMessageBox::NoButton);
        close();
    }

    setWindowTitle(QStringLiteral("Quarnel64"));

    appName = appNameFromPath(QCoreApplication::applicationFilePath());
    dataDir = dataDirFromLocation(QStandardPaths::writableLocation(QStandardPaths::DataLocation));
    // With all missing parents: a first run must not lose its result files.
    QDir().mkpath(dataDir);
    cfgFile = cfgFilePath(dataDir, appName);

    LoadCfgFile(cfgFile);

    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
}

MainWindow::~MainWindow()
{
    if (visaOk) {
        VisaClose(osHdl);
        VisaClose(saHdl);
        if (ui->VaHdmi->checkState() != Qt::Unchecked)
            VisaClose(vaHdl);
    }
    SaveCfgFile(cfgFile);
    delete ui;
}

int MainWindow::LoadCfgFile(QString fnam)
{
    const CfgValues v = readCfg(fnam);
    ui->OsIp->setText(v.osIp);
    ui->OsRst->setChecked(v.osRst);
    ui->OsTyp->setCurrentIndex(v.osTyp);
    g_osTyp = ui->OsTyp->currentIndex();
    ui->OsTrgLvl->setText(formatNumber(v.trgLvl));
    ui->SaIp->setText(v.saIp);
    ui->SaRst->setChecked(v.saRst);
    ui->SaFrq->setText(formatNumber(v.saFrq));
    ui->SaIfDem->setChecked(v.saIfDem);
    ui->VaIp->setText(v.vaIp);
    ui->VaRst->setChecked(v.vaRst);
    ui->VaThres->setText(formatNumber(v.vaThres));
    g_vaHdmi = v.vaHdmi;
    ui->SaveData->setChecked(v.saveData);

    ui->VaHdmi->setChecked(g_vaHdmi);
    enableVaControls(ui, g_vaHdmi);
    return 0;
}

int MainWindow::SaveCfgFile(QString fnam)
{
    CfgSaveValues v;
    v.osIp = ui->OsIp->text();
    v.osRst = ui->OsRst->checkState();
    v.osTyp = g_osTyp;
    v.trgLvl = ui->OsTrgLvl->text().toDouble();
    v.saIp = ui->SaIp->text();
    v.saRst = ui->SaRst->checkState();
    v.saFrq = ui->SaFrq->text().toDouble();
    v.saIfDem = ui->SaIfDem->checkState();
    v.vaIp = ui->VaIp->text();
    v.vaRst = ui->VaRst->checkState();
    v.vaThres = ui->VaThres->text().toDouble();
    v.vaHdmi = g_vaHdmi;
    v.saveData = ui->SaveData->checkState();
    writeCfg(fnam, v);
    return 0;
}

void MainWindow::on_VaHdmi_clicked(bool checked)
{
    enableVaControls(ui, checked);
    g_vaHdmi = checked;
}

void MainWindow::UndimStart()
{
    const QString ready = QLatin1String(setup::kReadyText);
    bool on = ui->OsInit->text() == ready && ui->SaInit->text() == ready;
    if (g_vaHdmi)
        on = on && ui->VaInit->text() == ready;
    ui->Start->setEnabled(on);
}

void MainWindow::on_OsTyp_currentIndexChanged(int index)
{
    g_osTyp = index;
}
