#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QNetworkAccessManager>
#include <QSet>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

/// Asks the store's public lookup endpoint which App IDs it still offers, with their icons,
/// sellers and sizes. Every answer is kept for good in `artwork.json`, so each App ID is asked
/// about once; an App ID neither storefront knows is kept without an icon — gone from the store.
/// Never reports an error: whatever cannot be asked now stays unanswered and is asked again.
class ArtworkService {
public:
    struct Info {
        std::optional<QUrl> artworkURL;
        std::optional<QString> sellerName;
        std::optional<qint64> fileSizeBytes;

        friend bool operator==(const Info&, const Info&) = default;
    };

    /// The stored answer for one App ID.
    struct Entry {
        std::optional<QString> artworkURL;
        std::optional<QString> sellerName;
        std::optional<qint64> fileSizeBytes;
        QDateTime checkedAt;

        friend bool operator==(const Entry&, const Entry&) = default;
    };
    using Cache = QHash<qint64, Entry>;

    static constexpr int batchSize = 50;
    static const QStringList storefronts;

    /// Asks again about answers older than `after`, at most `limit` of them (the oldest) per call,
    /// so an app that left or came back is noticed. Off unless set.
    struct Refresh {
        std::chrono::seconds after;
        int limit = 500;
    };

    /// Defaults to the build's lookup endpoint; the cache file is fixed at creation.
    explicit ArtworkService(std::optional<QUrl> baseUrl = std::nullopt,
                            std::chrono::milliseconds timeout = std::chrono::seconds(30));
    ArtworkService(const ArtworkService&) = delete;
    ArtworkService& operator=(const ArtworkService&) = delete;

    /// An Info for every requested App ID that has an answer after the call.
    QCoro::Task<QHash<qint64, Info>> info(QList<qint64> appIDs);
    /// The App IDs the store gives for these bundle ids, asked in the same batches and storefronts
    /// as `info`; bundle ids neither storefront knows are left out. What is found joins the cache.
    QCoro::Task<QHash<QString, qint64>> appIDs(QStringList bundleIDs);
    /// When the stored answer for `appID` was given.
    std::optional<QDateTime> checkedAt(qint64 appID) const;
    /// The size of the store's current build of `appID`, when an answer gave one.
    std::optional<qint64> fileSize(qint64 appID);
    void setRefresh(std::optional<Refresh> refresh) { m_refresh = refresh; }

    QString cachePath() const { return m_cachePath; }

    static QUrl lookupUrl(const QUrl& baseUrl, const QList<qint64>& appIDs, const QString& country);
    static QUrl bundleLookupUrl(const QUrl& baseUrl, const QStringList& bundleIDs, const QString& country);
    /// Bundle id and App ID of each result that has both.
    static QList<std::pair<QString, qint64>> parseBundleResults(const QByteArray& body);
    /// The answers of one lookup body keyed by App ID; absent when the body is not JSON at all.
    static std::optional<QList<std::pair<qint64, Entry>>> parseResults(const QByteArray& body, const QDateTime& now);
    static QByteArray encode(const Cache& cache);
    /// Keys that are not decimal integers are skipped; absent when the file as a whole does not decode.
    static std::optional<Cache> decode(const QByteArray& json);

private:
    static QUrl queryUrl(const QUrl& baseUrl, const QString& key, const QStringList& values, const QString& country);
    void loadCacheIfNeeded();
    void saveCache() const;
    /// `refreshing` holds App IDs whose old answers do not count as answers.
    QCoro::Task<> fetch(QList<qint64> batch, QSet<qint64> refreshing);
    QCoro::Task<> fetchBundles(QStringList batch, QHash<QString, qint64>* found);
    QCoro::Task<bool> askStorefronts(std::function<QUrl(const QString&)> urlFor,
                                     std::function<bool(const QByteArray&, const QList<qint64>&)> take);
    QList<qint64> stale(const QList<qint64>& appIDs, const QSet<qint64>& skip) const;
    /// The body of a 2xx answer; absent after a transport error, a time-out or any other status.
    QCoro::Task<std::optional<QByteArray>> get(QUrl url);

    QUrl m_baseUrl;
    std::chrono::milliseconds m_timeout;
    QString m_cachePath;
    QNetworkAccessManager m_network;
    Cache m_cache;
    bool m_loaded = false;
    std::optional<Refresh> m_refresh;
    // Bundle ids both storefronts answered without: not asked again while the process runs.
    QSet<QString> m_unknownBundles;
};
