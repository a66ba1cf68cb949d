#include "device/DeviceAppsReader.h"
#include "device/CfgUtilError.h"
#include "device/IDeviceInstaller.h"

#include "process/Tools.h"
#include "support/AsyncTest.h"
#include "support/QtPrinters.h"
#include "support/StandinTools.h"
#include "support/TempHome.h"

#include "DeviceTestSupport.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace DeviceTest;

namespace {

QString parseFailure(const QByteArray& document)
{
    return failureOf([&] { DeviceAppsReader::parseAppList(document); });
}

QStringList names(const QList<InstalledApp>& apps)
{
    QStringList result;
    for (const InstalledApp& app : apps)
        result.append(app.name);
    return result;
}

} // namespace

TEST(DeviceAppsReaderParse, ReadsTheOldToolsFullAnswerAndTheBinaryForm)
{
    for (const char* name : {"apps-legacy.xml", "apps.bplist"}) {
        const QList<InstalledApp> apps = DeviceAppsReader::parseAppList(fixture(name));
        ASSERT_EQ(apps.size(), 4) << name;
        EXPECT_EQ(apps[0], (InstalledApp{"com.example.zeta", "Zeta", "1.0", 500000001}));
        EXPECT_EQ(apps[1].adamID, 500000002);
        EXPECT_EQ(apps[2], (InstalledApp{"com.example.beta", "Beta", "2.0", std::nullopt}));
    }
}

TEST(DeviceAppsReaderParse, MetadataInEitherFormAndAnyBadShapeLosesOnlyTheAppID)
{
    EXPECT_EQ(DeviceAppsReader::adamIDFromMetadata(fixture("itunes-metadata.bplist")), 1234567890);
    EXPECT_EQ(DeviceAppsReader::adamIDFromMetadata(fixture("itunes-metadata.xml")), 987654321);
    EXPECT_FALSE(DeviceAppsReader::adamIDFromMetadata(fixture("itunes-metadata-no-itemid.bplist")));

    const QByteArray binary = fixture("itunes-metadata.bplist");
    const QStringList entries{
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
    ASSERT_EQ(apps.size(), entries.size());
    EXPECT_EQ(apps[0].adamID, 1234567890);
    for (qsizetype i = 1; i < apps.size(); ++i)
        EXPECT_FALSE(apps[i].adamID) << apps[i].bundleID.toStdString();
}

TEST(DeviceAppsReaderParse, EntriesWithoutBundleIdAreSkippedAndNamesFallBack)
{
    const QList<InstalledApp> apps = DeviceAppsReader::parseAppList(
        appList({"<dict><key>CFBundleDisplayName</key><string>Ghost</string></dict>",
                 "<dict><key>CFBundleIdentifier</key><integer>7</integer></dict>",
                 appDict("com.example.bare", {}, "<key>CFBundleShortVersionString</key><integer>3</integer>")})
            .toUtf8());
    ASSERT_EQ(apps.size(), 1);
    EXPECT_EQ(apps[0], (InstalledApp{"com.example.bare", "com.example.bare", std::nullopt, std::nullopt}));
}

TEST(DeviceAppsReaderParse, DocumentsThatAreNoAppListFail)
{
    const QString unreadable = "Ответ ideviceinstaller не читается как property list";
    const QString misshapen = "Не разобрал ответ ideviceinstaller";
    const QByteArray whole = fixture("apps-legacy.xml");
    EXPECT_EQ(parseFailure(whole.left(whole.size() / 2)), unreadable);
    EXPECT_EQ(parseFailure(""), unreadable);
    EXPECT_EQ(parseFailure("No device found."), unreadable);
    EXPECT_EQ(parseFailure(appList({"<string>com.a</string>", "<string>com.b</string>"}).toUtf8()), misshapen);
    EXPECT_EQ(parseFailure("<plist><dict><key>CFBundleIdentifier</key><string>a</string></dict></plist>"), misshapen);
    EXPECT_EQ(parseFailure(appList({appDict("a.ok"), "<true/>"}).toUtf8()), misshapen);
    EXPECT_TRUE(DeviceAppsReader::parseAppList(appList({}).toUtf8()).isEmpty());

    // Noise of every kind must fail cleanly, never crash.
    QRandomGenerator random(20240601);
    for (int round = 0; round < 200; ++round) {
        QByteArray noise(random.bounded(1, 4000), Qt::Uninitialized);
        for (char& byte : noise)
            byte = static_cast<char>(random.bounded(256));
        if (round % 2)
            noise.prepend("bplist00");
        EXPECT_NO_FATAL_FAILURE(parseFailure(noise));
        DeviceAppsReader::adamIDFromMetadata(noise);
    }
    const QByteArray deep = QByteArray("<plist>") + QByteArray(20000, '[').replace("[", "<array>") + "</plist>";
    EXPECT_EQ(parseFailure(deep).isEmpty(), false);
}

TEST(DeviceAppsReader, ReadsThroughEitherDialectSortedByName)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory());
    const QString answer = QString::fromUtf8(fixture("apps-legacy.xml"));
    for (const bool legacy : {true, false}) {
        tools.setScenario(scenario({
            rule("ideviceinstaller", {"--help"}, {out(legacy ? legacyHelp() : modernHelp())}),
            rule("ideviceinstaller", {"-u", "U1", "-l", "-o", "xml"}, {out(answer)}),
            rule("ideviceinstaller",
                 {"-u", "U1", "list", "--xml", "-a", "CFBundleIdentifier", "-a", "CFBundleDisplayName", "-a",
                  "CFBundleShortVersionString", "-a", "iTunesMetadata"},
                 {out(answer)}),
            matching("ideviceinstaller", ".", {out("Usage: ideviceinstaller OPTIONS")}, 2),
        }));
        // A fresh tool file, so the remembered dialect of the previous round does not apply.
        QFile::remove(tools.path("ideviceinstaller"));
        QFile::copy(StandinTools::programPath(), tools.path("ideviceinstaller"));

        const QList<InstalledApp> apps = AsyncTest::await(DeviceAppsReader().read("U1"));
        // Case-insensitive, and the two spellings of one name keep the tool's order.
        EXPECT_EQ(names(apps), (QStringList{"Beta", "Zeta", "альфа", "Альфа"})) << legacy;
        EXPECT_EQ(apps[2].bundleID, "com.example.alpha");
        EXPECT_EQ(apps[3].adamID, 500000003);
    }
}

