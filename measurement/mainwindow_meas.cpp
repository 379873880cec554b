// Start, the measurement series and the trace-file slots of the main window.
// The slots only gather the form's values, show progress and messages, and
// hand the work to the plain functions in series.h, delays.h and
// resultfiles.h.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "delays.h"
#include "globals.h"
#include "graph.h"
#include "resultfiles.h"
#include "series.h"
#include "tracetransfer.h"
#include "visabinding.h"
#include "visaquery.h"

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
    using measurement::Instrument;

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

    // The window's side of the series: VISA calls on the Init sessions, the
    // delay slot, and the progress display between instrument calls.
    class Host : public measurement::SeriesHost
    {
    public:
        Host(MainWindow* w, QProgressDialog* p)
            : m_w(w), m_p(p)
        {
        }
        measurement::CallResult command(Instrument to, const QString& cmd) override
        {
            QString reply;
            return outcome(to, VisaQuery(session(to), cmd, &reply));
        }
        measurement::CallResult queryInt(Instrument to, const QString& query, int* value) override
        {
            return outcome(to, VisaQueryInt(session(to), query, value));
        }
        measurement::CallResult queryDouble(Instrument to, const QString& query, double* value) override
        {
            return outcome(to, VisaQueryDouble(session(to), query, value));
        }
        measurement::CallResult readTrace(Instrument from, const QString& query, QVector<double>* arr) override
        {
            if (!m_w->visaOk)
                return measurement::CallResult::failure(QStringLiteral("no VISA library"));
            QString why;
            // A misbehaving instrument is waited out between the reads, with
            // the progress display (and its Cancel) alive.
            const bool ok = queryTraceBlock(session(from), query.toLocal8Bit(), arr, &why,
                                            [this] { return checkpoint(m_last); });
            return ok ? measurement::CallResult::success() : measurement::CallResult::failure(why);
        }
        bool checkpoint(const measurement::SeriesProgress& p) override
        {
            if (p.counted != m_last.counted || p.totalRepeats != m_last.totalRepeats || p.repeats != m_last.repeats
                || p.failed != m_last.failed || p.passes != m_last.passes) {
                m_last = p;
                m_p->setLabelText(progressText(p));
                m_p->setValue(p.counted);
            }
            QCoreApplication::processEvents();
            return !m_p->wasCanceled();
        }

    private:
        ViSession session(Instrument i) const
        {
            return i == Instrument::Oscilloscope ? m_w->osHdl
                 : i == Instrument::SpectrumAnalyzer ? m_w->saHdl
                                                     : m_w->vaHdl;
        }
        measurement::CallResult outcome(Instrument i, ViStatus st) const
        {
            if (st == VI_SUCCESS)
                return measurement::CallResult::success();
            return measurement::CallResult::failure(visaStatusText(session(i), st));
        }
        MainWindow* m_w;
        QProgressDialog* m_p;
        measurement::SeriesProgress m_last;
    };

    Host host(this, &progress);
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
