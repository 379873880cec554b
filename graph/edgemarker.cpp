#include "edgemarker.h"

#include <QPainter>
#include <qwt_plot.h>
#include <qwt_scale_map.h>

#include <algorithm>
#include <numeric>

namespace graph {

QVector<QRectF> placeEdgeLabels(const QVector<double>& xs, const QVector<QSizeF>& sizes, const QRectF& canvas,
                                double gap)
{
    QVector<int> order(xs.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return xs[a] < xs[b]; });

    QVector<QRectF> placed(xs.size());
    QVector<QRectF> taken;
    for (int i : order) {
        const QSizeF s = sizes[i];
        const double left = xs[i] - gap - s.width(), right = xs[i] + gap;
        const double top = canvas.top() + gap, bottom = canvas.bottom() - gap - s.height();
        const QRectF places[] = {{left, top, s.width(), s.height()},
                                 {right, top, s.width(), s.height()},
                                 {left, bottom, s.width(), s.height()},
                                 {right, bottom, s.width(), s.height()}};
        const auto isFree = [&](const QRectF& r) {
            return std::none_of(taken.begin(), taken.end(), [&](const QRectF& t) { return t.intersects(r); });
        };
        const QRectF* best = nullptr;
        for (const QRectF& r : places)  // free and inside
            if (!best && isFree(r) && canvas.contains(r))
                best = &r;
        for (const QRectF& r : places)  // free
            if (!best && isFree(r))
                best = &r;
        placed[i] = best ? *best : places[0];
        taken << placed[i];
    }
    return placed;
}

void EdgeMarker::draw(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
                      const QRectF& canvasRect) const
{
    QVector<double> xs;
    QVector<QSizeF> sizes;
    int self = -1;
    for (const QwtPlotItem* item : plot()->itemList(QwtPlotItem::Rtti_PlotMarker)) {
        const auto* m = dynamic_cast<const EdgeMarker*>(item);
        if (!m || !m->isVisible() || m->label().isEmpty())
            continue;
        if (m == this)
            self = xs.size();
        xs << xMap.transform(m->xValue());
        sizes << m->label().textSize(painter->font()).transposed();  // drawn upright
    }
    if (self >= 0)
        m_labelRect = placeEdgeLabels(xs, sizes, canvasRect, spacing() + 1)[self];
    QwtPlotMarker::draw(painter, xMap, yMap, canvasRect);
}

void EdgeMarker::drawLabel(QPainter* painter, const QRectF&, const QPointF&) const
{
    if (label().isEmpty() || m_labelRect.isEmpty())
        return;
    // Upright text reads from the bottom of its rectangle up.
    painter->save();
    painter->translate(m_labelRect.left(), m_labelRect.bottom());
    painter->rotate(-90.0);
    label().draw(painter, QRectF(0, 0, m_labelRect.height(), m_labelRect.width()));
    painter->restore();
}

}  // namespace graph
