// The result dialog: its class and form, the plot set-up from the
// program-wide results, the read-outs, closing, and what it draws.
#include "globals.h"
#include "graph.h"
#include "graphutil.h"
#include "testsupport.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_scale_engine.h>
#include <qwt_scale_map.h>
#include <qwt_symbol.h>

#include <cmath>
#include <limits>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

void resetResults()
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

QwtPlot* plotOf(const Graph& g)
{
    return g.findChild<QwtPlot*>(QStringLiteral("plt"));
}

template <typename Item>
QList<Item*> itemsOf(const Graph& g, int rtti)
{
    QList<Item*> out;
    for (QwtPlotItem* item : plotOf(g)->itemList(rtti))
        out << static_cast<Item*>(item);
    return out;
}

QString readout(const Graph& g, const char* name)
{
    return g.findChild<QDoubleSpinBox*>(QLatin1String(name))->text();
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

class EventCounter : public QObject
{
public:
    int seen = 0;
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User)
            ++seen;
        return QObject::event(e);
    }
};

}  // namespace

class TestGraph : public QObject
{
    Q_OBJECT

private slots:
    void init() { resetResults(); }

    void classAndMetaObject();
    void iconAndTitle();
    void formWidgets();
    void readoutSettings();
    void readoutValues_data();
    void readoutValues();
    void readoutsShowTheirOwnMean();
    void hdmiReadoutFollowsFlag();
    void emptyTracesGiveAxesAndMarkersAtZero();
    void xAxisPerFamily_data();
    void xAxisPerFamily();
    void markerLabels();
    void curvesKeepTheirOwnSamples();
    void nonFiniteResults();
    void okEscAndCloseAllEndTheDialog();
    void pendingEventsAreProcessed();
    void drawsTracesAndMarkers();
};

void TestGraph::classAndMetaObject()
{
    const QMetaObject& mo = Graph::staticMetaObject;
    QCOMPARE(mo.className(), "Graph");
    QCOMPARE(mo.superClass(), &QDialog::staticMetaObject);
    // Nothing of its own: no signals, slots or properties.
    QCOMPARE(mo.methodCount(), QDialog::staticMetaObject.methodCount());
    QCOMPARE(mo.propertyCount(), QDialog::staticMetaObject.propertyCount());

    Graph g;
    QCOMPARE(g.metaObject(), &mo);
    QCOMPARE(g.qt_metacast("Graph"), static_cast<void*>(&g));
    QCOMPARE(g.qt_metacast("QDialog"), static_cast<void*>(static_cast<QDialog*>(&g)));
    QVERIFY(!g.qt_metacast("MainWindow"));
    QCOMPARE(g.objectName(), QStringLiteral("Graph"));
    QCOMPARE(g.size(), QSize(817, 434));
    QVERIFY(!g.layout());
}

void TestGraph::iconAndTitle()
{
    const QString before = QDir::currentPath();
    QTemporaryDir dir;
    QVERIFY(QDir::setCurrent(dir.path()));
    {
        Graph g;  // no icon file in the working folder
        QCOMPARE(g.windowTitle(), QStringLiteral("Quarnel Graph"));
        QVERIFY(g.windowIcon().availableSizes().isEmpty());
        QVERIFY(g.windowIcon().pixmap(32, 32).isNull());
    }
    QImage img(32, 32, QImage::Format_ARGB32);
    img.fill(Qt::darkCyan);
    QVERIFY(img.save(QStringLiteral("tervane.ico"), "ICO"));
    {
        Graph g;
        QVERIFY(g.windowIcon().availableSizes().contains(QSize(32, 32)));
        QCOMPARE(g.windowIcon().pixmap(32, 32).toImage().pixelColor(5, 5), QColor(Qt::darkCyan));
    }
    QDir::setCurrent(before);
}

