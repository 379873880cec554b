// What the viewer's tables show, as plain functions: the columns of the pass
// and re-analysis tables, the summary and comparison cells, and the texts
// they share with the plots.
#pragma once

#include "columntable.h"
#include "exporting.h"
#include "reanalysis.h"
#include "stats.h"
#include "storedseries.h"

class QTableWidget;

namespace view {

QString msCell(double v);  // "n/a" when not finite
QString stampText(const QString& stamp);
QString unitOf(int delay);  // axis and column title of a delay

// Rows: columns of values; columns: the summary's figures.
void fillSummaryTable(QTableWidget* table, const QVector<ValueColumn>& columns, double resolutionMs);
// Rows: the summary's figures; columns: a, b and their difference b - a.
void fillCompareTable(QTableWidget* table, const QString& titleA, const Summary& a, const QString& titleB,
                      const Summary& b);

// One row per pass; `marked` flags the rows with an outlier by the program's rule.
QVector<TableColumn> passTableColumns(const Series& s, double resolutionMs, QVector<bool>* marked);
// One row per pass re-analysed; `marked` flags the passes that do not give the stored delays.
QVector<TableColumn> reanalysisTableColumns(const Reanalysis& r, const QVector<ValueColumn>& values,
                                            QVector<bool>* marked);

}  // namespace view
