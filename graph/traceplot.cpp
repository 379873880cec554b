#include "traceplot.h"

#include "delays.h"
#include "edgemarker.h"
#include "graphutil.h"
#include "tracecurve.h"

#include <QBrush>
#include <QPen>
#include <qwt_plot.h>
#include <qwt_plot_marker.h>
#include <qwt_scale_engine.h>
#include <qwt_text.h>

#include <cmath>

namespace graph {

void setUpTraceAxes(QwtPlot* plt, int osTyp)
{
    const measurement::FamilyWindow window = measurement::familyWindow(osTyp);
    plt->setAxisScale(QwtPlot::xBottom, window.start, window.start + window.span, 0.0);
    plt->setAxisScaleEngine(QwtPlot::xBottom, new QwtLinearScaleEngine(10));
    plt->setAxisTitle(QwtPlot::xBottom, QStringLiteral("Time / s"));
    plt->setAxisAutoScale(QwtPlot::yLeft, true);
    plt->setAxisTitle(QwtPlot::yLeft, QStringLiteral("Voltage / V"));
}

QwtPlotCurve* addTrace(QwtPlot* plt, Qt::GlobalColor colour, const QVector<double>& t, const QVector<double>& y,
                       const QString& labelFormat, double edge)
{
    // A column-reducing curve: a trace of millions of samples draws as fast
    // as a short one and looks the same.
    auto* curve = new TraceCurve(QString());
    curve->setPen(colour, 0.0, Qt::SolidLine);
    curve->attach(plt);
    curve->setSamples(t, y);  // own (implicitly shared) copies of the vectors

    auto* marker = new EdgeMarker(QString());
    marker->setLabel(QwtText(markerLabel(labelFormat, edge), QwtText::AutoText));
    marker->setLabelAlignment(Qt::AlignLeft | Qt::AlignTop);
    marker->setLabelOrientation(Qt::Vertical);
    marker->setLineStyle(QwtPlotMarker::VLine);
    marker->setLinePen(QPen(QBrush(Qt::black, Qt::SolidPattern), 0.0, Qt::DashDotLine, Qt::SquareCap, Qt::BevelJoin));
    marker->setXValue(edge);
    // No edge found: there is no place to mark, and a NaN would land on some
    // arbitrary pixel. An infinite time is off the plot either way.
    if (!std::isfinite(edge))
        marker->setVisible(false);
    marker->attach(plt);
    return curve;
}

}  // namespace graph
