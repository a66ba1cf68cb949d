#include "model/AppModel.h"

#include "ModelTestSupport.h"
#include "platform/Platform.h"
#include "process/ProcessRunner.h"
#include "process/Tools.h"
#include "support/LoopbackPhone.h"
#include "support/Processes.h"
#include "support/Test.h"

// The model and the phones: how they are listed and read and how installs reach them, with the
// stand-in tools and then with Debian's real idevice_id, ideviceinfo and ideviceinstaller against
// the loopback phone.

using namespace ModelTest;
using namespace std::chrono_literals;

namespace {

const AppModel::Target app{564177498, "com.example.app", "Приложение", true};

QJsonObject cfgutilInstall(const QJsonArray& steps, int exit = 0)
{
    return rule("cfgutil", "^--ecid " + cableEcid + " --progress install-app ", steps, exit);
}

QJsonObject legacyInstall(const QJsonArray& steps, int exit = 0)
{
    return rule("ideviceinstaller", "^-u \\S+ (-n )?-i ", steps, exit);
}

QJsonObject once(QJsonObject rule)
{
    rule.insert("times", 1);
    return rule;
}

// The Wi-Fi phone's own list: one app; the cable phone's comes from installerRules().
QJsonObject wifiPhoneList()
{
    return rule("ideviceinstaller", "-u WIFI-1 -n -l -o xml$",
                {out("<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array><dict>"
                     "<key>CFBundleIdentifier</key><string>com.example.wifi</string></dict></array></plist>")});
}

QStringList bundleIDs(const AppModel& model)
{
    QStringList ids;
    for (const InstalledApp& installed : model.installedApps())
        ids.append(installed.bundleID);
    return ids;
}

// `rules` go before the phones of phoneRules() and their app lists; a download writes 1000 bytes.
struct Fixture {
    TempHome home;
    StandinTools tools{home.resourceDirectory()};
    AppModel model;
    QList<AppActivity> installing;

    Fixture(const QString& cable, const QString& wifi, const QJsonArray& rules = {})
    {
        // While "cfgutil" is "blind" it lists no phone, and while "failing" it fails: idevice_id still sees them.
        const QStringList list{"--format", "JSON", "list"};
        const QJsonArray states{
            withState(exact("cfgutil", list, {out(cfgutilList({}))}), {{"cfgutil", "blind"}}),
            withState(exact("cfgutil", list, {out(compact({{"Type", "Error"}, {"Message", "Сбой"}}))}),
                      {{"cfgutil", "failing"}})};
        const QJsonObject download =
            rule("ipatool", "download -i ", {QJsonObject{{"write", "{opt:-o}"}, {"bytes", 1000}}, reportsSaved()});
        tools.setScenario(scenario(states + rules + phoneRules() + installerRules() + QJsonArray{download}));
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

TEST(AppModelDevices, PhoneSeenByBothSourcesIsListedOnceItsAppsAreReadAndTheChoiceFollowsPhonesThatLeave)
{
    Fixture f("yes", "yes", {wifiPhoneList()});
    AsyncTest::await(f.model.refreshDevices());
    ASSERT_EQ(f.model.devices().size(), 2);
    EXPECT_EQ(f.model.devices()[0].ecid, cableEcid);
    EXPECT_EQ(f.model.selectedDeviceID(), cableUdid);
    EXPECT_EQ(logTexts(f.model).first(), "Подключено: Кабельный — " + f.model.devices()[0].subtitle());

    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !f.model.loadingInstalledApps(); }));
    EXPECT_TRUE(logTexts(f.model).contains("С Кабельный прочитано 2 приложения, из них с App ID — 1"));
    // A download teaches an App ID too; an app without a bundle id teaches nothing.
    f.model.rememberKnown(42, "com.example.downloaded", "Скачанное", KnownApp::downloadSource());
    f.model.rememberKnown(43, "", "Без бандла", KnownApp::downloadSource());
    ASSERT_EQ(f.model.knownApps().size(), 2);
    EXPECT_EQ(f.model.knownApps()[1].adamID, 564177498);
    EXPECT_EQ(f.model.knownApps()[1].source, "устройство");
    EXPECT_TRUE(QFile::exists(f.home.supportDirectory() + "/Cache/known-apps.json"));

