#include "history/historytablemodel.h"

namespace qeln {

HistoryTableModel::HistoryTableModel(const QStringList &headers, QObject *parent)
    : QAbstractTableModel(parent)
    , headers_(headers)
{
    batch_.setSingleShot(true);
    batch_.setInterval(BatchMs);
    connect(&batch_, &QTimer::timeout, this, &HistoryTableModel::flush);
}

int HistoryTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : shown_;
}

int HistoryTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(headers_.size());
}

QVariant HistoryTableModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= shown_)
        return {};
    return rows_[index.row()].value(index.column());
}

QVariant HistoryTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return headers_.value(section);
    return section + 1;
}

void HistoryTableModel::setRow(int row, const QStringList &cells)
{
    if (row < 1)
        return;
    const int at = row - 1;
    if (at < rows_.size()) {
        rows_[at] = cells;
        if (at < shown_)
            Q_EMIT dataChanged(index(at, 0), index(at, columnCount() - 1));
        return;
    }
    while (rows_.size() < at)
        rows_.append(QStringList());
    rows_.append(cells);
    if (!batch_.isActive())
        batch_.start();
}

void HistoryTableModel::flush()
{
    batch_.stop();
    if (rows_.size() <= shown_)
        return;
    beginInsertRows(QModelIndex(), shown_, int(rows_.size()) - 1);
    shown_ = int(rows_.size());
    endInsertRows();
}

} // namespace qeln
