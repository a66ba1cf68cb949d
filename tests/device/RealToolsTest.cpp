#include "common/AtomicFile.h"
#include "device/CfgUtilError.h"
#include "device/DeviceAppsReader.h"
#include "device/IDeviceInstaller.h"
#include "device/MuxDiscovery.h"

#include "support/LoopbackPhone.h"
#include "support/Test.h"

// Debian's own idevice_id, ideviceinfo and ideviceinstaller against the loopback phone, read by the
// application's classes. Listing and reading each kind of phone, and a hung install, run through the
// model's tests with the same tools.

using namespace std::chrono_literals;
using Transport = LoopbackPhone::Transport;

namespace {

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
};

} // namespace

TEST_F(RealTools, StoreIdsComeFromTheBinaryMetadataAndARefusedPairingIsNoTrust)
{
    {
        const LoopbackPhone phone("paired");
        EXPECT_EQ(AsyncTest::await(DeviceAppsReader().read(phone.udid()), 60s),
                  (QList<InstalledApp>{{"com.example.radio", "Old Radio", "1.0.7", 987654321},
                                       {"org.example.sideloaded", "Sideloaded", "1.0", std::nullopt},
                                       {"com.example.notes", "Заметки Плюс", "2.4.1", 1234567890}}));
    }
    // The model's tests cover the pairing dialog; a "no" on the phone must read the same way.
    const LoopbackPhone phone("untrusted", {{"pairError", "UserDeniedPairing"}});
    EXPECT_EQ(
        AsyncTest::await(MuxDiscovery().devices(), 60s),
        (QList<Device>{{std::nullopt, phone.udid(), phone.name(), "iPhone14,5", "16.6", Device::Link::usb, false}}));
}

TEST_F(RealTools, EachInstallOutcomeReadsAsAdviceAndTheIpaReachesThePhone)
{
    QTemporaryDir dir;
    const QString archive = LoopbackPhone::writeArchive(dir.path(), "Demo", true);
    // A word in the path that the tool echoes is no failure.
    QDir(dir.path()).mkpath("error");
    const QString errorPath = LoopbackPhone::writeArchive(dir.filePath("error"), "error", true);
    const QJsonObject refused{{"error", QJsonObject{{"name", "ApplicationVerificationFailed"},
                                                    {"description", "A valid provisioning profile for this executable "
                                                                    "was not found."},
                                                    {"code", double(0xe8008015)}}}};
    const QJsonObject internalError{{"error", QJsonObject{{"name", "APIInternalError"}}}};
    const QString notSignedIn = "iPhone не принял приложение: на нём нужно войти в тот Apple Account, который его "
                                "получал (Настройки → App Store)";
    const QString cable = "Связь с iPhone прервалась — проверь кабель и повтори";
    const QString installed = "install PublicStaging/com.example.demo";
    struct Case {
        QString scenario;
        QJsonObject config;
        QString ipa;
        QString advice; // empty when installed
        QString event;  // what the phone must have seen
    };
    const QList<Case> cases{
        {"paired", {}, archive, "", installed},
        {"paired", {}, errorPath, "", installed},
        {"network", {}, archive, "", installed},
        {"refuses-install", refused, archive, notSignedIn, ""},
        {"refuses-install", internalError, archive, "iPhone не принял установку — подробности в журнале", ""},
        {"unplugged-during-install", {}, archive, cable, "unplugged"},
        {"unplugged-during-upload", {}, archive, cable, "unplugged"},
        {"paired", {}, dir.filePath("missing.ipa"), "Файл .ipa не найден или не читается — скачай его заново", ""},
        {"paired",
         {},
         LoopbackPhone::writeArchive(dir.path(), "NoExecutable", false),
         "Файл .ipa повреждён: в нём нет самого приложения — скачай его заново",
         ""},
    };
    const char* steps = R"([{"status":"CreatingStagingDirectory","percent":5},
        {"status":"ExtractingPackage","percent":15}, {"status":"VerifyingApplication","percent":40}])";
    for (const Case& c : cases) {
        SCOPED_TRACE(QString(c.scenario + " " + c.ipa).toStdString());
        QJsonObject config = c.config;
        config.insert("installSteps", QJsonDocument::fromJson(steps).array());
        config.insert("stepsBeforeTrouble", 2);
        const bool network = c.scenario == "network";
        const LoopbackPhone phone(c.scenario, config, network ? Transport::tcp : Transport::unixSocket);
        QString said;
        try {
            AsyncTest::await(IDeviceInstaller().install(c.ipa, phone.udid(), network, {}), 60s);
        } catch (const CfgUtilError& error) {
            said = error.description();
        }
        EXPECT_EQ(said, c.advice);
        EXPECT_TRUE(c.event.isEmpty() || phone.events().contains(c.event)) << phone.events().join(" | ").toStdString();
        if (c.event == installed) {
            EXPECT_EQ(phone.uploaded("PublicStaging/com.example.demo"), AtomicFile::read(c.ipa));
        }
    }
}
