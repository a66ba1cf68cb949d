#include "store/IPATool.h"

#include "common/AtomicFile.h"
#include "process/ProcessOutput.h"
#include "process/ToolError.h"
#include "store/IPAToolError.h"
#include "support/StandinTools.h"
#include "support/Test.h"

#include <QTimeZone>

namespace {

using Kind = IPAToolError::Kind;

QJsonObject json(const char* text)
{
    return QJsonDocument::fromJson(text).object();
}

ProcessOutput exited(int status, QStringList lines)
{
    return ProcessOutput(status, std::move(lines), {}, {});
}

QJsonObject rule(const QJsonArray& steps, int exitCode = 0)
{
    return {{"tool", "ipatool"}, {"steps", steps}, {"exit", exitCode}};
}

QJsonObject out(const QString& text)
{
    return {{"out", text}};
}

Kind kindOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const IPAToolError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no IPAToolError";
    return Kind::message;
}

/// The description of the error `action` throws, "tool status message" for a ToolError; empty when it throws none.
QString failureText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const ToolError& error) {
        return QString("%1 %2 %3").arg(error.tool()).arg(error.status()).arg(error.message());
    } catch (const AppError& error) {
        return error.description();
    }
    return {};
}

class IPAToolTest : public ::testing::Test {
protected:
    void answer(const QJsonArray& steps, int exitCode = 0)
    {
        tools.setScenario({{"rules", QJsonArray{rule(steps, exitCode)}}});
    }

    TempHome home;
    StandinTools tools{home.resourceDirectory(), {"ipatool"}};
    IPATool client{std::chrono::milliseconds(50)};
};

} // namespace

TEST(IPAToolAnswer, LatestObjectWithAnAnswerKeyWinsIsJudgedAndLoginRefusalsAreTranslated)
{
    EXPECT_EQ(IPATool::pickAnswer({R"({"error":"boom"})", R"({"success":true})", R"({"level":"debug"})", "done"}),
              json(R"({"success":true})"));
    // Without any of the five keys the latest object is the answer.
    EXPECT_EQ(IPATool::pickAnswer({R"({"level":"info","n":1})", R"({"level":"info","n":2})", "[1]"}),
              json(R"({"level":"info","n":2})"));
    EXPECT_EQ(IPATool::pickAnswer({"plain", "[{\"error\":\"x\"}]", "{broken", ""}), std::nullopt);
    EXPECT_EQ(IPATool::pickAnswer({R"({"output":"/a.ipa"})", R"({"level":"info","message":"bye"})"}),
              json(R"({"output":"/a.ipa"})"));

    const auto error = json(R"({"error":"network is down","success":false})");
    EXPECT_EQ(IPATool::judge(exited(1, {}), error, true), error);
    EXPECT_EQ(IPATool::judge(exited(0, {}), std::nullopt, false), std::nullopt);
    EXPECT_EQ(kindOf([&] { IPATool::judge(exited(1, {}), error, false); }), Kind::message);
    EXPECT_EQ(kindOf([&] { IPATool::judge(exited(0, {}), error, false); }), Kind::message);

    // An "error" that is not text is left to the caller, whatever the status.
    const auto structured = json(R"({"error":{"code":5}})");
    EXPECT_EQ(IPATool::judge(exited(2, {}), structured, false), structured);
    EXPECT_EQ(failureText([] {
                  IPATool::judge(exited(3, {"first", "\x1b[1;31mlast words\x1b[0m", "\x1b[0m"}),
                                 json(R"({"level":"info"})"), false);
              }),
              "ipatool 3 last words");

    EXPECT_EQ(IPATool::accountFrom(json(R"({"success":true,"email":"a@b.c","name":"Анна"})")),
              (IPATool::Account{"Анна", "a@b.c"}));
    EXPECT_EQ(IPATool::accountFrom(json(R"({"success":true,"email":"a@b.c","name":7})")),
              (IPATool::Account{"a@b.c", "a@b.c"}));
    for (const auto& answer : {std::optional(json(R"({"success":"true","email":"a@b.c"})")),
                               std::optional(json(R"({"success":true})")), std::optional<QJsonObject>()})
        EXPECT_EQ(IPATool::accountFrom(answer), std::nullopt);

    // A code that was given and refused is not a request for one; rate limits read as everywhere.
    const std::tuple<const char*, int, Kind> refusals[] = {
        {R"({"error":"An Auth Code is required"})", 0, Kind::needsTwoFactor},
        {R"({"error":"TWO-FACTOR needed"})", 0, Kind::needsTwoFactor},
        {R"({"error":"2FA"})", 0, Kind::needsTwoFactor},
        {R"({"error":"2FA code must contain exactly six digits"})", 1, Kind::badCode},
        {R"({"error":"apple did not complete verification; try a fresh 2FA code"})", 1, Kind::badCode},
        {R"({"error":"apple rate limited authentication; try again later"})", 1, Kind::rateLimited},
        {R"({"error":"Invalid Credentials"})", 1, Kind::badCredentials},
        {R"({"error":"failed to log in: something went wrong"})", 1, Kind::badCredentials},
    };
    for (const auto& [answer, status, kind] : refusals)
        EXPECT_EQ(kindOf([&] { IPATool::checkLogin(exited(status, {}), json(answer)); }), kind) << answer;
    // Success answers and unrelated messages go on to ask for the account.
    EXPECT_NO_THROW(IPATool::checkLogin(exited(0, {}), json(R"({"success":true,"message":"2fa done"})")));
    EXPECT_NO_THROW(IPATool::checkLogin(exited(0, {}), json(R"({"level":"info","message":"signing in"})")));
    EXPECT_NO_THROW(IPATool::checkLogin(exited(0, {}), std::nullopt));
    // A failed run without an explanation is no sign-in, whatever the keychain still holds.
    for (const auto& answer :
         {std::optional(json(R"({"level":"info","message":"signing in"})")), std::optional<QJsonObject>()})
        EXPECT_THROW(IPATool::checkLogin(exited(2, {"\x1b[31mError:\x1b[0m unknown flag"}), answer), ToolError);
}

