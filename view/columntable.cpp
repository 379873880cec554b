#include "columntable.h"

#include <QBrush>
#include <QColor>

#include <algorithm>
#include <cmath>

namespace view {

void ColumnTable::setColumns(QVector<TableColumn> columns, QVector<bool> marked)
{
    beginResetModel();
    m_columns = std::move(columns);
    m_marked = std::move(marked);
    m_rows = 0;
    for (const TableColumn& c : m_columns)
        m_rows = std::max(m_rows, std::max(c.numbers.size(), c.texts.size()));
    endResetModel();
}

int ColumnTable::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int ColumnTable::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_columns.size();
}

QVariant ColumnTable::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= m_columns.size())
        return QVariant();
    const TableColumn& c = m_columns[index.column()];
    const int row = index.row();
    const bool isNumber = !c.numbers.isEmpty();
    const double v = isNumber && row < c.numbers.size() ? c.numbers[row] : std::nan("");
    switch (role) {
    case Qt::DisplayRole:
        if (!isNumber)
            return row < c.texts.size() ? c.texts[row] : QString();
        return std::isnan(v) ? QStringLiteral("missing") : QString::number(v, 'f', c.decimals);
    case SortRole:
        if (!isNumber)
            return row < c.texts.size() ? c.texts[row] : QString();
        return v;
    case Qt::TextAlignmentRole:
        return isNumber ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    case Qt::ForegroundRole:
        return isNumber && std::isnan(v) ? QBrush(Qt::gray) : QVariant();
    case Qt::BackgroundRole:
        return row < m_marked.size() && m_marked[row] ? QBrush(QColor(255, 215, 215)) : QVariant();
    default:
        return QVariant();
    }
}

QVariant ColumnTable::headerData(int section, Qt::Orientation o, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (o == Qt::Vertical)
        return section + 1;
    return section < m_columns.size() ? m_columns[section].title : QVariant();
}

ColumnSort::ColumnSort(QObject* parent) : QSortFilterProxyModel(parent)
{
    setSortRole(ColumnTable::SortRole);
}

bool ColumnSort::lessThan(const QModelIndex& a, const QModelIndex& b) const
{
    const QVariant va = a.data(ColumnTable::SortRole);
    const QVariant vb = b.data(ColumnTable::SortRole);
    if (va.type() == QVariant::Double && vb.type() == QVariant::Double) {
        const double x = va.toDouble();
        const double y = vb.toDouble();
        // Missing values last whichever way the column is sorted.
        const bool descending = sortOrder() == Qt::DescendingOrder;
        if (std::isnan(x) || std::isnan(y)) {
            if (std::isnan(x) && std::isnan(y))
                return false;
            return descending ? std::isnan(x) : std::isnan(y);
        }
        return x < y;
    }
    return QString::localeAwareCompare(va.toString(), vb.toString()) < 0;
}

}  // namespace view
