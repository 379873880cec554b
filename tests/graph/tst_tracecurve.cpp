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
const double kInf = std::numeric_limits<double>::infinity();

QwtScaleMap makeMap(double s1, double s2, double p1, double p2)
{
    QwtScaleMap m;
    m.setScaleInterval(s1, s2);
    m.setPaintInterval(p1, p2);
    return m;
}

// One curve drawn onto a white canvas-sized image, as the plot canvas would.
QImage drawOnto(QwtPlotCurve& curve, const QSize& size, const QwtScaleMap& xm, const QwtScaleMap& ym)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    curve.draw(&p, xm, ym, QRectF(QPointF(0, 0), QSizeF(size)));
    return img;
}

bool lit(const QImage& img, int x, int y)
{
    return img.valid(x, y) && img.pixel(x, y) != qRgb(255, 255, 255);
}

// How a reduced drawing differs from the full one. Qwt's drawing is not
// canonical to the pixel: Qt's aliased polylines light a stroke's end pixel
// or not depending on the turns before it, Qwt cuts long polylines wherever
// the point count puts the cut, and on the outermost pixel frame Qt drops parts
// of lines coming from outside. So a few pixels may differ by one position; a
// pixel lit in one drawing with nothing lit within one pixel in the other (a
// lost or invented peak, a moved segment) is a fault, except on that frame.
struct Difference
{
    int pixels = 0;  // differing pixels
    int far = 0;     // inside the frame: lit in one, nothing within 1 px in the other
    int ink = 0;     // pixels lit in the full drawing

    // No pixel off by more than one position, at most perMille of the ink differing.
    bool closeEnough(int perMille) const { return far == 0 && pixels * 1000 <= ink * perMille; }
};

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
            bool near = false;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    near |= lit(other, x + dx, y + dy);
            d.far += !frame && !near;
        }
    }
    return d;
}

// Qwt's own curve against the reduced one, same pen and data.
Difference compareWithFull(const QVector<double>& x, const QVector<double>& y, const QSize& size, const QwtScaleMap& xm,
                           const QwtScaleMap& ym, bool report = false)
{
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
    if (report)
        qInfo("%d points: full drawing %lld ms, reduced %lld ms", x.size(), fullMs, clock.elapsed());
    return compare(a, b);
}

QPolygonF poly(std::initializer_list<QPointF> pts)
{
    return QPolygonF(QVector<QPointF>(pts));
}

}  // namespace

class TstTraceCurve : public QObject
{
    Q_OBJECT

private slots:
    void roundsLikeQwt()
    {
        QCOMPARE(graph::pixelRound(2.5), 3.0);  // halves away from zero
        QCOMPARE(graph::pixelRound(-2.5), -3.0);
        QCOMPARE(graph::pixelRound(-0.4), 0.0);
        QCOMPARE(graph::pixelRound(4e12 + 0.5), 4e12 + 1.0);  // no int overflow
    }

    void reducerKeepsFirstExtremesLast()
    {
        // Column 0: 5 10 3 8 7 -> first, max (came first), min, last. Column 1:
        // a flat pair collapses. Column 2: one point.
        QCOMPARE(graph::reduceColumns(poly({{0, 5}, {0, 10}, {0, 3}, {0, 8}, {0, 7}, {1, 4}, {1, 4}, {2, 6}})),
                 poly({{0, 5}, {0, 10}, {0, 3}, {0, 7}, {1, 4}, {2, 6}}));
        // Min before max keeps that order; a column revisited later is a new run.
        const QPolygonF kept = poly({{3, 1}, {3, -4}, {3, 9}, {3, 2}, {4, 0}, {3, 5}});
        QCOMPARE(graph::reduceColumns(kept), kept);
        ColumnReducer r;  // reusable after take()
        r.add(0, 0);
        r.add(0, 1);
        QCOMPARE(r.take().size(), 2);
        QVERIFY(r.take().isEmpty());
        r.add(7, 7);
        QCOMPARE(r.take(), poly({{7, 7}}));
    }

