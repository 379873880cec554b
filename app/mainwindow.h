// The program's one window: owns the form, the VISA sessions and the settings
// path, and carries every operation of the program as a slot. The slot bodies
// are split by subsystem (mainwindow_setup.cpp, _meas.cpp, _transfer.cpp);
// the logic they wire up lives in plain functions of setup/, measurement/
// and visa/.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QVector>

#include <visa.h>

#include <limits>

class Ui_MainWindow;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow();

public slots:
    int LoadCfgFile(QString fnam);
    int SaveCfgFile(QString fnam);
    int SaveBinFile(QString fnam, QVector<double> d, ViInt32 cnt);
    int LoadBinFile(QString fnam, QVector<double>* d, ViInt32* cnt);

private slots:
    int Meas(QVector<double>* src, QVector<double>* rf, QVector<double>* snk, QVector<double>* axis);
    void CalcDeltaT2(int count, QVector<double>* src, QVector<double>* rf, QVector<double>* snk, QVector<double>* axis,
                     double* Src2Rf, double* Src2Snk);
    void on_VaHdmi_clicked(bool checked);
    void UndimStart();
    void on_OsInit_clicked();
    void on_SaInit_clicked();
    void on_VaInit_clicked();
    void on_Start_clicked();
    void on_OsTyp_currentIndexChanged(int index);
    bool ReadArray(ViSession hdl, QString cmd, QVector<double>* arr);
    bool IntReadArray(ViSession hdl, QVector<double>* arr);

private:
    double trgLvl = 0.0;
    double ctrFrq = 0.0;
    QString appName;
    QString cfgFile;
    Ui_MainWindow* ui = nullptr;
    ViSession rm = 0;
    // 0 until an Init opens them: viClose rejects 0 harmlessly.
    ViSession osHdl = 0;
    ViSession saHdl = 0;
    ViSession vaHdl = 0;
    bool visaOk = false;
    QString dataDir;
    // What the last Init of each instrument used and learned, for the header
    // of the per-pass record: the resource strings, the analyzer's
    // identification reply (the only Init that asks for one) and the video
    // threshold sent.
    QString osRsrc, saRsrc, vaRsrc;
    QString saIdn;
    double vaThres = std::numeric_limits<double>::quiet_NaN();  // no Init yet
};
