// The distribution plots of the viewer: histogram, empirical distribution
// (CDF) and values against pass number, for one series or two overlaid.
#pragma once

#include "stats.h"

#include <QColor>
#include <QString>
#include <QVector>

class QwtPlot;

namespace view {

struct PlotSet
{
    QString name;
    QVector<double> values;  // per pass; not-a-number = missing
    QColor colour;
};

// Clears the plot and gives it its axis titles.
void resetPlot(QwtPlot* plt, const QString& xTitle, const QString& yTitle);

// Histograms over common bins no narrower than minWidth: one set filled, two
// as outlines.
void showHistogram(QwtPlot* plt, const QVector<PlotSet>& sets, double minWidth, const QString& unit);
// Empirical distribution functions as steps.
void showCdf(QwtPlot* plt, const QVector<PlotSet>& sets, const QString& unit);
// Values against pass number; outliers marked with red crosses on top.
void showValues(QwtPlot* plt, const QVector<int>& passes, const PlotSet& set, const QVector<bool>& outliers,
                const QString& unit);

// Counts of `values` in `bins` bins of `width` from `lo`; values outside
// are left out.
QVector<int> countInto(const QVector<double>& values, double lo, double width, int bins);

}  // namespace view