TEST(IPAToolAnswer, ErrorTextsMapToKindsTheVersionLineIsReadAndTheHistorySkipsWhatItCannotUse)
{
    const std::pair<const char*, Kind> cases[] = {
        {"failed: APP NOT FOUND", Kind::appNotFound},
        {"failed to get account: failed to get item: The specified item could not be found in the keyring",
         Kind::notAuthenticated},
        {"failed to log in: auth code is required", Kind::notAuthenticated},
        {"please authenticate", Kind::notAuthenticated},
        {"rate limited by Apple (HTTP 429): slow down", Kind::rateLimited},
        {"purchase history items request returned HTTP 429", Kind::rateLimited},
        {"\x1b[31mDisk Full\x1b[0m", Kind::message},
    };
    for (const auto& [text, kind] : cases)
        EXPECT_EQ(IPATool::errorFor(text).kind(), kind) << text;
    EXPECT_EQ(IPATool::errorFor("\x1b[31mDisk Full\x1b[0m").description(), "Disk Full");

    EXPECT_EQ(IPATool::parseVersion("\x1b[1mipatool version v2.10.1\x1b[0m\n"), QVersionNumber(2, 10, 1));
    for (const char* text : {"ipatool version dev", "2.6.0"})
        EXPECT_EQ(IPATool::parseVersion(text), std::nullopt) << text;

    const IPATool::PurchasesPage page = IPATool::purchasesFrom(json(R"({"apps":[{"id":1,"platforms":["macos"]},
        {"id":2,"platforms":["appletv","visionos"]}, {"id":3,"platforms":["iphone"],"name":" "},
        {"id":4,"platforms":["macos","ipad"]}, {"id":5}, {"id":6,"platforms":["unknown"]}]})"));
    EXPECT_EQ(QList<qint64>({page.otherPlatforms, page.apps.size()}), QList<qint64>({2, 4}));
    EXPECT_EQ(page.apps.value(0),
              (PurchasedApp{3, "", "Без названия", "", 0, std::nullopt, std::nullopt, std::nullopt, false}));

    const IPATool::PurchasesPage odd = IPATool::purchasesFrom(json(R"({"totalCount":4.5,"apps":[
        {"name":"no id"}, {"id":"12","name":"text id"}, {"id":1.5}, {"id":9007199254740993,"name":"big"},
        2, null, "x", [], {"id":5,"bundleID":3,"price":"free","purchaseDate":"yesterday"}]})"));
    EXPECT_EQ(QList<qint64>({odd.totalCount, odd.rawCount, odd.skipped, odd.apps.value(0).id}),
              QList<qint64>({0, 9, 7, 9007199254740993}));
    EXPECT_EQ(odd.apps.mid(1),
              (QList<PurchasedApp>{{5, "", "Без названия", "", 0, std::nullopt, std::nullopt, std::nullopt, false}}));

    EXPECT_EQ(IPATool::purchasesFrom(json(R"({"apps":null,"totalCount":0})")).rawCount, 0);
    for (const char* text : {R"({"totalCount":3})", R"({"apps":{"id":1}})", R"({"apps":"1,2,3"})"})
        EXPECT_EQ(kindOf([&] { IPATool::purchasesFrom(json(text)); }), Kind::message) << text;

    // Purchase dates are internet dates only.
    const QDateTime utc(QDate(2020, 2, 29), QTime(23, 59, 58), QTimeZone::utc());
    EXPECT_EQ(IPATool::parseDate("2020-02-29T23:59:58Z"), utc);
    EXPECT_EQ(IPATool::parseDate("2020-03-01T02:59:58+03:00"), utc);
    EXPECT_EQ(IPATool::parseDate("2020-02-29T23:59:58.5Z"), utc.addMSecs(500));
    EXPECT_EQ(IPATool::parseDate("2020-02-29T23:59:58.123456789Z"), utc.addMSecs(123));
    for (const char* text : {"2020-02-29", "2020-02-29T23:59:58", "2020-02-30T00:00:00Z", "2020-02-29 23:59:58Z",
                             "2020-02-29T23:59:58+0300", "2020-02-29T25:00:00Z", "", "٢٠٢٠-02-29T23:59:58Z"})
        EXPECT_EQ(IPATool::parseDate(text), std::nullopt) << text;
}

