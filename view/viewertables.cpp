#include "viewertables.h"

#include <QTableWidget>

#include <cmath>

namespace view {

QString msCell(double v)
{
    return std::isfinite(v) ? QString::number(v, 'f', 3) : QStringLiteral("n/a");
}

QString stampText(const QString& stamp)
{
    const QDateTime when = stampTime(stamp);
    return when.isValid() ? when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) : stamp;
}

QString unitOf(int delay)
{
    return delayName(delay) + (delay == SrcHd ? QStringLiteral(" (analyzer's ms)") : QStringLiteral(" / ms"));
}

void fillSummaryTable(QTableWidget* table, const QVector<ValueColumn>& columns, double resolutionMs)
{
    table->clear();
    table->setColumnCount(kSummaryRows);
    table->setRowCount(columns.size());
    QStringList heads;
    for (int k = 0; k < kSummaryRows; ++k)
        heads << summaryRowName(k);
    table->setHorizontalHeaderLabels(heads);
    QStringList rows;
    for (int r = 0; r < columns.size(); ++r) {
        rows << columns[r].title;
        const Summary s = summarise(columns[r].values, resolutionMs);
        for (int k = 0; k < kSummaryRows; ++k) {
            const double v = summaryRowValue(s, k);
            auto* item = new QTableWidgetItem(summaryRowIsCount(k) ? QString::number(int(v)) : msCell(v));
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table->setItem(r, k, item);
        }
    }
    table->setVerticalHeaderLabels(rows);
    table->resizeColumnsToContents();
}

void fillCompareTable(QTableWidget* t, const QString& titleA, const Summary& a, const QString& titleB, const Summary& b)
{
    t->setColumnCount(3);
    t->setRowCount(kSummaryRows);
    t->setHorizontalHeaderLabels({titleA, titleB, QStringLiteral("difference")});
    QStringList rows;
    for (int k = 0; k < kSummaryRows; ++k) {
        rows << summaryRowName(k);
        const double va = summaryRowValue(a, k), vb = summaryRowValue(b, k);
        const bool count = summaryRowIsCount(k);
        const QString cells[3] = {count ? QString::number(int(va)) : msCell(va),
                                  count ? QString::number(int(vb)) : msCell(vb),
                                  count ? QString::number(int(vb) - int(va)) : msCell(vb - va)};
        for (int c = 0; c < 3; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            t->setItem(k, c, item);
        }
    }
    t->setVerticalHeaderLabels(rows);
    t->resizeColumnsToContents();
}

QVector<TableColumn> passTableColumns(const Series& s, double resolutionMs, QVector<bool>* marked)
{
    // Outliers by the program's rule, marked, never hidden.
    marked->fill(false, s.passCount());
    QStringList outlierText;
    QVector<QVector<bool>> masks;
    for (int d = 0; d < kDelays; ++d)
        masks << outlierMask(s.values[d], resolutionMs);
    for (int i = 0; i < s.passCount(); ++i) {
        QStringList names;
        for (int d = 0; d < kDelays; ++d)
            if (i < masks[d].size() && masks[d][i])
                names << delayName(d);
        (*marked)[i] = !names.isEmpty();
        outlierText << names.join(QStringLiteral(", "));
    }
    QVector<TableColumn> cols;
    QVector<double> passNumbers;
    QStringList traces;
    for (int i = 0; i < s.passCount(); ++i) {
        passNumbers << s.pass[i];
        traces << (s.hasTraces(s.pass[i]) ? QStringLiteral("yes") : QStringLiteral("no"));
    }
    cols << TableColumn{QStringLiteral("Pass"), passNumbers, {}, 0};
    cols << TableColumn{QStringLiteral("Time"), {}, s.times, 0};
    for (int d = 0; d < kDelays; ++d)
        cols << TableColumn{unitOf(d), s.values[d], {}, 3};
    const char* const edges[3] = {"tsrc / s", "trf / s", "tsnk / s"};
    for (int e = 0; e < 3; ++e)
        cols << TableColumn{QLatin1String(edges[e]), s.edges[e], {}, 6};
    cols << TableColumn{QStringLiteral("Traces"), {}, traces, 0};
    cols << TableColumn{QStringLiteral("Outlier"), {}, outlierText, 0};
    return cols;
}

QVector<TableColumn> reanalysisTableColumns(const Reanalysis& r, const QVector<ValueColumn>& values,
                                            QVector<bool>* marked)
{
    marked->clear();
    QVector<TableColumn> cols;
    QVector<double> passes;
    QStringList reproduced, problems;
    for (const PassReanalysis& p : r.passes) {
        passes << p.pass;
        reproduced << (p.analysed ? (p.reproduced ? QStringLiteral("yes") : QStringLiteral("NO")) : QString());
        problems << p.problems.join(QStringLiteral("; "));
        *marked << (p.analysed && !p.reproduced);
    }
    cols << TableColumn{QStringLiteral("Pass"), passes, {}, 0};
    for (const ValueColumn& c : values)
        cols << TableColumn{c.title, c.values, {}, 3};
    cols << TableColumn{QStringLiteral("Stored delays reproduced"), {}, reproduced, 0};
    cols << TableColumn{QStringLiteral("Problems"), {}, problems, 0};
    return cols;
}

}  // namespace view
