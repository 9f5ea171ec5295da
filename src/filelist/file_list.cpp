#include "filelist/file_list.h"

#include "platform/runtime_error.h"

namespace vellumax {

FileList::FileList(QObject* parent)
    : QAbstractListModel(parent), selection_(new QItemSelectionModel(this, this)) {}

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

namespace {
void CheckPosition(int position, int count) {
    if (position < 1 || position > count) {
        throw RuntimeError(35600, "Index out of bounds");
    }
}
}  // namespace

QString FileList::Text(int position) const {
    CheckPosition(position, Count());
    return entries_.at(position - 1);
}

void FileList::SetText(int position, const QString& text) {
    CheckPosition(position, Count());
    entries_[position - 1] = text;
    const QModelIndex changed = index(position - 1);
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

void FileList::Remove(int position) {
    CheckPosition(position, Count());
    beginRemoveRows(QModelIndex(), position - 1, position - 1);
    entries_.removeAt(position - 1);
    endRemoveRows();
}

void FileList::Clear() {
    beginResetModel();
    entries_.clear();
    endResetModel();
}

void FileList::Select(int position) {
    selection_->setCurrentIndex(index(position - 1), QItemSelectionModel::ClearAndSelect);
}

int FileList::SelectedPosition() const {
    const QModelIndexList selected = selection_->selectedIndexes();
    return selected.isEmpty() ? 0 : selected.first().row() + 1;
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
    for (int position = 1; position <= list.Count(); ++position) {
        if (list.Text(position) == text) {
            return true;
        }
    }
    return false;
}

}  // namespace vellumax