    // An unchanged set changes nothing and logs nothing.
    qsizetype logged = f.model.log().size();
    AsyncTest::await(f.model.refreshDevices());
    EXPECT_EQ(f.model.devices().size(), 2);
    EXPECT_EQ(f.model.log().size(), logged);

    // The chosen phone unplugged: the other one is chosen, with its own apps.
    f.tools.setState("cable", "no");
    AsyncTest::await(f.model.refreshDevices());
    EXPECT_EQ(f.model.selectedDeviceID(), "WIFI-1");
    EXPECT_TRUE(logTexts(f.model).last().startsWith("Подключено: Беспроводной — "));
    EXPECT_TRUE(f.model.installedApps().isEmpty()) << "the unplugged phone's apps are not shown as the other's";
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !f.model.loadingInstalledApps(); }));
    EXPECT_EQ(bundleIDs(f.model), QStringList{"com.example.wifi"});

    f.tools.setState("wifi", "no");
    logged = f.model.log().size();
    AsyncTest::await(f.model.refreshDevices());
    EXPECT_TRUE(f.model.devices().isEmpty());
    EXPECT_EQ(f.model.selectedDeviceID(), std::nullopt);
    EXPECT_TRUE(f.model.installedApps().isEmpty());
    EXPECT_EQ(f.model.log().size(), logged);
    EXPECT_EQ(f.model.deviceError(), std::nullopt) << "cfgutil answered; it just saw no phone";

    // The watch finds the phone at once; stopped, it asks no more.
    f.tools.setState("cable", "yes");
    f.model.startDeviceWatch();
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.model.devices().size() == 1; }));
    f.model.stopDeviceWatch();
    EXPECT_FALSE(f.model.isWatchingDevices());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !f.model.hasDeviceWatchLoop() && !f.model.loadingInstalledApps(); }));
    const qsizetype calls = f.tools.calls("cfgutil").size();
    EXPECT_FALSE(
        AsyncTest::waitUntil([&] { return f.tools.calls("cfgutil").size() != calls; }, std::chrono::milliseconds(100)));
}

TEST(AppModelDevices, ChoosingAnotherPhoneShowsOnlyItsAppsAndALateReadOfTheFirstChangesNothing)
{
    const QString cableList = "-u " + cableUdid + " -l -o xml$";
    QJsonObject failing = rule("ideviceinstaller", cableList, {out("ERROR: Could not connect to lockdownd")}, 1);
    QJsonObject slow = rule("ideviceinstaller", cableList, {sleepFor(1500), out(appListXml())});
    failing.insert("times", 1);
    slow.insert("times", 1);
    Fixture f("yes", "yes", {wifiPhoneList(), failing, slow});
    AsyncTest::await(f.model.refreshDevices());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.model.installedAppsError().has_value(); }));

    // The other phone is picked while a slow read of the first is under way.
    f.model.loadInstalledApps();
    f.model.setSelectedDeviceID("WIFI-1");
    EXPECT_TRUE(f.model.loadingInstalledApps());
    EXPECT_EQ(f.model.installedAppsError(), std::nullopt) << "the error was the first phone's";
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !f.model.hasPhoneAppsRead(); })) << "the slow read has ended";
    EXPECT_EQ(bundleIDs(f.model), QStringList{"com.example.wifi"});
    EXPECT_FALSE(logTexts(f.model).join('\n').contains("С Кабельный прочитано"));
    EXPECT_TRUE(f.model.knownApps().isEmpty());

    // Back to the first phone: its own list, not the one shown last.
    f.model.setSelectedDeviceID(cableUdid);
    EXPECT_TRUE(f.model.installedApps().isEmpty());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !f.model.loadingInstalledApps(); }));
    EXPECT_EQ(bundleIDs(f.model), (QStringList{"com.example.sideloaded", "com.example.kept"}));
}

