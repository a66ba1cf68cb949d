#pragma once

#include <QHashFunctions>
#include <QJsonObject>
#include <QString>

#include <optional>

/// One app installed on the phone; `adamID` is known only when the phone kept its store metadata.
struct InstalledApp {
    QString bundleID;
    QString name;
    std::optional<QString> version;
    std::optional<qint64> adamID;

    const QString& id() const { return bundleID; }

    /// Members "bundleID", "name", "version", "adamID"; absent optionals are left out.
    QJsonObject toJson() const;
    static std::optional<InstalledApp> fromJson(const QJsonObject& object);

    friend bool operator==(const InstalledApp&, const InstalledApp&) = default;
};

size_t qHash(const InstalledApp& app, size_t seed = 0) noexcept;
