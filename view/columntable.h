// A read-only table of per-pass columns for the pass and re-analysis views:
// numbers shown with fixed decimals, missing values shown as "missing" and
// sorted last, marked rows (outliers, mismatches) tinted, never hidden.
#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QStringList>
#include <QVector>

namespace view {

struct TableColumn
{
    QString title;
    QVector<double> numbers;  // a number column, or ...
    QStringList texts;        // ... a text column
    int decimals = 3;
};

class ColumnTable : public QAbstractTableModel
{
public:
    using QAbstractTableModel::QAbstractTableModel;

    // Row i of every column is one pass; marked[i] tints it (may be empty).
    void setColumns(QVector<TableColumn> columns, QVector<bool> marked = {});

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation o, int role = Qt::DisplayRole) const override;

    static constexpr int SortRole = Qt::UserRole;

private:
    QVector<TableColumn> m_columns;
    QVector<bool> m_marked;
    int m_rows = 0;
};

// Sorts by ColumnTable::SortRole, missing values after every number in
// either direction.
class ColumnSort : public QSortFilterProxyModel
{
public:
    explicit ColumnSort(QObject* parent = nullptr);

protected:
    bool lessThan(const QModelIndex& a, const QModelIndex& b) const override;
};

}  // namespace view
