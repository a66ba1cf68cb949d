#include "store/IPATool.h"

#include "process/ToolError.h"
#include "store/IPAToolError.h"
#include "support/AsyncTest.h"
#include "support/QtPrinters.h"
#include "support/StandinTools.h"
#include "support/TempHome.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace {

QJsonObject scenarioFile(const char* name)
{
    QFile file(QString(QUORREL_TEST_DATA_DIR) + "/ipatool/" + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return QJsonDocument::fromJson(file.readAll()).object();
}

QJsonObject rule(const QJsonArray& steps, int exitCode = 0)
{
    return {{"tool", "ipatool"}, {"steps", steps}, {"exit", exitCode}};
}

QJsonObject out(const QString& text)
{
    return {{"out", text}};
}

template <typename Task>
IPAToolError::Kind failureOf(Task task)
{
    try {
        AsyncTest::await(std::move(task));
    } catch (const IPAToolError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no IPAToolError";
    return IPAToolError::Kind::message;
}

class IPAToolTest : public ::testing::Test {
protected:
    void use(const char* scenario) { tools.setScenario(scenarioFile(scenario)); }
    void answer(const QJsonArray& steps, int exitCode = 0)
    {
        tools.setScenario({{"rules", QJsonArray{rule(steps, exitCode)}}});
    }

    TempHome home;
    StandinTools tools{home.resourceDirectory(), {"ipatool"}};
    IPATool client{std::chrono::milliseconds(50)};
};

} // namespace

TEST_F(IPAToolTest, SignInCountsOnlyForTheAccountTypedAndWithTheToolsOwnWords)
{
    // Unless a row says otherwise, the keychain still holds an earlier account, whatever the login run did.
    const char* old = R"({"email":"old@example.com","success":true})";
    const char* noData = R"({"level":"info","success":true})";
    const QString otherAccount =
        "Вход не удался: ipatool вернул другой аккаунт (old@example.com). Проверь e-mail и попробуй ещё раз";
    const struct {
        QString email;
        QJsonArray steps;
        int exit;
        QString failure;
        const char* info = nullptr;
    } cases[] = {
        {"n@b.c", {out("\x1b[31mError:\x1b[0m unknown flag: --auth-code")}, 1, "Error: unknown flag: --auth-code"},
        {"n@b.c", {QJsonObject{{"err", "panic: nil map"}}, QJsonObject{{"signal", "SEGV"}}}, 0, "panic: nil map"},
        {"n@b.c", {out(R"({"success":true})")}, 0, otherAccount},
        {"Old@Example.COM", {out(R"({"success":true})")}, 0, ""},
        {"n@b.c",
         {out(R"({"error":"failed to log in: something went wrong"})")},
         1,
         "failed to log in: something went wrong"},
        {"n@b.c", {out(noData)}, 0, "Вход не удался — ipatool не вернул данные аккаунта", noData},
    };
    for (const auto& c : cases) {
        const QJsonObject info{
            {"tool", "ipatool"}, {"match", "auth info$"}, {"steps", QJsonArray{out(c.info ? c.info : old)}}};
        tools.setScenario({{"rules", QJsonArray{info, rule(c.steps, c.exit)}}});
        try {
            EXPECT_EQ(AsyncTest::await(client.login(c.email, "pw")).email, "old@example.com");
            EXPECT_EQ(c.failure, "");
        } catch (const AppError& error) {
            EXPECT_EQ(error.description(), c.failure);
        }
    }
}

TEST_F(IPAToolTest, PurchasesPagesVersionsAndMetadata)
{
    use("catalogue.json");
    const IPATool::PurchasesPage first = AsyncTest::await(client.purchases(0, 2));
    EXPECT_EQ(first.totalCount, 3);
    ASSERT_EQ(first.apps.size(), 2);
    EXPECT_EQ(first.apps[0].name, "Ушедшее");
    EXPECT_EQ(first.apps[1], (PurchasedApp{2222, "com.example.paid", "Платное", "2.1", 1.99,
                                           QDateTime::fromString("2016-07-08T09:10:11.250Z", Qt::ISODateWithMs),
                                           std::nullopt, std::nullopt, false}));
    EXPECT_EQ(AsyncTest::await(client.purchases(1, 2)).apps.size(), 1);
    // An error answer still gives the version, without details.
    EXPECT_EQ(AsyncTest::await(client.versionMetadata(1111, "799")), (AppVersion{"799", std::nullopt, std::nullopt}));
}

TEST_F(IPAToolTest, PassphraseGoesToEveryCommandButTheVersionAndAnOldVersionRefusesTheHistory)
{
    const QJsonObject version{
        {"tool", "ipatool"}, {"args", QJsonArray{"--version"}}, {"steps", QJsonArray{out("ipatool version 2.3.1")}}};
    tools.setScenario({{"rules", QJsonArray{version, rule({out(R"({"email":"a@b.c","success":true})")})}}});
    client.setKeychainPassphrase("-ключ с пробелом");
    EXPECT_TRUE(AsyncTest::await(client.accountInfo()));
    std::optional<QString> refusal;
    for (int page = 1; page <= 3; ++page) {
        try {
            AsyncTest::await(client.purchases(page));
        } catch (const IPAToolError& error) {
            refusal = error.description();
        }
    }
    EXPECT_EQ(refusal, "Установлен ipatool 2.3.1, а для истории загрузок нужен ipatool 2.5 или новее — обнови его")
        << "the version is still known at the third read";
    EXPECT_EQ(tools.calls("ipatool"), (QList<QStringList>{{"--format", "json", "--non-interactive",
                                                           "--keychain-passphrase=-ключ с пробелом", "auth", "info"},
                                                          {"--version"}}));
}

TEST_F(IPAToolTest, OlderVersionDownloadsAndRefusalsKeepTheirKinds)
{
    use("catalogue.json");
    const QString older = home.filePath("paid_2.0.ipa");
    EXPECT_EQ(AsyncTest::await(client.download(2222, "900", older, false, {})), older);
    EXPECT_EQ(failureOf(client.download(404, std::nullopt, older, false, {})), IPAToolError::Kind::appNotFound);

    tools.setState("signedIn", "no");
    EXPECT_EQ(failureOf(client.purchases(1)), IPAToolError::Kind::notAuthenticated);
    EXPECT_EQ(failureOf(client.download(1111, std::nullopt, older, true, {})), IPAToolError::Kind::notAuthenticated);
}

TEST_F(IPAToolTest, NoProgressReportAfterTheDownloadReturnedEvenWhenItThrew)
{
    // Reports pile up for a while, then the tool either answers or dies mid-write.
    const QJsonObject slowWrite{{"write", "{opt:-o}"}, {"bytes", 5000}, {"chunks", 5}, {"interval", 60}};
    for (const bool crashes : {false, true}) {
        answer({slowWrite,
                crashes ? QJsonObject{{"signal", "KILL"}} : out(R"({"output":"/elsewhere.ipa","success":true})")});

        bool returned = false;
        int late = 0;
        int reports = 0;
        const auto onBytes = [&](qint64) {
            ++reports;
            if (returned)
                ++late;
        };
        try {
            EXPECT_EQ(AsyncTest::await(client.download(7, std::nullopt, home.filePath("p.ipa"), false, onBytes)),
                      "/elsewhere.ipa");
            EXPECT_FALSE(crashes);
        } catch (const IPAToolError& error) {
            EXPECT_TRUE(crashes);
            EXPECT_EQ(error.description(), "ipatool не сказал, куда положил файл");
        }
        returned = true;
        AsyncTest::waitUntil([] { return false; }, std::chrono::milliseconds(300));
        EXPECT_GE(reports, 3);
        EXPECT_EQ(late, 0);
    }
}

TEST_F(IPAToolTest, HostileOutputEndsInTheDocumentedErrorNeverACrashOrHang)
{
    const QString deep = QString("{\"a\":") + QString(100000, '[') + QString(100000, ']') + "}";
    const QJsonArray garbage{out("\x01\x02 not json"),
                             out("[1,2,3]"),
                             out(QString(100000, '[')),
                             out(deep),
                             QJsonObject{{"outRaw", QString(QByteArray("{\"error\":\"\xff\xfe\"}\n").toBase64())}},
                             out(R"({"level":"info","message":"retrying"})")};

    answer(garbage, 0);
    EXPECT_EQ(failureOf(client.purchases(0)), IPAToolError::Kind::message);
    answer(garbage, 0);
    EXPECT_EQ(AsyncTest::await(client.accountInfo()), std::nullopt);

    // A crash mid-page: the half-printed object is no answer, and the kill is a non-zero exit.
    answer({out("{\"apps\":[{\"id\":1,"), QJsonObject{{"signal", "SEGV"}}});
    EXPECT_THROW(AsyncTest::await(client.purchases(0)), ToolError);
    // A strict command without a JSON object fails with its last line.
    answer({out("[{\"error\":\"x\"}]"), out("Run 'ipatool --help' for usage.")}, 1);
    try {
        AsyncTest::await(client.versions(5));
        FAIL() << "no failure";
    } catch (const ToolError& error) {
        EXPECT_EQ(error.tool(), "ipatool");
        EXPECT_EQ(error.status(), 1);
        EXPECT_EQ(error.message(), "Run 'ipatool --help' for usage.");
    }
}
