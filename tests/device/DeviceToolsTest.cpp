#include "common/AtomicFile.h"
#include "device/CfgUtil.h"
#include "device/CfgUtilError.h"
#include "device/DeviceAppsReader.h"
#include "device/IDeviceInstaller.h"
#include "device/MuxDiscovery.h"

#include "process/OutputCollector.h"
#include "process/ToolError.h"
#include "support/StandinTools.h"
#include "support/Test.h"

namespace {

QJsonObject out(const QString& text, const QString& end = "\n")
{
    return {{"out", text}, {"end", end}};
}

QJsonObject rule(const QString& tool, const QStringList& args, const QJsonArray& steps, int exit = 0)
{
    return {{"tool", tool}, {"args", QJsonArray::fromStringList(args)}, {"steps", steps}, {"exit", exit}};
}

QJsonObject scenario(const QJsonArray& rules)
{
    return {{"rules", rules}};
}

QJsonObject matching(const QString& tool, const QString& pattern, const QJsonArray& steps, int exit = 0)
{
    return {{"tool", tool}, {"match", pattern}, {"steps", steps}, {"exit", exit}};
}

QByteArray fixture(const QString& name)
{
    return AtomicFile::read(QString(QUORREL_TEST_DATA_DIR) + "/device/" + name).value_or("");
}

// What `ideviceinstaller --help` prints in 1.1.1 (Debian 12) and from 1.2.0 on, cut to the lines that differ.
const QString legacyHelp = "Usage: ideviceinstaller OPTIONS\n\nOPTIONS:\n  -u, --udid UDID\tTarget specific device by "
                           "UDID.\n  -l, --list-apps\tList apps, possible options:\n";
const QString modernHelp = "Usage: ideviceinstaller OPTIONS\n\nCOMMANDS:\n  list                List installed apps. "
                           "Options:\n\nOPTIONS:\n  -u, --udid UDID     Target specific device by UDID\n";

// An XML app list as ideviceinstaller prints it, from ready-made <dict> elements.
QString appList(const QStringList& dicts)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<array>\n"
           + dicts.join("\n") + "\n</array>\n</plist>\n";
}

QString appDict(const QString& bundleID, const QString& name = {}, const QString& extra = {})
{
    const QString display = name.isEmpty() ? QString() : "<key>CFBundleDisplayName</key><string>" + name + "</string>";
    return "<dict><key>CFBundleIdentifier</key><string>" + bundleID + "</string>" + display + extra + "</dict>";
}

QString metadataData(const QByteArray& bytes)
{
    return "<key>iTunesMetadata</key><data>" + QString::fromLatin1(bytes.toBase64()) + "</data>";
}

ProcessOutput output(int status, const QByteArray& out, const QByteArray& err = {})
{
    return ProcessOutput(status, {}, {out}, {err});
}

const char* const listAnswer =
    R"({"Command":"list","Output":{"0x970E80428AC26":{"ECID":"0x970E80428AC26","UDID":"00008030-001A","name":"Анна"}},)"
    R"("Type":"CommandOutput","Devices":["0x970E80428AC26","0x1A2B3C"]})";

const char* const getAnswer =
    R"({"Command":"get","Output":{"0x970E80428AC26":{"name":"Телефон Анны","deviceType":"iPhone14,2",)"
    R"("firmwareVersion":"17.1","UDID":"00008030-001A","isPaired":false,"activationState":"Activated"},)"
    R"("Errors":{"0x970E80428AC26":{"batteryCurrentCapacity":{"Message":"unsupported"}}}},)"
    R"("Type":"CommandOutput","Devices":["0x970E80428AC26"]})";

} // namespace

