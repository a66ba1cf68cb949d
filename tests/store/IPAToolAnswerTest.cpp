#include "store/IPATool.h"

#include "process/ProcessOutput.h"
#include "process/ToolError.h"
#include "store/IPAToolError.h"
#include "support/QtPrinters.h"

#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

QJsonObject json(const char* text)
{
    return QJsonDocument::fromJson(text).object();
}

ProcessOutput exited(int status, QStringList lines)
{
    return ProcessOutput(status, std::move(lines), {}, {});
}

IPAToolError::Kind kindOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const IPAToolError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no IPAToolError";
    return IPAToolError::Kind::message;
}

} // namespace

TEST(IPAToolAnswer, LatestObjectWithAnAnswerKeyWinsOverEarlierOnesAndLogLines)
{
    EXPECT_EQ(IPATool::pickAnswer({R"({"error":"boom"})", R"({"success":true})", R"({"level":"debug"})", "done"}),
              json(R"({"success":true})"));
    // Without any of the five keys the latest object is the answer.
    EXPECT_EQ(IPATool::pickAnswer({R"({"level":"info","n":1})", R"({"level":"info","n":2})", "[1]"}),
              json(R"({"level":"info","n":2})"));
    EXPECT_EQ(IPATool::pickAnswer({"plain", "[{\"error\":\"x\"}]", "{broken", ""}), std::nullopt);
    EXPECT_EQ(IPATool::pickAnswer({R"({"output":"/a.ipa"})", R"({"level":"info","message":"bye"})"}),
              json(R"({"output":"/a.ipa"})"));
}

TEST(IPAToolAnswer, StrictAndLenientJudgement)
{
    const auto error = json(R"({"error":"network is down","success":false})");
    EXPECT_EQ(IPATool::judge(exited(1, {}), error, true), error);
    EXPECT_EQ(IPATool::judge(exited(0, {}), std::nullopt, false), std::nullopt);
    EXPECT_EQ(kindOf([&] { IPATool::judge(exited(1, {}), error, false); }), IPAToolError::Kind::message);
    EXPECT_EQ(kindOf([&] { IPATool::judge(exited(0, {}), error, false); }), IPAToolError::Kind::message);

    // An "error" that is not text is left to the caller, whatever the status.
    const auto structured = json(R"({"error":{"code":5}})");
    EXPECT_EQ(IPATool::judge(exited(2, {}), structured, false), structured);

    try {
        IPATool::judge(exited(3, {"first", "\x1b[1;31mlast words\x1b[0m", "\x1b[0m"}), json(R"({"level":"info"})"),
                       false);
        FAIL() << "no ToolError";
    } catch (const ToolError& failure) {
        EXPECT_EQ(failure.status(), 3);
        EXPECT_EQ(failure.message(), "last words");
    }
}

TEST(IPAToolAnswer, AccountNeedsSuccessAndAnEmail)
{
    EXPECT_EQ(IPATool::accountFrom(json(R"({"success":true,"email":"a@b.c","name":"Анна"})")),
              (IPATool::Account{"Анна", "a@b.c"}));
    EXPECT_EQ(IPATool::accountFrom(json(R"({"success":true,"email":"a@b.c","name":7})")),
              (IPATool::Account{"a@b.c", "a@b.c"}));
    EXPECT_EQ(IPATool::accountFrom(json(R"({"success":"true","email":"a@b.c"})")), std::nullopt);
    EXPECT_EQ(IPATool::accountFrom(json(R"({"success":true})")), std::nullopt);
    EXPECT_EQ(IPATool::accountFrom(std::nullopt), std::nullopt);
}

TEST(IPAToolAnswer, LoginRefusalsAreTranslated)
{
    // A code that was given and refused is not a request for one; rate limits read as everywhere.
    using Kind = IPAToolError::Kind;
    const struct {
        const char* answer;
        int status;
        Kind kind;
    } refusals[] = {
        {R"({"error":"An Auth Code is required"})", 0, Kind::needsTwoFactor},
        {R"({"error":"TWO-FACTOR needed"})", 0, Kind::needsTwoFactor},
        {R"({"error":"2FA"})", 0, Kind::needsTwoFactor},
        {R"({"level":"info","message":"2FA code is required; run the command again and supply a code using the )"
         R"(`--auth-code` flag","time":"2026-01-01T00:00:00Z"})",
         0, Kind::needsTwoFactor},
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

TEST(IPAToolAnswer, ErrorTextsOfAnyCommandMapToTheirKindsFirstMatchWins)
{
    using Kind = IPAToolError::Kind;
    const std::pair<const char*, Kind> cases[] = {
        {"License is required; failed to authenticate", Kind::licenseRequired},
        {"failed: APP NOT FOUND", Kind::appNotFound},
        {"password token is expired: purchase history login request returned HTTP 401", Kind::notAuthenticated},
        {"failed to get account: failed to get item: The specified item could not be found in the keyring",
         Kind::notAuthenticated},
        {"failed to log in: auth code is required", Kind::notAuthenticated},
        {"please authenticate", Kind::notAuthenticated},
        {"failed to get item: keychain passphrase is required when not running in interactive mode; use the "
         "\"--keychain-passphrase\" flag",
         Kind::keychainLocked},
        {"failed to get item: aes.KeyUnwrap(): integrity check failed", Kind::wrongKeychainPassphrase},
        {"rate limited by Apple (HTTP 429): slow down", Kind::rateLimited},
        {"apple rate limited authentication; try again later", Kind::rateLimited},
        {"purchase history items request returned HTTP 429", Kind::rateLimited},
    };
    for (const auto& [text, kind] : cases)
        EXPECT_EQ(IPATool::errorFor(text).kind(), kind) << text;
    const IPAToolError other = IPATool::errorFor("\x1b[31mDisk Full\x1b[0m");
    EXPECT_EQ(other.kind(), Kind::message);
    EXPECT_EQ(other.description(), "Disk Full");
}