void TestGraph::formWidgets()
{
    Graph g;
    struct Row
    {
        const char* name;
        const char* cls;
        QRect geometry;
        const char* text;
    };
    // Creation order of the form.
    const Row rows[] = {
        {"buttonBox", "QDialogButtonBox", {650, 400, 161, 32}, nullptr},
        {"plt", "QwtPlot", {0, 10, 791, 381}, nullptr},
        {"Src2Rf", "QDoubleSpinBox", {114, 400, 81, 22}, nullptr},
        {"label", "QLabel", {200, 402, 21, 16}, "ms"},
        {"label_2", "QLabel", {47, 402, 71, 16}, "Source -> RF"},
        {"label_3", "QLabel", {406, 402, 21, 16}, "ms"},
        {"label_5", "QLabel", {237, 402, 81, 16}, "Source -> HDMI"},
        {"Src2Hd", "QDoubleSpinBox", {320, 400, 81, 22}, nullptr},
        {"label_4", "QLabel", {449, 402, 71, 16}, "Source -> Sink"},
        {"Src2Snk", "QDoubleSpinBox", {524, 400, 81, 22}, nullptr},
        {"label_6", "QLabel", {610, 402, 21, 16}, "ms"},
    };
    QStringList order;
    for (QObject* child : g.children())
        if (child->isWidgetType())
            order << child->objectName();
    QStringList want;
    for (const Row& r : rows) {
        want << QLatin1String(r.name);
        QWidget* w = g.findChild<QWidget*>(QLatin1String(r.name), Qt::FindDirectChildrenOnly);
        QVERIFY2(w, r.name);
        QCOMPARE(w->metaObject()->className(), r.cls);
        QCOMPARE(w->geometry(), r.geometry);
        if (r.text)
            QCOMPARE(static_cast<QLabel*>(w)->text(), QLatin1String(r.text));
    }
    QCOMPARE(order, want);

    auto* box = g.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    QCOMPARE(box->orientation(), Qt::Horizontal);
    QCOMPARE(box->standardButtons(), QDialogButtonBox::StandardButtons(QDialogButtonBox::Ok));
}

void TestGraph::readoutSettings()
{
    Graph g;
    for (const char* name : {"Src2Rf", "Src2Hd", "Src2Snk"}) {
        auto* box = g.findChild<QDoubleSpinBox*>(QLatin1String(name));
        QVERIFY(box->hasFrame());
        QCOMPARE(box->alignment(), Qt::AlignRight | Qt::AlignVCenter);
        QVERIFY(!box->isReadOnly());
        QCOMPARE(box->buttonSymbols(), QAbstractSpinBox::NoButtons);
        QCOMPARE(box->decimals(), 3);
        QCOMPARE(box->minimum(), -2000.0);
        QCOMPARE(box->maximum(), 2000.0);
    }
}

void TestGraph::readoutValues_data()
{
    QTest::addColumn<double>("mean");
    QTest::addColumn<QString>("shown");
    QTest::newRow("rounded to 3 decimals") << 12.3456 << "12.346";
    QTest::newRow("zero") << 0.0 << "0.000";
    QTest::newRow("negative") << -3.5 << "-3.500";
    QTest::newRow("above range") << 2500.0 << "2000.000";
    QTest::newRow("below range") << -2500.0 << "-2000.000";
    QTest::newRow("at minimum") << -2000.0 << "-2000.000";
    QTest::newRow("infinite") << kInf << "2000.000";
    QTest::newRow("minus infinite") << -kInf << "-2000.000";
    QTest::newRow("not a number") << kNaN << "n/a";
}

void TestGraph::readoutValues()
{
    QFETCH(double, mean);
    QFETCH(QString, shown);
    g_vaHdmi = true;
    src2RfMean = src2HdMean = src2SnkMean = mean;
    Graph g;
    QCOMPARE(readout(g, "Src2Rf"), shown);
    QCOMPARE(readout(g, "Src2Hd"), shown);
    QCOMPARE(readout(g, "Src2Snk"), shown);
}

void TestGraph::readoutsShowTheirOwnMean()
{
    src2RfMean = 1.0;
    src2HdMean = 2.0;
    src2SnkMean = kNaN;
    Graph g;
    QCOMPARE(readout(g, "Src2Rf"), QStringLiteral("1.000"));
    QCOMPARE(readout(g, "Src2Hd"), QStringLiteral("2.000"));
    QCOMPARE(readout(g, "Src2Snk"), QStringLiteral("n/a"));
    // Only the box without a number carries the stand-in text.
    QVERIFY(g.findChild<QDoubleSpinBox*>(QStringLiteral("Src2Rf"))->specialValueText().isEmpty());
}