TEST(DeviceAppsReaderParse, BinaryFormReadsAsTheXmlNoBundleIdSkipsAnEntryAndBadMetadataLosesOnlyTheAppID)
{
    EXPECT_EQ(DeviceAppsReader::parseAppList(fixture("apps.bplist")),
              DeviceAppsReader::parseAppList(fixture("apps-legacy.xml")));

    EXPECT_EQ(DeviceAppsReader::adamIDFromMetadata(fixture("itunes-metadata.xml")), 987654321);
    const QByteArray binary = fixture("itunes-metadata.bplist");
    const QStringList entries{
        "<dict><key>CFBundleDisplayName</key><string>Ghost</string></dict>",
        "<dict><key>CFBundleIdentifier</key><integer>7</integer></dict>",
        appDict("com.example.bare", {}, "<key>CFBundleShortVersionString</key><integer>3</integer>"),
        appDict("a.ok", "Ok", metadataData(binary)),
        appDict("a.noitem", "NoItem", metadataData(fixture("itunes-metadata-no-itemid.bplist"))),
        appDict("a.string", "String", "<key>iTunesMetadata</key><string>1234567890</string>"),
        appDict("a.truncated", "Truncated", metadataData(binary.left(binary.size() / 2))),
        appDict("a.garbage", "Garbage", metadataData(QByteArray("bplist00\xff\xff\xff\xff garbage"))),
        appDict("a.nested", "Nested", "<key>iTunesMetadata</key><dict><key>itemId</key><integer>5</integer></dict>"),
        appDict("a.array", "Array",
                metadataData("<plist><array><dict><key>itemId</key><integer>5</integer></dict></array></plist>")),
        appDict("a.itemstring", "ItemString",
                metadataData("<plist><dict><key>itemId</key><string>5</string></dict></plist>")),
        // Nested far past any real metadata: libplist alone would crash the app on every listing.
        appDict("a.deep", "Deep",
                metadataData("<plist>" + QByteArray("<array>").repeated(100000)
                             + QByteArray("</array>").repeated(100000) + "</plist>")),
    };
    const QList<InstalledApp> apps = DeviceAppsReader::parseAppList(appList(entries).toUtf8());
    ASSERT_EQ(apps.size(), entries.size() - 2);
    EXPECT_EQ(apps[0], (InstalledApp{"com.example.bare", "com.example.bare", std::nullopt, std::nullopt}));
    EXPECT_EQ(apps[1].adamID, 1234567890);
    for (qsizetype i = 2; i < apps.size(); ++i)
        EXPECT_FALSE(apps[i].adamID) << apps[i].bundleID.toStdString();
}

TEST(DeviceAppsReaderParse, DocumentsThatAreNoAppListFail)
{
    const QString unreadable = "Ответ ideviceinstaller не читается как property list";
    const QString misshapen = "Не разобрал ответ ideviceinstaller";
    const QByteArray whole = fixture("apps-legacy.xml");
    const std::pair<QByteArray, QString> cases[] = {
        {whole.left(whole.size() / 2), unreadable},
        {"", unreadable},
        {"No device found.", unreadable},
        {"<plist>" + QByteArray("<array>").repeated(20000) + "</plist>", unreadable},
        {appList({"<string>com.a</string>", "<string>com.b</string>"}).toUtf8(), misshapen},
        {"<plist><dict><key>CFBundleIdentifier</key><string>a</string></dict></plist>", misshapen},
        {appList({appDict("a.ok"), "<true/>"}).toUtf8(), misshapen},
    };
    for (const auto& [document, failure] : cases)
        EXPECT_EQ(failureOf([&] { DeviceAppsReader::parseAppList(document); }), failure)
            << document.left(80).constData();
    EXPECT_TRUE(DeviceAppsReader::parseAppList(appList({}).toUtf8()).isEmpty());
}