TEST_F(IPAToolTest, PassphraseGoesToEveryCommandButTheVersionAndSignInCountsOnlyForTheAccountTyped)
{
    const QJsonObject version{
        {"tool", "ipatool"}, {"args", QJsonArray{"--version"}}, {"steps", QJsonArray{out("ipatool version 2.3.1")}}};
    tools.setScenario({{"rules", QJsonArray{version, rule({out(R"({"email":"a@b.c","success":true})")})}}});
    client.setKeychainPassphrase("-ключ с пробелом");
    EXPECT_TRUE(AsyncTest::await(client.accountInfo()));
    QString refusal;
    for (int page = 1; page <= 3; ++page)
        refusal = failureText([&] { AsyncTest::await(client.purchases(page)); });
    EXPECT_EQ(refusal, "Установлен ipatool 2.3.1, а для истории загрузок нужен ipatool 2.5 или новее — обнови его")
        << "the version is still known at the third read";
    EXPECT_EQ(tools.calls("ipatool"), (QList<QStringList>{{"--format", "json", "--non-interactive",
                                                           "--keychain-passphrase=-ключ с пробелом", "auth", "info"},
                                                          {"--version"}}));

    // Unless a call says otherwise, the keychain still holds an earlier account, whatever the login run did.
    const auto expectSignIn = [&](const QString& email, const QJsonArray& steps, int exit, const QString& failure,
                                  const char* info = R"({"email":"old@example.com","success":true})") {
        const QJsonObject infoRule{{"tool", "ipatool"}, {"match", "auth info$"}, {"steps", QJsonArray{out(info)}}};
        tools.setScenario({{"rules", QJsonArray{infoRule, rule(steps, exit)}}});
        QString signedIn = "old@example.com";
        EXPECT_EQ(failureText([&] { signedIn = AsyncTest::await(client.login(email, "pw")).email; }), failure);
        EXPECT_EQ(signedIn, "old@example.com");
    };
    expectSignIn("n@b.c", {QJsonObject{{"err", "panic: nil map"}}, QJsonObject{{"signal", "SEGV"}}}, 0,
                 "ipatool 11 panic: nil map");
    expectSignIn("n@b.c", {out(R"({"success":true})")}, 0,
                 "Вход не удался: ipatool вернул другой аккаунт (old@example.com). Проверь e-mail и попробуй ещё раз");
    expectSignIn("Old@Example.COM", {out(R"({"success":true})")}, 0, "");
    const QString wentWrong = "failed to log in: something went wrong";
    expectSignIn("n@b.c", {out(R"({"error":")" + wentWrong + "\"}")}, 1, wentWrong);
    const char* noData = R"({"level":"info","success":true})";
    expectSignIn("n@b.c", {out(noData)}, 0, "Вход не удался — ipatool не вернул данные аккаунта", noData);
}

