#include "store/ArtworkService.h"

#include "BuildConfig.h"
#include "common/AtomicFile.h"
#include "common/JsonRead.h"
#include "common/JsonWriter.h"
#include "common/ReferenceDate.h"
#include "process/Tools.h"
#include "store/PurchasedApp.h"

#include <QCoroNetworkReply>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>
#include <QUrlQuery>

#include <algorithm>
#include <memory>
#include <vector>

namespace {
const QLatin1String artworkURLKey("artworkURL");
const QLatin1String sellerNameKey("sellerName");
const QLatin1String fileSizeKey("fileSizeBytes");
const QLatin1String checkedAtKey("checkedAt");

std::optional<QString> firstString(const QJsonObject& object, QLatin1String key, QLatin1String fallback)
{
    if (auto value = JsonRead::string(object, key))
        return value;
    return JsonRead::string(object, fallback);
}

std::optional<qint64> decimal(const QString& text)
{
    // toLongLong also takes signs and spaces; the lookup's sizes are bare digits.
    if (text.isEmpty() || !std::all_of(text.begin(), text.end(), [](QChar c) {
            return c >= QLatin1Char('0') && c <= QLatin1Char('9');
        }))
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

std::optional<qint64> decimalKey(const QString& text)
{
    if (!text.startsWith(QLatin1Char('-')))
        return decimal(text);
    const auto magnitude = decimal(text.mid(1));
    return magnitude ? std::optional<qint64>(-*magnitude) : std::nullopt;
}
} // namespace

const QStringList ArtworkService::storefronts{QStringLiteral("ru"), QStringLiteral("us")};

ArtworkService::ArtworkService(std::optional<QUrl> baseUrl, std::chrono::milliseconds timeout)
    : m_baseUrl(baseUrl ? *baseUrl : QUrl(QString::fromUtf8(BuildConfig::lookupBaseUrl)))
    , m_timeout(timeout)
    , m_cachePath(QDir(Tools::cacheDirectory()).filePath(QStringLiteral("artwork.json")))
{}

QCoro::Task<QHash<qint64, ArtworkService::Info>> ArtworkService::info(QList<qint64> appIDs)
{
    loadCacheIfNeeded();
    QList<qint64> missing;
    QSet<qint64> queued; // keeps the asking order while dropping repeats in linear time
    for (const qint64 id : std::as_const(appIDs)) {
        if (!m_cache.contains(id) && !queued.contains(id)) {
            queued.insert(id);
            missing.append(id);
        }
    }
    const QList<qint64> refreshing = stale(appIDs, queued);
    const QSet<qint64> refreshSet(refreshing.cbegin(), refreshing.cend());
    missing.append(refreshing);
    for (qsizetype start = 0; start < missing.size(); start += batchSize)
        co_await fetch(missing.mid(start, batchSize), refreshSet);
    saveCache();

    QHash<qint64, Info> result;
    for (const qint64 id : std::as_const(appIDs)) {
        const auto entry = m_cache.constFind(id);
        if (entry == m_cache.cend())
            continue;
        Info info{std::nullopt, entry->sellerName, entry->fileSizeBytes};
        if (entry->artworkURL)
            info.artworkURL = PurchasedApp::artworkUrl(*entry->artworkURL);
        result.insert(id, info);
    }
    co_return result;
}

QList<qint64> ArtworkService::stale(const QList<qint64>& appIDs, const QSet<qint64>& skip) const
{
    if (!m_refresh || m_refresh->limit <= 0)
        return {};
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-m_refresh->after.count());
    QList<std::pair<QDateTime, qint64>> old;
    QSet<qint64> seen;
    for (const qint64 id : appIDs) {
        const auto entry = m_cache.constFind(id);
        if (entry == m_cache.cend() || skip.contains(id) || seen.contains(id) || entry->checkedAt >= before)
            continue;
        seen.insert(id);
        old.append({entry->checkedAt, id});
    }
    std::stable_sort(old.begin(), old.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<qint64> ids;
    for (qsizetype i = 0; i < std::min<qsizetype>(old.size(), m_refresh->limit); ++i)
        ids.append(old[i].second);
    return ids;
}

std::optional<qint64> ArtworkService::fileSize(qint64 appID)
{
    loadCacheIfNeeded();
    const auto entry = m_cache.constFind(appID);
    if (entry == m_cache.cend())
        return std::nullopt;
    return entry->fileSizeBytes;
}

std::optional<QDateTime> ArtworkService::checkedAt(qint64 appID) const
{
    const auto entry = m_cache.constFind(appID);
    if (entry == m_cache.cend())
        return std::nullopt;
    return entry->checkedAt;
}

QCoro::Task<> ArtworkService::fetch(QList<qint64> batch, QSet<qint64> refreshing)
{
    QSet<qint64> answered;
    const auto hasAnswer = [&](qint64 id) {
        return answered.contains(id) || (!refreshing.contains(id) && m_cache.contains(id));
    };
    const bool asked =
        co_await askStorefronts([&](const QString& country) { return lookupUrl(m_baseUrl, batch, country); },
                                [&](const QByteArray&, const QList<qint64>& ids) {
                                    answered.unite(QSet<qint64>(ids.cbegin(), ids.cend()));
                                    return std::all_of(batch.cbegin(), batch.cend(), hasAnswer);
                                });
    if (!asked)
        co_return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const qint64 id : std::as_const(batch)) {
        if (!hasAnswer(id))
            m_cache.insert(id, Entry{std::nullopt, std::nullopt, std::nullopt, now});
    }
}

