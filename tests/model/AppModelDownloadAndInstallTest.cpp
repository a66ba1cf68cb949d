#include "ModelTestSupport.h"
#include "common/AtomicFile.h"
#include "platform/Platform.h"
#include "process/ProcessRunner.h"
#include "process/Tools.h"
#include "support/LoopbackPhone.h"
#include "support/Processes.h"

// Apps onto the disk and onto the phone, with the stand-in tools and, at the end, with Debian's
// real libimobiledevice tools against the loopback phone.

using namespace ModelTest;
using namespace std::chrono_literals;

namespace {

const AppModel::Target freeApp{564177498, "com.example.free", "Бесплатное", true};
const AppModel::Target paidApp{111222333, "com.example.paid", "Платное", true};
const AppModel::Target app{564177498, "com.example.app", "Приложение", true};

// As ipatool does: the bytes go to "<destination>.tmp", which then becomes the destination.
QJsonArray downloadSteps(int bytes, int chunks, int interval)
{
    return {QJsonObject{{"write", "{opt:-o}.tmp"}, {"bytes", bytes}, {"chunks", chunks}, {"interval", interval}},
            QJsonObject{{"write", "{opt:-o}"}, {"from", "{opt:-o}.tmp"}}, reportsSaved()};
}

// `count` versions 800 and up, listed oldest first; each one's details call it "v" and its id.
QJsonArray versionRules(qint64 appID, int count, int metadataDelayMs = 0)
{
    QJsonArray ids;
    for (int i = 0; i < count; ++i)
        ids.append(QString::number(800 + i));
    const QJsonObject details{
        {"displayVersion", "v{opt:--external-version-id}"}, {"releaseDate", "2020-01-02T03:04:05Z"}, {"success", true}};
    return {rule("ipatool", QString("list-versions -i %1$").arg(appID),
                 {out(ipatoolLine({{"externalVersionIdentifiers", ids}, {"success", true}}))}),
            rule("ipatool", QString("get-version-metadata -i %1 ").arg(appID),
                 {sleepFor(metadataDelayMs), out(ipatoolLine(details))})};
}

QJsonObject cfgutilInstall(const QJsonArray& steps, int exit = 0)
{
    return rule("cfgutil", "^--ecid " + cableEcid + " --progress install-app ", steps, exit);
}

QJsonObject legacyInstall(const QJsonArray& steps, int exit = 0)
{
    return rule("ideviceinstaller", "^-u \\S+ (-n )?-i ", steps, exit);
}

QStringList bundleIDs(const AppModel& model)
{
    QStringList ids;
    for (const InstalledApp& installed : model.installedApps())
        ids.append(installed.bundleID);
    return ids;
}

// `rules` go first; then the phones of phoneRules() (one app on Wi-Fi, two by cable) and a download.
struct Fixture {
    TempHome home;
    StandinTools tools{home.resourceDirectory()};
    AppModel model;
    QList<AppActivity> seen;

