#pragma once

#include "store/PurchasedApp.h"

#include <QAbstractListModel>
#include <QHash>
#include <QPointer>

class AppModel;

/// The library's rows: the model's search-filtered history, narrowed to the gone apps when asked.
/// A new history or search resets the rows; activities, downloads and phones only repaint them.
class LibraryListModel : public QAbstractListModel {
    Q_OBJECT
public:
    LibraryListModel(AppModel* model, bool onlyGone, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const PurchasedApp& app(int row) const { return m_apps.at(row); }
    AppModel* appModel() const { return m_model; }
    /// The row showing App ID `appID`, or -1.
    int rowOf(qint64 appID) const { return m_rows.value(appID, -1); }

private:
    void reload();
    void repaintAll();

    QPointer<AppModel> m_model;
    bool m_onlyGone;
    QList<PurchasedApp> m_apps;
    QHash<qint64, int> m_rows;
};
