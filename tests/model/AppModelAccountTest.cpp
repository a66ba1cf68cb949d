#include "model/AppModel.h"

#include "ModelTestSupport.h"
#include "process/Tools.h"
#include "store/IPAToolError.h"
#include "store/PurchasesCache.h"
#include "support/HttpServer.h"
#include "support/QtPrinters.h"
#include "support/StandinTools.h"
#include "support/TempHome.h"

#include <QDirIterator>
#include <QFile>
#include <QUrlQuery>

#include <gtest/gtest.h>

using namespace ModelTest;

namespace {

// A lookup server that knows every App ID except those listed as gone.
HttpServer::Response lookupAnswer(const HttpServer::Request& request, const QSet<qint64>& gone)
{
    QJsonArray results;
    for (const QString& id : request.query.queryItemValue("id").split(',')) {
        if (gone.contains(id.toLongLong()))
            continue;
        results.append(QJsonObject{{"trackId", QJsonValue(id.toLongLong())},
                                   {"artworkUrl100", QString("https://example.com/" + id + ".png")},
                                   {"sellerName", "Разработчик"}});
    }
    return HttpServer::Response::json(
        QJsonDocument(QJsonObject{{"resultCount", int(results.size())}, {"results", results}}).toJson());
}

struct Fixture {
    TempHome home;
    StandinTools tools{home.resourceDirectory(), {"ipatool"}};
    HttpServer lookup;
    QSet<qint64> gone;

    Fixture()
    {
        lookup.setHandler("/lookup",
                          [this](const HttpServer::Request& request) { return lookupAnswer(request, gone); });
    }
    AppModel::Endpoints endpoints() const { return {lookup.url()}; }
};

} // namespace

TEST(AppModelStartup, SignedInWithEmptyCacheSyncsAtOnceAndMarksGoneApps)
{
    Fixture f;
    f.gone = {1001, 1003};
    f.tools.setScenario(scenario(QJsonArray{signedInAs("ivan@example.com")} + historyPages(5),
                                 {{"signedIn", "yes"}, {"email", "ivan@example.com"}}));
    AppModel model(f.endpoints());
    AsyncTest::await(model.bootstrap());
    model.stopDeviceWatch();

    EXPECT_EQ(model.stage(), AppModel::Stage::signedIn);
    ASSERT_TRUE(model.account());
    EXPECT_EQ(model.account()->email, "ivan@example.com");
    ASSERT_EQ(model.apps().size(), 5);
    EXPECT_TRUE(model.apps()[1].isGoneFromStore());
    EXPECT_FALSE(model.apps()[0].isGoneFromStore());
    EXPECT_EQ(model.apps()[0].sellerName, "Разработчик");
    const QStringList log = logTexts(model);
    EXPECT_TRUE(log.contains("Аккаунт: ivan@example.com"));
    EXPECT_TRUE(log.contains("История загрузок: 5 приложений"));
    EXPECT_TRUE(log.contains("Снято из App Store: 2 приложений — их переустановить можно только так"));
    EXPECT_EQ(model.syncProgress(), std::nullopt);
    EXPECT_EQ(model.syncStatus(), "");
    // Both saves landed: the enriched history is what the cache holds.
    const auto cached = PurchasesCache::load("ivan@example.com");
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->apps, model.apps());
}

TEST(AppModelStartup, CachedHistoryShowsAtOnceAndFreshCacheIsNotSyncedAgain)
{
    Fixture f;
    f.tools.setScenario(scenario(QJsonArray{signedInAs("ivan@example.com")} + historyPages(3),
                                 {{"signedIn", "yes"}, {"email", "ivan@example.com"}}));
    PurchasedApp gone{7, "com.example.gone", "Ушедшее", "1.0", 0, std::nullopt, std::nullopt, std::nullopt, true};
    PurchasedApp kept{
        8,   "com.example.kept", "Оставшееся", "1.0", 0, std::nullopt, QUrl("https://example.com/8.png"), std::nullopt,
        true};
    PurchasesCache::save({gone, kept}, "ivan@example.com");

    AppModel model(f.endpoints());
    AsyncTest::await(model.bootstrap());
    model.stopDeviceWatch();

    EXPECT_EQ(model.apps(), (QList<PurchasedApp>{gone, kept}));
    EXPECT_TRUE(logTexts(model).contains("Из кэша: 2 приложений, снятых из App Store — 1"));
    EXPECT_EQ(f.tools.calls("ipatool").size(), 2) << "only the version and the account check, no history read";
    EXPECT_TRUE(f.lookup.requests().isEmpty());
}

