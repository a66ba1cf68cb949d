#include "common/AtomicFile.h"
#include "device/DeviceAppsReader.h"
#include "device/IDeviceInstaller.h"
#include "process/ProcessRunner.h"
#include "process/ToolError.h"

#include "support/LoopbackPhone.h"
#include "support/Test.h"

// Debian's own idevice_id, ideviceinfo and ideviceinstaller against the loopback phone: what they
// print, on which stream and with which status, in each situation the application has to read.

namespace {

using namespace std::chrono_literals;
using Transport = LoopbackPhone::Transport;

// In commands and expected texts: %U the phone's UDID, %N its name, %F the archive, %S its size.
struct Words {
    QString udid, name, archive;
};

struct Call {
    QString command;
    QString out;
    QString err = {};
    int status = 0;
};

QString expand(QString text, const Words& words)
{
    return text.replace("%U", words.udid)
        .replace("%N", words.name)
        .replace("%F", words.archive)
        .replace("%S", QString::number(QFileInfo(words.archive).size()));
}

QJsonObject app(const QString& id, const QString& name, const QString& build, const QString& version, qint64 itemID = 0,
                const QString& type = "User")
{
    QJsonObject result{{"CFBundleIdentifier", id}, {"CFBundleDisplayName", name}, {"CFBundleVersion", build}};
    result.insert("CFBundleShortVersionString", version);
    result.insert("ApplicationType", type);
    if (itemID)
        result.insert("iTunesMetadata", QJsonObject{{"itemId", itemID}, {"itemName", name}});
    return result;
}

// Three apps of the user's, so the phone answers in two pages, and one of the system's.
QJsonObject withApps()
{
    return {{"apps", QJsonArray{app("com.example.notes", "Заметки Плюс", "241", "2.4.1", 1234567890),
                                app("com.example.radio", "Old Radio", "7", "1.0.7", 987654321),
                                app("org.example.sideloaded", "Sideloaded", "1", "1.0"),
                                app("com.apple.mobilesafari", "Safari", "8615", "16.6", 0, "System")}}};
}

QJsonObject withSteps(QJsonObject config = {})
{
    const char* steps = R"([{"status":"CreatingStagingDirectory","percent":5},
        {"status":"ExtractingPackage","percent":15}, {"status":"VerifyingApplication","percent":40}])";
    config.insert("installSteps", QJsonDocument::fromJson(steps).array());
    config.insert("stepsBeforeTrouble", 2);
    return config;
}

class RealTools : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!LoopbackPhone::linkRealTools(home.resourceDirectory()))
            GTEST_FAIL() << "Debian's idevice_id, ideviceinfo or ideviceinstaller is missing from /usr/bin "
                         << "(scripts/install-deps.sh installs them)";
    }

    // Where the application's own classes find the real tools.
    TempHome home;

    static ProcessOutput run(const QString& command, const Words& words, ProcessRunner::Options options = {})
    {
        QStringList arguments = command.split(' ');
        const QString tool = "/usr/bin/" + arguments.takeFirst();
        for (QString& argument : arguments)
            argument = expand(argument, words);
        return AsyncTest::await(ProcessRunner::run(tool, arguments, std::move(options)), 60s);
    }

    static void expectCalls(const QList<Call>& calls, const Words& words)
    {
        for (const Call& call : calls) {
            SCOPED_TRACE(call.command.toStdString());
            const ProcessOutput output = run(call.command, words);
            EXPECT_EQ(std::tuple(output.standardOutput(), output.standardError(), output.status),
                      std::tuple(expand(call.out, words), expand(call.err, words), call.status));
        }
    }
};

} // namespace

