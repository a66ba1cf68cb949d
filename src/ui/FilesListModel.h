#pragma once

#include "model/LocalIPA.h"

#include <QAbstractListModel>

/// A snapshot of the downloads folder: it changes only when the view hands it a fresh listing.
class FilesListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { PathRole = Qt::UserRole + 1, SizeRole, CreatedRole };

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const QList<LocalIPA>& files() const { return m_files; }
    void setFiles(QList<LocalIPA> files);

private:
    QList<LocalIPA> m_files;
};
