#include "model/AppModel.h"

#include "ModelTestSupport.h"
#include "platform/Platform.h"
#include "support/Test.h"

using namespace ModelTest;

namespace {

struct Fixture {
    TempHome home;
    StandinTools tools{home.resourceDirectory()};

    Fixture(const QString& cable, const QString& wifi, const QJsonArray& extra = {})
    {
        tools.setScenario(scenario(phoneRules() + extra));
        tools.setState("cable", cable);
        tools.setState("wifi", wifi);
    }
};

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
    for (const InstalledApp& app : model.installedApps())
        ids.append(app.bundleID);
    return ids;
}

} // namespace

TEST(AppModelDevices, PhoneSeenByBothSourcesIsListedOnceItsAppsAreReadAndTheChoiceFollowsPhonesThatLeave)
{
    Fixture f("yes", "yes", QJsonArray{wifiPhoneList()} + installerRules());
    AppModel model;
    AsyncTest::await(model.refreshDevices());
    ASSERT_EQ(model.devices().size(), 2);
    EXPECT_EQ(model.devices()[0].ecid, cableEcid);
    EXPECT_EQ(model.selectedDeviceID(), cableUdid);
    EXPECT_EQ(logTexts(model).first(), "Подключено: Кабельный — " + model.devices()[0].subtitle());

    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !model.loadingInstalledApps(); }));
    EXPECT_TRUE(logTexts(model).contains("С Кабельный прочитано 2 приложения, из них с App ID — 1"));
    // A download teaches an App ID too; an app without a bundle id teaches nothing.
    model.rememberKnown(42, "com.example.downloaded", "Скачанное", KnownApp::downloadSource());
    model.rememberKnown(43, "", "Без бандла", KnownApp::downloadSource());
    ASSERT_EQ(model.knownApps().size(), 2);
    EXPECT_EQ(model.knownApps()[1].adamID, 564177498);
    EXPECT_EQ(model.knownApps()[1].source, "устройство");
    EXPECT_TRUE(QFile::exists(f.home.supportDirectory() + "/Cache/known-apps.json"));

    // An unchanged set changes nothing and logs nothing.
    qsizetype logged = model.log().size();
    AsyncTest::await(model.refreshDevices());
    EXPECT_EQ(model.devices().size(), 2);
    EXPECT_EQ(model.log().size(), logged);

    // The chosen phone unplugged: the other one is chosen, with its own apps.
    f.tools.setState("cable", "no");
    AsyncTest::await(model.refreshDevices());
    EXPECT_EQ(model.selectedDeviceID(), "WIFI-1");
    EXPECT_TRUE(logTexts(model).last().startsWith("Подключено: Беспроводной — "));
    EXPECT_TRUE(model.installedApps().isEmpty()) << "the unplugged phone's apps are not shown as the other's";
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !model.loadingInstalledApps(); }));
    EXPECT_EQ(bundleIDs(model), QStringList{"com.example.wifi"});

    f.tools.setState("wifi", "no");
    logged = model.log().size();
    AsyncTest::await(model.refreshDevices());
    EXPECT_TRUE(model.devices().isEmpty());
    EXPECT_EQ(model.selectedDeviceID(), std::nullopt);
    EXPECT_TRUE(model.installedApps().isEmpty());
    EXPECT_EQ(model.log().size(), logged);
    EXPECT_EQ(model.deviceError(), std::nullopt) << "cfgutil answered; it just saw no phone";

    // The watch finds the phone at once; stopped, it asks no more.
    f.tools.setState("cable", "yes");
    model.startDeviceWatch();
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model.devices().size() == 1; }));
    model.stopDeviceWatch();
    EXPECT_FALSE(model.isWatchingDevices());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !model.hasDeviceWatchLoop() && !model.loadingInstalledApps(); }));
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
    Fixture f("yes", "yes", QJsonArray{wifiPhoneList(), failing, slow} + installerRules());
    AppModel model;
    AsyncTest::await(model.refreshDevices());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model.installedAppsError().has_value(); }));

    // The other phone is picked while a slow read of the first is under way.
    model.loadInstalledApps();
    model.setSelectedDeviceID("WIFI-1");
    EXPECT_TRUE(model.loadingInstalledApps());
    EXPECT_EQ(model.installedAppsError(), std::nullopt) << "the error was the first phone's";
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !model.hasPhoneAppsRead(); })) << "the slow read has ended";
    EXPECT_EQ(bundleIDs(model), QStringList{"com.example.wifi"});
    EXPECT_FALSE(logTexts(model).join('\n').contains("С Кабельный прочитано"));
    EXPECT_TRUE(model.knownApps().isEmpty());

    // Back to the first phone: its own list, not the one shown last.
    model.setSelectedDeviceID(cableUdid);
    EXPECT_TRUE(model.installedApps().isEmpty());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !model.loadingInstalledApps(); }));
    EXPECT_EQ(bundleIDs(model), (QStringList{"com.example.sideloaded", "com.example.kept"}));
}

TEST(AppModelDevices, ExplainsWhyNoPhoneIsListed)
{
    Fixture f("no", "no");
    AppModel model;
    // Neither cfgutil nor idevice_id. Apple Configurator is a Mac's: on Linux the missing tool is
    // libimobiledevice's.
    QFile::remove(f.tools.path("cfgutil"));
    QFile::remove(f.tools.path("idevice_id"));
    AsyncTest::await(model.refreshDevices());
    EXPECT_EQ(model.deviceError(), Platform::isLinux() ? "Не найден idevice_id — поставь пакеты libimobiledevice-utils "
                                                         "и usbmuxd (sudo apt install libimobiledevice-utils usbmuxd)"
                                                       : "Не найден cfgutil. Поставь Apple Configurator из App Store.");
    AsyncTest::await(model.loadInstalledApps());
    EXPECT_EQ(model.installedAppsError(), "iPhone не подключён");
    QFile::link(StandinTools::programPath(), f.home.resourceDirectory() + "/idevice_id");

    // cfgutil present but failing, while idevice_id finds a Wi-Fi phone: the phone wins.
    f.tools.setScenario(scenario(QJsonArray{exact("cfgutil", {"--format", "JSON", "list"},
                                                  {out(compact({{"Type", "Error"}, {"Message", "Сбой"}}))})}
                                 + phoneRules()));
    QFile::link(StandinTools::programPath(), f.home.resourceDirectory() + "/cfgutil");
    f.tools.setState("wifi", "yes");
    AsyncTest::await(model.refreshDevices());
    ASSERT_EQ(model.devices().size(), 1);
    EXPECT_EQ(model.deviceError(), std::nullopt);
    // The new phone's apps are being read: that read must end before the model does.
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !model.hasPhoneAppsRead(); }));
}
