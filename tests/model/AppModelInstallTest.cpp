#include "model/AppModel.h"

#include "ModelTestSupport.h"
#include "process/Tools.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace ModelTest;

namespace {

const AppModel::Target app{564177498, "com.example.app", "Приложение", true};

QJsonArray downloads()
{
    return {rule("ipatool", "download -i ", {QJsonObject{{"write", "{opt:-o}"}, {"bytes", 1000}}, reportsSaved()})};
}

QJsonObject cfgutilInstall(const QJsonArray& steps, int exit = 0)
{
    return rule("cfgutil", "^--ecid " + cableEcid + " --progress install-app ", steps, exit);
}

QJsonObject legacyInstall(const QJsonArray& steps, int exit = 0)
{
    return rule("ideviceinstaller", "^-u \\S+ (-n )?-i ", steps, exit);
}

QJsonObject err(const QString& text, const QString& end = "\n")
{
    return {{"err", text}, {"end", end}};
}

struct Fixture {
    TempHome home;
    StandinTools tools{home.resourceDirectory()};
    AppModel model;
    QList<AppActivity> seen;

    Fixture(const QJsonArray& rules, const QString& cable, const QString& wifi)
    {
        tools.setScenario(scenario(rules + phoneRules() + installerRules() + downloads()));
        tools.setState("cable", cable);
        tools.setState("wifi", wifi);
        QObject::connect(&model, &AppModel::activitiesChanged, [this] { seen.append(model.activity(app.adamID)); });
    }
    // A change of phone starts a read of its apps, which must not outlive the model.
    ~Fixture()
    {
        AsyncTest::waitUntil([&] { return !model.hasPhoneAppsRead(); });
    }
    void findPhones()
    {
        AsyncTest::await(model.refreshDevices());
        EXPECT_TRUE(AsyncTest::waitUntil([&] { return !model.loadingInstalledApps(); }));
    }
};

} // namespace

TEST(AppModelInstall, CablePhoneInstallsThroughCfgutilFallsBackToIdeviceinstallerAndShowsTheLastError)
{
    const QJsonObject locked = cfgutilInstall({err("Error: The device is locked with a passcode.")}, 1);
    QJsonObject legacyWorks =
        legacyInstall({out("Install: CreatingStagingDirectory (5%)", "\r"), out("Install: Complete", "\r")});
    legacyWorks.insert("times", 1);
    QJsonObject cfgutilWorks =
        cfgutilInstall({out("[ 10%] Copying", "\r"), out("[ 60%] Installing", "\r"), out("[100%] Done", "\r")});
    cfgutilWorks.insert("times", 1);
    Fixture f({cfgutilWorks, locked, legacyWorks,
               legacyInstall({err("ERROR: Install failed. Got error \"ApplicationVerificationFailed\"")}, 0)},
              "yes", "no");
    f.findPhones();
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
    EXPECT_EQ(f.model.activity(app.adamID), AppActivity::done("Установлено"));
    EXPECT_EQ(logTexts(f.model).last(), "Приложение установлено на Кабельный (cfgutil)");
    QList<double> fractions;
    for (const AppActivity& activity : f.seen) {
        if (activity.kind == AppActivity::Kind::installing)
            fractions.append(activity.progress);
    }
    EXPECT_EQ(fractions, (QList<double>{0, 0.1, 0.6, 1.0}));
    EXPECT_TRUE(f.seen.contains(AppActivity::installing(0, "Передаю на Кабельный")));

    // The phone locked: ideviceinstaller takes over.
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
    EXPECT_EQ(f.model.activity(app.adamID), AppActivity::done("Установлено"));
    EXPECT_EQ(logTexts(f.model).filter("пробую ideviceinstaller"),
              QStringList{"cfgutil не смог (Устройство заблокировано — разблокируй экран и повтори), пробую "
                          "ideviceinstaller…"});
    EXPECT_EQ(logTexts(f.model).last(), "Приложение установлено на Кабельный (ideviceinstaller)");

    // Both fail: the second error is shown.
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
    const AppActivity activity = f.model.activity(app.adamID);
    ASSERT_EQ(activity.kind, AppActivity::Kind::failed);
    EXPECT_FALSE(activity.text.contains("locked")) << activity.text.toStdString();
    // The advice is the error line; the tool's own words follow it for whoever reads the log.
    const QList<AppModel::LogEntry> entries = f.model.log();
    EXPECT_TRUE(entries[entries.size() - 2].isError);
    EXPECT_EQ(entries[entries.size() - 2].text, "Приложение: " + activity.text);
    EXPECT_EQ(entries.last().text, "ERROR: Install failed. Got error \"ApplicationVerificationFailed\"");
}

