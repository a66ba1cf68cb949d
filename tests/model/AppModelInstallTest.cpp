#include "model/AppModel.h"

#include "ModelTestSupport.h"
#include "process/Tools.h"
#include "support/Test.h"

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

QJsonObject once(QJsonObject rule)
{
    rule.insert("times", 1);
    return rule;
}

struct Fixture {
    TempHome home;
    StandinTools tools{home.resourceDirectory()};
    AppModel model;
    QList<AppActivity> installing;

    Fixture(const QJsonArray& rules, const QString& cable, const QString& wifi)
    {
        // While "cfgutil" is "blind", cfgutil lists no phone: idevice_id alone knows the cable one.
        const QJsonObject blind =
            withState(exact("cfgutil", {"--format", "JSON", "list"}, {out(cfgutilList({}))}), {{"cfgutil", "blind"}});
        tools.setScenario(scenario(QJsonArray{blind} + rules + phoneRules() + installerRules() + downloads()));
        tools.setState("cable", cable);
        tools.setState("wifi", wifi);
        QObject::connect(&model, &AppModel::activitiesChanged, [this] {
            if (model.activity(app.adamID).kind == AppActivity::Kind::installing)
                installing.append(model.activity(app.adamID));
        });
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
    Fixture f(
        {once(cfgutilInstall({out("[ 10%] Copying", "\r"), out("[ 60%] Installing", "\r"), out("[100%] Done", "\r")})),
         cfgutilInstall({err("Error: The device is locked with a passcode.")}, 1),
         once(legacyInstall({out("Install: CreatingStagingDirectory (5%)", "\r"), out("Install: Complete", "\r")})),
         legacyInstall({err("ERROR: Install failed. Got error \"ApplicationVerificationFailed\"")}, 0)},
        "yes", "no");
    f.findPhones();
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
    EXPECT_EQ(f.model.activity(app.adamID), AppActivity::done("Установлено"));
    EXPECT_EQ(logTexts(f.model).last(), "Приложение установлено на Кабельный (cfgutil)");
    EXPECT_EQ(f.installing,
              (QList<AppActivity>{AppActivity::installing(0, "Передаю на Кабельный"),
                                  AppActivity::installing(0.1, "Установка"), AppActivity::installing(0.6, "Установка"),
                                  AppActivity::installing(1.0, "Установка")}));

    // The phone locked: ideviceinstaller takes over.
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
    EXPECT_EQ(f.model.activity(app.adamID), AppActivity::done("Установлено"));
    EXPECT_EQ(logTexts(f.model).mid(f.model.log().size() - 2),
              (QStringList{"cfgutil не смог (Устройство заблокировано — разблокируй экран и повтори), пробую "
                           "ideviceinstaller…",
                           "Приложение установлено на Кабельный (ideviceinstaller)"}));

    // Both fail: the second error is the advice; the tool's own words follow it for whoever reads the log.
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
    const QString advice = "iPhone не принял приложение: на нём нужно войти в тот Apple Account, который его получал "
                           "(Настройки → App Store)";
    EXPECT_EQ(f.model.activity(app.adamID), AppActivity::failed(advice));
    EXPECT_EQ(
        logTexts(f.model).mid(f.model.log().size() - 2),
        (QStringList{"Приложение: " + advice, "ERROR: Install failed. Got error \"ApplicationVerificationFailed\""}));
    EXPECT_TRUE(f.model.log().at(f.model.log().size() - 2).isError);
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

    // A Wi-Fi phone needs ideviceinstaller, and is reached with -n.
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
    EXPECT_TRUE(f.tools.calls("ideviceinstaller").last().contains("-n"));

    // A cable phone that cfgutil does not list: known by UDID alone.
    f.tools.setState("cfgutil", "blind");
    f.tools.setState("cable", "yes");
    f.tools.setState("wifi", "no");
    AsyncTest::await(f.model.refreshDevices());
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
    EXPECT_EQ(logTexts(f.model).last(), "Приложение установлено на Кабельный (ideviceinstaller, кабель)");
}

TEST(AppModelInstall, StoreLinkAndLocalFileWithAnAwkwardPathInstallAndAVanishedFileFailsClearly)
{
    Fixture f({cfgutilInstall({out("[100%] Done", "\r")})}, "yes", "no");
    f.findPhones();
    // The phone's list taught this App ID with its real bundle id and name.
    AsyncTest::await(f.model.runAppID("https://apps.apple.com/us/app/kept/id564177498", true));
    EXPECT_EQ(logTexts(f.model).last(), "Сохранённое установлено на Кабельный (cfgutil)");

    const QString path = f.home.filePath("Мои файлы/it's a \"test\" $HOME.ipa");
    QDir().mkpath(QFileInfo(path).path());
    ASSERT_TRUE(QFile(path).open(QIODevice::WriteOnly));
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
    QByteArray source;
    for (int i = 0; i < 1'000'000; ++i)
        source.append(char(i % 251 + 1));
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
    EXPECT_EQ(second, AppModel::fileURL(app, std::nullopt));
    EXPECT_EQ(f.model.activity(app.adamID), AppActivity::done("Установлено"));
    QFile received(QDir(f.home.resourceDirectory()).filePath("received.ipa"));
    ASSERT_TRUE(received.open(QIODevice::ReadOnly));
    EXPECT_TRUE(received.readAll() == source) << "the phone got other bytes than the tool wrote";
    EXPECT_EQ(QDir(Tools::downloadsDirectory()).entryList(QDir::Files), QStringList{"com.example.app_latest.ipa"});
}
