#include "device/DeviceAppsReader.h"
#include "device/CfgUtilError.h"

#include "support/AsyncTest.h"
#include "support/QtPrinters.h"
#include "support/StandinTools.h"
#include "support/TempHome.h"

#include "DeviceTestSupport.h"

#include <gtest/gtest.h>

using namespace DeviceTest;

namespace {

QString parseFailure(const QByteArray& document)
{
    return failureOf([&] { DeviceAppsReader::parseAppList(document); });
}

} // namespace

TEST(DeviceAppsReaderParse, BinaryFormReadsAsTheXml)
{
    EXPECT_EQ(DeviceAppsReader::parseAppList(fixture("apps.bplist")),
              DeviceAppsReader::parseAppList(fixture("apps-legacy.xml")));
}

TEST(DeviceAppsReaderParse, NoBundleIdSkipsAnEntryAndBadMetadataLosesOnlyTheAppID)
{
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
        EXPECT_EQ(parseFailure(document), failure) << document.left(80).constData();
    EXPECT_TRUE(DeviceAppsReader::parseAppList(appList({}).toUtf8()).isEmpty());
}

TEST(DeviceAppsReader, ReadsEitherDialectSortedByNameAndTranslatesFailures)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory());
    const QJsonArray xml{out(QString::fromUtf8(fixture("apps-legacy.xml")))};
    for (const bool legacy : {true, false}) {
        tools.setScenario(scenario({
            rule("ideviceinstaller", {"--help"}, {out(legacy ? legacyHelp() : modernHelp())}),
            rule("ideviceinstaller", {"-u", "U1", "-l", "-o", "xml"}, xml),
            rule("ideviceinstaller",
                 {"-u", "U1", "list", "--xml", "-a", "CFBundleIdentifier", "-a", "CFBundleDisplayName", "-a",
                  "CFBundleShortVersionString", "-a", "iTunesMetadata"},
                 xml),
            matching("ideviceinstaller", "^-u LOCKED ", {err("ERROR: Device is locked with a passcode")}, 255),
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
