#include "ui/DeviceAppsListModel.h"

#include "ui/DeviceAppsFilter.h"
#include "ui/RowPaint.h"

DeviceAppsListModel::DeviceAppsListModel(AppModel* model, DeviceAppsFilter* filter, QObject* parent)
    : QAbstractListModel(parent)
    , m_model(model)
    , m_filter(filter)
    , m_apps(filter->apply(model->installedApps(), model->apps()))
{
    connect(model, &AppModel::installedAppsChanged, this, &DeviceAppsListModel::sync);
    connect(model, &AppModel::appsChanged, this, [this] {
        if (m_filter->onlyUnknownToStore())
            sync();
    });
    connect(filter, &DeviceAppsFilter::changed, this, &DeviceAppsListModel::sync);
    connect(model, &AppModel::activitiesChanged, this, &DeviceAppsListModel::activitiesChanged);
    // What is at risk changes with the store's answers and with every file saved.
    for (const auto signal :
         {&AppModel::phoneStoreStatusChanged, &AppModel::downloadedBundleIDsChanged, &AppModel::ipaInfoChanged}) {
        connect(model, signal, this, [this] {
            if (m_filter->onlyUnsaved())
                sync();
            if (!m_apps.isEmpty())
                Q_EMIT dataChanged(index(0), index(int(m_apps.size()) - 1), {AtRiskRole, FileIconRole});
        });
    }
}

int DeviceAppsListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_apps.size());
}

QVariant DeviceAppsListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_apps.size())
        return {};
    const InstalledApp& app = m_apps.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return app.name;
    case BundleIDRole:
        return app.bundleID;
    case VersionRole:
        return app.version.value_or(QString());
    case AppIDRole:
        return app.adamID ? QVariant(*app.adamID) : QVariant();
    case ActivityRole:
        return QVariant::fromValue(activity(app));
    case BusyRole:
        return RowPaint::isBusy(activity(app));
    case AtRiskRole:
        return m_model && m_model->isAtRisk(app);
    case FileIconRole:
        return m_model ? m_model->fileIcon(app.bundleID) : QImage();
    default:
        return {};
    }
}

std::optional<int> DeviceAppsListModel::rowOf(const QString& bundleID) const
{
    for (qsizetype row = 0; row < m_apps.size(); ++row) {
        if (m_apps.at(row).bundleID == bundleID)
            return int(row);
    }
    return std::nullopt;
}

bool DeviceAppsListModel::hasSpinningRow() const
{
    for (const InstalledApp& app : m_apps) {
        const AppActivity current = activity(app);
        if (current.kind == AppActivity::Kind::fetchingVersions
            || (current.kind == AppActivity::Kind::downloading && current.bytes < 1))
            return true;
    }
    return false;
}

AppModel::Target DeviceAppsListModel::target(const InstalledApp& app)
{
    return {app.adamID.value_or(0), app.bundleID, app.name, true};
}

AppActivity DeviceAppsListModel::activity(const InstalledApp& app) const
{
    // An app without App ID has nothing to download, so no activity of another app can be its own.
    if (!app.adamID || !m_model)
        return {};
    return m_model->activity(*app.adamID);
}

void DeviceAppsListModel::sync()
{
    if (!m_model)
        return;
    QList<InstalledApp> fresh = m_filter->apply(m_model->installedApps(), m_model->apps());
    if (m_filter->onlyUnsaved())
        fresh.removeIf([this](const InstalledApp& app) { return !m_model->isAtRisk(app); });
    if (fresh == m_apps)
        return;
    beginResetModel();
    m_apps = std::move(fresh);
    endResetModel();
}

void DeviceAppsListModel::activitiesChanged()
{
    if (!m_apps.isEmpty())
        Q_EMIT dataChanged(index(0), index(int(m_apps.size()) - 1), {ActivityRole, BusyRole});
}
