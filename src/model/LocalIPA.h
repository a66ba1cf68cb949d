#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

/// One .ipa file in the downloads folder; its path is its identity.
struct LocalIPA {
    QString path;
    std::optional<qint64> appID;
    std::optional<QString> bundleID;
    QString displayName;
    std::optional<QString> version;
    qint64 size = 0;
    QDateTime createdAt;

    const QString& id() const { return path; }

    friend bool operator==(const LocalIPA&, const LocalIPA&) = default;
};
