// The column-reducing curve: the pure reduction and scan, and the proof that
// it draws what the full polyline draws (to within a pixel at stroke ends).
#include "testsupport.h"
#include "tracecurve.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QtTest>
#include <qwt_scale_map.h>

#include <cmath>
#include <limits>
#include <random>

using graph::ColumnReducer;
using graph::TraceCurve;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

QwtScaleMap makeMap(double s1, double s2, double p1, double p2)
{
    QwtScaleMap m;
    m.setScaleInterval(s1, s2);
    m.setPaintInterval(p1, p2);
    return m;
}

// Draws one curve with the given maps onto a white image the size of the
// canvas, as the plot canvas would.
QImage drawOnto(QwtPlotCurve& curve, const QSize& size, const QwtScaleMap& xm,
                const QwtScaleMap& ym)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    curve.draw(&p, xm, ym, QRectF(QPointF(0, 0), QSizeF(size)));
    p.end();
    return img;
}

// How a reduced drawing differs from the full one. Qwt's own drawing is not
// canonical to the pixel: Qt's aliased polylines light a stroke's end pixel
// or not depending on the turns before it, and Qwt cuts long polylines into
// short pieces whose ends fall wherever the point count puts them; and on the
// outermost pixel row or column Qt drops parts of lines that come from
// outside the image. So a few pixels may differ by one position; a pixel lit
// in one drawing with nothing lit within one pixel in the other (a lost or
// invented peak, a moved segment) is a fault, except on that outermost frame.
struct Difference
{
    int pixels = 0;  // differing pixels
    int far = 0;     // inside the frame: lit in one drawing, nothing within 1 px in the other
    int ink = 0;     // pixels lit in the full drawing
};

bool lit(const QImage& img, int x, int y)
{
    return img.valid(x, y) && img.pixel(x, y) != qRgb(255, 255, 255);
}

bool litNear(const QImage& img, int x, int y)
{
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (lit(img, x + dx, y + dy))
                return true;
    return false;
}

Difference compare(const QImage& full, const QImage& reduced)
{
    Difference d;
    for (int y = 0; y < full.height(); ++y) {
        for (int x = 0; x < full.width(); ++x) {
            d.ink += lit(full, x, y);
            if (full.pixel(x, y) == reduced.pixel(x, y))
                continue;
            ++d.pixels;
            const bool frame = x == 0 || y == 0 || x == full.width() - 1 || y == full.height() - 1;
            const QImage& other = lit(full, x, y) ? reduced : full;
            if (!frame && !litNear(other, x, y))
                ++d.far;
        }
    }
    return d;
}

// No pixel off by more than one position, and at most perMille of the lit
// pixels differing at all.
bool closeEnough(const Difference& d, int perMille)
{
    return d.far == 0 && d.pixels * 1000 <= d.ink * perMille;
}

QPolygonF poly(std::initializer_list<QPointF> pts)
{
    return QPolygonF(QVector<QPointF>(pts));
}

int inkInColumn(const QImage& img, int x)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        n += img.pixel(x, y) != qRgb(255, 255, 255);
    return n;
}

// Full drawing by Qwt's own curve against the reduced one, same pen and data.
Difference compareWithFull(const QVector<double>& x, const QVector<double>& y,
                           const QSize& size, const QwtScaleMap& xm, const QwtScaleMap& ym)
{
    QwtPlotCurve full;
    TraceCurve reduced;
    for (QwtPlotCurve* c : std::initializer_list<QwtPlotCurve*>{&full, &reduced}) {
        c->setPen(Qt::blue, 0.0, Qt::SolidLine);
        c->setSamples(x, y);
    }
    return compare(drawOnto(full, size, xm, ym), drawOnto(reduced, size, xm, ym));
}

}  // namespace

class TestTraceCurve : public QObject
{
    Q_OBJECT

private slots:
    void roundsLikeQwt();
    void reducerKeepsFirstExtremesLast();
    void reducerBoundsPointsPerColumn();
    void scanSkipsNonFinite();
    void randomLinesMatchFullDrawing();
    void nonFiniteSampleBreaksLine();
    void tenMillionPointsMatchFullDrawing();
};

void TestTraceCurve::roundsLikeQwt()
{
    QCOMPARE(graph::pixelRound(2.5), 3.0);
    QCOMPARE(graph::pixelRound(-2.5), -3.0);
    QCOMPARE(graph::pixelRound(2.49), 2.0);
    QCOMPARE(graph::pixelRound(-0.4), 0.0);
    QCOMPARE(graph::pixelRound(4e12 + 0.5), 4e12 + 1.0);  // no int overflow
}