TEST(DeviceAppsReader, ReadsEitherDialectSortedByNameAndTranslatesFailures)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory());
    const QJsonArray xml{out(QString::fromUtf8(fixture("apps-legacy.xml")))};
    for (const bool legacy : {true, false}) {
        tools.setScenario(scenario({
            rule("ideviceinstaller", {"--help"}, {out(legacy ? legacyHelp : modernHelp)}),
            rule("ideviceinstaller", {"-u", "U1", "-l", "-o", "xml"}, xml),
            rule("ideviceinstaller",
                 {"-u", "U1", "list", "--xml", "-a", "CFBundleIdentifier", "-a", "CFBundleDisplayName", "-a",
                  "CFBundleShortVersionString", "-a", "iTunesMetadata"},
                 xml),
            matching("ideviceinstaller", "^-u LOCKED ",
                     {QJsonObject{{"err", "ERROR: Device is locked with a passcode"}}}, 255),
            matching("ideviceinstaller", "^-u BYTES ", {QJsonObject{{"outRaw", "PHBsaXN0Pv/+PC9wbGlzdD4="}}}),
            matching("ideviceinstaller", ".", {out("Usage: ideviceinstaller OPTIONS")}, 2),
        }));
        // A fresh tool file, so the remembered dialect of the previous round does not apply.
        QFile::remove(tools.path("ideviceinstaller"));
        QFile::copy(StandinTools::programPath(), tools.path("ideviceinstaller"));

        // Case-insensitive, and the two spellings of one name keep the tool's order.
        EXPECT_EQ(AsyncTest::await(DeviceAppsReader().read("U1")),
                  (QList<InstalledApp>{{"com.example.beta", "Beta", "2.0", std::nullopt},
                                       {"com.example.zeta", "Zeta", "1.0", 500000001},
                                       {"com.example.alpha", "альфа", "3.2", 500000002},
                                       {"com.example.alpha2", "Альфа", "1.1", 500000003}}))
            << legacy;
    }
    EXPECT_EQ(failureOf([] { AsyncTest::await(DeviceAppsReader().read("LOCKED")); }),
              "Устройство заблокировано — разблокируй экран и повтори");
    EXPECT_NE(failureOf([] { AsyncTest::await(DeviceAppsReader().read("BYTES")); }), "(no failure)");
}

// Both dialects are told apart in the reader's tests; here what an unknown help and the new install command mean.
TEST(IDeviceInstaller, UnknownHelpIsNoDialectOnlyACompleteStepCountsAndFailuresComeFromErrors)
{
    EXPECT_FALSE(IDeviceInstaller::syntaxFromHelp("Usage: ideviceinstaller"));
    EXPECT_EQ(IDeviceInstaller::installArguments(IDeviceInstaller::Syntax::subcommands, "U1", "/a b.ipa"),
              (QStringList{"-u", "U1", "install", "/a b.ipa"}));

    // What Debian's ideviceinstaller 1.1.1 prints, stream by stream; the real tool's other outcomes, a success
    // with warnings among them, run in RealTools.
    const QByteArray copying = "Copying '/home/u/error/App.ipa' to device... ";
    const QByteArray steps = "Installing 'com.example.error'\n\rInstall: CreatingStagingDirectory (5%)"
                             "\rInstall: VerifyingApplication (40%)";
    const std::tuple<int, QByteArray, QByteArray, QString> cases[] = {
        {128, copying + "DONE.\n" + steps, "ERROR: Install failed. Got error \"DeviceOSVersionTooLow\".\n",
         "Этой версии приложения нужна iOS новее, чем на iPhone — выбери версию постарше"},
        {255, "", "Could not connect to lockdownd. Exiting.\n",
         "iPhone не отвечает — разблокируй его и, если он спросит, нажми «Доверять»"},
        {255, "", "No device found with udid U.\n", "iPhone не найден — проверь кабель"},
        {0, copying + "DONE.\n" + steps, "",
         "Установка не закончилась — iPhone не подтвердил её. Проверь кабель и повтори"},
        {1, "", "something new\n", "iPhone не принял установку — подробности в журнале: something new"},
    };
    for (const auto& [status, out, err, expected] : cases) {
        OutputCollector collector;
        collector.append(out, OutputCollector::Stream::out);
        collector.append(err, OutputCollector::Stream::err);
        collector.flush();
        const auto failure = IDeviceInstaller::installFailure(collector.result(status));
        const QString detail = failure && expected.contains("журнале") ? ": " + failure->detail() : QString();
        EXPECT_EQ(failure ? failure->description() + detail : QString(), expected) << err.toStdString();
    }
}