TEST(DeviceAppsReader, ToolFailuresBecomeReadableErrors)
{
    TempHome home;
    EXPECT_EQ(failureOf([] { AsyncTest::await(DeviceAppsReader().read("U1")); }),
              "Чтобы узнать App ID приложений с телефона, нужен ideviceinstaller: поставь пакет ideviceinstaller "
              "(sudo apt install ideviceinstaller)");

    StandinTools tools(home.resourceDirectory());
    tools.setScenario(scenario({
        rule("ideviceinstaller", {"--help"}, {out(modernHelp())}),
        matching("ideviceinstaller", "^-u LOCKED ", {err("ERROR: Device is locked with a passcode")}, 255),
        matching("ideviceinstaller", "^-u BYTES ", {QJsonObject{{"outRaw", "PHBsaXN0Pv/+PC9wbGlzdD4="}}}),
        matching("ideviceinstaller", "^-u DICT ", {out("<plist><dict/></plist>")}),
    }));
    EXPECT_EQ(failureOf([] { AsyncTest::await(DeviceAppsReader().read("LOCKED")); }),
              "Устройство заблокировано — разблокируй экран и повтори");
    EXPECT_NE(failureOf([] { AsyncTest::await(DeviceAppsReader().read("BYTES")); }), "(no failure)");
    EXPECT_EQ(failureOf([] { AsyncTest::await(DeviceAppsReader().read("DICT")); }),
              "Не разобрал ответ ideviceinstaller");
}

TEST(DeviceAppsReader, RealToolWithoutPhoneFailsWithTranslatedError)
{
    if (!QFileInfo::exists("/usr/bin/ideviceinstaller"))
        GTEST_SKIP() << "ideviceinstaller is not installed";
    TempHome home;
    Tools::setSystemToolsSearched(true);
    // Debian's 1.1.1 rejects the newer syntax with exit 2; detected, it answers "No device found…".
    EXPECT_EQ(failureOf([] { AsyncTest::await(DeviceAppsReader().read("00008030-000000000000DEAD")); }),
              "iPhone не найден — проверь кабель");
}
