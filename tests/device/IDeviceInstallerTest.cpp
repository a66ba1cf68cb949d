#include "device/IDeviceInstaller.h"
#include "device/CfgUtilError.h"

#include "process/Tools.h"
#include "support/AsyncTest.h"
#include "support/QtPrinters.h"
#include "support/StandinTools.h"
#include "support/TempHome.h"

#include "DeviceTestSupport.h"

#include <QFileInfo>

#include <gtest/gtest.h>

using namespace DeviceTest;

namespace {

QString installFailure(const QString& ipa, const QString& udid)
{
    try {
        AsyncTest::await(IDeviceInstaller().install(ipa, udid, {}));
    } catch (const CfgUtilError& error) {
        return error.description();
    }
    return "(installed)";
}

} // namespace

TEST(IDeviceInstaller, RecognisesBothDialectsFromHelp)
{
    EXPECT_EQ(IDeviceInstaller::syntaxFromHelp(legacyHelp()), IDeviceInstaller::Syntax::legacyFlags);
    EXPECT_EQ(IDeviceInstaller::syntaxFromHelp(modernHelp()), IDeviceInstaller::Syntax::subcommands);
    EXPECT_FALSE(IDeviceInstaller::syntaxFromHelp(""));
    EXPECT_EQ(IDeviceInstaller::installArguments(IDeviceInstaller::Syntax::legacyFlags, "U1", "/a b.ipa"),
              (QStringList{"-u", "U1", "-i", "/a b.ipa"}));
    EXPECT_EQ(IDeviceInstaller::installArguments(IDeviceInstaller::Syntax::subcommands, "U1", "/a b.ipa"),
              (QStringList{"-u", "U1", "install", "/a b.ipa"}));
}

TEST(IDeviceInstaller, FailureIsTextOnEitherStreamNotOnlyTheStatus)
{
    const auto failed = [](int status, const QByteArray& out, const QByteArray& err) {
        return IDeviceInstaller::reportsFailure(ProcessOutput(status, {}, {out}, {err}));
    };
    EXPECT_FALSE(failed(0, "Install: CreatingStagingDirectory (5%)\rInstall: Complete\n", ""));
    EXPECT_TRUE(
        failed(0, "Install: Complete\n", "ERROR: Install failed. Got error \"ApplicationVerificationFailed\"\n"));
    EXPECT_TRUE(failed(0, "Install - Error occured: APIInternalError\n", ""));
    EXPECT_TRUE(failed(0, "", "No device found.\n"));
    EXPECT_TRUE(failed(1, "", ""));
}

TEST(IDeviceInstaller, InstallsWithTheLocatedDialectAskingOnceAndReadsFailuresFromEitherStream)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory());
    tools.setScenario(scenario({
        rule("ideviceinstaller", {"--help"}, {out(legacyHelp())}),
        rule("ideviceinstaller", {"-u", "U1", "-i", "/ipa/App 1.ipa"},
             {out("Uploading App 1.ipa package contents... DONE."), out("Install: CreatingStagingDirectory (5%)", "\r"),
              out("Install: InstallingApplication (60%)", "\r"), out("Install: Complete", "\n")}),
        rule("ideviceinstaller", {"-u", "U2", "-i", "/ipa/B.ipa"},
             {out("Install: VerifyingApplication (40%)", "\r"),
              err("ERROR: Install failed. Got error \"ApplicationVerificationFailed\" with code 0xe8008015: "
                  "A valid provisioning profile for this executable was not found.")}),
        rule("ideviceinstaller", {"-u", "U2", "-i", "/ipa/C.ipa"}, {err("No device found.")}),
    }));
    QList<std::pair<double, QString>> seen;
    const auto record = [&](double fraction, const QString& step) { seen.append({fraction, step}); };
    AsyncTest::await(IDeviceInstaller().install("/ipa/App 1.ipa", "U1", record));
    AsyncTest::await(IDeviceInstaller().install("/ipa/App 1.ipa", "U1", record));
    EXPECT_EQ(seen.size(), 4);
    EXPECT_EQ(seen.first(), std::make_pair(0.05, QString("Install: CreatingStagingDirectory")));

    // Exit status 0 both times: the text on standard error is what fails them.
    EXPECT_EQ(installFailure("/ipa/B.ipa", "U2"),
              "ERROR: Install failed. Got error \"ApplicationVerificationFailed\" with code 0xe8008015: A valid "
              "provisioning profile for this executable was not found.\n\nInstall: VerifyingApplication (40%)");
    EXPECT_EQ(installFailure("/ipa/C.ipa", "U2"), "iPhone не найден — проверь кабель");
    EXPECT_EQ(tools.calls("ideviceinstaller").count(QStringList{"--help"}), 1);
}

TEST(IDeviceInstaller, MissingToolIsNotInstalled)
{
    TempHome home;
    EXPECT_FALSE(IDeviceInstaller::isAvailable());
    EXPECT_EQ(installFailure("/x.ipa", "U"), "Не найден cfgutil. Поставь Apple Configurator из App Store.");
}

TEST(IDeviceInstaller, RealToolWithoutPhoneFailsWithTranslatedError)
{
    if (!QFileInfo::exists("/usr/bin/ideviceinstaller"))
        GTEST_SKIP() << "ideviceinstaller is not installed";
    TempHome home;
    Tools::setSystemToolsSearched(true);
    QTemporaryDir dir;
    QFile ipa(dir.filePath("Some App.ipa"));
    ASSERT_TRUE(ipa.open(QIODevice::WriteOnly));
    ipa.write("PK\x03\x04 not really a zip");
    ipa.close();
    EXPECT_EQ(installFailure(ipa.fileName(), "00008030-000000000000DEAD"), "iPhone не найден — проверь кабель");
}
