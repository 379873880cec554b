// The result dialog: its class and form, the plot set-up from the
// program-wide results, the read-outs, closing, and what it draws.
#include "edgemarker.h"
#include "globals.h"
#include "graph.h"
#include "graphutil.h"
#include "testsupport.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QtTest>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>

#include <cmath>

namespace {

const double kNaN = qQNaN();
const double kInf = qInf();

QwtPlot* plotOf(const Graph& g)
{
    return g.findChild<QwtPlot*>(QStringLiteral("plt"));
}

template <typename Item>
QList<Item*> itemsOf(const Graph& g)
{
    QList<Item*> out;
    for (QwtPlotItem* item : plotOf(g)->itemList())
        if (auto* i = dynamic_cast<Item*>(item))
            out << i;
    return out;
}

QString readout(const Graph& g, const char* name)
{
    return testsupport::child<QDoubleSpinBox>(&g, name)->text();
}

// A pass as the bench produces it: source step, RF burst envelope
// (normalised 0..0.2), sink step, on the first family's time axis.
void fillSeries(int n, double edgeSrc, double edgeRf, double edgeSnk)
{
    t.resize(n);
    d1.resize(n);
    d2.resize(n);
    d3.resize(n);
    for (int i = 0; i < n; ++i) {
        const double ti = -0.5 + double(i) / (n - 1);
        const double wiggle = 0.004 * std::sin(i * 0.7);
        t[i] = ti;
        d1[i] = (ti >= edgeSrc ? 0.8 : 0.02) + wiggle;
        d2[i] = ti >= edgeRf ? 0.2 * (0.6 + 0.4 * std::abs(std::sin(i * 0.05))) : 0.01 + wiggle;
        d3[i] = (ti >= edgeSnk ? 0.45 : 0.0) + wiggle;
    }
    pts = n;
    tsrc = edgeSrc;
    trf = edgeRf;
    tsnk = edgeSnk;
}

}  // namespace