TEST(AppModelStartup, NoAccountMeansSignedOutWithoutAlertOrSync)
{
    Fixture f;
    f.tools.setScenario(scenario({signedOutInfo()}));
    AppModel model(f.endpoints());
    AsyncTest::await(model.bootstrap());
    EXPECT_EQ(model.stage(), AppModel::Stage::signedOut);
    EXPECT_EQ(model.alert(), std::nullopt);
    EXPECT_FALSE(model.isWatchingDevices());
    EXPECT_EQ(f.tools.calls("ipatool").size(), 2) << "the version and the account";
}

TEST(AppModelAccount, SignInAsksForTheCodeThenSyncsAndSignOutForgetsEverything)
{
    Fixture f;
    const QJsonObject needsCode =
        rule("ipatool", "auth login -e ivan@example.com -p secret$",
             {out(ipatoolLine({{"message", "2FA code is required; run the command again and supply a code using the "
                                           "`--auth-code` flag"}}))});
    const QJsonObject withCode =
        withState(rule("ipatool", "auth login -e ivan@example.com -p secret --auth-code 123456$",
                       {out(ipatoolLine({{"email", "ivan@example.com"}, {"success", true}}))}),
                  {}, {{"signedIn", "yes"}, {"email", "ivan@example.com"}});
    const QJsonObject revoke =
        withState(rule("ipatool", "auth revoke$", {out(ipatoolLine({{"success", true}}))}), {}, {{"signedIn", "no"}});
    f.tools.setScenario(scenario(
        QJsonArray{needsCode, withCode, revoke, signedInAs("ivan@example.com"), signedOutInfo()} + historyPages(2),
        {{"signedIn", "no"}}));
    AppModel model(f.endpoints());
    AsyncTest::await(model.bootstrap());
    ASSERT_EQ(model.stage(), AppModel::Stage::signedOut);

    try {
        AsyncTest::await(model.signIn("ivan@example.com", "secret"));
        ADD_FAILURE() << "sign-in without the code succeeded";
    } catch (const IPAToolError& error) {
        EXPECT_EQ(error.kind(), IPAToolError::Kind::needsTwoFactor);
    }
    EXPECT_EQ(model.stage(), AppModel::Stage::signedOut);

    AsyncTest::await(model.signIn("ivan@example.com", "secret", "123456"));
    EXPECT_EQ(model.stage(), AppModel::Stage::signedIn);
    EXPECT_TRUE(model.isWatchingDevices());
    EXPECT_TRUE(logTexts(model).contains("Вход выполнен: ivan@example.com"));
    EXPECT_EQ(model.apps().size(), 2);
    EXPECT_TRUE(QFile::exists(PurchasesCache::filePath()));

    AsyncTest::await(model.signOut());
    EXPECT_EQ(model.stage(), AppModel::Stage::signedOut);
    EXPECT_EQ(model.account(), std::nullopt);
    EXPECT_TRUE(model.apps().isEmpty());
    EXPECT_FALSE(model.isWatchingDevices());
    EXPECT_FALSE(QFile::exists(PurchasesCache::filePath()));
    EXPECT_EQ(logTexts(model).last(), "Выход из аккаунта");
}

TEST(AppModelAccount, SignInLeavingIpatoolWithTheEarlierAccountFailsAndTouchesNothing)
{
    // Anna's revoke failed, so ipatool still holds her when Ivan tries to sign in.
    const QJsonObject revokeFails = rule("ipatool", "auth revoke$", {out("\x1b[31mkeychain locked\x1b[0m")}, 1);
    for (const QJsonObject& login : {rule("ipatool", "auth login ", {out("Error: unknown flag: --auth-code")}, 1),
                                     rule("ipatool", "auth login ", {out(ipatoolLine({{"success", true}}))})}) {
        Fixture f;
        f.tools.setScenario(scenario(QJsonArray{revokeFails, login, signedInAs("anna@example.com")} + historyPages(2),
                                     {{"signedIn", "yes"}, {"email", "anna@example.com"}}));
        AppModel model(f.endpoints());
        AsyncTest::await(model.bootstrap());
        AsyncTest::await(model.signOut());

        EXPECT_THROW(AsyncTest::await(model.signIn("ivan@example.com", "secret")), AppError);
        EXPECT_EQ(model.stage(), AppModel::Stage::signedOut);
        EXPECT_EQ(model.account(), std::nullopt);
        EXPECT_FALSE(QFile::exists(PurchasesCache::filePath())) << "neither Anna's history nor a sync";
    }
}

