// The edge markers of the result dialog: a dash-dot line at each edge time
// with its time as a vertical label. Edges often lie a few milliseconds
// apart, closer than a label is thick; the labels then move aside so that
// each stays readable.
#pragma once

#include <QRectF>
#include <QVector>
#include <qwt_plot_marker.h>

namespace graph {

// Where vertical labels go: label i belongs to the line at pixel column
// xs[i] and is sizes[i] large (width across the line, height along it). A
// label sits left of its line at the top of `canvas` when that is free;
// otherwise right of it, then at the bottom on either side. Labels taken
// earlier (from left to right) are never overlapped while a free place
// exists, and a place inside the canvas is preferred. `gap` keeps the label
// off its line and the canvas edge.
QVector<QRectF> placeEdgeLabels(const QVector<double>& xs, const QVector<QSizeF>& sizes, const QRectF& canvas,
                                double gap);

// A marker whose label is placed together with those of the other visible
// EdgeMarkers of its plot, afresh on every drawing (zoom and resize included).
class EdgeMarker : public QwtPlotMarker
{
public:
    using QwtPlotMarker::QwtPlotMarker;

    void draw(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
              const QRectF& canvasRect) const override;

protected:
    void drawLabel(QPainter* painter, const QRectF& canvasRect, const QPointF& pos) const override;

private:
    mutable QRectF m_labelRect;  // chosen by draw() for drawLabel()
};

}  // namespace graph
