#include "ui/LibraryListModel.h"

#include "model/AppModel.h"

LibraryListModel::LibraryListModel(AppModel* model, bool onlyGone, QObject* parent)
    : QAbstractListModel(parent)
    , m_model(model)
    , m_onlyGone(onlyGone)
{
    connect(model, &AppModel::appsChanged, this, &LibraryListModel::reload);
    connect(model, &AppModel::searchChanged, this, &LibraryListModel::reload);
    connect(model, &AppModel::activitiesChanged, this, &LibraryListModel::repaintAll);
    connect(model, &AppModel::downloadedBundleIDsChanged, this, &LibraryListModel::repaintAll);
    connect(model, &AppModel::devicesChanged, this, &LibraryListModel::repaintAll);
    connect(model, &AppModel::radarChanged, this, &LibraryListModel::repaintAll);
    connect(model, &AppModel::ipaInfoChanged, this, &LibraryListModel::repaintAll);
    reload();
}

int LibraryListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_apps.size());
}

QVariant LibraryListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_apps.size())
        return {};
    const PurchasedApp& row = m_apps.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return row.name;
    case Qt::ToolTipRole: {
        // The row cuts a failure to one line; the whole text is what the user needs to read.
        const AppActivity activity = m_model ? m_model->activity(row.id) : AppActivity{};
        if (activity.kind == AppActivity::Kind::failed)
            return activity.text;
        return row.sellerName ? QVariant(*row.sellerName) : QVariant();
    }
    default:
        return {};
    }
}

void LibraryListModel::reload()
{
    if (!m_model)
        return;
    QList<PurchasedApp> apps = m_model->filteredApps();
    if (m_onlyGone)
        apps.removeIf([](const PurchasedApp& app) { return !app.isGoneFromStore(); });
    beginResetModel();
    m_apps = std::move(apps);
    m_rows.clear();
    m_rows.reserve(m_apps.size());
    for (int row = 0; row < m_apps.size(); ++row)
        m_rows.insert(m_apps.at(row).id, row);
    endResetModel();
}

void LibraryListModel::repaintAll()
{
    if (!m_apps.isEmpty())
        Q_EMIT dataChanged(index(0), index(int(m_apps.size()) - 1));
}
