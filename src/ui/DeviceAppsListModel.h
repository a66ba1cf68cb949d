#pragma once

#include "device/InstalledApp.h"
#include "model/AppActivity.h"
#include "model/AppModel.h"

#include <QAbstractListModel>
#include <QPointer>

class DeviceAppsFilter;

/// The phone's apps as the filter leaves them, one row per app. Activity changes repaint rows in
/// place; only a different set of apps rebuilds the list.
class DeviceAppsListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        BundleIDRole = Qt::UserRole + 1,
        VersionRole,  // QString, empty when unknown
        AppIDRole,    // qint64, invalid when unknown
        ActivityRole, // AppActivity
        BusyRole,
        AtRiskRole,   // bool: gone from the store, no file saved
        FileIconRole, // QImage from a saved file, null when none
    };

    DeviceAppsListModel(AppModel* model, DeviceAppsFilter* filter, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const InstalledApp& app(int row) const { return m_apps.at(row); }
    std::optional<int> rowOf(const QString& bundleID) const;
    /// Whether a row shows an indeterminate spinner, so the view knows to keep animating.
    bool hasSpinningRow() const;

    static AppModel::Target target(const InstalledApp& app);

private:
    void sync();
    void activitiesChanged();
    AppActivity activity(const InstalledApp& app) const;

    QPointer<AppModel> m_model;
    DeviceAppsFilter* m_filter;
    QList<InstalledApp> m_apps;
};