    explicit Fixture(const QJsonArray& rules, const QString& cable = "no", const QString& wifi = "no")
    {
        // While "cfgutil" is "blind" it lists no phone, and while "failing" it fails: idevice_id still sees them.
        const QStringList list{"--format", "JSON", "list"};
        const QJsonArray states{
            withState(exact("cfgutil", list, {out(cfgutilList({}))}), {{"cfgutil", "blind"}}),
            withState(exact("cfgutil", list, {out(compact({{"Type", "Error"}, {"Message", "Сбой"}}))}),
                      {{"cfgutil", "failing"}})};
        const QJsonArray ours{
            rule("ideviceinstaller", "-u WIFI-1 -n -l -o xml$",
                 {out("<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array><dict>"
                      "<key>CFBundleIdentifier</key><string>com.example.wifi</string></dict></array></plist>")}),
            rule("ipatool", "download -i ", {QJsonObject{{"write", "{opt:-o}"}, {"bytes", 1000}}, reportsSaved()})};
        tools.setScenario(scenario(states + rules + ours + phoneRules() + installerRules()));
        tools.setState("cable", cable);
        tools.setState("wifi", wifi);
        QObject::connect(&model, &AppModel::activitiesChanged, [this] {
            for (const AppActivity& activity : model.activities())
                seen.append(activity);
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
    QStringList ipaFiles() const { return QDir(Tools::downloadsDirectory()).entryList(QDir::Files); }
};

} // namespace

TEST(AppModelDownloads, FilesAreListedNewestFirstNamedByBundleAndVersionAndAnAppIdDownloadsUnderTheNameItKnows)
{
    Fixture f({});
    const QDir folder(Tools::downloadsDirectory());
    const QList<std::tuple<QString, int, int>> made{{"app-123_latest.ipa", 10, 300},
                                                    {"com.example.new_2.0.ipa", 20, 10},
                                                    {"SHOUTING_1.IPA", 30, 0},
                                                    {"notes.txt", 5, 0}};
    // Made back to back, their birth times mostly share a clock tick: then only the ages order them.
    for (const auto& [name, bytes, age] : made)
        ASSERT_TRUE(QFile(folder.filePath(name)).open(QIODevice::WriteOnly));
    for (const auto& [name, bytes, age] : made) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.resize(bytes);
        file.setFileTime(QDateTime::currentDateTime().addSecs(-age), QFileDevice::FileModificationTime);
    }
    QStringList rows;
    for (const LocalIPA& file : f.model.localFiles())
        rows.append(QString("%1 %2 %3").arg(file.bundleID.value_or("-"), file.displayName).arg(file.size));
    EXPECT_EQ(rows, (QStringList{"com.example.new com.example.new_2.0 20", "app-123 app-123_latest 10"}));
    f.model.refreshDownloadedSet();
    EXPECT_EQ(f.model.downloadedBundleIDs(), (QSet<QString>{"app-123", "com.example.new"}));

    // Nothing from a number too long for an App ID, or from digits that are not ASCII.
    QList<std::optional<qint64>> parsed;
    for (const QString& text : QStringList{"  564177498 \n", "https://apps.apple.com/ru/app/some-name/id564177498",
                                           "https://apps.apple.com/app/id564177498?pt=1234567890&ct=9876543",
                                           "https://apps.apple.com/app/ID564177498", "track 1234567 and 7654321", "-5",
                                           "+42", "12345", "id12345", "app 12345", "", QString(40, '7'),
                                           "id" + QString(40, '7'), QString::fromUtf8("١٢٣٤٥٦٧")})
        parsed.append(AppModel::parseAppID(text));
    const qint64 id = 564177498;
    EXPECT_EQ(parsed, (QList<std::optional<qint64>>{id, id, id, id, 1234567, -5, 42, 12345, {}, {}, {}, {}, {}, {}}));

    const auto name = [](const AppVersion& version) {
        return QFileInfo(AppModel::fileURL(freeApp, version)).fileName();
    };
    EXPECT_EQ(name({"800", QString("2.1"), std::nullopt}), "com.example.free_2.1.ipa");
    EXPECT_EQ(name({"800", std::nullopt, std::nullopt}), "com.example.free_800.ipa");
    EXPECT_EQ(name({"1", QString("1.0 beta 1/2"), std::nullopt}), "com.example.free_1.0_beta_1-2.ipa");
    // The path returned is the final one only once the file has moved there.
    const AppModel::Target odd{42, "com.ex ample.\"q\"$HOME.ёжик", "Ёжик $HOME", true};
    EXPECT_EQ(AsyncTest::await(f.model.download(odd, std::nullopt)),
              Tools::downloadsDirectory() + "/com.ex_ample.\"q\"$HOME.ёжик_latest.ipa");

    // An App ID alone: the download has no bundle id to name the file by.
    AsyncTest::await(f.model.runAppID("https://apps.apple.com/ru/app/x/id564177498", false));
    EXPECT_EQ(f.model.appIDError(), std::nullopt);
    EXPECT_EQ(logTexts(f.model).last(), "App 564177498: скачано в app-564177498_latest.ipa");
    // A known App ID brings its bundle id and name.
    f.model.rememberKnown(42424242, "com.example.known", "Известное", KnownApp::deviceSource());
    AsyncTest::await(f.model.runAppID("42424242", false));
    EXPECT_EQ(logTexts(f.model).last(), "Известное: скачано в com.example.known_latest.ipa");
}

TEST(AppModelDownloads, DownloadReportsGrowingBytesOfTheStoresSizeThenDoneAndRemembersTheAppId)
{
    Fixture f({downloadRule("564177498 ", downloadSteps(400000, 8, 120))});
    writeLookups({freeApp.adamID}, QDateTime::currentDateTimeUtc(), 400000);
    // Left by another build: ipatool would resume its ".tmp" with that build's bytes.
    const QString destination = AppModel::fileURL(freeApp, std::nullopt);
    for (const QString& stale : QStringList{destination + ".tmp", destination + ".k3x9.part.tmp"})
        ASSERT_TRUE(QFile(stale).open(QIODevice::WriteOnly));
    EXPECT_EQ(AsyncTest::await(f.model.download(freeApp, std::nullopt)), destination);
    EXPECT_EQ(QFileInfo(destination).size(), 400000);
    EXPECT_EQ(f.ipaFiles(), QStringList{"com.example.free_latest.ipa"}) << "nothing left under a temporary name";

    // Every report before "Скачано" carries the store's size, and the bytes start at 0 and only rise.
    ASSERT_GE(f.seen.size(), 3);
    EXPECT_EQ(f.seen.takeLast(), AppActivity::done("Скачано"));
    QList<qint64> bytes;
    for (const AppActivity& activity : std::as_const(f.seen))
        bytes.append(activity == AppActivity::downloading(activity.bytes, 400000) ? activity.bytes : -1);
    EXPECT_TRUE(bytes.first() == 0 && std::is_sorted(bytes.cbegin(), bytes.cend()));
    EXPECT_GE(QSet<qint64>(bytes.cbegin(), bytes.cend()).size(), 3) << "the byte count rose while the tool wrote";
    EXPECT_EQ(AppActivity::downloading(100, 400).fraction(), 0.25);
    EXPECT_EQ(AppActivity::downloading(500, 400).fraction(), std::nullopt) << "a wrong size is not shown";
    EXPECT_TRUE(f.model.downloadedBundleIDs().contains("com.example.free"));
    EXPECT_EQ(logTexts(f.model).last(), "Бесплатное: скачано в com.example.free_latest.ipa");
    EXPECT_EQ(f.model.knownApps().value(0).source, "скачано");

    // A late size report after the end leaves the final state alone.
    EXPECT_FALSE(AsyncTest::waitUntil([&] { return f.model.activity(freeApp.adamID) != AppActivity::done("Скачано"); },
                                      std::chrono::milliseconds(400)));

    // The file is there now: reused, the tool not asked again.
    const qsizetype calls = f.tools.calls("ipatool").size();
    EXPECT_EQ(AsyncTest::await(f.model.download(freeApp, std::nullopt)), destination);
    EXPECT_EQ(f.tools.calls("ipatool").size(), calls);
    EXPECT_EQ(logTexts(f.model).last(), "Бесплатное: файл уже скачан");

    // The store's size is its current build's; an older one may be any size.
    f.seen.clear();
    ASSERT_TRUE(AsyncTest::await(f.model.download(freeApp, AppVersion{"800", QString("1.0"), std::nullopt})));
    EXPECT_EQ(f.seen.value(0), AppActivity::downloading(0));
}

TEST(AppModelDownloads, ALicenceIsObtainedForAnyHistoryAppAndAFailedRequestSaysSo)
{
    Fixture f({downloadRule("564177498 .* --purchase$", downloadSteps(1000, 1, 0)),
               downloadRule(".* --purchase$", {out(failure("purchasing paid apps is not supported"))}, 1),
               downloadRule(".*", {out(failure("license is required"))}, 1)});
    ASSERT_TRUE(AsyncTest::await(f.model.download(freeApp, std::nullopt)));
    EXPECT_TRUE(logTexts(f.model).contains("Бесплатное: получаю лицензию…"));

    // The history knows no prices (ipatool lists 0), so a paid app is tried too, and refused plainly.
    EXPECT_TRUE(AppModel::Target::from(PurchasedApp{7, "b", "Купленное", "1", 2.99, {}, {}, {}, false}).isFree);
    EXPECT_FALSE(AsyncTest::await(f.model.download(paidApp, std::nullopt)));
    const QString refusal = "Не удалось получить лицензию: purchasing paid apps is not supported";
    EXPECT_EQ(f.model.activity(paidApp.adamID), AppActivity::failed(refusal));
    EXPECT_EQ(f.model.log().last().text, "Платное: " + refusal);
}

TEST(AppModelDownloads, AFailedCancelledOrMisplacedDownloadLeavesNoFileThatCouldPassForAFinishedOne)
{
    // Half the file, then the tool gives up; a file claimed that is not there; then slower and slower.
    Fixture f({downloadRule("564177498 ",
                            {downloadSteps(500000, 5, 20).first(), out(failure("connection reset by peer"))}, 1),
               downloadRule("111222333 ", {out(ipatoolLine({{"output", "/nonexistent/x.ipa"}, {"success", true}}))}),
               downloadRule("43 ", downloadSteps(300000, 6, 100)),
               downloadRule(".*", downloadSteps(1000000, 100, 100))});
    EXPECT_FALSE(AsyncTest::await(f.model.download(freeApp, std::nullopt)));
    EXPECT_TRUE(f.ipaFiles().isEmpty());
    // The tool's English words follow a Russian phrase that says what failed.
    EXPECT_EQ(f.model.activity(freeApp.adamID), AppActivity::failed("Загрузка не удалась: connection reset by peer"));
    EXPECT_FALSE(f.model.downloadedBundleIDs().contains("com.example.free"));
    // So the next attempt really downloads instead of reusing a broken file.
    EXPECT_FALSE(AsyncTest::await(f.model.download(freeApp, std::nullopt)));
    EXPECT_EQ(f.tools.calls("ipatool").size(), 2);
    EXPECT_FALSE(AsyncTest::await(f.model.download(paidApp, std::nullopt)));
    EXPECT_EQ(f.model.activity(paidApp.adamID),
              AppActivity::failed("ipatool сообщил об успехе, но файла нет: /nonexistent/x.ipa"));

    // Cancelled: neither done nor failed, and no tool left running.
    const AppModel::Target slow{42, "com.example.slow", "Медленное", true};
    auto download = f.model.download(slow, std::nullopt);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.model.activity(slow.adamID).bytes > 0; }));
    f.model.cancel(slow.adamID);
    EXPECT_FALSE(AsyncTest::await(std::move(download)));
    EXPECT_EQ(f.model.activity(slow.adamID), AppActivity{});
    EXPECT_EQ(logTexts(f.model).last(), "Медленное: загрузка отменена");
    EXPECT_TRUE(f.ipaFiles().isEmpty());
    EXPECT_FALSE(Processes::isRunning(f.tools.path("ipatool")));

    // The folder deleted while the tool writes: a failure, not a ghost file.
    const QString folder = Tools::downloadsDirectory();
    const AppModel::Target vanishing{43, "com.example.vanishing", "Пропадающее", true};
    download = f.model.download(vanishing, std::nullopt);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.model.activity(vanishing.adamID).bytes > 0; }));
    ASSERT_TRUE(QDir(folder).removeRecursively());
    EXPECT_FALSE(AsyncTest::await(std::move(download)));
    EXPECT_EQ(f.model.activity(vanishing.adamID).kind, AppActivity::Kind::failed);
    EXPECT_TRUE(f.model.log().last().isError);

    // The folder replaced by a file: the tool cannot write there.
    ASSERT_TRUE(QFile(folder).open(QIODevice::WriteOnly));
    EXPECT_FALSE(AsyncTest::await(f.model.download(slow, std::nullopt)));
    EXPECT_EQ(f.model.activity(slow.adamID).kind, AppActivity::Kind::failed);
}

