#include "model/AppModel.h"

#include "ModelTestSupport.h"
#include "platform/Platform.h"
#include "support/HttpServer.h"
#include "support/QtPrinters.h"
#include "support/StandinTools.h"
#include "support/TempHome.h"

#include <QDirIterator>
#include <QFile>

#include <gtest/gtest.h>

using namespace ModelTest;

TEST(AppModelLog, SigningInLeavesNoPasswordPassphraseOrCodeInAnyFileTheAppWrote)
{
    const QString password = "Пароль-Apple 5512";
    const QString passphrase = "Связка-ключей 8830";
    const QString code = "730519";
    TempHome home;
    StandinTools tools(home.resourceDirectory(), {"ipatool"});
    HttpServer lookup;
    lookup.setHandler("/lookup", [](const HttpServer::Request&) {
        return HttpServer::Response::json(R"({"resultCount":0,"results":[]})");
    });
    const QString login = "--keychain-passphrase=" + passphrase + " auth login -e ivan@example.com -p " + password;
    const QJsonObject askCode = rule("ipatool", QRegularExpression::escape(login) + "$",
                                     {out(ipatoolLine({{"message", "2FA code is required"}}))});
    const QJsonObject withCode =
        withState(rule("ipatool", QRegularExpression::escape(login + " --auth-code " + code) + "$",
                       {out(ipatoolLine({{"email", "ivan@example.com"}, {"success", true}}))}),
                  {}, {{"signedIn", "yes"}, {"email", "ivan@example.com"}});
    tools.setScenario(scenario(QJsonArray{withState(signedOutInfo(), {{"signedIn", "no"}})} + fileKeyring(passphrase)
                                   + QJsonArray{askCode, withCode, signedInAs("ivan@example.com")} + historyPages(1),
                               {{"keyring", "file"}, {"signedIn", "no"}}));

    AppModel model(AppModel::Endpoints{lookup.url()});
    model.writeLogTo(Platform::logDirectory());
    AsyncTest::await(model.bootstrap());
    EXPECT_THROW(AsyncTest::await(model.signIn("ivan@example.com", password, {}, passphrase)), AppError);
    AsyncTest::await(model.signIn("ivan@example.com", password, code, passphrase));
    ASSERT_EQ(model.stage(), AppModel::Stage::signedIn);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return logTexts(model).join('\n').contains("Инструменты телефона: "); }));
    model.stopDeviceWatch();
    ASSERT_TRUE(model.saveLog(home.filePath("report.log")));

    // Only the stand-in's own records may hold them.
    const QSet<QString> standin{"standin.json", "standin-state.json", "standin-calls.jsonl", "standin.lock"};
    QStringList searched;
    for (QDirIterator it(home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
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

    QFile saved(home.filePath("report.log"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QString report = QString::fromUtf8(saved.readAll());
    EXPECT_TRUE(report.contains(" INFO Quorrel версия ")) << "each start says what runs where";
    EXPECT_TRUE(report.contains(" INFO ipatool: "));
    EXPECT_TRUE(report.contains(" INFO Вход выполнен: ivan@example.com"));
}

TEST(AppModelLog, AnUnwritableLogFolderLeavesTheLogInMemoryWithOneNote)
{
    TempHome home;
    QFile blocker(home.filePath("state"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    AppModel model;
    model.writeLogTo(home.filePath("state/Quorrel"));
    model.note("дальше");
    EXPECT_EQ(model.log().size(), 2);
    EXPECT_TRUE(model.log().first().isError);
    EXPECT_TRUE(model.log().first().text.startsWith("Журнал не пишется в файл, он остаётся только в окне: "));
    EXPECT_EQ(model.logDirectory(), std::nullopt);
}