TEST(AppModelSync, ReadsThreePagesWithProgressAndStatus)
{
    Fixture f;
    f.tools.setScenario(scenario(QJsonArray{signedInAs("ivan@example.com")} + historyPages(250),
                                 {{"signedIn", "yes"}, {"email", "ivan@example.com"}}));
    AppModel model(f.endpoints());
    QList<std::optional<double>> progress;
    QStringList statuses;
    QObject::connect(&model, &AppModel::syncProgressChanged, [&] { progress.append(model.syncProgress()); });
    QObject::connect(&model, &AppModel::syncStatusChanged, [&] { statuses.append(model.syncStatus()); });
    AsyncTest::await(model.bootstrap());
    model.stopDeviceWatch();

    EXPECT_EQ(progress, (QList<std::optional<double>>{0.0, 0.4, 0.8, 1.0, std::nullopt}));
    EXPECT_EQ(statuses, (QStringList{"Читаю историю загрузок…", "Загружено 100 из 250", "Загружено 200 из 250",
                                     "Загружено 250 из 250", "Уточняю, что осталось в App Store…", ""}));
    EXPECT_EQ(model.apps().size(), 250);
    EXPECT_EQ(f.lookup.requests("/lookup").size(), 5) << "250 App IDs in batches of 50, all answered by ru";
}

TEST(AppModelSync, DuplicatesKeepTheirFirstOccurrenceAndAMissingTotalReadsOnePage)
{
    Fixture f;
    QJsonArray apps{purchasedApp(1, "Первое"), purchasedApp(2, "Второе"), purchasedApp(1, "Повтор")};
    f.tools.setScenario(
        scenario({signedInAs("ivan@example.com"), rule("ipatool", "list-purchases -p 1 -l 100$",
                                                       {out(ipatoolLine({{"apps", apps}, {"success", true}}))})},
                 {{"signedIn", "yes"}, {"email", "ivan@example.com"}}));
    AppModel model(f.endpoints());
    QList<std::optional<double>> progress;
    QObject::connect(&model, &AppModel::syncProgressChanged, [&] { progress.append(model.syncProgress()); });
    AsyncTest::await(model.bootstrap());
    model.stopDeviceWatch();
    ASSERT_EQ(model.apps().size(), 2);
    EXPECT_EQ(model.apps()[0].name, "Первое");
    EXPECT_EQ(progress.value(1), std::nullopt);
}

TEST(AppModelSync, UnreadableEntryIsSkippedAloneAndTheRestOfTheHistoryIsRead)
{
    Fixture f;
    QJsonArray firstPage;
    for (int i = 0; i < 100; ++i)
        firstPage.append(i == 5 ? QJsonObject{{"id", "1005"}, {"name", "Строковый номер"}}
                                : purchasedApp(1000 + i, QString("Приложение %1").arg(i)));
    const QJsonObject pageOne = rule("ipatool", "list-purchases -p 1 -l 100$",
                                     {out(ipatoolLine({{"apps", firstPage}, {"totalCount", 250}, {"success", true}}))});
    f.tools.setScenario(scenario(QJsonArray{signedInAs("ivan@example.com"), pageOne} + historyPages(250),
                                 {{"signedIn", "yes"}, {"email", "ivan@example.com"}}));
    AppModel model(f.endpoints());
    AsyncTest::await(model.bootstrap());
    model.stopDeviceWatch();

    EXPECT_EQ(f.tools.calls("ipatool").size(), 5) << "the version, the account and all three pages";
    EXPECT_EQ(model.apps().size(), 249);
    const auto cached = PurchasesCache::load("ivan@example.com");
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->apps.size(), 249);
    EXPECT_EQ(logTexts(model).filter("запис"),
              QStringList{"Не удалось прочитать 1 запись истории загрузок — пропускаю"});
}