TEST_F(RealTools, ListAndReadEachKindOfPhone)
{
    const QString list = "CFBundleIdentifier, CFBundleVersion, CFBundleDisplayName\n"
                         "com.example.notes, \"241\", \"Заметки Плюс\"\ncom.example.radio, \"7\", \"Old Radio\"\n"
                         "org.example.sideloaded, \"1\", \"Sideloaded\"\n";
    const QString notFound = "ERROR: Device %U not found!\n";
    const QString noneFound = "ERROR: No device found!\n";
    const QString noUdid = "No device found with udid %U.\n";
    const QString noLockdown = "ERROR: Could not connect to lockdownd: ";
    const auto expectOn = [](const QString& scenario, const QJsonObject& config, const QList<Call>& calls) {
        SCOPED_TRACE(scenario.toStdString());
        const LoopbackPhone phone(scenario, config, scenario == "network" ? Transport::tcp : Transport::unixSocket);
        expectCalls(calls, {phone.udid(), phone.name(), {}});
    };
    expectOn("paired", withApps(),
             {{"idevice_id -l", "%U\n"},
              {"idevice_id -n", ""},
              {"idevice_id", "%U (USB)\n"},
              {"idevice_id %U", "%N\n"},
              {"ideviceinfo -u %U -k DeviceName", "%N\n"},
              {"ideviceinfo -u %U -k NoSuchKey", ""},
              {"ideviceinstaller -u %U -l", list}});
    expectOn("network", withApps(),
             {{"idevice_id -l", ""},
              {"idevice_id -n", "%U\n"},
              {"idevice_id", "%U (Network)\n"},
              {"ideviceinfo -u %U -k DeviceName", notFound, "", 255},
              {"ideviceinfo -s", noneFound, "", 255},
              {"ideviceinstaller -u %U -l", "", noUdid, 255},
              {"ideviceinfo -n -u %U -k DeviceName", "%N\n"},
              {"ideviceinstaller -n -u %U -l", list}});
    expectOn("untrusted", {},
             {{"idevice_id -l", "%U\n"},
              {"idevice_id %U", "%N\n"},
              {"ideviceinfo -s -k DeviceName", "%N\n"},
              {"ideviceinfo -u %U -k DeviceName", "", noLockdown + "Pairing dialog response pending (-19)\n", 255},
              {"ideviceinstaller -u %U -l -o xml", "", "Could not connect to lockdownd. Exiting.\n", 255}});
    expectOn("untrusted", {{"pairError", "UserDeniedPairing"}},
             {{"ideviceinfo -u %U -k DeviceName", "", noLockdown + "User denied pairing (-18)\n", 255}});
    expectOn("no-phone", {},
             {{"idevice_id -l", ""},
              {"idevice_id %U", "", "ERROR: No device with UDID %U attached.\n", 254},
              {"ideviceinfo -u %U -k DeviceName", notFound, "", 255},
              {"ideviceinfo -s", noneFound, "", 255},
              {"ideviceinstaller -u %U -l -o xml", "", noUdid, 255}});
}

TEST_F(RealTools, WithoutMuxDaemonNoListIsRetrieved)
{
    QTemporaryDir dir;
    const MuxAddress nowhere("UNIX:" + dir.filePath("usbmuxd"));
    const QString error = "ERROR: Unable to retrieve device list!\n";
    expectCalls({{"idevice_id -l", "", error, 255}, {"idevice_id -n", "", error, 255}, {"idevice_id", "", error, 255}},
                {});
}

TEST_F(RealTools, XmlAppListCarriesStoreMetadataAsBinaryPropertyLists)
{
    const LoopbackPhone phone("paired", withApps());
    const ProcessOutput output = run("ideviceinstaller -u %U -l -o xml", {phone.udid(), {}, {}});
    EXPECT_EQ(std::pair(output.status, output.standardError()), std::pair(0, QString()));
    EXPECT_EQ(DeviceAppsReader::parseAppList(output.standardOutputBytes()),
              (QList<InstalledApp>{{"com.example.notes", "Заметки Плюс", "2.4.1", 1234567890},
                                   {"com.example.radio", "Old Radio", "1.0.7", 987654321},
                                   {"org.example.sideloaded", "Sideloaded", "1.0", std::nullopt}}));
}

