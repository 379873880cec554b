// The modal result dialog that closes a measurement series: the last pass's
// three traces against time with their edge markers, and the series' three
// mean delays. It reads the program-wide results once, in its constructor.
#pragma once

#include <QDialog>

class QwtPlotCurve;
class Ui_Graph;

class Graph : public QDialog
{
    Q_OBJECT

public:
    explicit Graph(QWidget* parent = nullptr);
    ~Graph() override;

private:
    // Owned by the plot (attached items); kept for reference only.
    QwtPlotCurve* curve1 = nullptr;  // source trace d1
    QwtPlotCurve* curve2 = nullptr;  // RF trace d2
    QwtPlotCurve* curve3 = nullptr;  // sink trace d3
    Ui_Graph* ui = nullptr;          // owned
};