TEST(IPAToolAnswer, VersionLine)
{
    EXPECT_EQ(IPATool::parseVersion("\x1b[1mipatool version v2.10.1\x1b[0m\n"), QVersionNumber(2, 10, 1));
    for (const char* text : {"ipatool version dev", "2.6.0"})
        EXPECT_EQ(IPATool::parseVersion(text), std::nullopt) << text;
}

TEST(IPAToolAnswer, HistoryLeavesOutAppsOfOtherPlatformsOnly)
{
    const IPATool::PurchasesPage page = IPATool::purchasesFrom(json(R"({"apps":[{"id":1,"platforms":["macos"]},
        {"id":2,"platforms":["appletv","visionos"]}, {"id":3,"platforms":["iphone"],"name":" "},
        {"id":4,"platforms":["macos","ipad"]}, {"id":5}, {"id":6,"platforms":["unknown"]}]})"));
    EXPECT_EQ(page.otherPlatforms, 2);
    ASSERT_EQ(page.apps.size(), 4);
    EXPECT_EQ(page.apps[0].id, 3);
    EXPECT_EQ(page.apps[0].name, "Без названия");
}

TEST(IPAToolAnswer, PurchaseRecordsSkipUnreadableEntriesOneByOne)
{
    const IPATool::PurchasesPage page = IPATool::purchasesFrom(json(R"({"totalCount":4.5,"apps":[
        {"name":"no id"}, {"id":"12","name":"text id"}, {"id":1.5}, {"id":9007199254740993,"name":"big"},
        2, null, "x", [], {"id":5,"bundleID":3,"price":"free","purchaseDate":"yesterday"}]})"));
    EXPECT_EQ(page.totalCount, 0);
    EXPECT_EQ(page.rawCount, 9);
    EXPECT_EQ(page.skipped, 7);
    ASSERT_EQ(page.apps.size(), 2);
    EXPECT_EQ(page.apps[0].id, 9007199254740993);
    EXPECT_EQ(page.apps[1],
              (PurchasedApp{5, "", "Без названия", "", 0, std::nullopt, std::nullopt, std::nullopt, false}));

    EXPECT_EQ(IPATool::purchasesFrom(json(R"({"apps":null,"totalCount":0})")).rawCount, 0);
    for (const char* text : {R"({"totalCount":3})", R"({"apps":{"id":1}})", R"({"apps":"1,2,3"})"})
        EXPECT_EQ(kindOf([&] { IPATool::purchasesFrom(json(text)); }), IPAToolError::Kind::message) << text;
}

TEST(IPAToolAnswer, InternetDatesOnly)
{
    const QDateTime utc(QDate(2020, 2, 29), QTime(23, 59, 58), QTimeZone::utc());
    EXPECT_EQ(IPATool::parseDate("2020-02-29T23:59:58Z"), utc);
    EXPECT_EQ(IPATool::parseDate("2020-03-01T02:59:58+03:00"), utc);
    EXPECT_EQ(IPATool::parseDate("2020-02-29T23:59:58.5Z"), utc.addMSecs(500));
    EXPECT_EQ(IPATool::parseDate("2020-02-29T23:59:58.123456789Z"), utc.addMSecs(123));
    for (const char* text : {"2020-02-29", "2020-02-29T23:59:58", "2020-02-30T00:00:00Z", "2020-02-29 23:59:58Z",
                             "2020-02-29T23:59:58+0300", "2020-02-29T25:00:00Z", "", "٢٠٢٠-02-29T23:59:58Z"})
        EXPECT_EQ(IPATool::parseDate(text), std::nullopt) << text;
}

TEST(IPAToolAnswer, ProgressIsTheFileOrItsLargestNamesake)
{
    QTemporaryDir dir;
    const auto make = [&](const char* name, int size) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(size, 'x'));
    };
    const QString destination = dir.filePath("app_1.0.ipa");
    EXPECT_EQ(IPATool::measureDownload(destination), 0);
    make("app_1.0.tmp", 300);
    make("app_1.0.part", 200);
    make("other.ipa", 900);
    EXPECT_EQ(IPATool::measureDownload(destination), 300);
    make("app_1.0.ipa", 0);
    EXPECT_EQ(IPATool::measureDownload(destination), 300);
    make("app_1.0.ipa", 40);
    EXPECT_EQ(IPATool::measureDownload(destination), 40);
    EXPECT_EQ(IPATool::measureDownload(dir.filePath("missing/folder/x.ipa")), 0);
}