TEST(IDeviceInstaller, InstallsWithTheLocatedDialectAskingForItOnce)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory());
    tools.setScenario(scenario({
        rule("ideviceinstaller", {"--help"}, {out(legacyHelp)}),
        rule("ideviceinstaller", {"-u", "U1", "-i", "/ipa/App 1.ipa"},
             {out("Uploading App 1.ipa package contents... DONE."), out("Install: CreatingStagingDirectory (5%)", "\r"),
              out("Install: InstallingApplication (60%)", "\r"), out("Install: Complete")}),
    }));
    QList<std::pair<double, QString>> seen;
    const auto record = [&](double fraction, const QString& step) { seen.append({fraction, step}); };
    AsyncTest::await(IDeviceInstaller().install("/ipa/App 1.ipa", "U1", false, record));
    AsyncTest::await(IDeviceInstaller().install("/ipa/App 1.ipa", "U1", false, record));
    EXPECT_EQ(seen.size(), 4);
    EXPECT_EQ(seen.first(), std::make_pair(0.05, QString("Готовлю место на iPhone")));
    EXPECT_EQ(tools.calls("ideviceinstaller").count(QStringList{"--help"}), 1);
}

TEST(CfgUtilAnswers, ProgressFailuresJsonShapesEcidsAndPropertiesOfOddAnswers)
{
    const std::pair<QString, QString> cases[] = {
        {"[ 45%] Copying 12 files", "0.45 Установка"},
        {"\t- Install: CreatingStagingDirectory (5%)", "0.05 Install: CreatingStagingDirectory ("},
        {"0%", "0 Установка"},
        {"Installing: 50.5%", "0.505 Installing"},
        {"Install: Complete", "none"},
        {"percent: %", "none"},
    };
    for (const auto& [line, expected] : cases) {
        const auto progress = CfgUtil::parseProgress(line);
        EXPECT_EQ(progress ? QString::number(progress->fraction) + " " + progress->step : QString("none"), expected);
    }
    EXPECT_DOUBLE_EQ(CfgUtil::parseProgress("1234%").value_or(CfgUtil::Progress{}).fraction, 1.0);

    EXPECT_EQ(CfgUtil::humanReadableFailure(output(1, "", "Device not found")), "iPhone не найден — проверь кабель");
    EXPECT_EQ(CfgUtil::humanReadableFailure(output(1, "device not found: it is locked with a passcode")),
              "Устройство заблокировано — разблокируй экран и повтори");
    EXPECT_EQ(CfgUtil::humanReadableFailure(output(1, "", "Please TRUST this computer")),
              "Устройство не доверяет компьютеру — подтверди «Доверять» на экране iPhone");
    EXPECT_EQ(CfgUtil::humanReadableFailure(output(1, "MinimumOSVersion 17.0")),
              "Эта версия приложения не подходит под iOS на устройстве — выбери версию постарше");
    EXPECT_EQ(CfgUtil::humanReadableFailure(output(1, "Wrong Apple ID")),
              "iPhone не авторизован этим Apple Account — зайди на нём в App Store под тем же аккаунтом");
    EXPECT_EQ(CfgUtil::humanReadableFailure(output(1, "  Disk Full \n", "\nCode 28")), "Code 28\n  Disk Full");
    EXPECT_EQ(CfgUtil::humanReadableFailure(output(3, " \n", "\r\n")), "cfgutil завершился с кодом 3");

    EXPECT_EQ(failureOf([] { CfgUtil::interpretJSON(output(0, R"({"Type":"Error"})")); }), "cfgutil вернул ошибку");
    EXPECT_EQ(failureOf([] { CfgUtil::interpretJSON(output(0, R"({"Type":"Error","Message":"Busy"})")); }), "Busy");
    EXPECT_EQ(CfgUtil::interpretJSON(output(1, R"({"Devices":[]})")).value("Devices").toArray().size(), 0);
    // Nothing, half an object, an array: an empty answer when cfgutil says all is well.
    for (const QByteArray& junk : {QByteArray(), QByteArray(R"({"Devices":["0x1)"), QByteArray("[1,2]")})
        EXPECT_TRUE(CfgUtil::interpretJSON(output(0, junk)).isEmpty()) << junk.constData();
    EXPECT_EQ(failureOf([] { CfgUtil::interpretJSON(output(4, R"({"Devi)", "device is locked")); }),
              "Устройство заблокировано — разблокируй экран и повтори");

    const QJsonObject numbers = QJsonDocument::fromJson(R"({"Devices":[2666432795388454, "x", null, {}]})").object();
    EXPECT_EQ(CfgUtil::ecids(numbers), (QStringList{"2666432795388454", "x"}));
    EXPECT_TRUE(CfgUtil::ecids(QJsonDocument::fromJson(R"({"Devices":"0x1"})").object()).isEmpty());
    // No member for this ECID: the whole "Output" comes back, errors and all.
    EXPECT_TRUE(CfgUtil::deviceProperties(QJsonDocument::fromJson(getAnswer).object(), "0xOTHER").contains("Errors"));
    EXPECT_TRUE(CfgUtil::deviceProperties(QJsonObject{{"Output", "text"}}, "0x1").isEmpty());
    const Device odd = CfgUtil::deviceFrom("0x1", QJsonObject{{"name", 5}, {"isPaired", "no"}, {"UDID", QJsonValue()}});
    EXPECT_EQ(odd, (Device{"0x1", std::nullopt, "iPhone", std::nullopt, std::nullopt, Device::Link::usb, true}));
}

TEST(CfgUtil, ListsDevicesWithDefaultsWhenPropertiesFail)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory());
    tools.setScenario(scenario(
        {rule("cfgutil", {"--format", "JSON", "list"}, {out(listAnswer)}),
         rule("cfgutil",
              {"--format", "JSON", "--ecid", "0x970E80428AC26", "get", "name", "deviceType", "firmwareVersion", "UDID",
               "isPaired", "activationState"},
              {out(getAnswer)}),
         matching("cfgutil", "--ecid 0x1A2B3C get", {out(R"({"Type":"Error","Message":"Device went away"})")})}));
    const QList<Device> devices = AsyncTest::await(CfgUtil().devices());
    EXPECT_EQ(devices,
              (QList<Device>{
                  {"0x970E80428AC26", "00008030-001A", "Телефон Анны", "iPhone14,2", "17.1", Device::Link::usb, false},
                  {"0x1A2B3C", std::nullopt, "iPhone", std::nullopt, std::nullopt, Device::Link::usb, true}}));
    EXPECT_TRUE(devices[0].canUseCfgutil());

    tools.setScenario(scenario({rule("cfgutil", {"--format", "JSON", "list"}, {})}));
    EXPECT_TRUE(AsyncTest::await(CfgUtil().devices()).isEmpty());
    EXPECT_EQ(tools.calls("cfgutil").size(), 4); // the empty list asked for no properties
}

TEST(Device, IdentityFallsBackFromUdidToEcidToNameAndTheMuxListingAndInfoParse)
{
    Device phone{"0x970E80428AC26", "00008030-001A", "Анна", "iPhone14,2", "17.1", Device::Link::usb, true};
    EXPECT_EQ(phone.id(), "00008030-001A");
    phone.udid.reset();
    EXPECT_EQ(phone.id(), "0x970E80428AC26");
    phone.link = Device::Link::wifi;
    EXPECT_FALSE(phone.canUseCfgutil());
    phone.ecid.reset();
    EXPECT_EQ(phone.id(), "Анна");
    EXPECT_EQ((Device{{}, "U", "Анна", {}, {}, Device::Link::wifi, true}).subtitle(), "Wi-Fi");

    using Listed = MuxDiscovery::Listed;
    EXPECT_EQ(MuxDiscovery::parseListing(" \tBBB (Network)\r\nAAA (Network)\n\nAAA (USB)\nCCC\t\nnot a (line)\n"),
              (QList<Listed>{{"AAA", Device::Link::usb}, {"BBB", Device::Link::wifi}, {"CCC", Device::Link::usb}}));
    EXPECT_EQ(MuxDiscovery::parseInfo("DeviceName: Телефон Анны\nProductVersion:\nSupportedDeviceFamilies:\n"
                                      "  DeviceName: nested\nProductType: iPhone14,2 \nERROR here\n"),
              (QHash<QString, QString>{{"DeviceName", "Телефон Анны"}, {"ProductType", "iPhone14,2"}}));
}

TEST(MuxDiscovery, ReadsEachPhoneOnceWhileListedAndAnUntrustedOneOnlyNowAndThen)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory());
    const QJsonObject both = rule("idevice_id", {}, {out("BBB (Network)"), out("AAA (USB)")});
    const QString pending = "ERROR: Could not connect to lockdownd: Pairing dialog response pending (-19)";
    tools.setScenario(scenario({
        both,
        rule("ideviceinfo", {"-u", "AAA"}, {out("DeviceName: Телефон Анны"), out("ProductType: iPhone14,2")}),
        rule("ideviceinfo", {"-u", "BBB", "-n"}, {QJsonObject{{"err", pending}}}, 255),
        rule("ideviceinfo", {"-u", "BBB", "-n", "-s"}, {out("DeviceName: Чужой")}),
    }));
    MuxDiscovery discovery;
    const QList<Device> expected{
        {std::nullopt, "AAA", "Телефон Анны", "iPhone14,2", std::nullopt, Device::Link::usb, true, false},
        {std::nullopt, "BBB", "Чужой", std::nullopt, std::nullopt, Device::Link::wifi, false, false}};
    EXPECT_EQ(AsyncTest::await(discovery.devices()), expected);

    // A phone that left is read afresh when it comes back.
    tools.setScenario(scenario({rule("idevice_id", {}, {out("BBB (Network)")})}));
    EXPECT_EQ(AsyncTest::await(discovery.devices()).size(), 1);
    tools.setScenario(scenario({both, rule("ideviceinfo", {"-u", "AAA"}, {out("DeviceName: Снова")})}));
    EXPECT_EQ(AsyncTest::await(discovery.devices()).value(0).name, "Снова");
    EXPECT_EQ(tools.calls("ideviceinfo").size(), 4);
}

TEST(DeviceTools, AMissingOrUnstartableToolFailsEveryOperationSayingWhatToInstall)
{
    TempHome home;
    const QString cfgutil = "Не найден cfgutil. Поставь Apple Configurator из App Store.";
    const std::pair<std::function<void()>, QString> cases[] = {
        {[] { AsyncTest::await(CfgUtil().devices()); }, cfgutil},
        {[] { AsyncTest::await(CfgUtil().properties("0x1", {"name"})); }, cfgutil},
        {[] { AsyncTest::await(CfgUtil().install("/x.ipa", "0x1", {})); }, cfgutil},
        {[] { AsyncTest::await(IDeviceInstaller().install("/x.ipa", "U", false, {})); },
         "Не найден ideviceinstaller — поставь пакет ideviceinstaller (sudo apt install ideviceinstaller)"},
        {[] { AsyncTest::await(DeviceAppsReader().read("U1")); },
         "Чтобы узнать App ID приложений с телефона, нужен ideviceinstaller: поставь пакет ideviceinstaller "
         "(sudo apt install ideviceinstaller)"},
        // Without idevice_id there are just no phones of its kind.
        {[] { EXPECT_TRUE(AsyncTest::await(MuxDiscovery().devices()).isEmpty()); }, "(no failure)"},
    };
    for (const auto& [operation, failure] : cases)
        EXPECT_EQ(failureOf(operation), failure);

    // Executable for the lookup, but not a program the system can start: the runner's error.
    QFile file(home.resourceDirectory() + "/idevice_id");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\x7f"
               "ELF garbage");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_THROW(AsyncTest::await(MuxDiscovery().devices()), ToolError);
}
