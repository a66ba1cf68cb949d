#include "store/ArtworkService.h"

#include "common/AtomicFile.h"
#include "common/ReferenceDate.h"
#include "support/HttpServer.h"
#include "support/Test.h"

namespace {

using namespace std::chrono_literals;
using Response = HttpServer::Response;
using Info = ArtworkService::Info;

QJsonObject result(qint64 id, const char* country)
{
    return {{"trackId", id},
            {"artworkUrl100", QString("https://art.example/%1/%2.jpg").arg(country).arg(id)},
            {"sellerName", QString("Seller %1").arg(id)},
            {"fileSizeBytes", QString::number(id * 1000)}};
}

// Answers every asked App ID found in `known` for that storefront.
HttpServer::Handler store(QHash<QString, QList<qint64>> known)
{
    return [known](const HttpServer::Request& request) {
        const QString country = request.query.queryItemValue("country");
        QJsonArray results;
        for (const QString& id : request.query.queryItemValue("id").split(',')) {
            if (known.value(country).contains(id.toLongLong()))
                results.append(result(id.toLongLong(), qPrintable(country)));
        }
        return Response::json(
            QJsonDocument(QJsonObject{{"resultCount", results.size()}, {"results", results}}).toJson());
    };
}

/// Each request as "country:how many `item` values it asked about".
QStringList asked(const HttpServer& server, const char* item)
{
    QStringList requests;
    for (const auto& request : server.requests("/lookup"))
        requests.append(request.query.queryItemValue("country") + ":"
                        + QString::number(request.query.queryItemValue(item).split(',').size()));
    return requests;
}

class ArtworkServiceTest : public ::testing::Test {
protected:
    QHash<qint64, Info> lookup(QList<qint64> ids) { return AsyncTest::await(service.info(ids)); }

    TempHome home;
    HttpServer server;
    ArtworkService service{server.url(), 2s};
};

} // namespace

TEST_F(ArtworkServiceTest, AsksRuThenUsInBatchesOfFiftyMarksWhatNeitherKnowsAsGoneAndRepairsADamagedFile)
{
    ASSERT_TRUE(AtomicFile::write(service.cachePath(), "{\"1\":{\"checkedAt\":" + QByteArray(100000, '[')));
    server.setHandler("/lookup", store({{"ru", {1}}, {"us", {1, 2}}}));
    const auto info = lookup({1, 2, 3});

    EXPECT_EQ(asked(server, "id"), (QStringList{"ru:3", "us:3"}));
    EXPECT_EQ(server.requests().value(0).query.toString(), "id=1,2,3&country=ru&entity=software");
    EXPECT_EQ(info, (QHash<qint64, Info>{{1, {QUrl("https://art.example/us/1.jpg"), "Seller 1", 1000}},
                                         {2, {QUrl("https://art.example/us/2.jpg"), "Seller 2", 2000}},
                                         {3, {}}}));

    // Answered for good: the next call asks nothing, also after a restart that reads the file.
    server.clearRequests();
    EXPECT_EQ(lookup({3, 1, 2}), info);
    ArtworkService restarted(server.url(), 2s);
    EXPECT_EQ(AsyncTest::await(restarted.info({1, 2, 3})), info);
    EXPECT_TRUE(server.requests().isEmpty());

    // Batches of fifty; one that "ru" answers whole is not asked of "us".
    QList<qint64> ids;
    for (qint64 id = 4; id <= 120; ++id)
        ids.append(id);
    server.setHandler("/lookup", store({{"ru", ids}}));
    EXPECT_EQ(lookup(ids).size(), 117);
    EXPECT_EQ(asked(server, "id"), (QStringList{"ru:50", "ru:50", "ru:17"}));
}

TEST_F(ArtworkServiceTest, ReadsFallbackFieldsAndAFailedRequestLeavesTheBatchUnansweredNeverGone)
{
    server.setResponse("/lookup", Response::json(R"({"results":[
        {"trackId":5,"artworkUrl60":"https://art.example/60.jpg","artistName":"Artist","fileSizeBytes":1234},
        {"trackId":6,"artworkUrl100":7,"artworkUrl60":"https://art.example/6.jpg","sellerName":"S",
         "fileSizeBytes":"12ab"},
        {"trackId":"9","artworkUrl100":"https://art.example/9.jpg"},
        {"trackId":99,"artworkUrl100":"https://art.example/99.jpg"}]})"));
    EXPECT_EQ(lookup({5, 6, 9}), (QHash<qint64, Info>{{5, {QUrl("https://art.example/60.jpg"), "Artist", std::nullopt}},
                                                      {6, {QUrl("https://art.example/6.jpg"), "S", std::nullopt}},
                                                      {9, {}}}));
    EXPECT_EQ(server.requests().size(), 2);

    server.clearRequests();
    EXPECT_EQ(lookup({99})[99].artworkURL, QUrl("https://art.example/99.jpg"));
    EXPECT_TRUE(server.requests().isEmpty());

    // An empty object, a list, or results of no use are answers without the app.
    for (const char* body : {"{}", "[]", R"({"results":[1,{"trackId":3}]})"}) {
        ArtworkService fresh(server.url(), 2s);
        AtomicFile::remove(fresh.cachePath());
        server.setResponse("/lookup", Response::json(body));
        EXPECT_EQ(AsyncTest::await(fresh.info({3})), (QHash<qint64, Info>{{3, {}}})) << body;
    }

    const QList<std::pair<const char*, Response>> failures{
        {"500 with JSON", Response::json(R"({"results":[]})", 500)},
        {"HTML", Response::text("<html><body>Service unavailable</body></html>", "text/html")},
        {"silence", Response::silence()},
    };
    for (const auto& [label, response] : failures) {
        server.setResponse("/lookup", response);
        EXPECT_TRUE(lookup({7, 8}).isEmpty()) << label;
    }

    // A failure on "us" keeps what "ru" answered and marks nothing gone.
    server.setHandler("/lookup", [](const HttpServer::Request& request) {
        if (request.query.queryItemValue("country") == "us")
            return Response::json("{}", 503);
        return Response::json(QJsonDocument(QJsonObject{{"results", QJsonArray{result(7, "ru")}}}).toJson());
    });
    EXPECT_EQ(lookup({7, 8}).keys(), QList<qint64>{7});
}

