#include "store/PurchasesCache.h"

#include "common/AtomicFile.h"
#include "common/JsonRead.h"
#include "common/ReferenceDate.h"
#include "process/Tools.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

namespace PurchasesCache {
namespace {
const QLatin1String appsKey("apps");
const QLatin1String updatedAtKey("updatedAt");
const QLatin1String accountKey("account");
} // namespace

QString filePath() {
    return QDir(Tools::cacheDirectory()).filePath(QStringLiteral("purchases.json"));
}

std::optional<Payload> load(const QString& account) {
    const auto content = AtomicFile::read(filePath());
    if (!content)
        return std::nullopt;
    auto payload = decode(*content);
    if (!payload || payload->account != account)
        return std::nullopt;
    return payload;
}

void save(const QList<PurchasedApp>& apps, const QString& account) {
    AtomicFile::write(filePath(), encode(Payload{apps, QDateTime::currentDateTimeUtc(), account}));
}

void clear() {
    AtomicFile::remove(filePath());
}

QByteArray encode(const Payload& payload) {
    QJsonArray apps;
    for (const PurchasedApp& app : payload.apps)
        apps.append(app.toJson());
    const QJsonObject root{
        {appsKey, apps}, {updatedAtKey, ReferenceDate::toSeconds(payload.updatedAt)}, {accountKey, payload.account}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

std::optional<Payload> decode(const QByteArray& json) {
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
