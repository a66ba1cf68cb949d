#include "model/Operations.h"

#include <QCoroSignal>

Operations::Ticket::Ticket(Operations* owner, QString key, CancelHandle cancel)
    : m_owner(owner)
    , m_key(std::move(key))
    , m_cancel(std::move(cancel))
{}

Operations::Ticket::Ticket(Ticket&& other) noexcept
    : m_owner(std::exchange(other.m_owner, nullptr))
    , m_key(std::move(other.m_key))
    , m_cancel(other.m_cancel)
{}

Operations::Ticket::~Ticket()
{
    if (m_owner)
        m_owner->end(m_key, m_cancel);
}

QString Operations::fileKey(const QString& path)
{
    return QStringLiteral("file:") + path;
}

QString Operations::installKey(qint64 appID)
{
    return QStringLiteral("install:") + QString::number(appID);
}

QString Operations::syncKey(quint64 session)
{
    return QStringLiteral("sync:") + QString::number(session);
}

QString Operations::updateKey()
{
    return QStringLiteral("update");
}

std::optional<Operations::Ticket> Operations::begin(QString key, std::optional<qint64> appID)
{
    if (m_running.contains(key))
        return std::nullopt;
    const CancelHandle cancel;
    m_running.insert(key, Entry{cancel, appID});
    return Ticket(this, std::move(key), cancel);
}

void Operations::end(const QString& key, const CancelHandle& cancel)
{
    const auto entry = m_running.constFind(key);
    if (entry == m_running.cend() || !(entry->cancel == cancel))
        return;
    m_running.erase(entry);
    Q_EMIT ended(key);
}

QCoro::Task<> Operations::finished(QString key)
{
    const QPointer<Operations> self(this);
    while (self && self->isRunning(key))
        co_await qCoro(self.data(), &Operations::ended);
}

void Operations::cancel(const QString& key)
{
    if (const auto entry = m_running.constFind(key); entry != m_running.cend())
        entry->cancel.cancel();
}

void Operations::cancelApp(qint64 appID)
{
    // Handles first: a cancel may end work, and so change the table, at once.
    QList<CancelHandle> handles;
    for (const Entry& entry : std::as_const(m_running)) {
        if (entry.appID == appID)
            handles.append(entry.cancel);
    }
    for (const CancelHandle& handle : handles)
        handle.cancel();
}

void Operations::cancelAll()
{
    const QList<Entry> entries = m_running.values();
    for (const Entry& entry : entries)
        entry.cancel.cancel();
}
