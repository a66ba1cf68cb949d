#include "ui/DeviceAppsFilter.h"

#include <QSet>

namespace {

QString trimmedQuery(const QString& query)
{
    // Only spaces and tabs: a pasted line break is part of what the user typed.
    qsizetype begin = 0;
    qsizetype end = query.size();
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (begin < end && blank(query.at(begin)))
        ++begin;
    while (end > begin && blank(query.at(end - 1)))
        --end;
    return query.mid(begin, end - begin).toLower();
}

} // namespace

void DeviceAppsFilter::setQuery(const QString& query)
{
    if (m_query == query)
        return;
    m_query = query;
    Q_EMIT changed();
}

void DeviceAppsFilter::setOnlyUnknownToStore(bool only)
{
    if (m_onlyUnknownToStore == only)
        return;
    m_onlyUnknownToStore = only;
    Q_EMIT changed();
}

void DeviceAppsFilter::setOnlyUnsaved(bool only)
{
    if (m_onlyUnsaved == only)
        return;
    m_onlyUnsaved = only;
    Q_EMIT changed();
}

QList<InstalledApp> DeviceAppsFilter::apply(const QList<InstalledApp>& installed,
                                            const QList<PurchasedApp>& history) const
{
    return filter(installed, history, m_query, m_onlyUnknownToStore);
}

QList<InstalledApp> DeviceAppsFilter::filter(const QList<InstalledApp>& installed, const QList<PurchasedApp>& history,
                                             const QString& query, bool onlyUnknownToStore)
{
    QSet<QString> known;
    if (onlyUnknownToStore) {
        known.reserve(history.size());
        for (const PurchasedApp& app : history)
            known.insert(app.bundleID);
    }
    const QString q = trimmedQuery(query);
    QList<InstalledApp> result;
    for (const InstalledApp& app : installed) {
        if (onlyUnknownToStore && known.contains(app.bundleID))
            continue;
        if (!q.isEmpty() && !app.name.toLower().contains(q) && !app.bundleID.toLower().contains(q)
            && !(app.adamID && QString::number(*app.adamID).contains(q)))
            continue;
        result.append(app);
    }
    return result;
}