TEST(AppModelVersions, NewestTwelveGetMetadataTheRestOnlyTheirIdsAndAFailedListStaysEmpty)
{
    Fixture f(versionRules(1, 30) + versionRules(2, 5) + versionRules(7, 30, 300));
    const QList<AppVersion> versions = AsyncTest::await(f.model.loadVersions(1, "Тридцать"));
    const QDateTime released(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC);
    EXPECT_EQ(versions.mid(11, 2) + versions.mid(29),
              (QList<AppVersion>{{"818", QString("v818"), released}, {"817", {}, {}}, {"800", {}, {}}}));
    EXPECT_EQ(f.seen, (QList<AppActivity>{{AppActivity::Kind::fetchingVersions, 0, 0, {}, 0}, {}}));
    EXPECT_EQ(f.tools.calls("ipatool").size(), 13);
    EXPECT_EQ(AsyncTest::await(f.model.loadVersions(2, "Пять")).value(4).displayVersion, "v800") << "all five in full";

    // What fails a list is the tool going away (an error answer is a version without details).
    auto load = f.model.loadVersions(7, "Сломанное");
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.tools.calls("ipatool").size() == 13 + 6 + 3; }));
    QFile::remove(f.tools.path("ipatool"));
    EXPECT_TRUE(AsyncTest::await(std::move(load)).isEmpty());
    EXPECT_EQ(f.model.activity(7).kind, AppActivity::Kind::idle);
    // Once and for all: asked again, the empty list is not fetched, so no second error.
    EXPECT_TRUE(AsyncTest::await(f.model.loadVersions(7, "Сломанное")).isEmpty());
    EXPECT_EQ(logTexts(f.model, true),
              QStringList{"! Версии Сломанное: " + IPAToolError(IPAToolError::Kind::notInstalled).description()});
}