    void scanSkipsNonFinite()
    {
        const QVector<double> x{0.0, 1.0, 2.0, 3.0, 4.0}, y{kNaN, 2.0, -1.0, kInf, 5.0};
        graph::SeriesScan s = graph::scanSeries(x.constData(), y.constData(), 5);
        QCOMPARE(s.bounds, QRectF(1.0, -1.0, 3.0, 6.0));
        QVERIFY(s.xOrdered);
        const QVector<double> allNaN(5, kNaN);
        QVERIFY(graph::scanSeries(x.constData(), allNaN.constData(), 5).bounds.width() < 0);
        // Order: equal neighbours are fine; a step back, a NaN or an infinite x is not.
        const QVector<double> ones(3, 1.0);
        for (const QVector<double>& xs : std::initializer_list<QVector<double>>{{0, 2, 1}, {0, kNaN, 1}, {0, 1, kInf}})
            QVERIFY(!graph::scanSeries(xs.constData(), ones.constData(), 3).xOrdered);
        QVERIFY(graph::scanSeries(QVector<double>{0, 0, 1}.constData(), ones.constData(), 3).xOrdered);

        // Through the curve: the shorter vector sets the count, as in Qwt, and
        // new samples are seen (the cached scan is dropped).
        TraceCurve c;
        c.setSamples(QVector<double>{0.0, 1.0, 2.0}, QVector<double>{kNaN, 4.0, 6.0, 100.0});
        QCOMPARE(c.dataSize(), size_t(3));
        QCOMPARE(c.boundingRect(), QRectF(1.0, 4.0, 1.0, 2.0));
        c.setSamples(QVector<double>{0.0}, QVector<double>{-3.0});
        QCOMPARE(c.boundingRect(), QRectF(0.0, -3.0, 0.0, 0.0));
    }

    void randomLinesMatchFullDrawing()
    {
        // Dense and sparse, monotonic and wandering lines, some running off the canvas.
        std::mt19937 rng(20240611);
        const QSize size(200, 120);
        for (int round = 0; round < 40; ++round) {
            const int n = std::uniform_int_distribution<int>(2, 20000)(rng);
            const bool wander = round % 3 == 2;
            std::normal_distribution<double> step(0.0, round % 2 ? 0.02 : 0.2);
            QVector<double> x(n), y(n);
            double yv = 0.0, xv = -1.2;
            for (int i = 0; i < n; ++i) {
                xv = wander ? xv + step(rng) * 0.2 : -1.2 + 2.4 * i / (n - 1);
                x[i] = xv;
                y[i] = yv += step(rng);
            }
            const auto [ylo, yhi] = std::minmax_element(y.cbegin(), y.cend());
            const Difference d = compareWithFull(x, y, size, makeMap(-1.0, 1.0, 0, size.width()),
                                                 makeMap(*ylo * 0.9, *yhi * 0.9, size.height(), 0));
            // Jagged random lines turn in almost every pixel: the worst case.
            QVERIFY2(
                d.closeEnough(20),
                qPrintable(
                    QString("round %1: %2 differ, %3 far, %4 lit").arg(round).arg(d.pixels).arg(d.far).arg(d.ink)));
        }
    }

    void nonFiniteSampleBreaksLine()
    {
        // A flat line at 0 without samples between -0.1 s and 0.1 s: nothing
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
        const QImage img = drawOnto(c, QSize(101, 21), makeMap(-0.5, 0.5, 0, 100), makeMap(-1, 1, 20, 0));
        auto ink = [&](int column) {
            int k = 0;
            for (int row = 0; row < img.height(); ++row)
                k += lit(img, column, row);
            return k;
        };
        QCOMPARE(ink(50), 0);  // t = 0
        QCOMPARE(ink(20), 1);  // t = -0.3
        QCOMPARE(ink(80), 1);  // t = 0.3
    }

    void deepTraceMatchesFullDrawing()
    {
        // Thousands of samples per pixel column, as from a deep oscilloscope
        // memory (the reduction is the same at ten million): a slow sine, noise whose amplitude
        // changes along the trace, sparse one-sample spikes of both signs, and
        // a time axis wider than the window so that the line is clipped.
        const int n = 2000000;
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
        const Difference d = compareWithFull(x, y, size, makeMap(-0.5, 0.5, 0, size.width()),
                                             makeMap(-1.5, 1.5, size.height(), 0), true);
        qInfo("10M points: %d of %d lit pixels differ (%d by more than one position)", d.pixels, d.ink, d.far);
        QVERIFY(d.closeEnough(1));
        QVERIFY(d.ink > size.width() * 5);  // neither trivially empty nor solid
        QVERIFY(d.ink < size.width() * size.height() / 2);
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    TstTraceCurve t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_tracecurve.moc"
