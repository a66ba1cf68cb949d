#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <optional>

/// One app of the account's purchase history. `id` (the App ID) identifies it in lists; equality
/// and hashing cover every field.
struct PurchasedApp {
    qint64 id = 0;
    QString bundleID;
    QString name;
    QString version;
    double price = 0;
    std::optional<QDateTime> purchaseDate;
    std::optional<QUrl> artworkURL;
    std::optional<QString> sellerName;
    bool artworkFetched = false;

    /// The store lookup answered, and without an icon: the store no longer offers the app.
    bool isGoneFromStore() const { return artworkFetched && !artworkURL; }
    bool isFree() const { return price == 0; }

    /// The stored form: absent optionals are left out, dates are reference-date seconds.
    QJsonObject toJson() const;
    /// Absent when a required key is missing or any key holds the wrong type.
    static std::optional<PurchasedApp> fromJson(const QJsonObject& object);
    /// An icon URL as stored: the form that reads back equal after a save (a second "#" in the
    /// fragment, say, is kept as "%23" both ways). Absent when invalid or empty.
    static std::optional<QUrl> artworkUrl(const QString& text);

    friend bool operator==(const PurchasedApp&, const PurchasedApp&) = default;
};

size_t qHash(const PurchasedApp& app, size_t seed = 0);
