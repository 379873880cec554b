#include "tracecurve.h"

#include <QPainter>
#include <qwt_clipper.h>
#include <qwt_painter.h>
#include <qwt_point_data.h>
#include <qwt_scale_map.h>

#include <algorithm>
#include <limits>

namespace graph {

namespace {

const QRectF kNoBounds(1.0, 1.0, -2.0, -2.0);  // Qwt's "no data" rectangle

// One unbroken stretch of the curve at a time, fed sample by sample, mapped
// and rounded as QwtPlotCurve maps them, reduced, clipped like Qwt, drawn.
class ReducedLine
{
public:
    ReducedLine(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap, bool align, bool clip,
                const QRectF& clipRect)
        : m_painter(painter), m_xMap(xMap), m_yMap(yMap), m_align(align), m_clip(clip), m_clipRect(clipRect)
    {
    }

    void sample(double sx, double sy)
    {
        double x = m_xMap.transform(sx);
        double y = m_yMap.transform(sy);
        if (Q_UNLIKELY(!(std::isfinite(x) && std::isfinite(y)))) {
            finish();  // a gap in the trace
            return;
        }
        if (m_align) {
            x = pixelRound(x);
            y = pixelRound(y);
        }
        m_reducer.add(x, y);
    }

    Q_NEVER_INLINE void finish()
    {
        QPolygonF line = m_reducer.take();
        if (line.isEmpty())
            return;
        if (m_clip)
            line = QwtClipper::clipPolygonF(m_clipRect, line);
        QwtPainter::drawPolyline(m_painter, line);
    }

private:
    QPainter* m_painter;
    const QwtScaleMap& m_xMap;
    const QwtScaleMap& m_yMap;
    bool m_align;
    bool m_clip;
    QRectF m_clipRect;
    ColumnReducer m_reducer;
};

// Samples in x order, pixel-aligned painter: the samples of a pixel column
// are one index range, found by galloping and bisection on the column of a
// sample. The pixel rounding of a monotonic map keeps the order of y, so the
// range's raw minimum and maximum are its lowest and highest pixels; with the
// range's first and last sample they are all the reducer keeps.
void drawOrdered(ReducedLine& line, const QwtScaleMap& xMap, const double* xs, const double* ys, int from, int to)
{
    auto column = [&](int i) { return pixelRound(xMap.transform(xs[i])); };
    int i = from;
    while (i <= to) {
        const double col = column(i);
        int in = i;        // last index known to be in the column
        int out = to + 1;  // first index known not to be
        for (long long step = 1; in + step <= to; step *= 2) {
            const int probe = int(in + step);
            if (column(probe) != col) {
                out = probe;
                break;
            }
            in = probe;
        }
        while (out - in > 1) {
            const int mid = in + (out - in) / 2;
            (column(mid) == col ? in : out) = mid;
        }
        const int end = in;

        int lo = i, hi = i;
        double loV = ys[i], hiV = ys[i];
        bool bad = false;  // a NaN or infinite y in the range
        for (int k = i; k <= end; ++k) {
            const double v = ys[k];
            const double z = v - v;  // NaN unless v is finite
            bad |= z != z;
            if (v < loV) {
                loV = v;
                lo = k;
            }
            if (v > hiV) {
                hiV = v;
                hi = k;
            }
        }
        if (Q_UNLIKELY(bad)) {
            for (int k = i; k <= end; ++k)  // gaps inside: take every sample
                line.sample(xs[k], ys[k]);
        } else {
            int kept[4] = {i, std::min(lo, hi), std::max(lo, hi), end};
            for (int n = 0; n < 4; ++n)
                if (n == 0 || kept[n] != kept[n - 1])
                    line.sample(xs[kept[n]], ys[kept[n]]);
        }
        i = end + 1;
    }
}

}  // namespace

SeriesScan scanSeries(const double* x, const double* y, std::size_t n)
{
    // Two interleaved sets of running extremes, so that consecutive samples
    // do not wait on each other.
    const double inf = std::numeric_limits<double>::infinity();
    double lo[2][2] = {{inf, inf}, {inf, inf}};  // [lane][x, y]
    double hi[2][2] = {{-inf, -inf}, {-inf, -inf}};
    bool ordered = true;
    auto take = [&](int lane, std::size_t i) {
        const double xi = x[i], yi = y[i];
        const double zx = xi - xi, zy = yi - yi;  // NaN unless finite
        if (!(zx == zx && zy == zy))
            return;
        lo[lane][0] = xi < lo[lane][0] ? xi : lo[lane][0];
        hi[lane][0] = xi > hi[lane][0] ? xi : hi[lane][0];
        lo[lane][1] = yi < lo[lane][1] ? yi : lo[lane][1];
        hi[lane][1] = yi > hi[lane][1] ? yi : hi[lane][1];
    };
    std::size_t i = 0;
    for (; i + 1 < n; i += 2) {
        take(0, i);
        take(1, i + 1);
        // false for NaN and for a step back
        ordered &= x[i + 1] >= x[i];
        if (i + 2 < n)
            ordered &= x[i + 2] >= x[i + 1];
    }
    if (i < n)
        take(0, i);

    const double x0 = std::min(lo[0][0], lo[1][0]), x1 = std::max(hi[0][0], hi[1][0]);
    const double y0 = std::min(lo[0][1], lo[1][1]), y1 = std::max(hi[0][1], hi[1][1]);
    SeriesScan scan;
    scan.bounds = x0 <= x1 ? QRectF(x0, y0, x1 - x0, y1 - y0) : kNoBounds;
    // With every step forward or level, only the ends can be infinite.
    scan.xOrdered = n == 0 || (ordered && std::isfinite(x[0]) && std::isfinite(x[n - 1]));
    return scan;
}

void ColumnReducer::flush()
{
    if (!m_open)
        return;
    put(m_first);
    if (m_loAt <= m_hiAt) {
        put(m_lo);
        put(m_hi);
    } else {
        put(m_hi);
        put(m_lo);
    }
    put(m_last);
    m_open = false;
}

QPolygonF ColumnReducer::take()
{
    flush();
    QPolygonF out;
    out.swap(m_out);
    return out;
}

QPolygonF reduceColumns(const QPolygonF& line)
{
    ColumnReducer r;
    for (const QPointF& p : line)
        r.add(p.x(), p.y());
    return r.take();
}

TraceCurve::TraceCurve(const QString& title) : QwtPlotCurve(title)
{
}

const SeriesScan& TraceCurve::scan() const
{
    if (m_scanned)
        return m_scan;
    m_scan = SeriesScan();
    m_scan.bounds = kNoBounds;
    const QwtSeriesData<QPointF>* series = data();
    if (auto arrays = dynamic_cast<const QwtPointArrayData*>(series)) {
        // size() is the shorter of the two vectors.
        m_scan = scanSeries(arrays->xData().constData(), arrays->yData().constData(), series->size());
    } else if (series) {
        QVector<double> xs(int(series->size())), ys(int(series->size()));
        for (int i = 0; i < xs.size(); ++i) {
            const QPointF p = series->sample(std::size_t(i));
            xs[i] = p.x();
            ys[i] = p.y();
        }
        m_scan = scanSeries(xs.constData(), ys.constData(), std::size_t(xs.size()));
        m_scan.xOrdered = false;  // the fast drawing needs the arrays themselves
    }
    m_scanned = true;
    return m_scan;
}

QRectF TraceCurve::boundingRect() const
{
    return scan().bounds;
}

void TraceCurve::dataChanged()
{
    m_scanned = false;
    QwtPlotCurve::dataChanged();
}

void TraceCurve::drawLines(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
                           const QRectF& canvasRect, int from, int to) const
{
    // Filled or fitted curves need the whole polygon; leave them to Qwt.
    const bool filled = brush().style() != Qt::NoBrush && brush().color().alpha() > 0;
    const bool fitted = testCurveAttribute(Fitted) && curveFitter();
    if (filled || fitted) {
        QwtPlotCurve::drawLines(painter, xMap, yMap, canvasRect, from, to);
        return;
    }
    if (from > to)
        return;

    // Same alignment and clipping as QwtPlotCurve, so that the points kept
    // are exactly points of the polyline Qwt would draw.
    const bool align = QwtPainter::roundingAlignment(painter);
    const bool clip = testPaintAttribute(ClipPolygons);
    QRectF clipRect;
    if (clip) {
        const qreal pw = std::max(qreal(1.0), painter->pen().widthF());
        clipRect = canvasRect.adjusted(-pw, -pw, pw, pw);
    }
    ReducedLine line(painter, xMap, yMap, align, clip, clipRect);

    const QwtSeriesData<QPointF>* series = data();
    if (auto arrays = dynamic_cast<const QwtPointArrayData*>(series)) {
        const double* xs = arrays->xData().constData();
        const double* ys = arrays->yData().constData();
        if (align && scan().xOrdered)
            drawOrdered(line, xMap, xs, ys, from, to);
        else
            for (int i = from; i <= to; ++i)
                line.sample(xs[i], ys[i]);
    } else {
        for (int i = from; i <= to; ++i) {
            const QPointF p = series->sample(std::size_t(i));
            line.sample(p.x(), p.y());
        }
    }
    line.finish();
}

}  // namespace graph