QCoro::Task<QHash<QString, qint64>> ArtworkService::appIDs(QStringList bundleIDs)
{
    loadCacheIfNeeded();
    bundleIDs.removeAll(QString());
    bundleIDs.removeDuplicates();
    bundleIDs.removeIf([this](const QString& bundleID) { return m_unknownBundles.contains(bundleID); });
    QHash<QString, qint64> found;
    for (qsizetype start = 0; start < bundleIDs.size(); start += batchSize)
        co_await fetchBundles(bundleIDs.mid(start, batchSize), &found);
    saveCache();
    co_return found;
}

QCoro::Task<> ArtworkService::fetchBundles(QStringList batch, QHash<QString, qint64>* found)
{
    const QSet<QString> wanted(batch.cbegin(), batch.cend());
    const bool asked = co_await askStorefronts(
        [&](const QString& country) { return bundleLookupUrl(m_baseUrl, batch, country); },
        [&](const QByteArray& body, const QList<qint64>&) {
            for (const auto& [bundleID, id] : parseBundleResults(body)) {
                if (wanted.contains(bundleID))
                    found->insert(bundleID, id);
            }
            return std::all_of(batch.cbegin(), batch.cend(), [&](const QString& id) { return found->contains(id); });
        });
    if (!asked)
        co_return;
    for (const QString& bundleID : std::as_const(batch)) {
        if (!found->contains(bundleID))
            m_unknownBundles.insert(bundleID);
    }
}

// Apps missing from one storefront are often in another; a failed request ends the round so that
// an outage never reads as "the store has none of these".
QCoro::Task<bool> ArtworkService::askStorefronts(std::function<QUrl(const QString&)> urlFor,
                                                 std::function<bool(const QByteArray&, const QList<qint64>&)> take)
{
    for (const QString& country : storefronts) {
        const QUrl url = urlFor(country);
        if (!url.isValid())
            co_return false;
        const std::optional<QByteArray> body = co_await get(url);
        if (!body)
            co_return false;
        const auto results = parseResults(*body, QDateTime::currentDateTimeUtc());
        if (!results)
            co_return false;
        QList<qint64> ids;
        for (const auto& [id, entry] : *results) {
            m_cache.insert(id, entry);
            ids.append(id);
        }
        if (take(*body, ids))
            co_return true;
    }
    co_return true;
}

QCoro::Task<std::optional<QByteArray>> ArtworkService::get(QUrl url)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(static_cast<int>(m_timeout.count()));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    const std::unique_ptr<QNetworkReply> reply(m_network.get(request));
    co_await reply.get();
    if (reply->error() != QNetworkReply::NoError)
        co_return std::nullopt;
    // An error page must never read as "the store has none of these apps".
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299)
        co_return std::nullopt;
    co_return reply->readAll();
}

QUrl ArtworkService::lookupUrl(const QUrl& baseUrl, const QList<qint64>& appIDs, const QString& country)
{
    QStringList ids;
    ids.reserve(appIDs.size());
    for (const qint64 id : appIDs)
        ids.append(QString::number(id));
    return queryUrl(baseUrl, QStringLiteral("id"), ids, country);
}

QUrl ArtworkService::bundleLookupUrl(const QUrl& baseUrl, const QStringList& bundleIDs, const QString& country)
{
    return queryUrl(baseUrl, QStringLiteral("bundleId"), bundleIDs, country);
}

