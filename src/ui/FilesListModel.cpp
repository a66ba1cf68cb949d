#include "ui/FilesListModel.h"

int FilesListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_files.size());
}

QVariant FilesListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_files.size())
        return {};
    const LocalIPA& file = m_files.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return file.displayName;
    case Qt::ToolTipRole:
    case PathRole:
        return file.path;
    case SizeRole:
        return file.size;
    case CreatedRole:
        return file.createdAt;
    default:
        return {};
    }
}

void FilesListModel::setFiles(QList<LocalIPA> files)
{
    if (files == m_files)
        return;
    beginResetModel();
    m_files = std::move(files);
    endResetModel();
}