TEST(AppModelSync, FailedOrShapelessPageKeepsWhatWasShownAndLogsTheError)
{
    const struct {
        QString answer;
        int exit;
        QString logged;
    } cases[] = {
        {ipatoolLine({{"error", "failed to get purchases: network is down"}, {"success", false}}), 1,
         "История покупок: failed to get purchases: network is down"},
        {ipatoolLine({{"apps", QJsonObject{{"id", 1100}}}, {"totalCount", 150}, {"success", true}}), 0,
         "История покупок: ipatool прислал историю загрузок без списка приложений"},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.tools.setScenario(scenario(QJsonArray{signedInAs("ivan@example.com"),
                                                rule("ipatool", "list-purchases -p 2 -l 100$", {out(c.answer)}, c.exit)}
                                         + historyPages(150),
                                     {{"signedIn", "yes"}, {"email", "ivan@example.com"}}));
        const PurchasedApp cached{
            7, "com.example.cached", "Из кэша", "1.0", 0, std::nullopt, std::nullopt, std::nullopt, false};
        PurchasesCache::save({cached}, "ivan@example.com");
        QFile cacheFile(PurchasesCache::filePath());
        cacheFile.open(QIODevice::ReadOnly);
        const QByteArray before = cacheFile.readAll();
        cacheFile.close();

        AppModel model(f.endpoints());
        AsyncTest::await(model.bootstrap());
        AsyncTest::await(model.syncPurchases(true));
        model.stopDeviceWatch();

        EXPECT_EQ(model.apps(), QList<PurchasedApp>{cached});
        EXPECT_EQ(model.log().last().text, c.logged);
        EXPECT_TRUE(model.log().last().isError);
        EXPECT_EQ(model.syncProgress(), std::nullopt);
        cacheFile.open(QIODevice::ReadOnly);
        EXPECT_EQ(cacheFile.readAll(), before);
    }
}

TEST(AppModelSync, SyncFinishingAfterSignOutOrAnotherSignInChangesNothing)
{
    Fixture f;
    const QJsonObject revoke =
        withState(rule("ipatool", "auth revoke$", {out(ipatoolLine({{"success", true}}))}), {}, {{"signedIn", "no"}});
    const QJsonObject otherLogin =
        withState(rule("ipatool", "auth login -e anna@example.com ",
                       {out(ipatoolLine({{"email", "anna@example.com"}, {"success", true}}))}),
                  {}, {{"signedIn", "yes"}, {"email", "anna@example.com"}});
    // Ivan's history is slow; Anna's is one quick page.
    QJsonArray rules{revoke, otherLogin, signedInAs("ivan@example.com"), signedInAs("anna@example.com")};
    rules.append(withState(historyPages(2, 1500).first().toObject(), {{"email", "ivan@example.com"}}));
    rules.append(withState(
        rule(
            "ipatool", "list-purchases -p 1 -l 100$",
            {out(ipatoolLine({{"apps", QJsonArray{purchasedApp(9, "Анино")}}, {"totalCount", 1}, {"success", true}}))}),
        {{"email", "anna@example.com"}}));
    f.tools.setScenario(scenario(rules, {{"signedIn", "yes"}, {"email", "ivan@example.com"}}));

    AppModel model(f.endpoints());
    auto startup = model.bootstrap(); // now waiting for Ivan's slow page
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model.syncProgress().has_value(); }));
    AsyncTest::await(model.signOut());
    AsyncTest::await(model.signIn("anna@example.com", "pw"));
    AsyncTest::await(std::move(startup));
    model.stopDeviceWatch();

    ASSERT_EQ(model.apps().size(), 1);
    EXPECT_EQ(model.apps()[0].name, "Анино");
    EXPECT_FALSE(PurchasesCache::load("ivan@example.com"));
    EXPECT_TRUE(PurchasesCache::load("anna@example.com"));
    EXPECT_FALSE(logTexts(model).contains("История загрузок: 2 приложений"));
}

TEST(AppModelSync, ThrottlesUnforcedSyncByTheAgeOfTheLastOne)
{
    Fixture f;
    f.tools.setScenario(scenario(QJsonArray{signedInAs("ivan@example.com")} + historyPages(1),
                                 {{"signedIn", "yes"}, {"email", "ivan@example.com"}}));
    PurchasesCache::save({PurchasedApp{7, "a", "A", "1", 0, {}, {}, {}, true}}, "ivan@example.com");
    AppModel model(f.endpoints());
    AsyncTest::await(model.bootstrap()); // the cache is seconds old: no read
    model.stopDeviceWatch();
    const qsizetype calls = f.tools.calls("ipatool").size();
    AsyncTest::await(model.syncPurchases(false));
    EXPECT_EQ(f.tools.calls("ipatool").size(), calls);
    AsyncTest::await(model.syncPurchases(true));
    EXPECT_EQ(f.tools.calls("ipatool").size(), calls + 1);
}

