// One pass of a stored series: its three traces with the edges found, in the
// result dialog's style, the stored delays beside the re-computed ones, and
// stepping through the passes with the keyboard. Zoom and pan stay when
// stepping, so an edge can be followed from pass to pass; Home resets.
#pragma once

#include "reanalysis.h"
#include "storedseries.h"

#include <QSharedPointer>
#include <QVector>
#include <QWidget>

class QwtPlotMarker;
class Ui_PassView;

namespace graph {
class PlotNavigation;
}

class PassView : public QWidget
{
    Q_OBJECT

public:
    explicit PassView(QSharedPointer<const view::Series> series, QWidget* parent = nullptr);
    ~PassView() override;

    // Shows the pass at `index` of the series' pass vectors (clamped).
    void showIndex(int index);
    int currentIndex() const { return m_index; }
    void step(int by);
    graph::PlotNavigation* navigation() const { return m_nav; }
    // What the shown pass's re-analysis gave (its traces' problems included).
    const view::PassReanalysis& shown() const { return m_shown; }

signals:
    void passShown(int index);

private slots:
    void on_prevButton_clicked() { step(-1); }
    void on_nextButton_clicked() { step(+1); }
    void on_midEdgesBox_toggled(bool) { showIndex(m_index); }

private:
    void fillPlot();
    void fillLabels();

    Ui_PassView* ui = nullptr;
    QSharedPointer<const view::Series> m_series;
    int m_index = -1;
    view::PassWork m_work;
    view::PassReanalysis m_shown;
    graph::PlotNavigation* m_nav = nullptr;
};