QList<std::pair<QString, qint64>> ArtworkService::parseBundleResults(const QByteArray& body)
{
    QList<std::pair<QString, qint64>> found;
    const QJsonValue results = QJsonDocument::fromJson(body).object().value(QLatin1String("results"));
    for (const QJsonValue& value : results.toArray()) {
        const QJsonObject result = value.toObject();
        const auto id = JsonRead::integer(result, QLatin1String("trackId"));
        const auto bundleID = JsonRead::string(result, QLatin1String("bundleId"));
        if (id && bundleID && !bundleID->isEmpty())
            found.append({*bundleID, *id});
    }
    return found;
}

QUrl ArtworkService::queryUrl(const QUrl& baseUrl, const QString& key, const QStringList& values,
                              const QString& country)
{
    QUrl url(baseUrl);
    QString path = url.path();
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path + QStringLiteral("/lookup"));
    QUrlQuery query;
    query.addQueryItem(key, values.join(QLatin1Char(',')));
    query.addQueryItem(QStringLiteral("country"), country);
    query.addQueryItem(QStringLiteral("entity"), QStringLiteral("software"));
    url.setQuery(query);
    return url;
}

std::optional<QList<std::pair<qint64, ArtworkService::Entry>>> ArtworkService::parseResults(const QByteArray& body,
                                                                                            const QDateTime& now)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        return std::nullopt;
    QList<std::pair<qint64, Entry>> entries;
    const QJsonValue results = document.object().value(QLatin1String("results"));
    if (!results.isArray())
        return entries;
    const QJsonArray array = results.toArray();
    if (!std::all_of(array.begin(), array.end(), [](const QJsonValue& value) { return value.isObject(); }))
        return entries;
    for (const QJsonValue& value : array) {
        const QJsonObject result = value.toObject();
        const auto id = JsonRead::integer(result, QLatin1String("trackId"));
        if (!id)
            continue;
        Entry entry{firstString(result, QLatin1String("artworkUrl100"), QLatin1String("artworkUrl60")),
                    firstString(result, QLatin1String("sellerName"), QLatin1String("artistName")), std::nullopt, now};
        if (const auto size = JsonRead::string(result, fileSizeKey))
            entry.fileSizeBytes = decimal(*size);
        entries.append({*id, entry});
    }
    return entries;
}

QByteArray ArtworkService::encode(const Cache& cache)
{
    // In App ID order, so the same answers always make the same file.
    std::vector<Cache::const_iterator> entries;
    entries.reserve(cache.size());
    for (auto it = cache.cbegin(); it != cache.cend(); ++it)
        entries.push_back(it);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.key() < b.key(); });

    JsonWriter json(cache.size() * 160 + 2);
    json.beginObject();
    for (const auto& it : entries) {
        json.key(QString::number(it.key()));
        json.beginObject();
        if (it->artworkURL)
            json.field(artworkURLKey, *it->artworkURL);
        json.field(checkedAtKey, ReferenceDate::toSeconds(it->checkedAt));
        if (it->fileSizeBytes)
            json.field(fileSizeKey, *it->fileSizeBytes);
        if (it->sellerName)
            json.field(sellerNameKey, *it->sellerName);
        json.endObject();
    }
    json.endObject();
    return json.take();
}

std::optional<ArtworkService::Cache> ArtworkService::decode(const QByteArray& json)
{
    const auto root = JsonRead::object(json);
    if (!root)
        return std::nullopt;
    Cache cache;
    cache.reserve(root->size());
    for (auto it = root->constBegin(); it != root->constEnd(); ++it) {
        if (!it.value().isObject())
            return std::nullopt;
        const QJsonObject object = it.value().toObject();
        Entry entry;
        const auto seconds = JsonRead::number(object, checkedAtKey);
        if (!seconds || !JsonRead::optionalString(object, artworkURLKey, entry.artworkURL)
            || !JsonRead::optionalString(object, sellerNameKey, entry.sellerName)
            || !JsonRead::optionalInteger(object, fileSizeKey, entry.fileSizeBytes))
            return std::nullopt;
        const auto checkedAt = ReferenceDate::fromSeconds(*seconds);
        if (!checkedAt)
            return std::nullopt;
        entry.checkedAt = *checkedAt;
        if (const auto id = decimalKey(it.key()))
            cache.insert(*id, entry);
    }
    return cache;
}

void ArtworkService::loadCacheIfNeeded()
{
    if (m_loaded)
        return;
    m_loaded = true;
    if (const auto content = AtomicFile::read(m_cachePath)) {
        if (auto cache = decode(*content))
            m_cache = std::move(*cache);
    }
}

void ArtworkService::saveCache() const
{
    AtomicFile::write(m_cachePath, encode(m_cache));
}