TEST(AppModelDevices, PhoneSeenByBothSourcesIsListedOnceItsAppsAreReadAndTheChoiceFollowsPhonesThatLeave)
{
    Fixture f({}, "yes", "yes");
    AsyncTest::await(f.model.refreshDevices());
    EXPECT_EQ(f.model.selectedDeviceID(), cableUdid);
    EXPECT_EQ(logTexts(f.model).first(), "Подключено: Кабельный — " + f.model.devices().value(0).subtitle());

    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !f.model.loadingInstalledApps(); }));
    EXPECT_TRUE(logTexts(f.model).contains("С Кабельный прочитано 2 приложения, из них с App ID — 1"));
    // A download teaches an App ID too; an app without a bundle id teaches nothing.
    f.model.rememberKnown(42, "com.example.downloaded", "Скачанное", KnownApp::downloadSource());
    f.model.rememberKnown(43, "", "Без бандла", KnownApp::downloadSource());
    EXPECT_EQ(f.model.knownApps().value(1).adamID, 564177498) << "by name, after the downloaded one";
    EXPECT_EQ(f.model.knownApps().value(1).source, "устройство");
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
    Fixture f({limitedTo(1, rule("ideviceinstaller", cableList, {out("ERROR: Could not connect to lockdownd")}, 1)),
               limitedTo(1, rule("ideviceinstaller", cableList, {sleepFor(1500), out(appListXml())}))},
              "yes", "yes");
    AsyncTest::await(f.model.refreshDevices());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.model.installedAppsError().has_value(); }));

    // The other phone is picked while a slow read of the first is under way.
    f.model.loadInstalledApps();
    f.model.setSelectedDeviceID("WIFI-1");
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

