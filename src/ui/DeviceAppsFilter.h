#pragma once

#include "device/InstalledApp.h"
#include "store/PurchasedApp.h"

#include <QList>
#include <QObject>
#include <QString>

/// What the phone's app list is narrowed to: a search text and whether only apps missing from the
/// purchase history are shown. Lives as long as the view that owns it.
class DeviceAppsFilter : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    const QString& query() const { return m_query; }
    bool onlyUnknownToStore() const { return m_onlyUnknownToStore; }
    void setQuery(const QString& query);
    void setOnlyUnknownToStore(bool only);
    /// Only apps gone from the store that have no saved file; the list model asks the app model which.
    bool onlyUnsaved() const { return m_onlyUnsaved; }
    void setOnlyUnsaved(bool only);

    QList<InstalledApp> apply(const QList<InstalledApp>& installed, const QList<PurchasedApp>& history) const;

    /// Keeps the order of `installed`. The query is trimmed of spaces and tabs and matched case-blind
    /// against the name, the bundle id and the App ID's digits.
    static QList<InstalledApp> filter(const QList<InstalledApp>& installed, const QList<PurchasedApp>& history,
                                      const QString& query, bool onlyUnknownToStore);

Q_SIGNALS:
    void changed();

private:
    QString m_query;
    bool m_onlyUnknownToStore = false;
    bool m_onlyUnsaved = false;
};
