#include "ui/LogListModel.h"

#include "ui/RowPaint.h"

#include <QBrush>

LogListModel::LogListModel(AppModel* model, QObject* parent)
    : QAbstractListModel(parent)
    , m_model(model)
    , m_entries(model->log())
{
    connect(model, &AppModel::logChanged, this, &LogListModel::sync);
}

int LogListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

QVariant LogListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return {};
    const AppModel::LogEntry& entry = m_entries.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return entry.text;
    case Qt::ToolTipRole:
        return entry.text;
    case Qt::ForegroundRole:
        return entry.isError ? QVariant(QBrush(RowPaint::red())) : QVariant();
    case IsErrorRole:
        return entry.isError;
    case DateRole:
        return entry.date;
    default:
        return {};
    }
}

void LogListModel::sync()
{
    const QList<AppModel::LogEntry>& fresh = m_model->log();
    // The log only grows at the end and loses entries at the front; find the overlap by id.
    qsizetype dropped = 0;
    if (!m_entries.isEmpty() && !fresh.isEmpty()) {
        const QUuid firstKept = fresh.first().id;
        while (dropped < m_entries.size() && m_entries.at(dropped).id != firstKept)
            ++dropped;
    } else {
        dropped = m_entries.size();
    }
    if (dropped == m_entries.size() && !m_entries.isEmpty()) {
        beginResetModel();
        m_entries = fresh;
        endResetModel();
        return;
    }
    if (dropped > 0) {
        beginRemoveRows({}, 0, int(dropped) - 1);
        m_entries.remove(0, dropped);
        endRemoveRows();
    }
    const qsizetype kept = m_entries.size();
    if (fresh.size() > kept) {
        beginInsertRows({}, int(kept), int(fresh.size()) - 1);
        m_entries.append(fresh.mid(kept));
        endInsertRows();
        Q_EMIT entriesAppended();
    }
}
