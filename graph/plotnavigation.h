// Zoom and pan for a plot whose content is set up once: a left-button
// rubber band zooms in (right click steps back), the wheel zooms about the
// cursor (Shift: time axis only, Ctrl: value axis only), the middle button
// or Shift with the left button pans, and Home returns to the plot as it was
// set up (fixed scales and automatic scaling alike). The items, colours and
// texts of the plot are left alone.
#pragma once

#include <QObject>
#include <QRectF>

class QwtPlot;
class QwtPlotZoomer;

namespace graph {

class PlotNavigation : public QObject
{
    Q_OBJECT

public:
    // Installs itself on the plot's canvas; owned by the plot.
    explicit PlotNavigation(QwtPlot* plot);

    // Back to the plot as it was set up.
    void home();
    // Zooms the canvas's current view by `factor` (< 1 zooms in) about the
    // plot coordinates `centre`, on the axes selected.
    void zoomAbout(const QPointF& centre, double factor, bool timeAxis = true, bool valueAxis = true);
    // The view as plot coordinates (x: time axis, y: value axis).
    QRectF view() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Takes the plot's current axis set-up as the one Home returns to.
    void rememberHome();
    void syncZoomer();

    struct AxisHome
    {
        bool autoScale = true;
        double lo = 0.0;
        double hi = 1.0;
    };
    QwtPlot* m_plot;
    QObject* m_canvas;  // compared only, never dereferenced
    QwtPlotZoomer* m_zoomer;
    AxisHome m_home[2];  // time axis, value axis
    bool m_baseSet = false;
};

}  // namespace graph