void TestGraph::hdmiReadoutFollowsFlag()
{
    src2HdMean = 41.25;
    for (bool hdmi : {false, true}) {
        g_vaHdmi = hdmi;
        Graph g;
        auto* box = g.findChild<QDoubleSpinBox*>(QStringLiteral("Src2Hd"));
        QCOMPARE(box->isEnabled(), hdmi);
        QCOMPARE(box->text(), QStringLiteral("41.250"));  // shown either way
        QVERIFY(g.findChild<QDoubleSpinBox*>(QStringLiteral("Src2Rf"))->isEnabled());
        QVERIFY(g.findChild<QDoubleSpinBox*>(QStringLiteral("Src2Snk"))->isEnabled());
    }
}

void TestGraph::emptyTracesGiveAxesAndMarkersAtZero()
{
    Graph g;
    QwtPlot* plt = plotOf(g);

    // Three curves and three markers, nothing else (no grid, no legend).
    QCOMPARE(plt->itemList().size(), 6);

    const QList<QwtPlotCurve*> curves = itemsOf<QwtPlotCurve>(g, QwtPlotItem::Rtti_PlotCurve);
    const Qt::GlobalColor colours[] = {Qt::blue, Qt::yellow, Qt::red};
    for (int i = 0; i < 3; ++i) {
        QwtPlotCurve* c = curves[i];
        QCOMPARE(c->dataSize(), size_t(0));
        QVERIFY(c->title().isEmpty());
        QCOMPARE(c->pen().color(), QColor(colours[i]));
        QCOMPARE(c->pen().widthF(), 0.0);
        QCOMPARE(c->pen().style(), Qt::SolidLine);
        QVERIFY(!c->symbol());
        QCOMPARE(c->style(), QwtPlotCurve::Lines);
    }

    const QList<QwtPlotMarker*> markers = itemsOf<QwtPlotMarker>(g, QwtPlotItem::Rtti_PlotMarker);
    const char* labels[] = {"tsrc = 0 s", "trf = 0 s", "tsnk = 0 s"};
    for (int i = 0; i < 3; ++i) {
        QwtPlotMarker* m = markers[i];
        QVERIFY(m->title().isEmpty());
        QVERIFY(m->isVisible());
        QCOMPARE(m->xValue(), 0.0);
        QCOMPARE(m->yValue(), 0.0);
        QCOMPARE(m->label().text(), QLatin1String(labels[i]));
        QCOMPARE(m->labelAlignment(), Qt::AlignLeft | Qt::AlignTop);
        QCOMPARE(m->labelOrientation(), Qt::Vertical);
        QCOMPARE(m->lineStyle(), QwtPlotMarker::VLine);
        const QPen pen = m->linePen();
        QCOMPARE(pen.color(), QColor(Qt::black));
        QCOMPARE(pen.brush().style(), Qt::SolidPattern);
        QCOMPARE(pen.widthF(), 0.0);
        QCOMPARE(pen.style(), Qt::DashDotLine);
        QCOMPARE(pen.capStyle(), Qt::SquareCap);
        QCOMPARE(pen.joinStyle(), Qt::BevelJoin);
    }

    QCOMPARE(plt->axisTitle(QwtPlot::xBottom).text(), QStringLiteral("Time / s"));
    QCOMPARE(plt->axisTitle(QwtPlot::yLeft).text(), QStringLiteral("Voltage / V"));
    QVERIFY(plt->axisAutoScale(QwtPlot::yLeft));
    QVERIFY(!plt->axisAutoScale(QwtPlot::xBottom));
    QVERIFY(!plt->axisEnabled(QwtPlot::yRight));
    QVERIFY(!plt->axisEnabled(QwtPlot::xTop));
    QCOMPARE(readout(g, "Src2Rf"), QStringLiteral("0.000"));
    QCOMPARE(readout(g, "Src2Hd"), QStringLiteral("0.000"));
    QCOMPARE(readout(g, "Src2Snk"), QStringLiteral("0.000"));
}

void TestGraph::xAxisPerFamily_data()
{
    QTest::addColumn<int>("osTyp");
    QTest::addColumn<double>("half");
    QTest::newRow("first family") << 0 << 0.5;
    QTest::newRow("second family") << 1 << 0.6;
    QTest::newRow("other index") << 7 << 0.6;
    QTest::newRow("negative index") << -1 << 0.6;
}

