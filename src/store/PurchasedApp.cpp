#include "store/PurchasedApp.h"

#include "common/JsonRead.h"
#include "common/ReferenceDate.h"

#include <QHashFunctions>

namespace {
const QLatin1String idKey("id");
const QLatin1String bundleIDKey("bundleID");
const QLatin1String nameKey("name");
const QLatin1String versionKey("version");
const QLatin1String priceKey("price");
const QLatin1String purchaseDateKey("purchaseDate");
const QLatin1String artworkURLKey("artworkURL");
const QLatin1String sellerNameKey("sellerName");
const QLatin1String artworkFetchedKey("artworkFetched");

template <typename T>
size_t hashOptional(const std::optional<T>& value, size_t seed)
{
    return value ? qHashMulti(seed, true, *value) : qHash(false, seed);
}
} // namespace

QJsonObject PurchasedApp::toJson() const
{
    QJsonObject object{{idKey, id},           {bundleIDKey, bundleID}, {nameKey, name},
                       {versionKey, version}, {priceKey, price},       {artworkFetchedKey, artworkFetched}};
    if (purchaseDate)
        object.insert(purchaseDateKey, ReferenceDate::toSeconds(*purchaseDate));
    if (artworkURL)
        object.insert(artworkURLKey, artworkURL->toString(QUrl::FullyEncoded));
    if (sellerName)
        object.insert(sellerNameKey, *sellerName);
    return object;
}

std::optional<PurchasedApp> PurchasedApp::fromJson(const QJsonObject& object)
{
    const auto id = JsonRead::integer(object, idKey);
    const auto bundleID = JsonRead::string(object, bundleIDKey);
    const auto name = JsonRead::string(object, nameKey);
    const auto version = JsonRead::string(object, versionKey);
    const auto price = JsonRead::number(object, priceKey);
    const auto fetched = JsonRead::boolean(object, artworkFetchedKey);
    if (!id || !bundleID || !name || !version || !price || !fetched)
        return std::nullopt;

    std::optional<double> seconds;
    std::optional<QString> url;
    std::optional<QString> seller;
    if (!JsonRead::optionalNumber(object, purchaseDateKey, seconds)
        || !JsonRead::optionalString(object, artworkURLKey, url)
        || !JsonRead::optionalString(object, sellerNameKey, seller))
        return std::nullopt;

    PurchasedApp app{*id, *bundleID, *name, *version, *price, std::nullopt, std::nullopt, seller, *fetched};
    if (seconds) {
        app.purchaseDate = ReferenceDate::fromSeconds(*seconds);
        if (!app.purchaseDate)
            return std::nullopt;
    }
    if (url) {
        // Dropping a bad URL alone would turn a fetched app into one gone from the store.
        app.artworkURL = artworkUrl(*url);
        if (!app.artworkURL)
            return std::nullopt;
    }
    return app;
}

std::optional<QUrl> PurchasedApp::artworkUrl(const QString& text)
{
    const QUrl parsed(text);
    if (!parsed.isValid() || parsed.isEmpty())
        return std::nullopt;
    return QUrl(parsed.toString(QUrl::FullyEncoded));
}

size_t qHash(const PurchasedApp& app, size_t seed)
{
    seed = qHashMulti(seed, app.id, app.bundleID, app.name, app.version, app.price, app.artworkFetched);
    seed = hashOptional(app.purchaseDate, seed);
    seed = hashOptional(app.artworkURL, seed);
    return hashOptional(app.sellerName, seed);
}
