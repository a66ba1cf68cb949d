#include "model/AppModel.h"

#include "ModelTestSupport.h"
#include "common/AtomicFile.h"
#include "platform/Platform.h"
#include "store/IPAToolError.h"
#include "store/PurchasesCache.h"
#include "support/Processes.h"
#include "support/QtPrinters.h"

#include <QDirIterator>
#include <QFile>

#include <gtest/gtest.h>

using namespace ModelTest;

namespace {

const QString ivan = "ivan@example.com";

QJsonObject revokes()
{
    return withState(rule("ipatool", "auth revoke$", {out(ipatoolLine({{"success", true}}))}), {},
                     {{"signedIn", "no"}});
}

} // namespace

TEST(AppModelStartup, SignedInWithEmptyCacheSyncsAtOnceMarksGoneAppsAndFilters)
{
    StoreFixture f;
    f.gone = {1001, 1003};
    f.signedIn(historyPages(5));
    auto model = f.start();

    EXPECT_EQ(model->stage(), AppModel::Stage::signedIn);
    ASSERT_EQ(model->apps().size(), 5);
    EXPECT_TRUE(model->apps()[1].isGoneFromStore());
    EXPECT_FALSE(model->apps()[0].isGoneFromStore());
    EXPECT_EQ(model->apps()[0].sellerName, "Разработчик");
    const QStringList log = logTexts(*model);
    EXPECT_TRUE(log.contains("Аккаунт: ivan@example.com"));
    EXPECT_TRUE(log.contains("История загрузок: 5 приложений"));
    EXPECT_TRUE(log.contains("Снято из App Store: 2 приложения — их переустановить можно только так"));
    // Both saves landed: the enriched history is what the cache holds.
    const auto cached = PurchasesCache::load(ivan);
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->apps, model->apps());

    const struct {
        QString search;
        qsizetype shown;
    } searches[] = {{"  \t", 5}, {"ПРИЛОЖЕНИЕ 1 ", 1}, {"COM.EXAMPLE.APP100", 5}, {"1001", 1}};
    for (const auto& s : searches) {
        model->setSearch(s.search);
        EXPECT_EQ(model->filteredApps().size(), s.shown) << s.search.toStdString();
    }
    model->setSearch({});
    model->setShowOnlyGone(true);
    ASSERT_EQ(model->filteredApps().size(), 2);
    EXPECT_EQ(model->filteredApps()[0].id, 1001);
}

TEST(AppModelStartup, CachedHistoryShowsAtOnceAndOnlyAForcedSyncReadsItSoSoon)
{
    StoreFixture f;
    f.signedIn(historyPages(3));
    PurchasedApp gone{7, "com.example.gone", "Ушедшее", "1.0", 0, std::nullopt, std::nullopt, std::nullopt, true};
    PurchasedApp kept{
        8,   "com.example.kept", "Оставшееся", "1.0", 0, std::nullopt, QUrl("https://example.com/8.png"), std::nullopt,
        true};
    PurchasesCache::save({gone, kept}, ivan);
    auto model = f.start();

    EXPECT_EQ(model->apps(), (QList<PurchasedApp>{gone, kept}));
    EXPECT_TRUE(logTexts(*model).contains("Из кэша: 2 приложения, снятых из App Store — 1"));
    EXPECT_EQ(f.tools.calls("ipatool").size(), 2) << "only the version and the account check, no history read";
    EXPECT_TRUE(f.lookup.requests().isEmpty());
    AsyncTest::await(model->syncPurchases(false));
    EXPECT_EQ(f.tools.calls("ipatool").size(), 2);
    AsyncTest::await(model->syncPurchases(true));
    EXPECT_EQ(f.tools.calls("ipatool").size(), 3);
}

