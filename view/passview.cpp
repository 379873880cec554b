#include "passview.h"

#include "plotnavigation.h"
#include "traceplot.h"
#include "ui_passview.h"

#include <QKeySequence>
#include <QShortcut>
#include <qwt_plot.h>
#include <qwt_plot_marker.h>
#include <qwt_text.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QString msText(double v)
{
    return std::isnan(v) ? QStringLiteral("missing") : QString::number(v, 'f', 3) + QStringLiteral(" ms");
}

// The 50 % rule's edge: a dotted grey line, labelled at the bottom, so that it
// never hides the program's own marker.
void addMidMarker(QwtPlot* plt, const QString& format, double edge)
{
    if (!std::isfinite(edge))
        return;
    auto* m = new QwtPlotMarker(QString());
    m->setLabel(QwtText(format.arg(QString::number(edge, 'g', 6))));
    m->setLabelAlignment(Qt::AlignRight | Qt::AlignBottom);
    m->setLabelOrientation(Qt::Vertical);
    m->setLineStyle(QwtPlotMarker::VLine);
    m->setLinePen(QPen(Qt::darkGray, 0.0, Qt::DotLine));
    m->setXValue(edge);
    m->attach(plt);
}

}  // namespace

PassView::PassView(QSharedPointer<const view::Series> series, QWidget* parent)
    : QWidget(parent, Qt::Window), m_series(std::move(series))
{
    ui = new Ui_PassView;
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    graph::setUpTraceAxes(ui->plt, m_series->osTyp);
    m_nav = new graph::PlotNavigation(ui->plt);

    const auto bind = [this](QKeySequence key, int by) {
        auto* s = new QShortcut(key, this);
        connect(s, &QShortcut::activated, this, [this, by] { step(by); });
    };
    bind(QKeySequence(Qt::Key_Left), -1);
    bind(QKeySequence(Qt::Key_PageUp), -1);
    bind(QKeySequence(Qt::Key_Right), +1);
    bind(QKeySequence(Qt::Key_PageDown), +1);
    auto* home = new QShortcut(QKeySequence(Qt::Key_Home), this);
    connect(home, &QShortcut::activated, this, [this] { m_nav->home(); });
}

PassView::~PassView()
{
    delete ui;
}

void PassView::step(int by)
{
    const int n = m_series->passCount();
    if (n == 0)
        return;
    const int next = std::max(0, std::min(n - 1, m_index + by));
    if (next != m_index)
        showIndex(next);
}

void PassView::showIndex(int index)
{
    const int n = m_series->passCount();
    if (n == 0)
        return;
    m_index = std::max(0, std::min(n - 1, index));
    // The curves share the trace vectors; they go first, so that the next
    // pass loads into the same storage instead of fresh copies.
    ui->plt->detachItems(QwtPlotItem::Rtti_PlotItem, true);
    m_shown = view::analysePass(*m_series, m_index, &m_work);
    fillPlot();
    fillLabels();
    emit passShown(m_index);
}

void PassView::fillPlot()
{
    const view::PassTraces& tr = m_work.traces;
    int pts = 0;
    for (const QVector<double>& d : tr.d)
        pts = std::max(pts, d.size());
    // analysePass builds the axis of the source trace; a pass without one
    // still shows the traces it has.
    if (m_work.tPts != pts || m_work.tOsTyp != m_series->osTyp) {
        measurement::buildTimeAxis(m_series->osTyp, pts, &m_work.t);
        m_work.tPts = pts;
        m_work.tOsTyp = m_series->osTyp;
    }
    const view::PassReanalysis& r = m_shown;
    QwtPlot* plt = ui->plt;
    graph::addTrace(plt, Qt::blue, m_work.t, tr.d[0], QStringLiteral("tsrc = %1 s"), r.programEdge(0));
    graph::addTrace(plt, Qt::yellow, m_work.t, tr.d[1], QStringLiteral("trf = %1 s"), r.programEdge(1));
    graph::addTrace(plt, Qt::red, m_work.t, tr.d[2], QStringLiteral("tsnk = %1 s"), r.programEdge(2));
    if (r.analysed && ui->midEdgesBox->isChecked()) {
        addMidMarker(plt, QStringLiteral("tsrc (50 %) = %1 s"), m_shown.mid.tsrc);
        addMidMarker(plt, QStringLiteral("trf (50 %) = %1 s"), m_shown.mid.trf);
        addMidMarker(plt, QStringLiteral("tsnk (50 %) = %1 s"), m_shown.mid.tsnk);
    }
    plt->replot();
}

void PassView::fillLabels()
{
    const view::Series& s = *m_series;
    const int pass = s.pass[m_index];
    QString head = QStringLiteral("Pass %1 of %2").arg(pass).arg(s.passCount());
    if (!s.times[m_index].isEmpty())
        head += QStringLiteral(" · ") + s.times[m_index];
    if (!s.outliers[m_index].isEmpty())
        head += QStringLiteral(" · outlier: ") + s.outliers[m_index];
    ui->passLabel->setText(head);
    setWindowTitle(QStringLiteral("Quarnel Pass %1 · %2").arg(pass).arg(s.entry.stamp));

    const view::PassReanalysis& r = m_shown;
    // HDMI has no trace: only its stored value exists.
    auto row = [](const QString& name, double rf, const QString& hd, double snk) {
        return QStringLiteral("<tr><td>%1</td><td align=right>%2</td><td align=right>%3</td>"
                              "<td align=right>%4</td></tr>")
            .arg(name, msText(rf), hd, msText(snk));
    };
    QString html = QStringLiteral("<table cellspacing=6><tr><th></th><th>Source -&gt; RF</th>"
                                  "<th>Source -&gt; HDMI</th><th>Source -&gt; Sink</th></tr>");
    html += row(QStringLiteral("stored"), r.stored[view::SrcRf], msText(r.stored[view::SrcHd]), r.stored[view::SrcSnk]);
    if (r.analysed) {
        const QString none = QStringLiteral("—");
        html += row(QStringLiteral("program's rules"), r.program.src2Rf, none, r.program.src2Snk);
        html += row(QStringLiteral("50 % rule"), r.mid.src2Rf, none, r.mid.src2Snk);
    }
    html += QStringLiteral("</table>");
    ui->delaysLabel->setText(html);

    QStringList notes = r.problems;
    if (!s.hasTraces(pass) && r.problems.isEmpty())
        notes << QStringLiteral("This pass has no trace files.");
    if (r.analysed && !r.reproduced)
        notes << QStringLiteral("The program's rules do not give the stored delays for this pass.");
    ui->problemsLabel->setText(notes.join(QLatin1Char('\n')));
    ui->problemsLabel->setStyleSheet(notes.isEmpty() ? QString() : QStringLiteral("color: darkred"));
}
