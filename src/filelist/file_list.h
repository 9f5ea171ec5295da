#pragma once

#include <QAbstractListModel>
#include <QItemSelectionModel>
#include <QStringList>

namespace vellumax {

// The work queue: the texts of the list's entries, in order. Entries are full paths as the
// adders produced them; they may repeat. Positions count from 1, as the list's users do.
class FileList : public QAbstractListModel {
    Q_OBJECT

public:
    explicit FileList(QObject* parent = nullptr);

    void SetHeaderText(const QString& text);

    void Append(const QString& text);
    int Count() const { return static_cast<int>(entries_.size()); }
    // Positions outside 1..Count() raise "Index out of bounds": entries can vanish while a
    // long operation yields.
    QString Text(int position) const;
    void SetText(int position, const QString& text);
    void Remove(int position);
    void Clear();

    // The one selected entry, shared with the view that shows the list; 0 when none.
    void Select(int position);
    int SelectedPosition() const;
    QItemSelectionModel* selectionModel() const { return selection_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QStringList entries_;
    QString headerText_;
    QItemSelectionModel* selection_;
};

// True when some entry's text equals `text` exactly (case-sensitive, nothing trimmed).
bool IsListed(const FileList& list, const QString& text);

}  // namespace vellumax