TEST(AppModelAccount, SignInAsksForTheCodeThenSyncsKeepsNoSecretInAnyFileAndSignOutForgetsEverything)
{
    const QString password = "Пароль-Apple 5512";
    const QString passphrase = "Связка-ключей 8830";
    const QString code = "730519";
    StoreFixture f;
    const QString login = "--keychain-passphrase=" + passphrase + " auth login -e ivan@example.com -p " + password;
    const QJsonObject askCode = rule("ipatool", QRegularExpression::escape(login) + "$",
                                     {out(ipatoolLine({{"message", "2FA code is required; run the command again and "
                                                                   "supply a code using the `--auth-code` flag"}}))});
    const QJsonObject withCode =
        withState(rule("ipatool", QRegularExpression::escape(login + " --auth-code " + code) + "$",
                       {out(ipatoolLine({{"email", ivan}, {"success", true}}))}),
                  {}, {{"signedIn", "yes"}, {"email", ivan}});
    f.tools.setScenario(scenario(QJsonArray{withState(signedOutInfo(), {{"signedIn", "no"}})} + fileKeyring(passphrase)
                                     + QJsonArray{askCode, withCode, revokes(), signedInAs(ivan)} + historyPages(2),
                                 {{"keyring", "file"}, {"signedIn", "no"}}));
    AppModel model(f.endpoints());
    model.writeLogTo(Platform::logDirectory());
    AsyncTest::await(model.bootstrap());
    ASSERT_EQ(model.stage(), AppModel::Stage::signedOut);
    EXPECT_EQ(model.alert(), std::nullopt);
    EXPECT_FALSE(model.isWatchingDevices());

    try {
        AsyncTest::await(model.signIn(ivan, password, {}, passphrase));
        ADD_FAILURE() << "sign-in without the code succeeded";
    } catch (const IPAToolError& error) {
        EXPECT_EQ(error.kind(), IPAToolError::Kind::needsTwoFactor);
    }
    EXPECT_EQ(model.stage(), AppModel::Stage::signedOut);

    AsyncTest::await(model.signIn(ivan, password, code, passphrase));
    EXPECT_EQ(model.stage(), AppModel::Stage::signedIn);
    EXPECT_TRUE(model.isWatchingDevices());
    EXPECT_TRUE(logTexts(model).contains("Вход выполнен: ivan@example.com"));
    EXPECT_EQ(model.apps().size(), 2);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return logTexts(model).join('\n').contains("Инструменты телефона: "); }));
    ASSERT_TRUE(model.saveLog(f.home.filePath("report.log")));

    // Only the stand-in's own records may hold the secrets.
    const QSet<QString> standin{"standin.json", "standin-state.json", "standin-calls.jsonl", "standin.lock"};
    QStringList searched;
    for (QDirIterator it(f.home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        QFile file(it.next());
        if (standin.contains(it.fileName()) || !file.symLinkTarget().isEmpty() || !file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = file.readAll();
        for (const QString& secret : {password, passphrase, code})
            EXPECT_FALSE(content.contains(secret.toUtf8())) << file.fileName().toStdString();
        searched.append(it.fileName());
    }
    EXPECT_TRUE(searched.contains("quorrel.log"));
    EXPECT_TRUE(searched.contains("report.log"));
    EXPECT_TRUE(searched.contains("purchases.json"));
    const QString report = QString::fromUtf8(AtomicFile::read(f.home.filePath("report.log")).value_or(QByteArray()));
    EXPECT_TRUE(report.contains(" INFO Quorrel версия ")) << "each start says what runs where";
    EXPECT_TRUE(report.contains(" INFO ipatool: "));
    EXPECT_TRUE(report.contains(" INFO Вход выполнен: ivan@example.com"));

    AsyncTest::await(model.signOut());
    EXPECT_EQ(f.tools.state("signedIn"), "no");
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
        StoreFixture f;
        f.signedIn(QJsonArray{revokeFails, login} + historyPages(2), "anna@example.com");
        AppModel model(f.endpoints());
        AsyncTest::await(model.bootstrap());
        AsyncTest::await(model.signOut());

        EXPECT_THROW(AsyncTest::await(model.signIn(ivan, "secret")), AppError);
        EXPECT_EQ(model.stage(), AppModel::Stage::signedOut);
        EXPECT_EQ(model.account(), std::nullopt);
        EXPECT_FALSE(QFile::exists(PurchasesCache::filePath())) << "neither Anna's history nor a sync";
    }
}

