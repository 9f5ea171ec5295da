#include "filelist/file_list.h"

namespace vellumax {

void FileList::SetHeaderText(const QString& text) {
    headerText_ = text;
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

void FileList::Append(const QString& text) {
    const int row = Count();
    beginInsertRows(QModelIndex(), row, row);
    entries_.append(text);
    endInsertRows();
}

void FileList::SetText(int position, const QString& text) {
    entries_[position - 1] = text;
    const QModelIndex changed = index(position - 1);
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

void FileList::Remove(int position) {
    beginRemoveRows(QModelIndex(), position - 1, position - 1);
    entries_.removeAt(position - 1);
    endRemoveRows();
}

void FileList::Clear() {
    beginResetModel();
    entries_.clear();
    endResetModel();
}

int FileList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

QVariant FileList::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) {
        return {};
    }
    return entries_.at(index.row());
}

QVariant FileList::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section != 0 || orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    return headerText_;
}

bool IsListed(const FileList& list, const QString& text) {
    bool listed = false;
    const int count = list.Count();
    for (int position = 1; position <= count; ++position) {
        if (list.Text(position) == text) {
            listed = true;
        }
    }
    return listed;
}

}  // namespace vellumax
