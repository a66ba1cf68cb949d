#pragma once

#include "store/AppVersion.h"

#include <QAbstractListModel>
#include <QList>

/// The version sheet's rows: newest first, two lines each, the first marked as the latest.
class VersionListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        SubtitleRole = Qt::UserRole + 1, // the date, else the identifier
        BadgeRole,                       // "последняя" on the first row only
        ExternalIDRole,
    };

    using QAbstractListModel::QAbstractListModel;

    void setVersions(QList<AppVersion> versions);
    const QList<AppVersion>& versions() const { return m_versions; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    /// The long Russian date without the weekday, as a release date is written.
    static QString longDate(const QDate& date);

private:
    QList<AppVersion> m_versions;
};