TEST(AppModelDevices, ExplainsWhyNoPhoneIsListed)
{
    Fixture f("no", "no");
    // Neither cfgutil nor idevice_id. Apple Configurator is a Mac's: on Linux the missing tool is
    // libimobiledevice's.
    QFile::remove(f.tools.path("cfgutil"));
    QFile::remove(f.tools.path("idevice_id"));
    AsyncTest::await(f.model.refreshDevices());
    EXPECT_EQ(f.model.deviceError(), Platform::isLinux()
                                         ? "Не найден idevice_id — поставь пакеты libimobiledevice-utils "
                                           "и usbmuxd (sudo apt install libimobiledevice-utils usbmuxd)"
                                         : "Не найден cfgutil. Поставь Apple Configurator из App Store.");
    AsyncTest::await(f.model.loadInstalledApps());
    EXPECT_EQ(f.model.installedAppsError(), "iPhone не подключён");
    QFile::link(StandinTools::programPath(), f.home.resourceDirectory() + "/idevice_id");

    // cfgutil present but failing, while idevice_id finds a Wi-Fi phone: the phone wins.
    f.tools.setState("cfgutil", "failing");
    QFile::link(StandinTools::programPath(), f.home.resourceDirectory() + "/cfgutil");
    f.tools.setState("wifi", "yes");
    AsyncTest::await(f.model.refreshDevices());
    ASSERT_EQ(f.model.devices().size(), 1);
    EXPECT_EQ(f.model.deviceError(), std::nullopt);
    // The new phone's apps are being read: that read must end before the model does.
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !f.model.hasPhoneAppsRead(); }));
}

