#pragma once

#include "device/KnownApp.h"

#include <QHash>
#include <QList>
#include <QString>

/// Every App ID the application has learned, kept in known-apps.json in the cache folder.
/// The file is read once, on first use; after that the map in memory is the truth and each merge
/// rewrites the file whole. Never fails: a missing or broken file is an empty store, a failed
/// write is retried by the next merge. Lives on the interface thread, which serialises its calls.
class KnownAppsStore {
public:
    /// `path` defaults to known-apps.json in Tools::cacheDirectory(), fixed at creation.
    explicit KnownAppsStore(QString path = {});

    /// Sorted by name, locale-aware and case-insensitive.
    QList<KnownApp> all();
    /// A known App ID keeps its first record (source and date) unless the name changed.
    void merge(const QList<KnownApp>& apps);

    const QString& path() const { return m_path; }

    static QList<KnownApp> decode(const QByteArray& json);
    static QByteArray encode(const QList<KnownApp>& apps);

private:
    void load();
    void save() const;

    QString m_path;
    QHash<qint64, KnownApp> m_items;
    bool m_loaded = false;
};