TEST_F(ArtworkServiceTest, DecodesHandWrittenCacheFilesAsksOldAnswersAgainAndFindsAppIDsByBundleId)
{
    const auto decoded = ArtworkService::decode(R"({"564177498":{"artworkURL":"https://a/1.jpg","sellerName":"S",
        "fileSizeBytes":99,"checkedAt":0.25},"abc":{"checkedAt":1},"":{"checkedAt":1},"-3":{"checkedAt":2},
        "12x":{"checkedAt":1},"7":{"checkedAt":3,"sellerName":null}})");
    const QDateTime epoch = ReferenceDate::epoch();
    EXPECT_EQ(decoded, (ArtworkService::Cache{{564177498, {"https://a/1.jpg", "S", 99, epoch.addMSecs(250)}},
                                              {-3, {std::nullopt, std::nullopt, std::nullopt, epoch.addSecs(2)}},
                                              {7, {std::nullopt, std::nullopt, std::nullopt, epoch.addSecs(3)}}}));

    for (const QByteArray& bad : {QByteArray(R"({"1":{"artworkURL":"x"}})"), QByteArray(R"({"1":{"checkedAt":"0"}})"),
                                  QByteArray(R"({"1":{"checkedAt":0,"fileSizeBytes":1.5}})"), QByteArray(R"({"1":5})"),
                                  QByteArray("[]"), QByteArray(100000, '{'), QByteArray(R"({"1":{"checkedAt":0})")})
        EXPECT_EQ(ArtworkService::decode(bad), std::nullopt) << bad.left(40).constData();

    const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-3);
    ArtworkService::Cache cache{{1, {"https://a/1.jpg", std::nullopt, std::nullopt, old}},
                                {2, {"https://a/2.jpg", std::nullopt, std::nullopt, old.addDays(1)}},
                                {3, {"https://a/3.jpg", std::nullopt, std::nullopt, QDateTime::currentDateTimeUtc()}}};
    ASSERT_TRUE(AtomicFile::write(service.cachePath(), ArtworkService::encode(cache)));
    service.setRefresh(ArtworkService::Refresh{std::chrono::hours(24), 1});

    // A failed lookup keeps the old answer; only the oldest one is asked, as the limit says.
    server.setResponse("/lookup", Response::json("{}", 503));
    EXPECT_EQ(lookup({1, 2, 3})[1].artworkURL, QUrl("https://a/1.jpg"));
    EXPECT_EQ(server.requests().size(), 1);

    server.setHandler("/lookup", store({}));
    EXPECT_EQ(lookup({1, 2, 3})[1], Info{}) << "neither storefront has it now";
    EXPECT_EQ(lookup({1, 2, 3})[2], Info{});
    EXPECT_EQ(lookup({1, 2, 3})[3].artworkURL, QUrl("https://a/3.jpg")) << "fresh answers are not asked again";

    // Bundle ids are looked up in batches and storefronts too.
    server.clearRequests();
    QStringList bundles;
    for (int i = 0; i < 60; ++i)
        bundles.append(QString("com.example.b%1").arg(i));
    server.setHandler("/lookup", [](const HttpServer::Request& request) {
        const bool us = request.query.queryItemValue("country") == "us";
        QJsonArray results;
        for (const QString& bundle : request.query.queryItemValue("bundleId").split(',')) {
            const int n = bundle.mid(13).toInt();
            if (n % 3 == 0 || (us && n % 3 == 1))
                results.append(QJsonObject{{"trackId", 5000 + n}, {"bundleId", bundle}});
        }
        return Response::json(QJsonDocument(QJsonObject{{"results", results}}).toJson());
    });
    const auto found = AsyncTest::await(service.appIDs(bundles));
    EXPECT_EQ(QList<qint64>({found.size(), found.value("com.example.b4"), found.value("com.example.b5", -1)}),
              QList<qint64>({40, 5004, -1}));
    EXPECT_EQ(asked(server, "bundleId"), (QStringList{"ru:50", "us:50", "ru:10", "us:10"}));
    EXPECT_TRUE(AsyncTest::await(service.info({5003})).contains(5003)) << "what it found joins the cache";

    // Bundle ids neither storefront knows are not asked about again.
    server.clearRequests();
    EXPECT_TRUE(AsyncTest::await(service.appIDs({"com.example.b5"})).isEmpty());
    EXPECT_TRUE(server.requests().isEmpty());
}