TEST(AppModelSync, ReadsThreePagesWithProgressAndStatus)
{
    StoreFixture f;
    f.signedIn(historyPages(250));
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
    StoreFixture f;
    QJsonArray apps{purchasedApp(1, "Первое"), purchasedApp(2, "Второе"), purchasedApp(1, "Повтор")};
    f.signedIn(
        {rule("ipatool", "list-purchases -p 1 -l 100$", {out(ipatoolLine({{"apps", apps}, {"success", true}}))})});
    AppModel model(f.endpoints());
    QList<std::optional<double>> progress;
    QObject::connect(&model, &AppModel::syncProgressChanged, [&] { progress.append(model.syncProgress()); });
    AsyncTest::await(model.bootstrap());
    model.stopDeviceWatch();
    ASSERT_EQ(model.apps().size(), 2);
    EXPECT_EQ(model.apps()[0].name, "Первое");
    EXPECT_EQ(progress.value(1), std::nullopt);
}

TEST(AppModelSync, UnreadableAndOtherPlatformEntriesAreLeftOutAndARateLimitedPageIsAskedAgainOnce)
{
    QJsonArray firstPage;
    for (int i = 0; i < 100; ++i) {
        firstPage.append(
            i == 5 ? QJsonObject{{"id", "1005"}, {"name", "Строковый номер"}}
                   : purchasedApp(1000 + i, "Приложение", i == 3 ? QStringList{"macos"} : QStringList{"iphone"}));
    }
    const QJsonObject pageOne = rule("ipatool", "list-purchases -p 1 -l 100$",
                                     {out(ipatoolLine({{"apps", firstPage}, {"totalCount", 150}, {"success", true}}))});
    for (const int refusals : {1, 2}) {
        SCOPED_TRACE(refusals);
        StoreFixture f;
        QJsonObject limited = failingRule("list-purchases -p 2 ", "purchase history items request returned HTTP 429");
        limited.insert("times", refusals);
        f.signedIn(QJsonArray{pageOne, limited} + historyPages(150));
        AppModel::Endpoints endpoints = f.endpoints();
        endpoints.rateLimitPause = std::chrono::milliseconds(20);
        auto model = f.start(endpoints);

        EXPECT_EQ(f.tools.calls("ipatool").size(), 5) << "the version, the account, page 1 and page 2 twice";
        EXPECT_EQ(model->apps().size(), refusals == 1 ? 148 : 0);
        if (refusals == 1) {
            EXPECT_EQ(PurchasesCache::load(ivan).value_or(PurchasesCache::Payload{}).apps.size(), 148);
        }
        const QStringList log = logTexts(*model);
        EXPECT_EQ(log.filter("запис"), refusals == 1 ? QStringList{"Не удалось прочитать 1 запись истории загрузок — "
                                                                   "пропускаю"}
                                                     : QStringList{});
        EXPECT_EQ(log.contains("Покупки для Mac, Apple TV и Vision Pro не показываю: 1"), refusals == 1);
        EXPECT_EQ(log.contains("История покупок: " + IPAToolError(IPAToolError::Kind::rateLimited).description()),
                  refusals == 2);
    }
}

