#pragma once

#include <QAbstractListModel>
#include <QStringList>

namespace vellumax {

// The work queue: the texts of the list's entries, in order. Entries are full paths as the
// adders produced them; they may repeat. Positions count from 1, as the list's users do.
class FileList : public QAbstractListModel {
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    void SetHeaderText(const QString& text);

    void Append(const QString& text);
    int Count() const { return static_cast<int>(entries_.size()); }
    QString Text(int position) const { return entries_.at(position - 1); }
    void SetText(int position, const QString& text);
    void Remove(int position);
    void Clear();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QStringList entries_;
    QString headerText_;
};

// True when some entry's text equals `text` exactly (case-sensitive, nothing trimmed).
bool IsListed(const FileList& list, const QString& text);

}  // namespace vellumax
