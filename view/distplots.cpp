#include "distplots.h"

#include <qwt_legend.h>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_histogram.h>
#include <qwt_samples.h>
#include <qwt_symbol.h>

#include <algorithm>
#include <cmath>

namespace view {

namespace {

void addGrid(QwtPlot* plt)
{
    auto* grid = new QwtPlotGrid;
    grid->setMajorPen(QColor(220, 220, 220), 0.0, Qt::DotLine);
    grid->attach(plt);
}

void legendFor(QwtPlot* plt, const QVector<PlotSet>& sets)
{
    if (sets.size() > 1 && !plt->legend())
        plt->insertLegend(new QwtLegend, QwtPlot::BottomLegend);
}

}  // namespace

void resetPlot(QwtPlot* plt, const QString& xTitle, const QString& yTitle)
{
    plt->detachItems(QwtPlotItem::Rtti_PlotItem, true);
    plt->setAxisTitle(QwtPlot::xBottom, xTitle);
    plt->setAxisTitle(QwtPlot::yLeft, yTitle);
    plt->setAxisAutoScale(QwtPlot::xBottom, true);
    plt->setAxisAutoScale(QwtPlot::yLeft, true);
    plt->setCanvasBackground(Qt::white);
    addGrid(plt);
}

QVector<int> countInto(const QVector<double>& values, double lo, double width, int bins)
{
    QVector<int> counts(std::max(bins, 0), 0);
    if (!(width > 0.0) || bins <= 0)
        return counts;
    for (double v : values) {
        if (!std::isfinite(v))
            continue;
        const double x = (v - lo) / width;
        if (x < 0.0)
            continue;
        int b = static_cast<int>(x);
        if (b >= bins) {
            if (b == bins && v <= lo + width * bins)  // the top edge belongs to the last bin
                b = bins - 1;
            else
                continue;
        }
        ++counts[b];
    }
    return counts;
}

void showHistogram(QwtPlot* plt, const QVector<PlotSet>& sets, double minWidth, const QString& unit)
{
    resetPlot(plt, unit, QStringLiteral("Passes"));
    QVector<double> all;
    for (const PlotSet& s : sets)
        all += s.values;
    const measurement::Histogram common = histogram(all, minWidth);
    if (common.counts.isEmpty() || !(common.width > 0.0)) {
        plt->replot();
        return;
    }
    for (const PlotSet& s : sets) {
        const QVector<int> counts =
            sets.size() == 1 ? common.counts : countInto(s.values, common.start, common.width, common.counts.size());
        QVector<QwtIntervalSample> samples;
        samples.reserve(counts.size());
        for (int b = 0; b < counts.size(); ++b)
            samples << QwtIntervalSample(counts[b], common.start + b * common.width,
                                         common.start + (b + 1) * common.width);
        auto* h = new QwtPlotHistogram(s.name);
        h->setSamples(samples);
        if (sets.size() == 1) {
            h->setStyle(QwtPlotHistogram::Columns);
            h->setBrush(s.colour.lighter(150));
            h->setPen(QPen(s.colour, 0.0));
        } else {
            h->setStyle(QwtPlotHistogram::Outline);
            h->setPen(QPen(s.colour, 1.5));
            h->setBrush(Qt::NoBrush);
        }
        h->attach(plt);
    }
    legendFor(plt, sets);
    plt->replot();
}

void showCdf(QwtPlot* plt, const QVector<PlotSet>& sets, const QString& unit)
{
    resetPlot(plt, unit, QStringLiteral("Share of passes"));
    for (const PlotSet& s : sets) {
        QVector<double> x;
        x.reserve(s.values.size());
        for (double v : s.values)
            if (std::isfinite(v))
                x << v;
        std::sort(x.begin(), x.end());
        QVector<double> y(x.size());
        for (int i = 0; i < x.size(); ++i)
            y[i] = double(i + 1) / double(x.size());
        auto* c = new QwtPlotCurve(s.name);
        c->setStyle(QwtPlotCurve::Steps);
        c->setPen(QPen(s.colour, 1.5));
        c->setSamples(x, y);
        c->attach(plt);
    }
    plt->setAxisScale(QwtPlot::yLeft, 0.0, 1.0);
    legendFor(plt, sets);
    plt->replot();
}

void showValues(QwtPlot* plt, const QVector<int>& passes, const PlotSet& set, const QVector<bool>& outliers,
                const QString& unit)
{
    resetPlot(plt, QStringLiteral("Pass"), unit);
    QVector<double> x, y, ox, oy;
    for (int i = 0; i < passes.size() && i < set.values.size(); ++i) {
        const double v = set.values[i];
        if (!std::isfinite(v))
            continue;
        x << passes[i];
        y << v;
        if (i < outliers.size() && outliers[i]) {
            ox << passes[i];
            oy << v;
        }
    }
    auto* c = new QwtPlotCurve(set.name);
    c->setStyle(QwtPlotCurve::Dots);
    c->setPen(QPen(set.colour, 3.0));
    c->setSamples(x, y);
    c->attach(plt);
    auto* o = new QwtPlotCurve(QStringLiteral("outliers"));
    o->setStyle(QwtPlotCurve::NoCurve);
    o->setSymbol(new QwtSymbol(QwtSymbol::XCross, Qt::NoBrush, QPen(Qt::red, 1.5), QSize(9, 9)));
    o->setSamples(ox, oy);
    o->attach(plt);
    plt->replot();
}

}  // namespace view