TEST(AppModelSync, FailedOrHungPageKeepsWhatWasShownAndLogsTheError)
{
    const struct {
        QJsonArray steps;
        int exit;
        QString logged;
    } cases[] = {
        {{out(failure("failed to get purchases: network is down"))},
         1,
         "История покупок: failed to get purchases: network is down"},
        {{sleepFor(600000)}, 0, "История покупок: ipatool ничего не сообщал 1 с и был остановлен"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged.toStdString());
        StoreFixture f;
        f.signedIn(QJsonArray{rule("ipatool", "list-purchases -p 2 -l 100$", c.steps, c.exit)} + historyPages(150));
        const PurchasedApp cached{
            7, "com.example.cached", "Из кэша", "1.0", 0, std::nullopt, std::nullopt, std::nullopt, false};
        PurchasesCache::save({cached}, ivan);
        const QByteArray before = AtomicFile::read(PurchasesCache::filePath()).value_or(QByteArray());
        AppModel::Endpoints endpoints = f.endpoints();
        endpoints.toolWatchdog = std::chrono::milliseconds(500);
        auto model = f.start(endpoints);
        AsyncTest::await(model->syncPurchases(true));

        EXPECT_EQ(model->apps(), QList<PurchasedApp>{cached});
        EXPECT_EQ(model->log().last().text, c.logged);
        EXPECT_TRUE(model->log().last().isError);
        EXPECT_EQ(model->syncProgress(), std::nullopt) << "the sync is over, so it can be started again";
        EXPECT_EQ(AtomicFile::read(PurchasesCache::filePath()), before);
        // A hung read is ended with its child.
        EXPECT_TRUE(AsyncTest::waitUntil([&] { return !Processes::isRunning(f.tools.path("ipatool")); }));
        const qsizetype calls = f.tools.calls("ipatool").size();
        AsyncTest::await(model->syncPurchases(true));
        EXPECT_GT(f.tools.calls("ipatool").size(), calls);
    }
}

TEST(AppModelSync, SyncFinishingAfterSignOutOrAnotherSignInChangesNothing)
{
    StoreFixture f;
    const QString anna = "anna@example.com";
    const QJsonObject otherLogin = withState(
        rule("ipatool", "auth login -e anna@example.com ", {out(ipatoolLine({{"email", anna}, {"success", true}}))}),
        {}, {{"signedIn", "yes"}, {"email", anna}});
    // Ivan's history is slow; Anna's is one quick page.
    QJsonArray rules{revokes(), otherLogin, signedInAs(anna)};
    rules.append(withState(historyPages(2, 1500).first().toObject(), {{"email", ivan}}));
    rules.append(withState(
        rule(
            "ipatool", "list-purchases -p 1 -l 100$",
            {out(ipatoolLine({{"apps", QJsonArray{purchasedApp(9, "Анино")}}, {"totalCount", 1}, {"success", true}}))}),
        {{"email", anna}}));
    f.signedIn(rules);

    AppModel model(f.endpoints());
    auto startup = model.bootstrap(); // now waiting for Ivan's slow page
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model.syncProgress().has_value(); }));
    AsyncTest::await(model.signOut());
    AsyncTest::await(model.signIn(anna, "pw"));
    AsyncTest::await(std::move(startup));
    model.stopDeviceWatch();

    ASSERT_EQ(model.apps().size(), 1);
    EXPECT_EQ(model.apps()[0].name, "Анино");
    EXPECT_FALSE(PurchasesCache::load(ivan));
    EXPECT_TRUE(PurchasesCache::load(anna));
    EXPECT_FALSE(logTexts(model).contains("История загрузок: 2 приложения"));
}

TEST(AppModelStartup, AnIpatoolTooOldForTheHistorySaysSoWithItsVersion)
{
    StoreFixture f;
    f.tools.setScenario(scenario({exact("ipatool", {"--version"}, {out("ipatool version 2.3.1")}), signedOutInfo()}));
    AppModel model(f.endpoints());
    AsyncTest::await(model.bootstrap());
    EXPECT_EQ(logTexts(model).first(), "ipatool: " + f.tools.path("ipatool") + ", версия 2.3.1");
    EXPECT_EQ(model.alert(),
              "Установлен ipatool 2.3.1, а для истории загрузок нужен ipatool 2.5 или новее — обнови его");
}