TEST(AppModelInstall, CablePhoneInstallsThroughCfgutilFallsBackToIdeviceinstallerAndShowsTheLastError)
{
    Fixture f(
        "yes", "no",
        {once(cfgutilInstall({out("[ 10%] Copying", "\r"), out("[ 60%] Installing", "\r"), out("[100%] Done", "\r")})),
         cfgutilInstall({QJsonObject{{"err", "Error: The device is locked with a passcode."}}}, 1),
         once(legacyInstall({out("Install: CreatingStagingDirectory (5%)", "\r"), out("Install: Complete", "\r")})),
         legacyInstall({QJsonObject{{"err", "ERROR: Install failed. Got error \"ApplicationVerificationFailed\""}}})});
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
    Fixture f("no", "no", {legacyInstall({out("Install: Complete", "\r")})});
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
    Fixture f("yes", "no", {cfgutilInstall({out("[100%] Done", "\r")})});
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
    Fixture f("yes", "no",
              {rule("ipatool", "download -i ",
                    {QJsonObject{{"write", "{opt:-o}"}, {"from", "{dir}/source.ipa"}, {"chunks", 10}, {"interval", 60}},
                     reportsSaved()}),
               cfgutilInstall({QJsonObject{{"write", "{dir}/received.ipa"}, {"from", "{opt:install-app}"}},
                               out("[100%] Done", "\r")})});
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

TEST(AppModelPhone, EachStateOfThePhoneReadsAsAdviceAndAnIdlePassRunsOnlyIdeviceId)
{
    const QString found = "iPhone Лены — iPhone14,5 · iOS 16.6 · ";
    const QString stopped = "usbmuxd не запущен — подключи iPhone кабелем: служба запускается вместе с ним";
    const QString missing =
        "Не установлен usbmuxd — без него iPhone не виден. Поставь пакет usbmuxd (sudo apt install usbmuxd)";
    const QJsonObject locked{{"pairError", "PasswordProtected"}};
    struct Case {
        QString scenario; // "usbmuxd stopped" and "no usbmuxd": no mux daemon answers
        QString shown;    // the one phone listed, or nothing
        QString advice;   // the phone's hint, or why none is listed
        qsizetype apps = 0;
        QJsonObject config = {};
    };
    const QList<Case> cases{
        {"paired", found + "кабель", "", 3},
        {"network", found + "Wi-Fi", "", 3},
        {"untrusted", found + "кабель", "iPhone не доверяет этому компьютеру — разблокируй его и нажми «Доверять»"},
        {"untrusted", found + "кабель", "iPhone заблокирован — разблокируй экран", 0, locked},
        {"no-phone", "", ""},
        {"usbmuxd stopped", "", stopped},
        {"no usbmuxd", "", missing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QString(c.scenario + " " + c.advice).toStdString());
        TempHome home;
        ASSERT_TRUE(LoopbackPhone::linkRealTools(home.resourceDirectory()));
        if (c.scenario != "no usbmuxd")
            QFile::link("/bin/true", home.resourceDirectory() + "/usbmuxd");
        std::optional<LoopbackPhone> phone;
        std::optional<MuxAddress> nowhere;
        if (c.scenario.contains("usbmuxd"))
            nowhere.emplace("UNIX:" + home.filePath("usbmuxd"));
        else
            phone.emplace(c.scenario, c.config,
                          c.scenario == "network" ? LoopbackPhone::Transport::tcp
                                                  : LoopbackPhone::Transport::unixSocket);
        AppModel model;
        AsyncTest::await(model.refreshDevices());
        ASSERT_TRUE(AsyncTest::waitUntil([&] { return !model.hasPhoneAppsRead(); }, 30s));

        const std::optional<Device> device = model.selectedDevice();
        EXPECT_EQ(device ? device->name + " — " + device->subtitle() : QString(), c.shown);
        EXPECT_EQ(device ? device->accessHint() : model.deviceError().value_or(QString()), c.advice);
        EXPECT_EQ(model.installedApps().size(), c.apps);
        // A phone not ready is not asked for its apps: the hint stands in for them.
        EXPECT_EQ(model.installedAppsError().value_or(QString()), device ? c.advice : QString());

        // Nothing changed: one idevice_id run, and no phone is asked to pair again.
        const auto pairs = [&] { return phone ? phone->events().count("lockdown Pair") : 0; };
        const qsizetype paired = pairs();
        const quint64 children = ProcessRunner::startedChildren();
        AsyncTest::await(model.refreshDevices());
        EXPECT_EQ(ProcessRunner::startedChildren() - children, 1u);
        EXPECT_EQ(pairs(), paired);
    }
}

TEST(AppModelPhone, HungInstallEndsByItselfAndACancelledOneIsNeitherDoneNorFailed)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory(), {"ipatool"});
    ASSERT_TRUE(LoopbackPhone::linkRealTools(home.resourceDirectory()));
    const QString archive = LoopbackPhone::writeArchive(home.path(), "Demo");
    tools.setScenario(
        scenario({downloadRule("", {QJsonObject{{"write", "{opt:-o}"}, {"from", archive}}, reportsSaved()})}));
    const LoopbackPhone phone("installer-hangs");
    AppModel::Endpoints endpoints{QUrl("http://127.0.0.1:9/")};
    endpoints.toolWatchdog = 3s;
    AppModel model(endpoints);
    AsyncTest::await(model.refreshDevices());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !model.hasPhoneAppsRead(); }, 30s));
    const AppModel::Target app{564177498, "com.example.demo", "Демо", true};
    const QString installer = home.resourceDirectory() + "/ideviceinstaller";

    AsyncTest::await(model.installOnDevice(app, std::nullopt), 30s);
    EXPECT_EQ(model.activity(app.adamID),
              AppActivity::failed(
                  "iPhone перестал отвечать, установка остановлена — отключи и снова подключи его, затем повтори"));
    EXPECT_FALSE(Processes::isRunning(installer));

    auto install = model.installOnDevice(app, std::nullopt);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model.activity(app.adamID).progress > 0; }, 30s));
    model.cancel(app.adamID);
    AsyncTest::await(std::move(install));
    EXPECT_EQ(model.activity(app.adamID), AppActivity{});
    EXPECT_EQ(logTexts(model).last(), "Демо: установка отменена");
    EXPECT_FALSE(Processes::isRunning(installer));
    EXPECT_EQ(QDir(Tools::downloadsDirectory()).entryList(QDir::Files), QStringList{"com.example.demo_latest.ipa"});
}
