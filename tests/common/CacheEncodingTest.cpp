#include "common/ReferenceDate.h"
#include "device/KnownAppsStore.h"
#include "store/ArtworkService.h"
#include "store/PurchasesCache.h"
#include "support/Test.h"

#include <QTimeZone>

#include <limits>

// The cache files are written by hand-rolled encoders; these hold them to the stored form the
// records describe themselves (toJson), so a field added there cannot go missing from the file.

namespace {

const QDateTime someDate(QDate(2014, 5, 6), QTime(7, 8, 9, 125), QTimeZone::utc());
const QString awkward = QString::fromUtf8("Имя \"в кавычках\" \\ \t\x01 \xF0\x9F\x98\x80 ") + QChar(0x2028);

QList<PurchasedApp> apps()
{
    return {{42, "com.example.sparse", "Sparse", "2.0", 0, {}, {}, {}, false},
            {9007199254740993, "com.example.full", awkward, "1.2.3", 2.99, someDate,
             QUrl("https://is1-ssl.mzstatic.com/image/thumb/%D0%B8/100x100bb.jpg?a=b&c"), awkward, true},
            {-7, "", "", "", -0.5, ReferenceDate::epoch().addMSecs(-1), std::nullopt, QString(), true}};
}

} // namespace

TEST(CacheEncoding, PurchaseHistoryHoldsWhatEachAppSaysItStoresAndReadsBack)
{
    const PurchasesCache::Payload payload{apps(), someDate, "ivan@example.com"};
    QJsonArray expectedApps;
    for (const PurchasedApp& app : payload.apps)
        expectedApps.append(app.toJson());
    const QJsonObject expected{
        {"account", payload.account}, {"apps", expectedApps}, {"updatedAt", ReferenceDate::toSeconds(someDate)}};

    const QByteArray json = PurchasesCache::encode(payload);
    // Same bytes as QJsonDocument wrote before, so existing files keep their exact shape.
    EXPECT_EQ(json, QJsonDocument(expected).toJson(QJsonDocument::Compact));
    EXPECT_EQ(PurchasesCache::decode(json), payload);
}

TEST(CacheEncoding, LookupAnswersKeepTheirStoredFormInAppIdOrder)
{
    ArtworkService::Cache cache;
    cache.insert(300, {"https://example.com/300.png", awkward, qint64(1) << 40, someDate});
    cache.insert(20, {std::nullopt, std::nullopt, std::nullopt, someDate});
    cache.insert(std::numeric_limits<qint64>::max(), {"", "", 0, ReferenceDate::epoch()});

    const QByteArray json = ArtworkService::encode(cache);
    const QJsonObject expected{
        {"20", QJsonObject{{"checkedAt", ReferenceDate::toSeconds(someDate)}}},
        {"300", QJsonObject{{"artworkURL", "https://example.com/300.png"},
                            {"checkedAt", ReferenceDate::toSeconds(someDate)},
                            {"fileSizeBytes", qint64(1) << 40},
                            {"sellerName", awkward}}},
        {"9223372036854775807",
         QJsonObject{{"artworkURL", ""}, {"checkedAt", 0}, {"fileSizeBytes", 0}, {"sellerName", ""}}}};
    EXPECT_EQ(json, QJsonDocument(expected).toJson(QJsonDocument::Compact));
    EXPECT_EQ(ArtworkService::decode(json), cache);
    EXPECT_EQ(ArtworkService::encode({}), "{}");
}

TEST(CacheEncoding, KnownAppsHoldWhatEachRecordSaysItStores)
{
    const QList<KnownApp> known{
        {564177498, "com.example.kept", awkward, KnownApp::deviceSource(), someDate},
        {std::numeric_limits<qint64>::min(), "", "", KnownApp::downloadSource(), ReferenceDate::epoch().addDays(-1)}};
    QJsonArray expected;
    for (const KnownApp& app : known)
        expected.append(app.toJson());
    const QByteArray json = KnownAppsStore::encode(known);
    EXPECT_EQ(json, QJsonDocument(expected).toJson(QJsonDocument::Compact));
    EXPECT_EQ(KnownAppsStore::decode(json), known);
    EXPECT_EQ(KnownAppsStore::encode({}), "[]");
}
