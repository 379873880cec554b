// The result dialog's trace plot style, for every window that shows the three
// traces of a pass: the time axis of the family, the axis titles, one
// column-reducing curve and one labelled dash-dot edge marker per trace.
#pragma once

#include <QString>
#include <QVector>
#include <Qt>

class QwtPlot;
class QwtPlotCurve;

namespace graph {

// x: the family's fixed time window, linear base-10 scale engine, "Time / s";
// y: automatic, "Voltage / V".
void setUpTraceAxes(QwtPlot* plt, int osTyp);

// One trace: its curve (samples y against t, shared copies), then its edge
// marker at `edge` s labelled with labelFormat ("tsrc = %1 s"), attached in
// that order. A missing edge (not finite) has no marker line. Returns the
// curve; both belong to the plot.
QwtPlotCurve* addTrace(QwtPlot* plt, Qt::GlobalColor colour, const QVector<double>& t, const QVector<double>& y,
                       const QString& labelFormat, double edge);

}  // namespace graph