void TestGraph::xAxisPerFamily()
{
    QFETCH(int, osTyp);
    QFETCH(double, half);
    g_osTyp = osTyp;
    // Samples reaching past the window are cut off, not rescaled.
    fillSeries(101, 0.0, 0.0, 0.0);
    for (double& ti : t)
        ti *= 3.0;
    Graph g;
    QwtPlot* plt = plotOf(g);
    plt->updateAxes();
    const QwtInterval x = plt->axisInterval(QwtPlot::xBottom);
    QCOMPARE(x.minValue(), -half);
    QCOMPARE(x.maxValue(), half);
    QCOMPARE(plt->axisStepSize(QwtPlot::xBottom), 0.0);
    auto* engine = dynamic_cast<QwtLinearScaleEngine*>(plt->axisScaleEngine(QwtPlot::xBottom));
    QVERIFY(engine);
    QCOMPARE(engine->base(), 10u);
    QCOMPARE(graph::timeWindow(osTyp).hi, half);
}

void TestGraph::markerLabels()
{
    QCOMPARE(graph::markerLabel(QStringLiteral("tsrc = %1 s"), 0.0125),
             QStringLiteral("tsrc = 0.0125 s"));
    QCOMPARE(graph::markerLabel(QStringLiteral("trf = %1 s"), 0.0831234567),
             QStringLiteral("trf = 0.0831235 s"));
    QCOMPARE(graph::markerLabel(QStringLiteral("tsnk = %1 s"), 0.0), QStringLiteral("tsnk = 0 s"));
    QCOMPARE(graph::markerLabel(QStringLiteral("tsrc = %1 s"), -0.25),
             QStringLiteral("tsrc = -0.25 s"));
    QCOMPARE(graph::markerLabel(QStringLiteral("trf = %1 s"), 1.234567e-7),
             QStringLiteral("trf = 1.23457e-07 s"));

    tsrc = 0.0125;
    trf = 0.0831234567;
    tsnk = -0.25;
    Graph g;
    const QList<QwtPlotMarker*> m = itemsOf<QwtPlotMarker>(g, QwtPlotItem::Rtti_PlotMarker);
    QCOMPARE(m[0]->label().text(), QStringLiteral("tsrc = 0.0125 s"));
    QCOMPARE(m[1]->label().text(), QStringLiteral("trf = 0.0831235 s"));
    QCOMPARE(m[2]->label().text(), QStringLiteral("tsnk = -0.25 s"));
    QCOMPARE(m[1]->xValue(), 0.0831234567);
    QCOMPARE(m[2]->xValue(), -0.25);
}

void TestGraph::curvesKeepTheirOwnSamples()
{
    t = {-0.2, -0.1, 0.0, 0.1, 0.2};
    d1 = {1, 2, 3, 4, 5};
    d2 = {0.1, 0.2, 0.0};  // RF read delivered fewer points
    d3 = {5, 4, 3, 2, 1, 0, -1};
    Graph g;
    const QList<QwtPlotCurve*> c = itemsOf<QwtPlotCurve>(g, QwtPlotItem::Rtti_PlotCurve);
    QCOMPARE(c[0]->dataSize(), size_t(5));
    QCOMPARE(c[1]->dataSize(), size_t(3));
    QCOMPARE(c[2]->dataSize(), size_t(5));

    // The next series may overwrite the program-wide vectors; the open dialog
    // keeps what it was given.
    t.fill(9.0);
    d1.clear();
    d2[0] = 99.0;
    QCOMPARE(c[0]->dataSize(), size_t(5));
    QCOMPARE(c[0]->sample(3), QPointF(0.1, 4.0));
    QCOMPARE(c[1]->sample(0), QPointF(-0.2, 0.1));
    QCOMPARE(c[2]->sample(4), QPointF(0.2, 1.0));
}

