#include "graph.h"

#include "edgemarker.h"
#include "globals.h"
#include "graphutil.h"
#include "plotnavigation.h"
#include "tracecurve.h"
#include "ui_graph.h"

#include <QBrush>
#include <QCoreApplication>
#include <QPen>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_scale_engine.h>
#include <qwt_text.h>

#include <cmath>

namespace {

// One trace: its curve, then its edge marker, attached in that order.
QwtPlotCurve* addTrace(QwtPlot* plt, Qt::GlobalColor colour, const QVector<double>& y,
                       const QString& labelFormat, double edge)
{
    // A column-reducing curve: a trace of millions of samples draws as fast
    // as a short one and looks the same.
    QwtPlotCurve* curve = new graph::TraceCurve(QString());
    curve->setPen(colour, 0.0, Qt::SolidLine);
    curve->attach(plt);
    curve->setSamples(t, y);  // own (implicitly shared) copies of the vectors

    auto* marker = new graph::EdgeMarker(QString());
    marker->setLabel(QwtText(graph::markerLabel(labelFormat, edge), QwtText::AutoText));
    marker->setLabelAlignment(Qt::AlignLeft | Qt::AlignTop);
    marker->setLabelOrientation(Qt::Vertical);
    marker->setLineStyle(QwtPlotMarker::VLine);
    marker->setLinePen(QPen(QBrush(Qt::black, Qt::SolidPattern), 0.0, Qt::DashDotLine,
                            Qt::SquareCap, Qt::BevelJoin));
    marker->setXValue(edge);
    // No edge found: there is no place to mark, and a NaN would land on some
    // arbitrary pixel. An infinite time is off the plot either way.
    if (!std::isfinite(edge))
        marker->setVisible(false);
    marker->attach(plt);
    return curve;
}

}  // namespace

Graph::Graph(QWidget* parent) : QDialog(parent)
{
    ui = new Ui_Graph;
    ui->setupUi(this);
    // The controls sit at fixed places: a larger dialog is only grey.
    setFixedSize(size());

    QwtPlot* plt = ui->plt;
    const graph::TimeWindow window = graph::timeWindow(g_osTyp);
    plt->setAxisScale(QwtPlot::xBottom, window.lo, window.hi, 0.0);
    plt->setAxisScaleEngine(QwtPlot::xBottom, new QwtLinearScaleEngine(10));
    plt->setAxisTitle(QwtPlot::xBottom, QStringLiteral("Time / s"));
    plt->setAxisAutoScale(QwtPlot::yLeft, true);
    plt->setAxisTitle(QwtPlot::yLeft, QStringLiteral("Voltage / V"));

    curve1 = addTrace(plt, Qt::blue, d1, QStringLiteral("tsrc = %1 s"), tsrc);
    curve2 = addTrace(plt, Qt::yellow, d2, QStringLiteral("trf = %1 s"), trf);
    curve3 = addTrace(plt, Qt::red, d3, QStringLiteral("tsnk = %1 s"), tsnk);
    // Zoom and pan; the plot as set up above is where Home returns.
    new graph::PlotNavigation(plt);

    graph::showMean(ui->Src2Rf, src2RfMean);
    ui->Src2Hd->setEnabled(g_vaHdmi);
    graph::showMean(ui->Src2Hd, src2HdMean);
    graph::showMean(ui->Src2Snk, src2SnkMean);

    // Clicks queued while the series kept the GUI busy are handled now,
    // before the dialog's own event loop starts.
    plt->repaint();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

Graph::~Graph()
{
    delete ui;
}
