#include "store/PurchasesCache.h"

#include "common/AtomicFile.h"
#include "common/JsonRead.h"
#include "common/JsonWriter.h"
#include "common/ReferenceDate.h"
#include "process/Tools.h"

#include <QDir>
#include <QJsonArray>

namespace PurchasesCache {
namespace {
const QLatin1String appsKey("apps");
const QLatin1String updatedAtKey("updatedAt");
const QLatin1String accountKey("account");
} // namespace

QString filePath()
{
    return QDir(Tools::cacheDirectory()).filePath(QStringLiteral("purchases.json"));
}

std::optional<Payload> load(const QString& account)
{
    const auto content = AtomicFile::read(filePath());
    if (!content)
        return std::nullopt;
    auto payload = decode(*content);
    if (!payload || payload->account != account)
        return std::nullopt;
    return payload;
}

void save(const QList<PurchasedApp>& apps, const QString& account)
{
    AtomicFile::write(filePath(), encode(Payload{apps, QDateTime::currentDateTimeUtc(), account}));
}

void clear()
{
    AtomicFile::remove(filePath());
}

QByteArray encode(const Payload& payload)
{
    // Keys in the order QJsonDocument wrote them, so files stay comparable across versions.
    JsonWriter json(payload.apps.size() * 320 + 128);
    json.beginObject();
    json.field(accountKey, payload.account);
    json.key(appsKey);
    json.beginArray();
    for (const PurchasedApp& app : payload.apps) {
        json.beginObject();
        json.field(QLatin1String("artworkFetched"), app.artworkFetched);
        if (app.artworkURL)
            json.field(QLatin1String("artworkURL"), app.artworkURL->toString(QUrl::FullyEncoded));
        json.field(QLatin1String("bundleID"), app.bundleID);
        json.field(QLatin1String("id"), app.id);
        json.field(QLatin1String("name"), app.name);
        json.field(QLatin1String("price"), app.price);
        if (app.purchaseDate)
            json.field(QLatin1String("purchaseDate"), ReferenceDate::toSeconds(*app.purchaseDate));
        if (app.sellerName)
            json.field(QLatin1String("sellerName"), *app.sellerName);
        json.field(QLatin1String("version"), app.version);
        json.endObject();
    }
    json.endArray();
    json.field(updatedAtKey, ReferenceDate::toSeconds(payload.updatedAt));
    json.endObject();
    return json.take();
}

std::optional<Payload> decode(const QByteArray& json)
{
    const auto root = JsonRead::object(json);
    if (!root)
        return std::nullopt;
    const QJsonValue apps = root->value(appsKey);
    const auto seconds = JsonRead::number(*root, updatedAtKey);
    const auto account = JsonRead::string(*root, accountKey);
    if (!apps.isArray() || !seconds || !account)
        return std::nullopt;
    const auto updatedAt = ReferenceDate::fromSeconds(*seconds);
    if (!updatedAt)
        return std::nullopt;

    Payload payload{{}, *updatedAt, *account};
    const QJsonArray array = apps.toArray();
    payload.apps.reserve(array.size());
    for (const QJsonValue& value : array) {
        if (!value.isObject())
            return std::nullopt;
        auto app = PurchasedApp::fromJson(value.toObject());
        if (!app)
            return std::nullopt;
        payload.apps.append(std::move(*app));
    }
    return payload;
}

} // namespace PurchasesCache
