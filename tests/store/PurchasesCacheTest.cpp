#include "store/PurchasesCache.h"

#include "common/AtomicFile.h"
#include "common/JsonRead.h"
#include "common/ReferenceDate.h"
#include "support/Test.h"

#include <QRandomGenerator>
#include <QTimeZone>

namespace {

PurchasedApp sparse()
{
    return {42, "com.example.sparse", "Sparse", "2.0", 0, {}, {}, {}, false};
}

PurchasedApp full()
{
    const QDateTime bought(QDate(2014, 5, 6), QTime(7, 8, 9, 125), QTimeZone::utc());
    const QUrl icon("https://is1-ssl.mzstatic.com/image/thumb/x/100x100bb.jpg");
    return {9007199254740993, "com.example.full", "Полное", "1.2.3", 2.99, bought, icon, "Seller", true};
}

} // namespace

TEST(PurchasesCache, IntegersAreWholeAndSixtyFourBitAndSavedHistoryReadsBackForItsOwnAccountOnly)
{
    const QJsonObject object = QJsonDocument::fromJson(R"({"big":9223372036854775807,"whole":3.0,"frac":3.5,
        "huge":1e300,"text":"3","neg":-9223372036854775808})")
                                   .object();
    QList<std::optional<qint64>> read;
    for (const char* key : {"big", "neg", "whole", "frac", "huge", "text", "absent"})
        read.append(JsonRead::integer(object, QLatin1String(key)));
    const qint64 max = std::numeric_limits<qint64>::max();
    EXPECT_EQ(read, (QList<std::optional<qint64>>{max, -max - 1, 3, {}, {}, {}, {}}));

    PurchasedApp gone = full();
    gone.artworkURL.reset();
    EXPECT_EQ(QList<bool>({sparse().isGoneFromStore(), full().isGoneFromStore(), gone.isGoneFromStore()}),
              QList<bool>({false, false, true}));

    for (const double price : {0.0, -0.0, 0.01, -1.0})
        EXPECT_EQ((PurchasedApp{1, {}, {}, {}, price, {}, {}, {}, false}).isFree(), price == 0) << price;

    TempHome home;
    const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
    // An icon URL with a second "#" and an account name with a lone UTF-16 half read back equal.
    PurchasedApp fragment = full();
    fragment.artworkURL = PurchasedApp::artworkUrl("https://is1-ssl.mzstatic.com/a.jpg#one#two");
    const QString account = "ivan" + QString(QChar(0xD83D)) + "@example.com";
    PurchasesCache::save({sparse(), fragment}, account);

    const auto payload = PurchasesCache::load(account).value_or(PurchasesCache::Payload{});
    EXPECT_EQ(payload.apps, (QList<PurchasedApp>{sparse(), fragment}));
    EXPECT_EQ(qHash(payload.apps.value(1)), qHash(fragment));
    EXPECT_TRUE(payload.updatedAt >= before && payload.updatedAt <= QDateTime::currentDateTimeUtc());
    const QJsonDocument stored = QJsonDocument::fromJson(AtomicFile::read(PurchasesCache::filePath()).value_or(""));
    EXPECT_EQ(stored["apps"][0].toObject().keys(),
              (QStringList{"artworkFetched", "bundleID", "id", "name", "price", "version"}));

    EXPECT_EQ(PurchasesCache::load("I" + account.mid(1)), std::nullopt);
    PurchasesCache::clear();
    PurchasesCache::clear();
    // A file written by hand, with nulls and unknown keys, copied where the cleared one was.
    ASSERT_TRUE(
        QFile::copy(QString(QUORREL_TEST_DATA_DIR) + "/store/purchases-handwritten.json", PurchasesCache::filePath()));

    const QList<PurchasedApp> apps{
        {564177498, "com.example.gone", "Ушедшее", "1.0", 0, ReferenceDate::epoch(), std::nullopt, std::nullopt, true},
        {1, "", "Платное", "", -1.5, std::nullopt, QUrl("https://is1-ssl.mzstatic.com/image/thumb/a/100x100bb.jpg"),
         "Example Ltd", true}};
    EXPECT_EQ(PurchasesCache::load("ivan@example.com"),
              (PurchasesCache::Payload{apps, QDateTime(QDate(2026, 1, 1), QTime(0, 0, 0, 500), QTimeZone::utc()),
                                       "ivan@example.com"}));
}

TEST(PurchasesCache, DamagedForeignOrEditedFilesAreNoCacheAndTheNextSaveRepairs)
{
    TempHome home;
    PurchasesCache::save({full()}, "a@b.c");
    const QByteArray good = AtomicFile::read(PurchasesCache::filePath()).value_or("");

    QByteArray garbage(50 * 1024 * 1024, '\0');
    QRandomGenerator generator(7);
    generator.fillRange(reinterpret_cast<quint32*>(garbage.data()), garbage.size() / 4);

    const QByteArray deep = QByteArray(100000, '[') + QByteArray(100000, ']');
    QList<QByteArray> bad{good.left(good.size() / 2), "", "[]", deep, "{\"apps\":" + deep + "}", garbage};
    const QJsonObject root = QJsonDocument::fromJson(good).object();
    const QJsonObject app = root.value("apps").toArray().first().toObject();
    const auto withApps = [&](const QJsonArray& apps) {
        QJsonObject copy = root;
        copy.insert("apps", apps);
        return QJsonDocument(copy).toJson();
    };
    // Required keys missing, then keys of the wrong type.
    for (const char* key : {"id", "bundleID", "name", "version", "price", "artworkFetched"}) {
        QJsonObject missing = app;
        missing.remove(key);
        bad.append(withApps({missing}));
    }
    for (const char* change : {R"({"id":"12"})", R"({"id":1.5})", R"({"price":"0"})", R"({"artworkFetched":1})",
                               R"({"purchaseDate":"2020-01-01"})", R"({"purchaseDate":1e300})", R"({"sellerName":3})",
                               R"({"artworkURL":"http://[oops"})", R"({"name":null})"}) {
        const QJsonObject with = QJsonDocument::fromJson(change).object();
        QJsonObject changed = app;
        changed.insert(with.begin().key(), with.begin().value());
        bad.append(withApps({changed}));
    }
    bad.append(withApps({app, 5}));
    for (const char* key : {"apps", "updatedAt", "account"}) {
        QJsonObject missing = root;
        missing.remove(key);
        bad.append(QJsonDocument(missing).toJson());
    }

    for (qsizetype i = 0; i < bad.size(); ++i) {
        ASSERT_TRUE(AtomicFile::write(PurchasesCache::filePath(), bad[i]));
        EXPECT_EQ(PurchasesCache::load("a@b.c"), std::nullopt) << "case " << i;
    }
    PurchasesCache::save({sparse()}, "a@b.c");
    EXPECT_EQ(PurchasesCache::load("a@b.c").value_or(PurchasesCache::Payload{}).apps, QList<PurchasedApp>{sparse()});
}
