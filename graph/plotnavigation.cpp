#include "plotnavigation.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStack>
#include <QWheelEvent>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_panner.h>
#include <qwt_plot_zoomer.h>
#include <qwt_scale_div.h>

#include <cmath>

namespace graph {

namespace {

const int kAxes[2] = {QwtPlot::xBottom, QwtPlot::yLeft};
// One wheel notch zooms by this factor.
constexpr double kWheelStep = 0.8;

}  // namespace

PlotNavigation::PlotNavigation(QwtPlot* plot) : QObject(plot), m_plot(plot), m_canvas(plot->canvas())
{
    QWidget* canvas = plot->canvas();
    // Rubber band on the left button; the right button steps back, the
    // middle button is the panner's.
    m_zoomer = new QwtPlotZoomer(QwtPlot::xBottom, QwtPlot::yLeft, canvas, false);
    m_zoomer->setTrackerMode(QwtPicker::AlwaysOff);
    m_zoomer->setMousePattern(QwtEventPattern::MouseSelect2, Qt::NoButton);
    m_zoomer->setMousePattern(QwtEventPattern::MouseSelect3, Qt::RightButton);
    m_zoomer->setMousePattern(QwtEventPattern::MouseSelect6, Qt::NoButton);
    // Home is ours (the zoomer's base knows nothing of automatic scaling).
    m_zoomer->setKeyPattern(QwtEventPattern::KeyHome, Qt::Key_unknown);

    auto* middle = new QwtPlotPanner(canvas);
    middle->setMouseButton(Qt::MiddleButton);
    auto* shifted = new QwtPlotPanner(canvas);
    shifted->setMouseButton(Qt::LeftButton, Qt::ShiftModifier);

    canvas->setFocusPolicy(Qt::StrongFocus);
    // Installed last, so it sees the canvas's events before the zoomer.
    canvas->installEventFilter(this);
    rememberHome();
}

void PlotNavigation::rememberHome()
{
    m_plot->updateAxes();  // scales as the set-up asked for them, autoscaled ones included
    for (int i = 0; i < 2; ++i) {
        const int axis = kAxes[i];
        AxisHome& h = m_home[i];
        h.autoScale = m_plot->axisAutoScale(axis);
        const QwtScaleDiv& div = m_plot->axisScaleDiv(axis);
        h.lo = div.lowerBound();
        h.hi = div.upperBound();
    }
}

void PlotNavigation::home()
{
    for (int i = 0; i < 2; ++i) {
        const AxisHome& h = m_home[i];
        if (h.autoScale)
            m_plot->setAxisAutoScale(kAxes[i], true);
        else
            m_plot->setAxisScale(kAxes[i], h.lo, h.hi);
    }
    m_plot->replot();
    m_zoomer->setZoomBase(false);
    m_baseSet = true;
}

QRectF PlotNavigation::view() const
{
    const QwtScaleDiv& x = m_plot->axisScaleDiv(QwtPlot::xBottom);
    const QwtScaleDiv& y = m_plot->axisScaleDiv(QwtPlot::yLeft);
    return QRectF(QPointF(x.lowerBound(), y.lowerBound()), QPointF(x.upperBound(), y.upperBound()));
}

void PlotNavigation::zoomAbout(const QPointF& centre, double factor, bool timeAxis, bool valueAxis)
{
    if (!(factor > 0.0) || !std::isfinite(factor))
        return;
    const QRectF v = view();
    if (timeAxis)
        m_plot->setAxisScale(QwtPlot::xBottom, centre.x() - (centre.x() - v.left()) * factor,
                             centre.x() + (v.right() - centre.x()) * factor);
    if (valueAxis)
        m_plot->setAxisScale(QwtPlot::yLeft, centre.y() - (centre.y() - v.top()) * factor,
                             centre.y() + (v.bottom() - centre.y()) * factor);
    m_plot->replot();
}

// The zoomer keeps a stack of views; a wheel zoom or a pan changes the view
// behind its back. The current view goes on top of the stack before the
// next rubber band, so that a right click comes back to it.
void PlotNavigation::syncZoomer()
{
    if (!m_baseSet) {
        m_zoomer->setZoomBase(false);  // the view the operator first saw
        m_baseSet = true;
        return;
    }
    const QRectF v = view();
    if (m_zoomer->zoomRect() == v)
        return;
    QStack<QRectF> stack = m_zoomer->zoomStack();
    stack.resize(int(m_zoomer->zoomRectIndex()) + 1);
    stack.push(v);
    m_zoomer->setZoomStack(stack, stack.size() - 1);
}

bool PlotNavigation::eventFilter(QObject* watched, QEvent* event)
{
    // The canvas sends events while the plot around it is being destroyed:
    // nothing of the plot is touched before the event is known to be ours.
    if (watched != m_canvas)
        return false;
    switch (event->type()) {
    case QEvent::KeyPress:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Home) {
            home();
            return true;
        }
        break;
    case QEvent::MouseButtonPress: {
        const auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() == Qt::LeftButton && e->modifiers() == Qt::NoModifier)
            syncZoomer();
        break;
    }
    case QEvent::Wheel: {
        const auto* e = static_cast<QWheelEvent*>(event);
        const int delta = e->angleDelta().y();
        if (delta == 0)
            return true;
        const QPointF at(m_plot->invTransform(QwtPlot::xBottom, qRound(e->position().x())),
                         m_plot->invTransform(QwtPlot::yLeft, qRound(e->position().y())));
        const bool timeOnly = e->modifiers() & Qt::ShiftModifier;
        const bool valueOnly = e->modifiers() & Qt::ControlModifier;
        zoomAbout(at, std::pow(kWheelStep, delta / 120.0), !valueOnly, !timeOnly);
        return true;
    }
    default:
        break;
    }
    return false;
}

}  // namespace graph
