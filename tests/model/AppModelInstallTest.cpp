#include "model/AppModel.h"

#include "ModelTestSupport.h"
#include "process/Tools.h"
#include "support/QtPrinters.h"
#include "support/StandinTools.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <gtest/gtest.h>

using namespace ModelTest;

namespace {

const AppModel::Target app{564177498, "com.example.app", "Приложение", true};

QJsonArray downloads()
{
    return {rule("ipatool", "download -i ",
                 {QJsonObject{{"write", "{opt:-o}"}, {"bytes", 1000}},
                  out(ipatoolLine({{"output", "{json:opt:-o}"}, {"success", true}}))})};
}

QJsonObject cfgutilInstall(const QJsonArray& steps, int exit = 0)
{
    return rule("cfgutil", "--progress install-app ", steps, exit);
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

TEST(AppModelInstall, CablePhoneInstallsThroughCfgutilWithProgress)
{
    Fixture f({cfgutilInstall({out("[ 10%] Copying", "\r"), out("[ 60%] Installing", "\r"), out("[100%] Done", "\r")})},
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
    EXPECT_EQ(f.seen.at(f.seen.indexOf(AppActivity::installing(0, "Передаю на Кабельный"))).text,
              "Передаю на Кабельный");
}

TEST(AppModelInstall, LockedPhoneFallsBackToIdeviceinstaller)
{
    Fixture f({cfgutilInstall({err("Error: The device is locked with a passcode.")}, 1),
               legacyInstall({out("Install: CreatingStagingDirectory (5%)", "\r"), out("Install: Complete", "\r")})},
              "yes", "no");
    f.findPhones();
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
    EXPECT_EQ(f.model.activity(app.adamID), AppActivity::done("Установлено"));
    const QStringList log = logTexts(f.model);
    const auto fallback = std::find_if(log.cbegin(), log.cend(), [](const QString& line) {
        return line.startsWith("cfgutil не смог (") && line.endsWith("), пробую ideviceinstaller…");
    });
    EXPECT_NE(fallback, log.cend());
    EXPECT_EQ(log.last(), "Приложение установлено на Кабельный (ideviceinstaller)");
}

TEST(AppModelInstall, WhenBothInstallersFailTheSecondErrorIsShown)
{
    Fixture f({cfgutilInstall({err("Error: The device is locked with a passcode.")}, 1),
               legacyInstall({err("ERROR: Install failed. Got error \"ApplicationVerificationFailed\"")}, 0)},
              "yes", "no");
    f.findPhones();
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
    const AppActivity activity = f.model.activity(app.adamID);
    ASSERT_EQ(activity.kind, AppActivity::Kind::failed);
    EXPECT_FALSE(activity.text.contains("locked")) << activity.text.toStdString();
    // The advice is the error line; the tool's own words follow it for whoever reads the log.
    const QList<AppModel::LogEntry> log = f.model.log();
    ASSERT_GE(log.size(), 2);
    EXPECT_TRUE(log[log.size() - 2].isError);
    EXPECT_EQ(log[log.size() - 2].text, "Приложение: " + activity.text);
    EXPECT_EQ(log.last().text, "ERROR: Install failed. Got error \"ApplicationVerificationFailed\"");
}

TEST(AppModelInstall, WifiPhoneAndIdeviceIdOnlyPhoneGoStraightToIdeviceinstaller)
{
    Fixture f({legacyInstall({out("Install: Complete", "\r")})}, "no", "yes");
    f.findPhones();
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
    EXPECT_EQ(logTexts(f.model).last(), "Приложение установлено на Беспроводной (ideviceinstaller, Wi-Fi)");
    EXPECT_TRUE(f.tools.calls("ideviceinstaller").last().contains("-n")) << "a Wi-Fi phone is reached with -n";
    EXPECT_TRUE(f.tools.calls("cfgutil").size() <= 1) << "only the device list, no cfgutil install";

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

TEST(AppModelInstall, WifiPhoneWithoutIdeviceinstallerExplainsWhatIsMissing)
{
    Fixture f({}, "no", "yes");
    f.findPhones();
    QFile::remove(f.tools.path("ideviceinstaller"));
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
    EXPECT_EQ(f.model.activity(app.adamID),
              AppActivity::failed("Телефон виден только по Wi-Fi. Подключи кабелем или поставь пакет ideviceinstaller "
                                  "(sudo apt install ideviceinstaller)"));
}

TEST(AppModelInstall, WithoutAPhoneOnlyTheAlertAppears)
{
    Fixture f({}, "no", "no");
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
                     out(ipatoolLine({{"output", "{json:opt:-o}"}, {"success", true}}))}),
               cfgutilInstall({QJsonObject{{"write", "{dir}/received.ipa"}, {"from", "{opt:install-app}"}},
                               out("[100%] Done", "\r")})},
              "yes", "no");
    QFile file(QDir(f.home.resourceDirectory()).filePath("source.ipa"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(source) == source.size());
    file.close();
    f.findPhones();

    // The row installs; 150 ms later the App ID sheet asks for the same file.
    auto install = f.model.installOnDevice(app, std::nullopt);
    QTest::qWait(150);
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
