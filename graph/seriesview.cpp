#include "seriesview.h"

#include "seriesviewtext.h"
#include "tracecurve.h"
#include "ui_seriesview.h"

#include <QCloseEvent>
#include <QPushButton>
#include <qwt_plot.h>
#include <qwt_plot_histogram.h>
#include <qwt_plot_marker.h>
#include <qwt_samples.h>
#include <qwt_text.h>

#include <algorithm>
#include <cmath>

namespace graph {

namespace {

const char* const kTitles[SeriesView::DelayCount] = {"Source \u2192 RF (ms)", "Source \u2192 HDMI",
                                                     "Source \u2192 Sink (ms)"};
const Qt::GlobalColor kColours[SeriesView::DelayCount] = {Qt::darkYellow, Qt::darkGreen, Qt::red};

// Drawing may take at most this share of the time between two redraws.
constexpr qint64 kDrawShareDivisor = 20;

void smallTitle(QwtPlot* plot, const QString& text)
{
    QwtText t(text);
    QFont f = plot->font();
    f.setPointSizeF(f.pointSizeF() * 0.9);
    f.setBold(true);
    t.setFont(f);
    plot->setTitle(t);
    for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft}) {
        QFont af = plot->axisFont(axis);
        af.setPointSizeF(af.pointSizeF() * 0.85);
        plot->setAxisFont(axis, af);
    }
}

QwtPlotMarker* limitMarker(QwtPlot* plot)
{
    auto* m = new QwtPlotMarker;
    m->setLineStyle(QwtPlotMarker::HLine);
    m->setLinePen(QPen(Qt::gray, 0.0, Qt::DashLine));
    m->setVisible(false);
    m->attach(plot);
    return m;
}

}  // namespace

SeriesView::SeriesView(QWidget* parent) : QDialog(parent)
{
    ui = new Ui_SeriesView;
    ui->setupUi(this);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &SeriesView::reject);
    // Three rows, all of them always in view.
    ui->stats->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    QHeaderView* rows = ui->stats->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(fontMetrics().height() + 6);
    ui->stats->setFixedHeight(ui->stats->horizontalHeader()->sizeHint().height()
                              + DelayCount * rows->defaultSectionSize() + 2 * ui->stats->frameWidth());

    QwtPlot* hist[] = {ui->histRf, ui->histHd, ui->histSnk};
    QwtPlot* pass[] = {ui->passRf, ui->passHd, ui->passSnk};
    for (int d = 0; d < DelayCount; ++d) {
        DelayView& v = m_delays[d];
        v.histPlot = hist[d];
        v.passPlot = pass[d];
        smallTitle(v.histPlot, QString::fromUtf8(kTitles[d]) + QStringLiteral(": histogram"));
        smallTitle(v.passPlot, QString::fromUtf8(kTitles[d]) + QStringLiteral(" by pass"));
        v.histPlot->setAutoReplot(false);
        v.passPlot->setAutoReplot(false);

        v.bars = new QwtPlotHistogram;
        v.bars->setStyle(QwtPlotHistogram::Columns);
        v.bars->setPen(QPen(kColours[d], 0.0));
        v.bars->setBrush(QColor(kColours[d]).lighter(150));
        v.bars->attach(v.histPlot);

        // Column-reduced: 100,000 passes draw as fast as a few hundred.
        v.curve = new TraceCurve;
        v.curve->setPen(kColours[d], 0.0, Qt::SolidLine);
        v.curve->attach(v.passPlot);
        v.lo = limitMarker(v.passPlot);
        v.hi = limitMarker(v.passPlot);
    }
    begin(0, false);
}

SeriesView::~SeriesView()
{
    delete ui;
}

void SeriesView::begin(int passes, bool hdmi)
{
    m_passes = std::max(0, passes);
    m_hdmi = hdmi;
    m_counted = m_startRepeats = m_failed = 0;
    m_samplePeriodMs = 0.0;
    m_running = true;
    m_canceled = false;
    m_dirty = true;
    m_endedMs = m_lastDrawMs = -1;
    m_lastTextMs = -kTextMs;
    m_lastDrawCostNs = m_drawNs = 0;
    m_passNumbers.clear();
    m_passNumbers.reserve(m_passes);
    for (DelayView& v : m_delays) {
        v.stats.clear();
        v.stats.reserve(m_passes);
    }
    ui->histHd->setVisible(hdmi);
    ui->passHd->setVisible(hdmi);
    ui->outcome->clear();
    ui->outcome->setVisible(false);
    ui->buttonBox->setStandardButtons(QDialogButtonBox::Cancel);
    ui->progress->setRange(0, std::max(1, m_passes));
    // Modality can change only while hidden: a view still showing the last
    // series goes away for a moment.
    if (windowModality() != Qt::ApplicationModal) {
        hide();
        setWindowModality(Qt::ApplicationModal);
    }
    m_clock.start();
    redraw();
    m_lastDrawMs = -1;  // the first pass shows at once
}