void TestTraceCurve::reducerKeepsFirstExtremesLast()
{
    // Column 0: 5 10 3 8 7 -> first 5, max 10 (came first), min 3, last 7.
    // Column 1: a flat pair collapses. Column 2: one point.
    const QPolygonF in = poly({{0, 5}, {0, 10}, {0, 3}, {0, 8}, {0, 7}, {1, 4}, {1, 4}, {2, 6}});
    const QPolygonF want = poly({{0, 5}, {0, 10}, {0, 3}, {0, 7}, {1, 4}, {2, 6}});
    QCOMPARE(graph::reduceColumns(in), want);

    // Min before max keeps that order; a column revisited later is a new run.
    const QPolygonF in2 = poly({{3, 1}, {3, -4}, {3, 9}, {3, 2}, {4, 0}, {3, 5}});
    const QPolygonF want2 = poly({{3, 1}, {3, -4}, {3, 9}, {3, 2}, {4, 0}, {3, 5}});
    QCOMPARE(graph::reduceColumns(in2), want2);

    // The reducer is reusable after take().
    ColumnReducer r;
    r.add(0, 0);
    r.add(0, 1);
    QCOMPARE(r.take().size(), 2);
    QVERIFY(r.take().isEmpty());
    r.add(7, 7);
    QCOMPARE(r.take(), poly({{7, 7}}));
}

void TestTraceCurve::reducerBoundsPointsPerColumn()
{
    // A million noisy points over 100 columns: at most 4 per column, and the
    // spikes survive.
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    ColumnReducer r;
    const int n = 1000000;
    for (int i = 0; i < n; ++i) {
        double y = graph::pixelRound(50 + 10 * noise(rng));
        if (i == 123457)
            y = -500;
        if (i == 876543)
            y = 900;
        r.add(std::floor(i / 10000.0), y);
    }
    const QPolygonF out = r.take();
    QVERIFY(out.size() <= 4 * 100);
    QVERIFY(out.contains(QPointF(12, -500)));
    QVERIFY(out.contains(QPointF(87, 900)));
}

void TestTraceCurve::scanSkipsNonFinite()
{
    const double inf = std::numeric_limits<double>::infinity();
    const QVector<double> x{0.0, 1.0, 2.0, 3.0, 4.0};
    const QVector<double> y{kNaN, 2.0, -1.0, inf, 5.0};
    graph::SeriesScan s = graph::scanSeries(x.constData(), y.constData(), 5);
    QCOMPARE(s.bounds, QRectF(1.0, -1.0, 3.0, 6.0));
    QVERIFY(s.xOrdered);

    const QVector<double> allNaN(5, kNaN);
    QVERIFY(graph::scanSeries(x.constData(), allNaN.constData(), 5).bounds.width() < 0);
    QVERIFY(graph::scanSeries(x.constData(), y.constData(), 0).bounds.width() < 0);

    // Order: equal neighbours are fine; a step back, a NaN or an infinite x is not.
    const QVector<double> flat{0.0, 0.0, 1.0};
    const QVector<double> back{0.0, 2.0, 1.0};
    const QVector<double> hole{0.0, kNaN, 1.0};
    const QVector<double> endless{0.0, 1.0, inf};
    const QVector<double> ones(3, 1.0);
    QVERIFY(graph::scanSeries(flat.constData(), ones.constData(), 3).xOrdered);
    QVERIFY(!graph::scanSeries(back.constData(), ones.constData(), 3).xOrdered);
    QVERIFY(!graph::scanSeries(hole.constData(), ones.constData(), 3).xOrdered);
    QVERIFY(!graph::scanSeries(endless.constData(), ones.constData(), 3).xOrdered);

    // Through the curve: the shorter vector sets the count, as in Qwt.
    TraceCurve c;
    c.setSamples(QVector<double>{0.0, 1.0, 2.0}, QVector<double>{kNaN, 4.0, 6.0, 100.0});
    QCOMPARE(c.dataSize(), size_t(3));
    QCOMPARE(c.boundingRect(), QRectF(1.0, 4.0, 1.0, 2.0));
    // New samples are seen (the cached scan is dropped).
    c.setSamples(QVector<double>{0.0}, QVector<double>{-3.0});
    QCOMPARE(c.boundingRect(), QRectF(0.0, -3.0, 0.0, 0.0));
}