TEST(AppModelInstall, CablePhoneInstallsThroughCfgutilFallsBackToIdeviceinstallerAndShowsTheLastError)
{
    Fixture f(
        {limitedTo(1, cfgutilInstall(
                          {out("[ 10%] Copying", "\r"), out("[ 60%] Installing", "\r"), out("[100%] Done", "\r")})),
         cfgutilInstall({QJsonObject{{"err", "Error: The device is locked with a passcode."}}}, 1),
         limitedTo(
             1, legacyInstall({out("Install: CreatingStagingDirectory (5%)", "\r"), out("Install: Complete", "\r")})),
         legacyInstall({QJsonObject{{"err", "ERROR: Install failed. Got error \"ApplicationVerificationFailed\""}}})},
        "yes");
    f.findPhones();
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
    const QList<AppActivity> installing{AppActivity::installing(0, "Передаю на Кабельный"),
                                        AppActivity::installing(0.1, "Установка"),
                                        AppActivity::installing(0.6, "Установка"),
                                        AppActivity::installing(1.0, "Установка"), AppActivity::done("Установлено")};
    EXPECT_EQ(f.seen.mid(f.seen.indexOf(installing[0])), installing);

    // The phone locked: ideviceinstaller takes over.
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
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
        logTexts(f.model, true).mid(f.model.log().size() - 2),
        (QStringList{"! Приложение: " + advice, "ERROR: Install failed. Got error \"ApplicationVerificationFailed\""}));
}

