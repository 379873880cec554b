// A plot curve for traces of millions of samples. It keeps every sample (the
// plot can be rebuilt from it at any size) but draws at most four points per
// pixel column of the canvas, chosen so that the picture is the one the full
// polyline would give.
#pragma once

#include <QPolygonF>
#include <QRectF>
#include <qwt_plot_curve.h>

#include <cmath>
#include <cstddef>

namespace graph {

// Below this magnitude a double can still have a fraction; above it, every
// double is a whole number.
constexpr double kWholeFrom = 4503599627370496.0;  // 2^52

// floor() without a library call (the hot loops run over every sample).
inline double wholeFloor(double v)
{
    if (!(std::abs(v) < kWholeFrom))
        return v;  // already whole, or not finite
    const double cut = double(static_cast<long long>(v));
    return cut > v ? cut - 1.0 : cut;
}

// Rounds a device coordinate to a whole pixel the way Qwt's point mapper does
// (halves away from zero), without an integer overflow for far-off points.
inline double pixelRound(double v)
{
    if (!(std::abs(v) < kWholeFrom))
        return v;
    return double(static_cast<long long>(v < 0.0 ? v - 0.5 : v + 0.5));
}

// What the curve learns from one pass over its samples.
struct SeriesScan
{
    // Bounding rectangle of the sample pairs whose x and y are both finite.
    // With no such pair it is invalid (negative width), which the plot's
    // autoscaling skips. Qwt's own bounds take the first sample as the seed,
    // so a leading NaN (a flat RF trace normalises to all NaN) would poison
    // the y axis.
    QRectF bounds;
    // Every x finite and none smaller than the one before: the samples of
    // one pixel column then form one index range (a time axis always does).
    bool xOrdered = false;
};
SeriesScan scanSeries(const double* x, const double* y, std::size_t n);

// Reduces an unbroken polyline, fed point by point in drawing order in device
// coordinates, to the points that decide which pixels it lights. Consecutive
// points in the same pixel column (same floor(x)) form a run; a run draws as
// a vertical stroke from its lowest to its highest point plus the strokes
// into and out of it, so first, lowest, highest (in their order of arrival)
// and last reproduce it, and every peak is kept. With pixel-rounded input the
// picture is the full polyline's except, rarely, the end pixel of a run's
// vertical stroke: Qt's aliased lines light that pixel or not depending on how
// often and from where the line turned there.
class ColumnReducer
{
public:
    void add(double x, double y)
    {
        const double col = wholeFloor(x);
        if (m_open && col == m_col) {
            ++m_count;
            const QPointF p(x, y);
            if (y < m_lo.y()) {
                m_lo = p;
                m_loAt = m_count;
            } else if (y > m_hi.y()) {
                m_hi = p;
                m_hiAt = m_count;
            }
            m_last = p;
            return;
        }
        flush();
        m_open = true;
        m_col = col;
        m_count = 0;
        m_first = m_lo = m_hi = m_last = QPointF(x, y);
        m_loAt = m_hiAt = 0;
    }

    // Ends the line and hands back its reduced polyline; the reducer is then
    // empty and ready for the next line.
    QPolygonF take();

private:
    void flush();
    void put(const QPointF& p)
    {
        if (m_out.isEmpty() || m_out.constLast() != p)
            m_out.append(p);
    }

    QPolygonF m_out;
    bool m_open = false;
    double m_col = 0.0;
    long long m_count = 0;
    QPointF m_first, m_lo, m_hi, m_last;
    long long m_loAt = 0;
    long long m_hiAt = 0;
};

// Convenience for whole polylines (tests, small data).
QPolygonF reduceColumns(const QPolygonF& line);

// QwtPlotCurve that draws its lines column-reduced. Samples that are not
// finite break the line (a gap, not a jump to some far-off pixel) and do not
// count for the autoscaled axes. Everything else is QwtPlotCurve's.
//
// Cost: with samples in x order (a time axis) a paint reads each y once and
// maps only four samples per pixel column; otherwise it maps every sample
// once. Nothing is allocated per sample.
class TraceCurve : public QwtPlotCurve
{
public:
    explicit TraceCurve(const QString& title = QString());

    QRectF boundingRect() const override;

protected:
    void dataChanged() override;
    void drawLines(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap, const QRectF& canvasRect,
                   int from, int to) const override;

private:
    const SeriesScan& scan() const;

    // The samples never change after set-up, but the axes ask on every replot:
    // scan them once.
    mutable SeriesScan m_scan;
    mutable bool m_scanned = false;
};

}  // namespace graph
