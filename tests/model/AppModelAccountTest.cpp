#include "ModelTestSupport.h"
#include "common/AtomicFile.h"
#include "platform/Platform.h"
#include "store/PurchasesCache.h"
#include "support/Processes.h"

using namespace ModelTest;

const QString ivan = "ivan@example.com";

TEST(AppModelStartup, FirstStartSyncsEveryPageMarksGoneAppsAndFiltersAndTheNextShowsTheCacheWithoutASync)
{
    StoreFixture f;
    f.gone = {1001, 1003};
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
    EXPECT_EQ(model.apps().value(0).sellerName, "Разработчик");
    EXPECT_EQ(logTexts(model).filter(QRegularExpression("^(Аккаунт|История|Снято)")),
              (QStringList{"Аккаунт: ivan@example.com", "История загрузок: 250 приложений",
                           "Снято из App Store: 2 приложения — их переустановить можно только так"}));

    const QList<std::pair<QString, qsizetype>> searches{
        {"  \t", 250}, {"ПРИЛОЖЕНИЕ 249 ", 1}, {"COM.EXAMPLE.APP100", 10}, {"1001", 1}};
    for (const auto& [search, shown] : searches) {
        model.setSearch(search);
        EXPECT_EQ(model.filteredApps().size(), shown) << search.toStdString();
    }
    model.setSearch({});
    model.setShowOnlyGone(true);
    EXPECT_EQ(model.filteredApps(), (QList<PurchasedApp>{model.apps().value(1), model.apps().value(3)}));

    // Both saves landed: the next start shows the enriched history at once, and only a forced
    // sync reads it again so soon.
    const qsizetype calls = f.tools.calls("ipatool").size();
    const qsizetype lookups = f.lookup.requests().size();
    auto next = f.start();
    EXPECT_EQ(next->apps(), model.apps());
    EXPECT_TRUE(logTexts(*next).contains("Из кэша: 250 приложений, снятых из App Store — 2"));
    EXPECT_EQ(f.lookup.requests().size(), lookups);
    AsyncTest::await(next->syncPurchases(false));
    EXPECT_EQ(f.tools.calls("ipatool").size(), calls + 2) << "only the version and the account check";
    AsyncTest::await(next->syncPurchases(true));
    EXPECT_EQ(f.tools.calls("ipatool").size(), calls + 5) << "three pages";
}

