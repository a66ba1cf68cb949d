#pragma once

#include "store/PurchasedApp.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

/// The last fetched purchase history of one account, kept in `purchases.json` in the cache folder
/// so the library shows at start-up before the account is asked again. Nothing here reports an
/// error: a missing, damaged or foreign file is simply no cache.
namespace PurchasesCache {

struct Payload {
    QList<PurchasedApp> apps;
    QDateTime updatedAt;
    QString account;

    friend bool operator==(const Payload&, const Payload&) = default;
};

QString filePath();

/// The payload only when it belongs to exactly `account` (case-sensitive).
std::optional<Payload> load(const QString& account);
/// Replaces the file atomically, stamped with the current time; failures are ignored.
void save(const QList<PurchasedApp>& apps, const QString& account);
void clear();

QByteArray encode(const Payload& payload);
/// Absent when any required key is missing or any key holds the wrong type.
std::optional<Payload> decode(const QByteArray& json);

} // namespace PurchasesCache