void TestGraph::nonFiniteResults()
{
    fillSeries(1000, -0.3, 0.0, 0.2);
    trf = kNaN;   // no RF edge
    tsnk = kInf;  // nonsense edge time
    d2.fill(kNaN);  // a flat RF trace normalises to all NaN
    d1[500] = kNaN;
    Graph g;
    const QList<QwtPlotMarker*> m = itemsOf<QwtPlotMarker>(g, QwtPlotItem::Rtti_PlotMarker);
    QVERIFY(m[0]->isVisible());
    QVERIFY(!m[1]->isVisible());
    QVERIFY(!m[2]->isVisible());
    QCOMPARE(m[0]->xValue(), -0.3);

    // The y axis still follows the finite data (source 0.02 .. 0.8 V).
    QwtPlot* plt = plotOf(g);
    plt->updateAxes();
    const QwtInterval y = plt->axisInterval(QwtPlot::yLeft);
    QVERIFY(std::isfinite(y.minValue()) && std::isfinite(y.maxValue()));
    QVERIFY(y.minValue() <= 0.0 && y.maxValue() >= 0.8);
    QVERIFY(y.maxValue() < 2.0);

    g.show();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
    QVERIFY(!g.grab().isNull());  // draws without trouble
}

void TestGraph::okEscAndCloseAllEndTheDialog()
{
    {
        // The form connects the button box to accept() and reject().
        Graph g;
        auto* box = g.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        QVERIFY(QObject::disconnect(box, SIGNAL(accepted()), &g, SLOT(accept())));
        QVERIFY(QObject::disconnect(box, SIGNAL(rejected()), &g, SLOT(reject())));
    }
    {
        Graph g;
        auto* box = g.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        QTimer::singleShot(0, [box]() {
            QTest::mouseClick(box->button(QDialogButtonBox::Ok), Qt::LeftButton);
        });
        QCOMPARE(g.exec(), int(QDialog::Accepted));
        QVERIFY(!g.isVisible());
    }
    {
        Graph g;
        QTimer::singleShot(0, [&g]() {
            QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &g;
            QTest::keyClick(target, Qt::Key_Escape);
        });
        QCOMPARE(g.exec(), int(QDialog::Rejected));
        QVERIFY(!g.isVisible());
    }
    {
        Graph g;
        QTimer::singleShot(0, [&g]() { g.close(); });
        QCOMPARE(g.exec(), int(QDialog::Rejected));
        QVERIFY(!g.isVisible());
    }
    {
        // The button box's own reject path reaches the dialog too.
        Graph g;
        auto* box = g.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        QTimer::singleShot(0, [box]() { emit box->rejected(); });
        QCOMPARE(g.exec(), int(QDialog::Rejected));
    }
}

void TestGraph::pendingEventsAreProcessed()
{
    EventCounter counter;
    QCoreApplication::postEvent(&counter, new QEvent(QEvent::User));
    Graph g;
    QCOMPARE(counter.seen, 1);
}

void TestGraph::drawsTracesAndMarkers()
{
    fillSeries(20000, -0.3, -0.1, 0.25);
    Graph g;
    g.show();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
    const QImage img = g.grab().toImage().convertToFormat(QImage::Format_RGB32);

    QwtPlot* plt = plotOf(g);
    QWidget* canvas = plt->canvas();
    const QRect area(canvas->mapTo(&g, QPoint(0, 0)), canvas->size());
    QVERIFY(img.rect().contains(area));

    int blue = 0, yellow = 0, red = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = img.pixel(x, y);
            blue += p == qRgb(0, 0, 255);
            yellow += p == qRgb(255, 255, 0);
            red += p == qRgb(255, 0, 0);
        }
    }
    QVERIFY2(blue > 200 && yellow > 200 && red > 200,
             qPrintable(QString("blue %1 yellow %2 red %3").arg(blue).arg(yellow).arg(red)));

    // Each marker is a dash-dot line in the pixel column of its edge time.
    auto blackIn = [&](int x) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            n += img.pixel(x, y) == qRgb(0, 0, 0);
        return n;
    };
    const QwtScaleMap map = plt->canvasMap(QwtPlot::xBottom);
    for (double edge : {tsrc, trf, tsnk}) {
        const int x = area.left() + qRound(map.transform(edge));
        const int best = std::max({blackIn(x - 1), blackIn(x), blackIn(x + 1)});
        QVERIFY2(best > area.height() / 3,
                 qPrintable(QString("edge %1: %2 black").arg(edge).arg(best)));
        QVERIFY(blackIn(x + 4) < area.height() / 10);
    }
}

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    TestGraph t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_graph.moc"