TEST(AppModelAccount, SignInWithACodeSyncsKeepsNoSecretInAnyFileAndSignOutForgetsEverything)
{
    const QString password = "Пароль-Apple 5512";
    const QString passphrase = "Связка-ключей 8830";
    const QString code = "730519";
    StoreFixture f;
    const QString login = "--keychain-passphrase=" + passphrase + " auth login -e ivan@example.com -p " + password;
    const QJsonObject withCode =
        withState(rule("ipatool", QRegularExpression::escape(login + " --auth-code " + code) + "$",
                       {out(ipatoolLine({{"email", ivan}, {"success", true}}))}),
                  {}, {{"signedIn", "yes"}, {"email", ivan}});
    const QJsonObject revoke =
        withState(rule("ipatool", "auth revoke$", {out(ipatoolLine({{"success", true}}))}), {}, {{"signedIn", "no"}});
    f.tools.setScenario(scenario(QJsonArray{withState(signedOutInfo(), {{"signedIn", "no"}})} + fileKeyring(passphrase)
                                     + QJsonArray{withCode, revoke, signedInAs(ivan)} + historyPages(2),
                                 {{"keyring", "file"}, {"signedIn", "no"}}));
    AppModel model(f.endpoints());
    model.writeLogTo(Platform::logDirectory());
    AsyncTest::await(model.bootstrap());
    EXPECT_EQ(std::tuple(model.alert(), model.stage(), model.isWatchingDevices()),
              std::tuple(std::nullopt, AppModel::Stage::signedOut, false));
    AsyncTest::await(model.signIn(ivan, password, code, passphrase));
    EXPECT_EQ(std::pair(model.stage(), model.isWatchingDevices()), std::pair(AppModel::Stage::signedIn, true));
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
    EXPECT_TRUE(searched.contains({"quorrel.log", "report.log", "purchases.json"}));
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

TEST(AppModelSync, AFailedPageKeepsWhatWasShownUnreadableEntriesAreLeftOutAndARateLimitedPageIsAskedAgainOnce)
{
    // Page one lists 100 entries, one of them unreadable and one for a Mac; page two the last 50.
    QJsonArray firstPage;
    for (int i = 0; i < 100; ++i) {
        firstPage.append(
            i == 5 ? QJsonObject{{"id", "1005"}, {"name", "Строковый номер"}}
                   : purchasedApp(1000 + i, "Приложение", i == 3 ? QStringList{"macos"} : QStringList{"iphone"}));
    }
    const QJsonObject pageOne = rule("ipatool", "list-purchases -p 1 -l 100$",
                                     {out(ipatoolLine({{"apps", firstPage}, {"totalCount", 150}, {"success", true}}))});
    const QJsonObject refused = failingRule("list-purchases -p 2 ", "purchase history items request returned HTTP 429");
    const QStringList leftOut{"Не удалось прочитать 1 запись истории загрузок — пропускаю",
                              "Покупки для Mac, Apple TV и Vision Pro не показываю: 1"};
    const QString failed = "! История покупок: ";
    const QString down = "failed to get purchases: network is down";
    const QJsonObject hangs = rule("ipatool", "list-purchases -p 2 ", {sleepFor(600000)});
    const struct {
        QJsonObject pageTwo;
        qsizetype calls; // the version, the account and the pages
        qsizetype shown;
        QStringList logged;
    } cases[] = {{limitedTo(1, refused), 5, 148, leftOut},
                 {limitedTo(2, refused), 5, 1, {failed + IPAToolError(IPAToolError::Kind::rateLimited).description()}},
                 {failingRule("list-purchases -p 2 ", down), 4, 1, {failed + down}},
                 {hangs, 4, 1, {failed + "ipatool ничего не сообщал 1 с и был остановлен"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged.join(' ').toStdString());
        StoreFixture f;
        f.signedIn(QJsonArray{pageOne, c.pageTwo} + historyPages(150));
        PurchasesCache::save({{7, "com.example.cached", "Из кэша", "1.0", 0, {}, {}, {}, false}}, ivan);
        const QByteArray before = AtomicFile::read(PurchasesCache::filePath()).value_or(QByteArray());
        AppModel::Endpoints endpoints = f.endpoints();
        endpoints.rateLimitPause = std::chrono::milliseconds(20);
        endpoints.toolWatchdog = std::chrono::milliseconds(500);
        auto model = f.start(endpoints);
        AsyncTest::await(model->syncPurchases(true));

        EXPECT_EQ(f.tools.calls("ipatool").size(), c.calls);
        EXPECT_EQ(model->apps().size(), c.shown);
        EXPECT_EQ(logTexts(*model, true).filter(QRegularExpression("запис|Mac|История покупок")), c.logged);
        // The cache holds what is shown, and a failed read leaves its file alone.
        EXPECT_EQ(PurchasesCache::load(ivan).value_or(PurchasesCache::Payload{}).apps, model->apps());
        EXPECT_EQ(AtomicFile::read(PurchasesCache::filePath()) == before, c.shown == 1);
        // A hung read is ended with its child, and the sync is over, so it can be started again.
        EXPECT_TRUE(AsyncTest::waitUntil([&] { return !Processes::isRunning(f.tools.path("ipatool")); }));
        AsyncTest::await(model->syncPurchases(true));
        EXPECT_GT(f.tools.calls("ipatool").size(), c.calls);
    }
}

TEST(AppModelSync, ASyncEndingAfterAnotherSignInChangesNothingDuplicatesKeepTheirFirstOccurrenceAndIpatoolStaysOut)
{
    StoreFixture f;
    const QString anna = "anna@example.com";
    const QJsonObject otherLogin = withState(
        rule("ipatool", "auth login -e anna@example.com ", {out(ipatoolLine({{"email", anna}, {"success", true}}))}),
        {}, {{"signedIn", "yes"}, {"email", anna}});
    // Ivan's history is slow; Anna's is one quick page that repeats an app and gives no total.
    // Her revoke fails, and ipatool answers Ivan's next login without an account.
    const QJsonArray annas{purchasedApp(9, "Анино"), purchasedApp(8, "Второе"), purchasedApp(9, "Повтор")};
    const QJsonObject revokeFails = rule("ipatool", "auth revoke$", {out("\x1b[31mkeychain locked\x1b[0m")}, 1);
    f.signedIn({withState(revokeFails, {{"email", anna}}), otherLogin, signedInAs(anna),
                rule("ipatool", "auth login -e ivan@example.com ", {out(ipatoolLine({{"success", true}}))}),
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

    EXPECT_EQ(model.apps().size(), 2);
    EXPECT_EQ(model.apps().value(0).name, "Анино");
    EXPECT_EQ(progress, (QList<std::optional<double>>{0.0, std::nullopt})) << "no total, no share";
    // The cache holds one account's history.
    EXPECT_EQ(PurchasesCache::load(anna).value_or(PurchasesCache::Payload{}).apps, model.apps());

    // Signing in while ipatool still holds Anna fails and touches nothing.
    AsyncTest::await(model.signOut());
    EXPECT_THROW(AsyncTest::await(model.signIn(ivan, "secret")), AppError);
    EXPECT_EQ(std::pair(model.stage(), model.account().has_value()), std::pair(AppModel::Stage::signedOut, false));
    EXPECT_FALSE(QFile::exists(PurchasesCache::filePath())) << "neither Anna's history nor a sync";
}
