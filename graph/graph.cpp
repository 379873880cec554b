#include "graph.h"

#include "globals.h"
#include "graphutil.h"
#include "plotnavigation.h"
#include "traceplot.h"
#include "ui_graph.h"

#include <QCoreApplication>
#include <qwt_plot.h>

Graph::Graph(QWidget* parent) : QDialog(parent)
{
    ui = new Ui_Graph;
    ui->setupUi(this);
    // The controls sit at fixed places: a larger dialog is only grey.
    setFixedSize(size());

    QwtPlot* plt = ui->plt;
    graph::setUpTraceAxes(plt, g_osTyp);
    curve1 = graph::addTrace(plt, Qt::blue, t, d1, QStringLiteral("tsrc = %1 s"), tsrc);
    curve2 = graph::addTrace(plt, Qt::yellow, t, d2, QStringLiteral("trf = %1 s"), trf);
    curve3 = graph::addTrace(plt, Qt::red, t, d3, QStringLiteral("tsnk = %1 s"), tsnk);
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
