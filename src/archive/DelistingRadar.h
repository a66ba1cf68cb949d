#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

/// Remembers, per App ID, when the store lookup last said the app was there and when it first
/// said it was gone, in `radar.json` in the cache folder. A lookup that got no answer for an app
/// says nothing about it, so only answers reach the radar.
class DelistingRadar {
public:
    struct Entry {
        std::optional<QDateTime> lastSeenInStore;
        std::optional<QDateTime> firstSeenGone; // absent while the app is in the store

        friend bool operator==(const Entry&, const Entry&) = default;
    };
    using Entries = QHash<qint64, Entry>;

    /// One answer of the lookup: whether the store had the app, and when it said so.
    struct Sighting {
        qint64 appID = 0;
        bool inStore = false;
        QDateTime at;
    };

    /// `path` defaults to radar.json in the cache folder, fixed at creation.
    explicit DelistingRadar(QString path = {});

    /// Takes in one lookup pass; returns the apps seen in the store before that are gone now.
    /// Writes the file when anything changed.
    QList<qint64> observe(const QList<Sighting>& sightings);
    /// Since when the app is gone, when the radar saw it leave (it was seen in the store before).
    std::optional<QDateTime> goneSince(qint64 appID) const;
    const Entries& entries() const;
    const QString& path() const { return m_path; }

    /// Applies one sighting; returns whether the app has just gone from seen-in-store to gone.
    static bool apply(Entries& entries, const Sighting& sighting, bool& changed);
    static QByteArray encode(const Entries& entries);
    /// Bad entries are dropped one by one; anything but a JSON object is no entries at all.
    static Entries decode(const QByteArray& json);

private:
    void load() const;

    QString m_path;
    // Read on first use, which may be a const question.
    mutable Entries m_entries;
    mutable bool m_loaded = false;
};
