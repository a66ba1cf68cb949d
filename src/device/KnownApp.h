#pragma once

#include <QDateTime>
#include <QHashFunctions>
#include <QJsonObject>
#include <QString>

#include <optional>

/// An App ID learned for a bundle id, from the phone's app list or after a download.
struct KnownApp {
    static QString deviceSource() { return QStringLiteral("устройство"); }
    static QString downloadSource() { return QStringLiteral("скачано"); }

    qint64 adamID = 0;
    QString bundleID;
    QString name;
    QString source;
    QDateTime seenAt;

    qint64 id() const { return adamID; }

    /// "seenAt" is seconds since 2001-01-01 00:00:00 UTC, as every stored date of the application.
    QJsonObject toJson() const;
    /// nullopt for anything but an object with all five members of the right types.
    static std::optional<KnownApp> fromJson(const QJsonValue& value);

    friend bool operator==(const KnownApp&, const KnownApp&) = default;
};

size_t qHash(const KnownApp& app, size_t seed = 0) noexcept;