TEST_F(IPAToolTest, PurchasesVersionsDownloadsAndRefusalsKeepTheirKindsAndHostileOutputIsNoCrash)
{
    const auto catalogue = AtomicFile::read(QString(QUORREL_TEST_DATA_DIR) + "/ipatool/catalogue.json");
    tools.setScenario(QJsonDocument::fromJson(catalogue.value_or("")).object());
    const IPATool::PurchasesPage first = AsyncTest::await(client.purchases(0, 2));
    EXPECT_EQ(
        QList<qint64>({first.totalCount, first.apps.size(), AsyncTest::await(client.purchases(1, 2)).apps.size()}),
        QList<qint64>({3, 2, 1}));
    EXPECT_EQ(first.apps.value(1), (PurchasedApp{2222, "com.example.paid", "Платное", "2.1", 1.99,
                                                 QDateTime::fromString("2016-07-08T09:10:11.250Z", Qt::ISODateWithMs),
                                                 std::nullopt, std::nullopt, false}));
    // An error answer still gives the version, without details.
    EXPECT_EQ(AsyncTest::await(client.versionMetadata(1111, "799")), (AppVersion{"799", std::nullopt, std::nullopt}));

    const QString older = home.filePath("paid_2.0.ipa");
    EXPECT_EQ(AsyncTest::await(client.download(2222, "900", older, false, {})), older);
    EXPECT_EQ(kindOf([&] { AsyncTest::await(client.download(404, std::nullopt, older, false, {})); }),
              Kind::appNotFound);
    tools.setState("signedIn", "no");
    EXPECT_EQ(kindOf([&] { AsyncTest::await(client.purchases(1)); }), Kind::notAuthenticated);
    EXPECT_EQ(kindOf([&] { AsyncTest::await(client.download(1111, std::nullopt, older, true, {})); }),
              Kind::notAuthenticated);

    // Hostile output ends in the documented error, never a crash or hang.
    const QString deep = QString("{\"a\":") + QString(100000, '[') + QString(100000, ']') + "}";
    QJsonArray garbage{out("\x01\x02 not json"), out("[1,2,3]"), out(QString(100000, '[')), out(deep)};
    garbage.append(QJsonObject{{"outRaw", QString(QByteArray("{\"error\":\"\xff\xfe\"}\n").toBase64())}});
    garbage.append(out(R"({"level":"info","message":"retrying"})"));
    answer(garbage, 0);
    EXPECT_EQ(kindOf([&] { AsyncTest::await(client.purchases(0)); }), Kind::message);
    EXPECT_EQ(AsyncTest::await(client.accountInfo()), std::nullopt);

    // A crash mid-page: the half-printed object is no answer, and the kill is a non-zero exit.
    answer({out("{\"apps\":[{\"id\":1,"), QJsonObject{{"signal", "SEGV"}}});
    EXPECT_THROW(AsyncTest::await(client.purchases(0)), ToolError);
    // A strict command without a JSON object fails with its last line.
    answer({out("[{\"error\":\"x\"}]"), out("Run 'ipatool --help' for usage.")}, 1);
    EXPECT_EQ(failureText([&] { AsyncTest::await(client.versions(5)); }), "ipatool 1 Run 'ipatool --help' for usage.");
}

TEST_F(IPAToolTest, ProgressIsTheFileOrItsLargestNamesakeAndNoReportFollowsTheDownloadEvenWhenItThrew)
{
    QTemporaryDir dir;
    const QString destination = dir.filePath("app_1.0.ipa");
    QList<qint64> measured{IPATool::measureDownload(destination)};
    const std::pair<const char*, int> files[] = {
        {"app_1.0.tmp", 300}, {"app_1.0.part", 200}, {"other.ipa", 900}, {"app_1.0.ipa", 0}, {"app_1.0.ipa", 40}};
    for (const auto& [name, size] : files) {
        ASSERT_TRUE(AtomicFile::write(dir.filePath(name), QByteArray(size, 'x')));
        measured.append(IPATool::measureDownload(destination));
    }
    measured.append(IPATool::measureDownload(dir.filePath("missing/folder/x.ipa")));
    EXPECT_EQ(measured, (QList<qint64>{0, 300, 300, 300, 300, 40, 0}));

    // Reports pile up for a while, then the tool either answers or dies mid-write.
    const QJsonObject slowWrite{{"write", "{opt:-o}"}, {"bytes", 5000}, {"chunks", 5}, {"interval", 60}};
    for (const bool crashes : {false, true}) {
        answer({slowWrite,
                crashes ? QJsonObject{{"signal", "KILL"}} : out(R"({"output":"/elsewhere.ipa","success":true})")});
        int reports = 0;
        QString result;
        const QString failure = failureText([&] {
            result = AsyncTest::await(
                client.download(7, std::nullopt, home.filePath("p.ipa"), false, [&](qint64) { ++reports; }));
        });
        EXPECT_EQ(result + failure, crashes ? "ipatool не сказал, куда положил файл" : "/elsewhere.ipa");
        const int atReturn = reports;
        AsyncTest::waitUntil([] { return false; }, std::chrono::milliseconds(300));
        EXPECT_EQ(reports, atReturn);
        EXPECT_GE(reports, 3);
    }
}