class TstGraph : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        g_vaHdmi = false;
        g_osTyp = 0;
        d1.clear();
        d2.clear();
        d3.clear();
        t.clear();
        pts = 0;
        tsrc = trf = tsnk = 0.0;
        src2RfMean = src2HdMean = src2SnkMean = 0.0;
    }

    void readoutValues_data()
    {
        QTest::addColumn<double>("mean");
        QTest::addColumn<QString>("shown");
        QTest::newRow("rounded to 3 decimals") << 12.3456 << "12.346";
        QTest::newRow("negative") << -3.5 << "-3.500";
        QTest::newRow("above range") << 2500.0 << "2000.000";
        QTest::newRow("below range") << -2500.0 << "-2000.000";
        QTest::newRow("infinite") << kInf << "2000.000";
        QTest::newRow("minus infinite") << -kInf << "-2000.000";
        QTest::newRow("not a number") << kNaN << "n/a";
    }
    void readoutValues()
    {
        QFETCH(double, mean);
        QFETCH(QString, shown);
        g_vaHdmi = true;
        src2RfMean = src2HdMean = src2SnkMean = mean;
        Graph g;
        for (const char* box : {"Src2Rf", "Src2Hd", "Src2Snk"})
            QCOMPARE(readout(g, box), shown);
    }

    void readoutsShowTheirOwnMeanAndHdmiFlag()
    {
        src2RfMean = 1.0;
        src2HdMean = 41.25;
        src2SnkMean = kNaN;
        for (bool hdmi : {false, true}) {
            g_vaHdmi = hdmi;
            Graph g;
            QCOMPARE(readout(g, "Src2Rf"), QStringLiteral("1.000"));
            QCOMPARE(readout(g, "Src2Hd"), QStringLiteral("41.250"));  // shown either way
            QCOMPARE(readout(g, "Src2Snk"), QStringLiteral("n/a"));
            QCOMPARE(testsupport::child<QWidget>(&g, "Src2Hd")->isEnabled(), hdmi);
            QVERIFY(testsupport::child<QWidget>(&g, "Src2Rf")->isEnabled());
            QVERIFY(testsupport::child<QWidget>(&g, "Src2Snk")->isEnabled());
        }
    }

    void emptyTracesGiveAxesAndMarkersAtZero()
    {
        Graph g;
        const QList<QwtPlotCurve*> curves = itemsOf<QwtPlotCurve>(g);
        const QList<QwtPlotMarker*> markers = itemsOf<QwtPlotMarker>(g);
        const char* labels[] = {"tsrc = 0 s", "trf = 0 s", "tsnk = 0 s"};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(curves[i]->dataSize(), size_t(0));
            QwtPlotMarker* m = markers[i];
            QVERIFY(m->isVisible());
            QCOMPARE(m->xValue(), 0.0);
            QCOMPARE(m->label().text(), QLatin1String(labels[i]));
        }
        QCOMPARE(readout(g, "Src2Rf"), QStringLiteral("0.000"));
    }

    void xAxisPerFamily_data()
    {
        QTest::addColumn<int>("osTyp");
        QTest::addColumn<double>("half");
        QTest::newRow("first family") << 0 << 0.5;
        QTest::newRow("second family") << 1 << 0.6;
        QTest::newRow("other index") << 7 << 0.6;
        QTest::newRow("negative index") << -1 << 0.6;
    }
    void xAxisPerFamily()
    {
        QFETCH(int, osTyp);
        QFETCH(double, half);
        g_osTyp = osTyp;
        fillSeries(101, 0.0, 0.0, 0.0);
        for (double& ti : t)  // samples past the window are cut off, not rescaled to
            ti *= 3.0;
        Graph g;
        QwtPlot* plt = plotOf(g);
        plt->updateAxes();
        const QwtInterval x = plt->axisInterval(QwtPlot::xBottom);
        QCOMPARE(x.minValue(), -half);
        QCOMPARE(x.maxValue(), half);
    }

    // Labels 14 px thick, 100 long, in a 700x300 canvas.
    void edgeLabelsStayApart_data()
    {
        QTest::addColumn<QVector<double>>("xs");
        QTest::newRow("far apart") << QVector<double>{100, 300, 500};
        QTest::newRow("two close") << QVector<double>{300, 308, 500};
        QTest::newRow("all on one pixel") << QVector<double>{300, 300, 300};
        QTest::newRow("close, out of order") << QVector<double>{310, 300, 305};
        QTest::newRow("at the left edge") << QVector<double>{2, 5, 600};
    }
    void edgeLabelsStayApart()
    {
        QFETCH(QVector<double>, xs);
        const QRectF canvas(0, 0, 700, 300);
        const QVector<QRectF> r = graph::placeEdgeLabels(xs, QVector<QSizeF>(3, QSizeF(14, 100)), canvas, 3);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(canvas.contains(r[i]));
            QVERIFY(r[i].left() >= xs[i] + 3 || r[i].right() <= xs[i] - 3);  // beside its line
            for (int j = i + 1; j < 3; ++j)
                QVERIFY2(!r[i].intersects(r[j]), qPrintable(QString("labels %1 and %2").arg(i).arg(j)));
        }
        if (QTest::currentDataTag() == QLatin1String("far apart"))  // where every label used to go
            for (int i = 0; i < 3; ++i)
                QCOMPARE(r[i], QRectF(xs[i] - 17, 3, 14, 100));
    }

    void curvesKeepTheirOwnSamples()
    {
        t = {-0.2, -0.1, 0.0, 0.1, 0.2};
        d1 = {1, 2, 3, 4, 5};
        d2 = {0.1, 0.2, 0.0};  // the RF read delivered fewer points
        d3 = {5, 4, 3, 2, 1, 0, -1};
        Graph g;
        const QList<QwtPlotCurve*> c = itemsOf<QwtPlotCurve>(g);
        QCOMPARE(c[1]->dataSize(), size_t(3));  // as many as time and values both have
        QCOMPARE(c[2]->dataSize(), size_t(5));
        // The next series may overwrite the program-wide vectors; the open
        // dialog keeps what it was given.
        t.fill(9.0);
        d1.clear();
        d2[0] = 99.0;
        QCOMPARE(c[0]->sample(3), QPointF(0.1, 4.0));
        QCOMPARE(c[1]->sample(0), QPointF(-0.2, 0.1));
        QCOMPARE(c[2]->sample(4), QPointF(0.2, 1.0));
    }

    void nonFiniteResults()
    {
        fillSeries(1000, -0.3, 0.0, 0.2);
        trf = kNaN;     // no RF edge
        tsnk = kInf;    // nonsense edge time
        d2.fill(kNaN);  // a flat RF trace normalises to all NaN
        d1[500] = kNaN;
        Graph g;
        const QList<QwtPlotMarker*> m = itemsOf<QwtPlotMarker>(g);
        QVERIFY(m[0]->isVisible() && !m[1]->isVisible() && !m[2]->isVisible());
        QCOMPARE(m[0]->xValue(), -0.3);
        // The y axis still follows the finite data (source 0.02 .. 0.8 V).
        plotOf(g)->updateAxes();
        const QwtInterval y = plotOf(g)->axisInterval(QwtPlot::yLeft);
        QVERIFY(y.minValue() <= 0.0 && y.maxValue() >= 0.8 && y.maxValue() < 2.0);
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        QVERIFY(!g.grab().isNull());
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    TstGraph t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_graph.moc"