TEST(AppModelInstall, WithoutAPhoneOnlyTheAlertAndWhyAppearAndEachPhoneGetsTheInstallerThatReachesIt)
{
    Fixture f({cfgutilInstall({out("[100%] Done", "\r")}), legacyInstall({out("Install: Complete", "\r")})});
    f.findPhones();
    const qsizetype logged = f.model.log().size();
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
    EXPECT_EQ(f.model.alert(), "iPhone не подключён");
    f.model.setAlert(std::nullopt);
    AsyncTest::await(f.model.installLocalFile("/tmp/whatever.ipa"));
    EXPECT_EQ(f.model.alert(), "iPhone не подключён");
    EXPECT_EQ(f.model.log().size(), logged);
    EXPECT_TRUE(f.model.activities().isEmpty()) << "nothing downloaded for no phone";

    // Neither cfgutil nor idevice_id: on Linux the missing tool is libimobiledevice's.
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
    f.findPhones();
    EXPECT_EQ(f.model.deviceError(), std::nullopt) << "cfgutil's failure would be the error without the phone";

    // A Wi-Fi phone needs ideviceinstaller, and is reached with -n.
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
    f.findPhones();
    AsyncTest::await(f.model.installOnDevice(app, std::nullopt));
    EXPECT_EQ(logTexts(f.model).last(), "Приложение установлено на Кабельный (ideviceinstaller, кабель)");

    // Listed by cfgutil too, it takes cfgutil. Its list taught this App ID with its real name.
    f.tools.setState("cfgutil", "sees");
    f.findPhones();
    AsyncTest::await(f.model.runAppID("https://apps.apple.com/us/app/kept/id564177498", true));
    EXPECT_EQ(logTexts(f.model).last(), "Сохранённое установлено на Кабельный (cfgutil)");

    // A local file with an awkward path, then the same file gone.
    const QString path = f.home.filePath("Мои файлы/it's a \"test\" $HOME.ipa");
    QDir().mkpath(QFileInfo(path).path());
    ASSERT_TRUE(QFile(path).open(QIODevice::WriteOnly));
    AsyncTest::await(f.model.installLocalFile(path));
    EXPECT_EQ(logTexts(f.model).last(), "it's a \"test\" $HOME.ipa: установлено (cfgutil)");
    EXPECT_EQ(f.tools.calls("cfgutil").last().last(), path) << "the path reaches the tool as one argument";
    QFile::remove(path);
    AsyncTest::await(f.model.installLocalFile(path));
    EXPECT_EQ(logTexts(f.model, true).last(), "! it's a \"test\" $HOME.ipa: Файл не найден: " + path);
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
              "yes");
    const QDir tools(f.home.resourceDirectory());
    ASSERT_TRUE(AtomicFile::write(tools.filePath("source.ipa"), source));
    f.findPhones();

    // The row installs; while the file is on its way the App ID sheet asks for it too.
    auto install = f.model.installOnDevice(app, std::nullopt);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.model.activity(app.adamID).bytes > 0; }));
    const auto second = AsyncTest::await(f.model.download(app, std::nullopt));
    AsyncTest::await(std::move(install));

    EXPECT_EQ(f.tools.calls("ipatool").size(), 1);
    EXPECT_EQ(second, AppModel::fileURL(app, std::nullopt));
    EXPECT_EQ(f.model.activity(app.adamID), AppActivity::done("Установлено"));
    QFile received(tools.filePath("received.ipa"));
    EXPECT_TRUE(received.open(QIODevice::ReadOnly) && received.readAll() == source) << "other bytes reached the phone";
    EXPECT_EQ(f.ipaFiles(), QStringList{"com.example.app_latest.ipa"});
}

TEST(AppModelPhone, EachStateOfThePhoneReadsAsAdviceAndAnIdlePassRunsOnlyIdeviceId)
{
    const QString found = "iPhone Лены — iPhone14,5 · iOS 16.6 · ";
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
        {"usbmuxd stopped", "", "usbmuxd не запущен — подключи iPhone кабелем: служба запускается вместе с ним"},
        {"no usbmuxd", "",
         "Не установлен usbmuxd — без него iPhone не виден. Поставь пакет usbmuxd (sudo apt install usbmuxd)"},
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