TEST_F(RealTools, EachInstallOutcomeAsTheToolReportsIt)
{
    QTemporaryDir dir;
    const QString archive = LoopbackPhone::writeArchive(dir.path(), "Demo", true);
    const QString notRunnable = LoopbackPhone::writeArchive(dir.path(), "NoExecutable", false);
    const QString noMetadata = "WARNING: could not locate iTunesMetadata.plist in archive!\n";
    const QString warnings = noMetadata + "WARNING: could not locate Payload/Demo.app/SC_Info/Demo.sinf in archive!\n";
    const QString copied = "Copying '%F' to device... ";
    const QString started = copied + "DONE.\nInstalling 'com.example.demo'\n";
    const QString twoSteps = "\rInstall: CreatingStagingDirectory (5%)\n\rInstall: ExtractingPackage (15%)";
    const QString refusal = "ERROR: Install failed. Got error \"ApplicationVerificationFailed\" with code 0xe8008015: "
                            "A valid provisioning profile for this executable was not found.\n";
    const QString complete = started + twoSteps + "\n\rInstall: VerifyingApplication (40%)\n\rInstall: Complete\n";
    const QString stopped = started + twoSteps;
    const QString removed = "ideviceinstaller: Device removed\n";
    const QString writeError = "AFC Write error: 30\nError: wrote only 0 of %S\n";
    const QString noFile = "ERROR: stat: %F: No such file or directory\n";
    const QString noExecutable = "Could not determine value for CFBundleExecutable!\n";
    const QString internal = "ERROR: Install failed. Got error \"APIInternalError\".\n";
    const QJsonObject refused{{"error", QJsonObject{{"name", "ApplicationVerificationFailed"},
                                                    {"description", "A valid provisioning profile for this executable "
                                                                    "was not found."},
                                                    {"code", double(0xe8008015)}}}};
    const QJsonObject internalError{{"error", QJsonObject{{"name", "APIInternalError"}}}};
    const QString notSignedIn = "iPhone не принял приложение: на нём нужно войти в тот Apple Account, который его "
                                "получал (Настройки → App Store)";
    const QString rejected = "iPhone не принял установку — подробности в журнале";
    const QString cable = "Связь с iPhone прервалась — проверь кабель и повтори";
    const QString unread = "Файл .ipa не найден или не читается — скачай его заново";
    const QString noApp = "Файл .ipa повреждён: в нём нет самого приложения — скачай его заново";
    const QString installed = "install PublicStaging/com.example.demo";
    // A word in the path that the tool echoes is no failure.
    QDir(dir.path()).mkpath("error");
    const QString errorPath = LoopbackPhone::writeArchive(dir.filePath("error"), "error", true);
    const QString usb = "ideviceinstaller -u %U -i %F";
    const QString wifi = "ideviceinstaller -n -u %U -i %F";
    // `advice`: what IDeviceInstaller makes of it, empty when installed; `event`: what the phone must have seen.
    const auto expectInstall = [&](const QString& scenario, const QJsonObject& config, const QString& ipa,
                                   const Call& call, const QString& advice, const QString& event = {}) {
        SCOPED_TRACE(QString(scenario + " " + ipa).toStdString());
        const bool network = call.command == wifi;
        const Transport transport = network ? Transport::tcp : Transport::unixSocket;
        {
            const LoopbackPhone phone(scenario, withSteps(config), transport);
            expectCalls({call}, {phone.udid(), phone.name(), ipa});
            EXPECT_TRUE(event.isEmpty() || phone.events().contains(event)) << phone.events().join(" | ").toStdString();
            if (event.startsWith("install ")) {
                EXPECT_EQ(phone.uploaded("PublicStaging/com.example.demo"), AtomicFile::read(ipa));
            }
        }
        // The same situation through the application's installer.
        const LoopbackPhone phone(scenario, withSteps(config), transport);
        QString said;
        try {
            AsyncTest::await(IDeviceInstaller().install(ipa, phone.udid(), network, {}), 60s);
        } catch (const CfgUtilError& error) {
            said = error.description();
        }
        EXPECT_EQ(said, advice);
    };
    expectInstall("paired", {}, archive, {usb, complete, warnings}, "", installed);
    expectInstall("paired", {}, errorPath, {usb, complete, warnings}, "", installed);
    expectInstall("network", {}, archive, {wifi, complete, warnings}, "", installed);
    expectInstall("refuses-install", refused, archive, {usb, stopped, warnings + refusal, 128}, notSignedIn);
    expectInstall("refuses-install", internalError, archive, {usb, stopped, warnings + internal, 128}, rejected);
    expectInstall("unplugged-during-install", {}, archive, {usb, stopped, warnings + removed}, cable, "unplugged");
    expectInstall("unplugged-during-upload", {}, archive, {usb, copied, warnings + writeError}, cable, "unplugged");
    expectInstall("paired", {}, dir.filePath("missing.ipa"), {usb, "", noFile, 255}, unread);
    expectInstall("paired", {}, notRunnable, {usb, "", noMetadata + noExecutable, 255}, noApp);
}

TEST_F(RealTools, InstallerThatStopsAnsweringIsEndedByTheWatchdog)
{
    QTemporaryDir dir;
    const QString archive = LoopbackPhone::writeArchive(dir.path(), "Demo", true);
    const LoopbackPhone phone("installer-hangs", withSteps());
    QStringList lines;
    ProcessRunner::Options options;
    options.watchdog = 3s;
    options.onLine = [&](const QString& line) { lines.append(line); };
    try {
        run("ideviceinstaller -u %U -i %F", {phone.udid(), {}, archive}, std::move(options));
        ADD_FAILURE() << "the tool ended by itself";
    } catch (const ToolError& error) {
        EXPECT_EQ(error.kind(), ToolError::Kind::hung);
    }
    EXPECT_TRUE(lines.contains("Install: ExtractingPackage (15%)")) << lines.join(" | ").toStdString();
    EXPECT_FALSE(lines.contains("Install: VerifyingApplication (40%)"));
    // Only the tool's end closes its installation_proxy connection.
    EXPECT_TRUE(AsyncTest::waitUntil([&] { return phone.events().contains("closed installation_proxy"); }, 20s))
        << phone.events().join(" | ").toStdString();
}
