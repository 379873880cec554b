// Start, the measurement series and the trace-file slots of the main window.
// The slots only gather the form's values, show progress and messages, and
// hand the work to the plain functions in series.h, delays.h and
// resultfiles.h and to the instrument side in visaserieshost.h.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "delays.h"
#include "globals.h"
#include "graph.h"
#include "resultfiles.h"
#include "series.h"
#include "visaserieshost.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QProgressDialog>

namespace {

QString progressText(const measurement::SeriesProgress& p)
{
    QString s = QStringLiteral("Passes counted: %1 of %2").arg(p.counted).arg(p.passes);
    if (p.totalRepeats > 0 || p.failed > 0)
        s += QStringLiteral("\nStart-level repeats: %1, failed acquisitions: %2 (%3 in a row, at most %4)")
                 .arg(p.totalRepeats)
                 .arg(p.failed)
                 .arg(p.repeats)
                 .arg(measurement::kMaxStartRepeats);
    return s;
}

const QString kMeasTitle = QStringLiteral("Measurement");

}  // namespace

void MainWindow::on_Start_clicked()
{
    const QString countText = ui->MeasCnt->text();
    if (measurement::parsePassCount(countText).refused) {
        QMessageBox::warning(this, kMeasTitle, measurement::refusedCountMessage(countText));
        return;
    }
    Meas(&d1, &d2, &d3, &t);
    Graph dlg(nullptr);
    dlg.exec();
}

int MainWindow::Meas(QVector<double>* d1, QVector<double>* d2, QVector<double>* d3, QVector<double>* t)
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
        QMessageBox::warning(this, kMeasTitle, measurement::refusedCountMessage(countText));
        return -1;
    }

    measurement::SeriesSettings s;
    s.passes = count.passes;
    s.osTyp = g_osTyp;
    s.rfFromScope = ui->SaIfDem->checkState() != Qt::Unchecked;
    s.hdmi = g_vaHdmi;
    // The modal progress display keeps the form untouchable during the
    // series, so the options are read once here.
    s.saveData = ui->SaveData->isChecked();
    s.dataDir = dataDir;

    QProgressDialog progress(this);
    progress.setWindowTitle(kMeasTitle);
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(0);
    progress.setRange(0, qMax(1, s.passes));
    progress.setValue(0);
    measurement::SeriesProgress start;
    start.passes = s.passes;
    progress.setLabelText(progressText(start));
    progress.show();
    QCoreApplication::processEvents();

    // The window adds only the progress display, alive between instrument calls.
    class Host : public measurement::VisaSeriesHost
    {
    public:
        Host(const measurement::Sessions& s, bool visaOk, QProgressDialog* p)
            : VisaSeriesHost(s, visaOk), m_p(p)
        {
        }

    protected:
        bool proceed(const measurement::SeriesProgress& p, bool changed) override
        {
            if (changed) {
                m_p->setLabelText(progressText(p));
                m_p->setValue(p.counted);
            }
            QCoreApplication::processEvents();
            return !m_p->wasCanceled();
        }

    private:
        QProgressDialog* m_p;
    };

    measurement::Sessions sessions;
    sessions.oscilloscope = osHdl;
    sessions.spectrumAnalyzer = saHdl;
    sessions.videoAnalyzer = vaHdl;
    Host host(sessions, visaOk, &progress);
    measurement::SeriesTraces traces;
    traces.d1 = d1;
    traces.d2 = d2;
    traces.d3 = d3;
    traces.t = t;
    traces.pts = &::pts;
    traces.tsrc = &::tsrc;
    traces.trf = &::trf;
    traces.tsnk = &::tsnk;
    const measurement::SeriesResult r = measurement::runSeries(s, traces, host);
    progress.hide();

    src2RfMean = r.src2RfMean;
    src2HdMean = r.src2HdMean;
    src2SnkMean = r.src2SnkMean;

    const QString note = measurement::seriesMessage(r);
    if (!note.isEmpty()) {
        const bool trouble = r.end == measurement::SeriesEnd::Aborted || r.failedAcquisitions > 0 || r.resultsFailed
                          || r.traceFilesFailed > 0;
        if (trouble)
            QMessageBox::warning(this, kMeasTitle, note);
        else
            QMessageBox::information(this, kMeasTitle, note);
    }
    return r.returnCode;
}

void MainWindow::CalcDeltaT2(int pts, QVector<double>* d1, QVector<double>* d2, QVector<double>* d3,
                             QVector<double>* t, double* Src2Rf, double* Src2Snk)
{
    static const QVector<double> none;
    const measurement::PassDelays r = measurement::computeDelays(
        g_osTyp, pts, d1 ? *d1 : none, d2 ? *d2 : none, d3 ? *d3 : none, t ? *t : none);
    ::tsrc = r.tsrc;
    ::trf = r.trf;
    ::tsnk = r.tsnk;
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
        QMessageBox::warning(this, QStringLiteral("File Error"),
                             QStringLiteral("File too large: a trace can hold at most %1 values.")
                                 .arg(measurement::maxTraceValues()),
                             QMessageBox::Ok);
        break;
    case measurement::LoadOutcome::ReadFailed:
        QMessageBox::warning(this, QStringLiteral("File Error"), QStringLiteral("File could not be read."),
                             QMessageBox::Ok);
        break;
    }
    return -1;
}
