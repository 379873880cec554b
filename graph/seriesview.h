// The live view of a measurement series: passes counted, time, and for each
// delay its statistics, histogram and values against pass number. It
// replaces a plain progress window: Cancel (or Escape, or closing it) stops
// the series; after the series it keeps the final statistics until the
// operator closes it.
//
// The series runs on the GUI thread and processes events only between
// instrument calls, so the view draws only when told to: statistics are
// updated with every pass, texts at most every kTextMs, plots and table at
// most every kRedrawMs, and never more often than keeps drawing below a
// twentieth of the time.
#pragma once

#include "statistics.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QVector>

class QwtPlot;
class QwtPlotCurve;
class QwtPlotHistogram;
class QwtPlotMarker;
class Ui_SeriesView;

namespace graph {

class SeriesView : public QDialog
{
    Q_OBJECT
    Q_PROPERTY(double drawingMs READ drawingMs)

public:
    static constexpr int kRedrawMs = 250;
    static constexpr int kTextMs = 100;  // pass count and times: faster is unreadable
    static constexpr int kHistogramBins = 60;
    enum Delay { SourceRf, SourceHdmi, SourceSink, DelayCount };

    explicit SeriesView(QWidget* parent = nullptr);
    ~SeriesView() override;

    // A new series of `passes` passes, the HDMI delay measured or not. Clears
    // the view, starts its clock and makes it modal until end(); the caller
    // shows it.
    void begin(int passes, bool hdmi);
    // The delays of a counted pass (not-a-number: no value) and the sample
    // period of its traces in ms (the histograms' narrowest bin).
    void addPass(double src2Rf, double src2Hd, double src2Snk, double samplePeriodMs);
    // Progress so far; texts follow at once, table and plots when due.
    void setProgress(int counted, int startRepeats, int failedAcquisitions);
    // The series is over: the final statistics, the outcome (may be empty),
    // Close instead of Cancel, and no longer modal.
    void end(const QString& outcome);

    bool wasCanceled() const { return m_canceled; }
    const measurement::DelayStats& stats(Delay d) const { return m_delays[d].stats; }
    // Time spent drawing table and plots since begin(), ms.
    double drawingMs() const { return m_drawNs / 1e6; }

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    struct DelayView
    {
        measurement::DelayStats stats;
        QwtPlot* histPlot = nullptr;
        QwtPlot* passPlot = nullptr;
        QwtPlotHistogram* bars = nullptr;
        QwtPlotCurve* curve = nullptr;
        QwtPlotMarker* lo = nullptr;
        QwtPlotMarker* hi = nullptr;
    };

    void redraw();
    void drawDelay(int d);
    void showTexts();

    Ui_SeriesView* ui = nullptr;
    DelayView m_delays[DelayCount];
    QVector<double> m_passNumbers;  // x of the values plots: 1 .. counted
    double m_samplePeriodMs = 0.0;
    int m_passes = 0;
    int m_counted = 0;
    int m_startRepeats = 0;
    int m_failed = 0;
    bool m_hdmi = false;
    bool m_running = false;
    bool m_canceled = false;
    bool m_dirty = false;
    QElapsedTimer m_clock;     // since begin()
    qint64 m_endedMs = -1;     // elapsed at end()
    qint64 m_lastDrawMs = -1;  // clock time of the last redraw
    qint64 m_lastTextMs = 0;   // ... and of the last text update
    qint64 m_lastDrawCostNs = 0;
    qint64 m_drawNs = 0;
};

}  // namespace graph
