#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>
#include <QTimer>

namespace qeln {

// The rows of a history grid for a table view: the header row as the horizontal header, then
// one row per record. Rows arrive one at a time, often faster than a view could take them one
// by one (a few thousand a second on a network link); they are kept at once and handed to the
// view in batches, so a long log fills without holding up the event loop.
class HistoryTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int BatchMs = 40; // longest wait before stored rows reach the view

    explicit HistoryTableModel(const QStringList &headers, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    QStringList headers() const { return headers_; }
    // Grid row `row` (1 = the first record row) holds these cells. A row that is already
    // shown is replaced in place; rows skipped on the way stay empty.
    void setRow(int row, const QStringList &cells);
    // Hands every stored row to the view now.
    void flush();
    // The rows stored so far, shown or not; rows()[k - 1] is grid row k.
    const QList<QStringList> &rows() const { return rows_; }

private:
    QStringList headers_;
    QList<QStringList> rows_;
    int shown_ = 0; // rows the view knows of
    QTimer batch_;
};

} // namespace qeln