void TestTraceCurve::randomLinesMatchFullDrawing()
{
    // Dense and sparse, monotonic and wandering lines, some running off the
    // canvas: the reduced drawing must light exactly the same pixels.
    std::mt19937 rng(20240611);
    const QSize size(200, 120);
    for (int round = 0; round < 40; ++round) {
        std::uniform_int_distribution<int> count(2, 20000);
        const int n = count(rng);
        const bool wander = round % 3 == 2;
        std::normal_distribution<double> step(0.0, round % 2 ? 0.02 : 0.2);
        QVector<double> x(n), y(n);
        double yv = 0.0, xv = -1.2;
        for (int i = 0; i < n; ++i) {
            xv = wander ? xv + step(rng) * 0.2 : -1.2 + 2.4 * i / (n - 1);
            yv += step(rng);
            x[i] = xv;
            y[i] = yv;
        }
        const auto [ylo, yhi] = std::minmax_element(y.cbegin(), y.cend());
        const QwtScaleMap xm = makeMap(-1.0, 1.0, 0, size.width());
        const QwtScaleMap ym = makeMap(*ylo * 0.9, *yhi * 0.9, size.height(), 0);
        const Difference d = compareWithFull(x, y, size, xm, ym);
        // Jagged random lines turn in almost every pixel: the worst case.
        QVERIFY2(closeEnough(d, 20),
                 qPrintable(QString("round %1: %2 differ, %3 far, %4 lit")
                                .arg(round).arg(d.pixels).arg(d.far).arg(d.ink)));
    }
}

void TestTraceCurve::nonFiniteSampleBreaksLine()
{
    // A flat line at 0 with no samples between -0.1 s and 0.1 s: nothing is
    // drawn across the gap, both sides are.
    const int n = 1001;
    QVector<double> x(n), y(n);
    for (int i = 0; i < n; ++i) {
        x[i] = -0.5 + double(i) / (n - 1);
        y[i] = std::abs(x[i]) < 0.1 ? kNaN : 0.0;
    }
    TraceCurve c;
    c.setPen(Qt::red, 0.0, Qt::SolidLine);
    c.setSamples(x, y);
    const QSize size(101, 21);
    const QImage img = drawOnto(c, size, makeMap(-0.5, 0.5, 0, 100), makeMap(-1, 1, 20, 0));
    QCOMPARE(inkInColumn(img, 50), 0);  // t = 0
    QCOMPARE(inkInColumn(img, 20), 1);  // t = -0.3
    QCOMPARE(inkInColumn(img, 80), 1);  // t = 0.3
}

void TestTraceCurve::tenMillionPointsMatchFullDrawing()
{
    // A trace as large as a deep oscilloscope memory: a slow sine, noise whose
    // amplitude changes along the trace, sparse one-sample spikes of both
    // signs, and a time axis wider than the window so that the line is clipped.
    const int n = 10000000;
    QVector<double> x(n), y(n);
    std::mt19937 rng(99);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::uniform_int_distribution<int> spikeAt(0, 40000);
    int nextSpike = spikeAt(rng);
    for (int i = 0; i < n; ++i) {
        const double t = -0.55 + 1.1 * i / (n - 1);
        const double amp = t < -0.2 ? 0.002 : (t < 0.2 ? 0.03 : 0.01);
        double v = 0.5 * std::sin(2 * M_PI * 3 * t) + amp * noise(rng);
        if (i == nextSpike) {
            v += (i % 2 ? 1.0 : -1.0) * (0.2 + 0.6 * (i % 7) / 7.0);
            nextSpike += 1 + spikeAt(rng);
        }
        x[i] = t;
        y[i] = v;
    }
    const QSize size(771, 340);  // about the dialog's canvas
    const QwtScaleMap xm = makeMap(-0.5, 0.5, 0, size.width());
    const QwtScaleMap ym = makeMap(-1.5, 1.5, size.height(), 0);

    QwtPlotCurve full;
    TraceCurve reduced;
    for (QwtPlotCurve* c : std::initializer_list<QwtPlotCurve*>{&full, &reduced}) {
        c->setPen(Qt::blue, 0.0, Qt::SolidLine);
        c->setSamples(x, y);
    }
    QElapsedTimer clock;
    clock.start();
    const QImage a = drawOnto(full, size, xm, ym);
    const qint64 fullMs = clock.restart();
    const QImage b = drawOnto(reduced, size, xm, ym);
    const qint64 reducedMs = clock.elapsed();
    qInfo("10M points: full drawing %lld ms, reduced %lld ms", fullMs, reducedMs);
    const Difference d = compare(a, b);
    qInfo("10M points: %d of %d lit pixels differ (%d by more than one position)", d.pixels,
          d.ink, d.far);
    QVERIFY(closeEnough(d, 1));
    // The picture is neither trivially empty nor solid.
    QVERIFY(d.ink > size.width() * 5);
    QVERIFY(d.ink < size.width() * size.height() / 2);
}

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    TestTraceCurve t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_tracecurve.moc"