TEST(AppModelLibrary, FilterTrimsSearchIgnoresCaseAndNarrowsToGoneApps)
{
    Fixture f;
    f.gone = {1001};
    f.tools.setScenario(scenario(QJsonArray{signedInAs("ivan@example.com")} + historyPages(3),
                                 {{"signedIn", "yes"}, {"email", "ivan@example.com"}}));
    AppModel model(f.endpoints());
    AsyncTest::await(model.bootstrap());
    model.stopDeviceWatch();

    model.setSearch("  \t");
    EXPECT_EQ(model.filteredApps().size(), 3);
    model.setSearch("ПРИЛОЖЕНИЕ 1 ");
    EXPECT_EQ(model.filteredApps().size(), 1);
    model.setSearch("COM.EXAMPLE.APP100");
    EXPECT_EQ(model.filteredApps().size(), 3) << "bundle ids match too";
    model.setSearch("1001");
    EXPECT_EQ(model.filteredApps().size(), 1) << "the App ID alone is not searched, the bundle id holds it";
    model.setSearch({});
    model.setShowOnlyGone(true);
    ASSERT_EQ(model.filteredApps().size(), 1);
    EXPECT_EQ(model.filteredApps()[0].id, 1001);
}

TEST(AppModelStartup, ReleaseFileInLocalBinIsFoundAndAVersionWithoutTheHistorySaysSo)
{
    if (QFileInfo::exists("/opt/homebrew/bin/ipatool") || QFileInfo::exists("/usr/local/bin/ipatool"))
        GTEST_SKIP() << "an installed ipatool would win";
    Fixture f;
    QFile::remove(f.tools.path("ipatool"));
    StandinTools release(f.home.filePath("standin"), {"ipatool"});
    release.setScenario(scenario({exact("ipatool", {"--version"}, {out("ipatool version 2.3.1")}), signedOutInfo()}));
    const QString file = f.home.filePath(".local/bin/ipatool-2.3.1-linux-amd64");
    QDir().mkpath(QFileInfo(file).path());
    QFile script(file);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nexec '" + release.path("ipatool").toUtf8() + "' \"$@\"\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    Tools::setSystemToolsSearched(true);

    AppModel model(f.endpoints());
    AsyncTest::await(model.bootstrap());
    EXPECT_EQ(logTexts(model).first(), "ipatool: " + file + ", версия 2.3.1");
    EXPECT_EQ(model.alert(),
              "Установлен ipatool 2.3.1, а для истории загрузок нужен ipatool 2.5 или новее — обнови его");
}

TEST(AppModelSync, RateLimitedPageIsAskedAgainOnceAndOtherPlatformsAreLeftOut)
{
    QJsonArray firstPage;
    for (int i = 0; i < 100; ++i)
        firstPage.append(purchasedApp(1000 + i, "Приложение", i == 3 ? QStringList{"macos"} : QStringList{"iphone"}));
    const QJsonObject pageOne = rule("ipatool", "list-purchases -p 1 -l 100$",
                                     {out(ipatoolLine({{"apps", firstPage}, {"totalCount", 150}, {"success", true}}))});
    for (const int refusals : {1, 2}) {
        Fixture f;
        QJsonObject limited = failingRule("list-purchases -p 2 ", "purchase history items request returned HTTP 429");
        limited.insert("times", refusals);
        f.tools.setScenario(scenario(QJsonArray{signedInAs("ivan@example.com"), pageOne, limited} + historyPages(150),
                                     {{"signedIn", "yes"}, {"email", "ivan@example.com"}}));
        AppModel::Endpoints endpoints = f.endpoints();
        endpoints.rateLimitPause = std::chrono::milliseconds(20);
        AppModel model(endpoints);
        AsyncTest::await(model.bootstrap());
        model.stopDeviceWatch();

        EXPECT_EQ(f.tools.calls("ipatool").size(), 5) << "the version, the account, page 1 and page 2 twice";
        EXPECT_EQ(model.apps().size(), refusals == 1 ? 149 : 0);
        EXPECT_EQ(logTexts(model).contains("Покупки для Mac, Apple TV и Vision Pro не показываю: 1"), refusals == 1);
        EXPECT_EQ(
            logTexts(model).contains("История покупок: " + IPAToolError(IPAToolError::Kind::rateLimited).description()),
            refusals == 2);
    }
}
