#include "ui/VersionListModel.h"

#include "common/RussianText.h"

void VersionListModel::setVersions(QList<AppVersion> versions)
{
    beginResetModel();
    m_versions = std::move(versions);
    endResetModel();
}

int VersionListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_versions.size());
}

QVariant VersionListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_versions.size())
        return {};
    const AppVersion& version = m_versions.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return version.displayVersion ? QString(QStringLiteral("Версия ") + *version.displayVersion)
                                      : QString(QStringLiteral("Сборка ") + version.externalID);
    case SubtitleRole:
        return version.releaseDate ? longDate(version.releaseDate->toLocalTime().date())
                                   : QString(QStringLiteral("идентификатор ") + version.externalID);
    case BadgeRole:
        return index.row() == 0 ? QVariant(QStringLiteral("последняя")) : QVariant();
    case ExternalIDRole:
        return version.externalID;
    default:
        return {};
    }
}

QString VersionListModel::longDate(const QDate& date)
{
    return RussianText::longDate(date);
}
