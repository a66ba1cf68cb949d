#include "ModelTestSupport.h"
#include "common/AtomicFile.h"
#include "platform/Platform.h"
#include "store/PurchasesCache.h"
#include "support/Processes.h"

using namespace ModelTest;

namespace {

const QString ivan = "ivan@example.com";

QJsonObject revokes()
{
    return withState(rule("ipatool", "auth revoke$", {out(ipatoolLine({{"success", true}}))}), {},
                     {{"signedIn", "no"}});
}

QStringList names(const QList<PurchasedApp>& apps)
{
    QStringList names;
    for (const PurchasedApp& app : apps)
        names.append(app.name);
    return names;
}

} // namespace

TEST(AppModelStartup, SignedInWithEmptyCacheSyncsAtOnceMarksGoneAppsFiltersAndNextTimeShowsTheCacheWithoutASync)
{
    StoreFixture f;
    f.gone = {1001, 1003};
    f.signedIn(historyPages(5));
    auto model = f.start();

    EXPECT_EQ(model->stage(), AppModel::Stage::signedIn);
    EXPECT_EQ(model->apps().value(0).sellerName, "Разработчик");
    EXPECT_EQ(logTexts(*model).filter(QRegularExpression("^(Аккаунт|История|Снято)")),
              (QStringList{"Аккаунт: ivan@example.com", "История загрузок: 5 приложений",
                           "Снято из App Store: 2 приложения — их переустановить можно только так"}));

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
    EXPECT_EQ(names(model->filteredApps()), (QStringList{"Приложение 1", "Приложение 3"}));

    // Both saves landed: the next start shows the enriched history at once, and only a forced
    // sync reads it again so soon.
    const QList<PurchasedApp> synced = model->apps();
    const qsizetype calls = f.tools.calls("ipatool").size();
    const qsizetype lookups = f.lookup.requests().size();
    model = f.start();
    EXPECT_EQ(model->apps(), synced);
    EXPECT_TRUE(logTexts(*model).contains("Из кэша: 5 приложений, снятых из App Store — 2"));
    EXPECT_EQ(f.tools.calls("ipatool").size(), calls + 2) << "only the version and the account check";
    EXPECT_EQ(f.lookup.requests().size(), lookups);
    AsyncTest::await(model->syncPurchases(false));
    EXPECT_EQ(f.tools.calls("ipatool").size(), calls + 2);
    AsyncTest::await(model->syncPurchases(true));
    EXPECT_EQ(f.tools.calls("ipatool").size(), calls + 3);
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
    EXPECT_EQ(model.alert(), std::nullopt);
    EXPECT_EQ(std::pair(model.stage(), model.isWatchingDevices()), std::pair(AppModel::Stage::signedOut, false));

    EXPECT_THROW(AsyncTest::await(model.signIn(ivan, password, {}, passphrase)), IPAToolError) << "no code yet";
    EXPECT_EQ(model.stage(), AppModel::Stage::signedOut);
    AsyncTest::await(model.signIn(ivan, password, code, passphrase));
    EXPECT_EQ(std::pair(model.stage(), model.isWatchingDevices()), std::pair(AppModel::Stage::signedIn, true));
    EXPECT_EQ(model.apps().size(), 2);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return logTexts(model).join('\n').contains("Инструменты телефона: "); }));
    ASSERT_TRUE(model.saveLog(f.home.filePath("report.log")));

    // Only the stand-in's own records may hold the secrets.
    const QSet<QString> standin{"standin.json", "standin-state.json", "standin-calls.jsonl", "standin.lock"};
    QSet<QString> searched;
    for (QDirIterator it(f.home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        QFile file(it.next());
        if (standin.contains(it.fileName()) || !file.symLinkTarget().isEmpty() || !file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = file.readAll();
        for (const QString& secret : {password, passphrase, code})
            EXPECT_FALSE(content.contains(secret.toUtf8())) << file.fileName().toStdString();
        searched.insert(it.fileName());
    }
    EXPECT_TRUE(searched.contains({"quorrel.log", "report.log", "purchases.json"}))
        << searched.values().join(' ').toStdString();
    // Each start says what runs where.
    const QString report = QString::fromUtf8(AtomicFile::read(f.home.filePath("report.log")).value_or(QByteArray()));
    for (const char* line : {" INFO Quorrel версия ", " INFO ipatool: ", " INFO Вход выполнен: ivan@example.com"})
        EXPECT_TRUE(report.contains(line)) << line;

    // The rest of what signing out forgets is checked on the failed sign-in that follows one.
    AsyncTest::await(model.signOut());
    EXPECT_EQ(f.tools.state("signedIn"), "no");
    EXPECT_EQ(std::pair(model.apps().size(), model.isWatchingDevices()), std::pair(qsizetype(0), false));
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
        auto model = f.start();
        AsyncTest::await(model->signOut());

        EXPECT_THROW(AsyncTest::await(model->signIn(ivan, "secret")), AppError);
        EXPECT_EQ(std::pair(model->stage(), model->account().has_value()),
                  std::pair(AppModel::Stage::signedOut, false));
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
    const struct {
        int refusals;
        qsizetype apps;
        QStringList logged;
    } cases[] = {{1,
                  148,
                  {"Не удалось прочитать 1 запись истории загрузок — пропускаю",
                   "Покупки для Mac, Apple TV и Vision Pro не показываю: 1"}},
                 {2, 0, {"История покупок: " + IPAToolError(IPAToolError::Kind::rateLimited).description()}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refusals);
        StoreFixture f;
        QJsonObject limited = failingRule("list-purchases -p 2 ", "purchase history items request returned HTTP 429");
        limited.insert("times", c.refusals);
        f.signedIn(QJsonArray{pageOne, limited} + historyPages(150));
        AppModel::Endpoints endpoints = f.endpoints();
        endpoints.rateLimitPause = std::chrono::milliseconds(20);
        auto model = f.start(endpoints);

        EXPECT_EQ(f.tools.calls("ipatool").size(), 5) << "the version, the account, page 1 and page 2 twice";
        EXPECT_EQ(model->apps().size(), c.apps);
        EXPECT_EQ(PurchasesCache::load(ivan).value_or(PurchasesCache::Payload{}).apps.size(), c.apps);
        EXPECT_EQ(logTexts(*model).filter(QRegularExpression("запис|Mac|История покупок")), c.logged);
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
         "! История покупок: failed to get purchases: network is down"},
        {{sleepFor(600000)}, 0, "! История покупок: ipatool ничего не сообщал 1 с и был остановлен"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged.toStdString());
        StoreFixture f;
        f.signedIn(QJsonArray{rule("ipatool", "list-purchases -p 2 -l 100$", c.steps, c.exit)} + historyPages(150));
        const PurchasedApp cached{7, "com.example.cached", "Из кэша", "1.0", 0, {}, {}, {}, false};
        PurchasesCache::save({cached}, ivan);
        const QByteArray before = AtomicFile::read(PurchasesCache::filePath()).value_or(QByteArray());
        AppModel::Endpoints endpoints = f.endpoints();
        endpoints.toolWatchdog = std::chrono::milliseconds(500);
        auto model = f.start(endpoints);
        AsyncTest::await(model->syncPurchases(true));

        EXPECT_EQ(model->apps(), QList<PurchasedApp>{cached});
        EXPECT_EQ(markedLog(*model).last(), c.logged);
        EXPECT_EQ(AtomicFile::read(PurchasesCache::filePath()), before);
        // A hung read is ended with its child.
        EXPECT_TRUE(AsyncTest::waitUntil([&] { return !Processes::isRunning(f.tools.path("ipatool")); }));
        // The sync is over, so it can be started again.
        const qsizetype calls = f.tools.calls("ipatool").size();
        AsyncTest::await(model->syncPurchases(true));
        EXPECT_GT(f.tools.calls("ipatool").size(), calls);
    }
}

