#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

/// One historical version of an app, identified by the store's external version id, which is
/// what a download of that version passes back to ipatool.
struct AppVersion {
    QString externalID;
    std::optional<QString> displayVersion;
    std::optional<QDateTime> releaseDate;

    const QString& id() const { return externalID; }

    friend bool operator==(const AppVersion&, const AppVersion&) = default;
};

size_t qHash(const AppVersion& version, size_t seed = 0);