TEST(AppModelInstall, WithoutAPhoneOnlyTheAlertAppearsAndOtherPhonesGoStraightToIdeviceinstaller)
{
    Fixture f({legacyInstall({out("Install: Complete", "\r")})}, "no", "no");
    f.findPhones();
    const qsizetype logged = f.model.log().size();
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
    EXPECT_EQ(f.model.alert(), "iPhone не подключён");
    f.model.setAlert(std::nullopt);
    AsyncTest::await(f.model.installLocalFile("/tmp/whatever.ipa"));
    EXPECT_EQ(f.model.alert(), "iPhone не подключён");
    EXPECT_EQ(f.model.log().size(), logged);
    EXPECT_TRUE(f.model.activities().isEmpty());
    EXPECT_TRUE(f.tools.calls("ipatool").isEmpty());

    // A Wi-Fi phone needs ideviceinstaller.
    f.tools.setState("wifi", "yes");
    f.findPhones();
    const QString installer = f.tools.path("ideviceinstaller");
    QFile::remove(installer);
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
    EXPECT_EQ(f.model.activity(app.adamID),
              AppActivity::failed("Телефон виден только по Wi-Fi. Подключи кабелем или поставь пакет ideviceinstaller "
                                  "(sudo apt install ideviceinstaller)"));
    ASSERT_TRUE(QFile::link(StandinTools::programPath(), installer));
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
    EXPECT_EQ(logTexts(f.model).last(), "Приложение установлено на Беспроводной (ideviceinstaller, Wi-Fi)");
    EXPECT_TRUE(f.tools.calls("ideviceinstaller").last().contains("-n")) << "a Wi-Fi phone is reached with -n";
    for (const QStringList& call : f.tools.calls("cfgutil"))
        EXPECT_FALSE(call.contains("install-app"));

    // A cable phone that cfgutil does not list: known by UDID alone.
    f.tools.setScenario(scenario(QJsonArray{exact("cfgutil", {"--format", "JSON", "list"}, {out(cfgutilList({}))}),
                                            legacyInstall({out("Install: Complete", "\r")})}
                                 + phoneRules() + installerRules() + downloads()));
    f.tools.setState("cable", "yes");
    f.tools.setState("wifi", "no");
    AsyncTest::await(f.model.refreshDevices());
    f.model.setSelectedDeviceID(cableUdid);
    ASSERT_FALSE(f.model.selectedDevice()->ecid);
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
    EXPECT_EQ(logTexts(f.model).last(), "Приложение установлено на Кабельный (ideviceinstaller, кабель)");
}

TEST(AppModelInstall, LocalFileWithAnAwkwardPathInstallsAndAVanishedOneFailsClearly)
{
    Fixture f({cfgutilInstall({out("[100%] Done", "\r")})}, "yes", "no");
    f.findPhones();
    const QString path = f.home.filePath("Мои файлы/it's a \"test\" $HOME.ipa");
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    AsyncTest::await(f.model.installLocalFile(path));
    EXPECT_EQ(logTexts(f.model).last(), "it's a \"test\" $HOME.ipa: установлено (cfgutil)");
    EXPECT_EQ(f.tools.calls("cfgutil").last().last(), path) << "the path reaches the tool as one argument";

    QFile::remove(path);
    AsyncTest::await(f.model.installLocalFile(path));
    EXPECT_EQ(f.model.log().last().text, "it's a \"test\" $HOME.ipa: Файл не найден: " + path);
    EXPECT_TRUE(f.model.log().last().isError);
}

TEST(AppModelInstall, SecondRequestForAFileOnItsWaySharesTheRunAndThePhoneGetsTheToolsBytes)
{
    QByteArray source(1'000'000, Qt::Uninitialized);
    for (qsizetype i = 0; i < source.size(); ++i)
        source[i] = static_cast<char>((i * 7919) % 251 + 1);
    Fixture f({rule("ipatool", "download -i ",
                    {QJsonObject{{"write", "{opt:-o}"}, {"from", "{dir}/source.ipa"}, {"chunks", 10}, {"interval", 60}},
                     reportsSaved()}),
               cfgutilInstall({QJsonObject{{"write", "{dir}/received.ipa"}, {"from", "{opt:install-app}"}},
                               out("[100%] Done", "\r")})},
              "yes", "no");
    QFile file(QDir(f.home.resourceDirectory()).filePath("source.ipa"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(source) == source.size());
    file.close();
    f.findPhones();

    // The row installs; while the file is on its way the App ID sheet asks for it too.
    auto install = f.model.installOnDevice(app, std::nullopt);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.model.activity(app.adamID).bytes > 0; }));
    const auto second = AsyncTest::await(f.model.download(app, std::nullopt));
    AsyncTest::await(std::move(install));

    EXPECT_EQ(f.tools.calls("ipatool").size(), 1);
    ASSERT_TRUE(second);
    EXPECT_EQ(QFileInfo(*second).fileName(), "com.example.app_latest.ipa");
    EXPECT_EQ(f.model.activity(app.adamID), AppActivity::done("Установлено"));
    QFile received(QDir(f.home.resourceDirectory()).filePath("received.ipa"));
    ASSERT_TRUE(received.open(QIODevice::ReadOnly));
    EXPECT_TRUE(received.readAll() == source) << "the phone got other bytes than the tool wrote";
    EXPECT_EQ(QDir(Tools::downloadsDirectory()).entryList(QDir::Files), QStringList{"com.example.app_latest.ipa"});
}