void SeriesView::addPass(double src2Rf, double src2Hd, double src2Snk, double samplePeriodMs)
{
    m_delays[SourceRf].stats.add(src2Rf);
    m_delays[SourceHdmi].stats.add(src2Hd);
    m_delays[SourceSink].stats.add(src2Snk);
    m_passNumbers.append(m_passNumbers.size() + 1);
    if (samplePeriodMs > 0.0 && std::isfinite(samplePeriodMs))
        m_samplePeriodMs = samplePeriodMs;
    m_dirty = true;
}

void SeriesView::setProgress(int counted, int startRepeats, int failedAcquisitions)
{
    m_counted = counted;
    m_startRepeats = startRepeats;
    m_failed = failedAcquisitions;
    const qint64 now = m_clock.elapsed();
    if (now - m_lastTextMs >= kTextMs)
        showTexts();
    if (!m_dirty)
        return;
    // Due after kRedrawMs, or later when the last drawing was expensive.
    const qint64 wait = std::max<qint64>(kRedrawMs, m_lastDrawCostNs * kDrawShareDivisor / 1000000);
    if (m_lastDrawMs < 0 || now - m_lastDrawMs >= wait)
        redraw();
}

void SeriesView::end(const QString& outcome)
{
    m_running = false;
    m_endedMs = m_clock.elapsed();
    ui->outcome->setText(outcome);
    ui->outcome->setVisible(!outcome.isEmpty());
    ui->buttonBox->setStandardButtons(QDialogButtonBox::Close);
    redraw();
    // Modality can change only while hidden; the view then stays beside the
    // result dialog and the main window for as long as the operator likes.
    if (isVisible() && windowModality() != Qt::NonModal) {
        const QRect where = geometry();
        hide();
        setWindowModality(Qt::NonModal);
        setGeometry(where);
        show();
    } else {
        setWindowModality(Qt::NonModal);
    }
}

void SeriesView::reject()
{
    if (m_running) {
        // Like a progress window's Cancel: the series stops at its next
        // checkpoint and then calls end().
        m_canceled = true;
        if (QPushButton* b = ui->buttonBox->button(QDialogButtonBox::Cancel))
            b->setEnabled(false);
        return;
    }
    QDialog::reject();
}

void SeriesView::closeEvent(QCloseEvent* e)
{
    if (m_running) {
        reject();
        e->ignore();
        return;
    }
    QDialog::closeEvent(e);
}

void SeriesView::showTexts()
{
    m_lastTextMs = m_clock.elapsed();
    const qint64 elapsed = m_endedMs >= 0 ? m_endedMs : m_lastTextMs;
    ui->passes->setText(passesText(m_counted, m_passes));
    ui->progress->setValue(std::min(m_counted, std::max(1, m_passes)));
    ui->time->setText(timeText(elapsed, m_counted, m_passes));
    const QString repeats = repeatsText(m_startRepeats, m_failed);
    ui->repeats->setText(repeats);
    ui->repeats->setVisible(!repeats.isEmpty());
}

void SeriesView::redraw()
{
    QElapsedTimer cost;
    cost.start();
    showTexts();
    for (int d = 0; d < DelayCount; ++d)
        drawDelay(d);
    m_dirty = false;
    m_lastDrawMs = m_clock.elapsed();
    m_lastDrawCostNs = cost.nsecsElapsed();
    m_drawNs += m_lastDrawCostNs;
}

void SeriesView::drawDelay(int d)
{
    DelayView& v = m_delays[d];
    const bool measured = d != SourceHdmi || m_hdmi;
    const measurement::OutlierLimits limits = measurement::outlierLimits(v.stats.sorted(), m_samplePeriodMs);
    const QStringList texts = measured ? statRow(v.stats.summary(), outlierCount(v.stats.sorted(), limits))
                                       : QStringList{QStringLiteral("off")};
    for (int col = 0; col < ColCount; ++col) {
        const QString text = col < texts.size() ? texts[col] : QString();
        QTableWidgetItem* item = ui->stats->item(d, col);
        if (!item) {
            item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            ui->stats->setItem(d, col, item);
        }
        if (item->text() != text)
            item->setText(text);
    }
    if (!measured || !isVisible())
        return;  // nothing to see; the end of the series draws again

    // Rice's rule, 2 x cube root of n bins: a few passes do not scatter over
    // mostly empty bins.
    const int maxBins = std::min(kHistogramBins, static_cast<int>(std::ceil(2.0 * std::cbrt(v.stats.count()))));
    const measurement::Histogram h = measurement::histogramOfSorted(v.stats.sorted(), m_samplePeriodMs, maxBins);
    QVector<QwtIntervalSample> bins;
    bins.reserve(h.counts.size());
    for (int i = 0; i < h.counts.size(); ++i)
        bins.append(QwtIntervalSample(h.counts[i], h.start + i * h.width, h.start + (i + 1) * h.width));
    v.bars->setSamples(bins);
    v.histPlot->replot();

    // Shares the vectors (implicitly): no copy until the next pass arrives.
    v.curve->setSamples(m_passNumbers, v.stats.values());
    const bool limitsShown = !std::isnan(limits.lo);
    v.lo->setYValue(limits.lo);
    v.hi->setYValue(limits.hi);
    v.lo->setVisible(limitsShown);
    v.hi->setVisible(limitsShown);
    v.passPlot->replot();
}

}  // namespace graph
