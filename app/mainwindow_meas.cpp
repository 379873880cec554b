// Start, the measurement series and the trace-file slots of the main window.
// The slots only gather the form's values, show the live series view and
// messages, and hand the work to the plain functions in series.h, delays.h,
// resultfiles.h and passrecord.h and to the instrument side in
// visaserieshost.h.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "delays.h"
#include "globals.h"
#include "graph.h"
#include "resultfiles.h"
#include "series.h"
#include "seriesview.h"
#include "visaserieshost.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace {

const QString kMeasTitle = QStringLiteral("Measurement");

// The window's series host adds the live view, alive between instrument
// calls.
class ViewHost : public measurement::VisaSeriesHost
{
public:
    ViewHost(const measurement::Sessions& s, bool visaOk, graph::SeriesView* v) : VisaSeriesHost(s, visaOk), m_v(v) {}

protected:
    bool proceed(const measurement::SeriesProgress& p, bool) override
    {
        m_v->setProgress(p.counted, p.totalRepeats, p.failed);
        QCoreApplication::processEvents();
        return !m_v->wasCanceled();
    }
    void passCounted(const measurement::PassRow& row, int pts) override
    {
        m_v->addPass(row.src2Rf, row.src2Hd, row.src2Snk, measurement::samplePeriodMs(g_osTyp, pts));
    }

private:
    graph::SeriesView* m_v;
};

}  // namespace

void MainWindow::on_Start_clicked()
{
    const QString refusal = measurement::countRefusal(ui->MeasCnt->text());
    if (!refusal.isEmpty()) {
        QMessageBox::warning(this, kMeasTitle, refusal);
        return;
    }
    Meas(&d1, &d2, &d3, &t);
    Graph dlg(nullptr);
    dlg.exec();
}

int MainWindow::Meas(QVector<double>* src, QVector<double>* rf, QVector<double>* snk, QVector<double>* axis)
{
    // Events are processed between instrument calls; nothing may start a
    // second series on top of a running one.
    static bool running = false;
    if (running)
        return -1;
    struct Running
    {
        Running() { running = true; }
        ~Running() { running = false; }
    } guard;

    const QString countText = ui->MeasCnt->text();
    const measurement::PassCount count = measurement::parsePassCount(countText);
    if (count.refused) {
        QMessageBox::warning(this, kMeasTitle, measurement::countRefusal(countText));
        return -1;
    }

    measurement::SeriesSettings s;
    s.passes = count.passes;
    s.osTyp = g_osTyp;
    s.rfFromScope = ui->SaIfDem->checkState() != Qt::Unchecked;
    s.hdmi = g_vaHdmi;
    // The live view is modal while the series runs and keeps the form
    // untouchable, so the options are read once here.
    s.saveData = ui->SaveData->isChecked();
    s.dataDir = dataDir;

    s.record.oscilloscope = osRsrc;
    s.record.spectrumAnalyzer = saRsrc;
    s.record.videoAnalyzer = vaRsrc;
    s.record.spectrumAnalyzerId = saIdn;
    s.record.triggerLevel = trgLvl;
    s.record.centreFrequency = ctrFrq;
    s.record.videoThreshold = vaThres;

    // The view outlives its series (the final statistics stay until the
    // operator closes it); the next series takes it over.
    auto* view = findChild<graph::SeriesView*>(QString(), Qt::FindDirectChildrenOnly);
    if (!view)
        view = new graph::SeriesView(this);
    view->begin(s.passes, s.hdmi);
    view->show();
    view->raise();
    QCoreApplication::processEvents();

    ViewHost host(measurement::Sessions{osHdl, saHdl, vaHdl}, visaOk, view);
    const measurement::SeriesTraces traces{src, rf, snk, axis, &pts, &tsrc, &trf, &tsnk};
    const measurement::SeriesResult r = measurement::runSeries(s, traces, host);
    const QString note = measurement::seriesMessage(r);
    view->end(note);

    src2RfMean = r.src2RfMean;
    src2HdMean = r.src2HdMean;
    src2SnkMean = r.src2SnkMean;

    if (!note.isEmpty()) {
        if (measurement::seriesWentWrong(r))
            QMessageBox::warning(this, kMeasTitle, note);
        else
            QMessageBox::information(this, kMeasTitle, note);
    }
    return r.returnCode;
}

void MainWindow::CalcDeltaT2(int count, QVector<double>* src, QVector<double>* rf, QVector<double>* snk,
                             QVector<double>* axis, double* Src2Rf, double* Src2Snk)
{
    static const QVector<double> none;
    const measurement::PassDelays r = measurement::computeDelays(g_osTyp, count, src ? *src : none, rf ? *rf : none,
                                                                 snk ? *snk : none, axis ? *axis : none);
    tsrc = r.tsrc;
    trf = r.trf;
    tsnk = r.tsnk;
    if (Src2Rf)
        *Src2Rf = r.src2Rf;
    if (Src2Snk)
        *Src2Snk = r.src2Snk;
}

int MainWindow::SaveBinFile(QString fnam, QVector<double> d, ViInt32 cnt)
{
    return measurement::writeTraceFile(fnam, d, cnt) ? 0 : -1;
}

int MainWindow::LoadBinFile(QString fnam, QVector<double>* d, ViInt32* cnt)
{
    if (!d || !cnt)
        return -1;
    int n = 0;
    switch (measurement::readTraceFile(fnam, d, &n)) {
    case measurement::LoadOutcome::Ok:
        *cnt = n;
        return 0;
    case measurement::LoadOutcome::CannotOpen:
        QMessageBox::warning(this, QStringLiteral("File Error"), QStringLiteral("File not found."), QMessageBox::Ok);
        break;
    case measurement::LoadOutcome::TooLarge:
        QMessageBox::warning(
            this, QStringLiteral("File Error"),
            QStringLiteral("File too large: a trace can hold at most %1 values.").arg(measurement::maxTraceValues()),
            QMessageBox::Ok);
        break;
    case measurement::LoadOutcome::ReadFailed:
        QMessageBox::warning(this, QStringLiteral("File Error"), QStringLiteral("File could not be read."),
                             QMessageBox::Ok);
        break;
    }
    return -1;
}