TEST(AppModelSync, SyncFinishingAfterSignOutOrAnotherSignInChangesNothingAndDuplicatesKeepTheirFirstOccurrence)
{
    StoreFixture f;
    const QString anna = "anna@example.com";
    const QJsonObject otherLogin = withState(
        rule("ipatool", "auth login -e anna@example.com ", {out(ipatoolLine({{"email", anna}, {"success", true}}))}),
        {}, {{"signedIn", "yes"}, {"email", anna}});
    // Ivan's history is slow; Anna's is one quick page that repeats an app and gives no total.
    const QJsonArray annas{purchasedApp(9, "Анино"), purchasedApp(8, "Второе"), purchasedApp(9, "Повтор")};
    f.signedIn({revokes(), otherLogin, signedInAs(anna),
                withState(historyPages(2, 1500).first().toObject(), {{"email", ivan}}),
                withState(rule("ipatool", "list-purchases -p 1 -l 100$",
                               {out(ipatoolLine({{"apps", annas}, {"success", true}}))}),
                          {{"email", anna}})});

    AppModel model(f.endpoints());
    auto startup = model.bootstrap(); // now waiting for Ivan's slow page
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model.syncProgress().has_value(); }));
    AsyncTest::await(model.signOut());
    QList<std::optional<double>> progress;
    QObject::connect(&model, &AppModel::syncProgressChanged, [&] { progress.append(model.syncProgress()); });
    AsyncTest::await(model.signIn(anna, "pw"));
    AsyncTest::await(std::move(startup));
    model.stopDeviceWatch();

    EXPECT_EQ(names(model.apps()), (QStringList{"Анино", "Второе"}));
    EXPECT_EQ(progress, (QList<std::optional<double>>{0.0, std::nullopt})) << "no total, no share";
    // The cache holds one account's history.
    EXPECT_EQ(PurchasesCache::load(anna).value_or(PurchasesCache::Payload{}).apps, model.apps());
}
