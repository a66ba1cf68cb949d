#pragma once

#include "model/AppModel.h"

#include <QAbstractListModel>
#include <QPointer>

/// The model's log as a list: appends and front trims become row inserts and removals, so the
/// view keeps its scroll position and selection instead of resetting on every new line.
class LogListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { IsErrorRole = Qt::UserRole + 1, DateRole };

    explicit LogListModel(AppModel* model, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

Q_SIGNALS:
    void entriesAppended();

private:
    void sync();

    QPointer<AppModel> m_model;
    QList<AppModel::LogEntry> m_entries;
};
