#include "device/IDeviceInstaller.h"
#include "device/CfgUtilError.h"

#include "process/OutputCollector.h"
#include "support/AsyncTest.h"
#include "support/QtPrinters.h"
#include "support/StandinTools.h"
#include "support/TempHome.h"

#include "DeviceTestSupport.h"

#include <gtest/gtest.h>

using namespace DeviceTest;

// Both dialects are told apart in the reader's tests; here what an unknown help and the new install command mean.
TEST(IDeviceInstaller, UnknownHelpIsNoDialectAndTheNewOneInstallsBySubcommand)
{
    EXPECT_FALSE(IDeviceInstaller::syntaxFromHelp("Usage: ideviceinstaller"));
    EXPECT_EQ(IDeviceInstaller::installArguments(IDeviceInstaller::Syntax::subcommands, "U1", "/a b.ipa"),
              (QStringList{"-u", "U1", "install", "/a b.ipa"}));
}

TEST(IDeviceInstaller, OnlyACompleteStepCountsAndFailuresComeFromErrorsNotThePath)
{
    // What Debian's ideviceinstaller 1.1.1 prints, stream by stream; the real tool's other outcomes, a success
    // with warnings among them, run in RealTools.
    const QByteArray copying = "Copying '/home/u/error/App.ipa' to device... ";
    const QByteArray steps = "Installing 'com.example.error'\n\rInstall: CreatingStagingDirectory (5%)"
                             "\rInstall: VerifyingApplication (40%)";
    const struct {
        int status;
        QByteArray out, err;
        QString expected;
    } cases[] = {
        {128, copying + "DONE.\n" + steps, "ERROR: Install failed. Got error \"DeviceOSVersionTooLow\".\n",
         "Этой версии приложения нужна iOS новее, чем на iPhone — выбери версию постарше"},
        {255, "", "Could not connect to lockdownd. Exiting.\n",
         "iPhone не отвечает — разблокируй его и, если он спросит, нажми «Доверять»"},
        {255, "", "No device found with udid U.\n", "iPhone не найден — проверь кабель"},
        {0, copying + "DONE.\n" + steps, "",
         "Установка не закончилась — iPhone не подтвердил её. Проверь кабель и повтори"},
        {1, "", "something new\n", "iPhone не принял установку — подробности в журнале"},
    };
    for (const auto& c : cases) {
        OutputCollector collector;
        collector.append(c.out, OutputCollector::Stream::out);
        collector.append(c.err, OutputCollector::Stream::err);
        collector.flush();
        const auto failure = IDeviceInstaller::installFailure(collector.result(c.status));
        EXPECT_EQ(failure ? failure->description() : QString(), c.expected) << c.err.toStdString();
        if (failure && c.expected.endsWith("журнале")) {
            EXPECT_EQ(failure->detail(), "something new");
        }
    }
}

TEST(IDeviceInstaller, InstallsWithTheLocatedDialectAskingForItOnce)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory());
    tools.setScenario(scenario({
        rule("ideviceinstaller", {"--help"}, {out(legacyHelp())}),
        rule("ideviceinstaller", {"-u", "U1", "-i", "/ipa/App 1.ipa"},
             {out("Uploading App 1.ipa package contents... DONE."), out("Install: CreatingStagingDirectory (5%)", "\r"),
              out("Install: InstallingApplication (60%)", "\r"), out("Install: Complete", "\n")}),
    }));
    QList<std::pair<double, QString>> seen;
    const auto record = [&](double fraction, const QString& step) { seen.append({fraction, step}); };
    AsyncTest::await(IDeviceInstaller().install("/ipa/App 1.ipa", "U1", false, record));
    AsyncTest::await(IDeviceInstaller().install("/ipa/App 1.ipa", "U1", false, record));
    EXPECT_EQ(seen.size(), 4);
    EXPECT_EQ(seen.first(), std::make_pair(0.05, QString("Готовлю место на iPhone")));
    EXPECT_EQ(tools.calls("ideviceinstaller").count(QStringList{"--help"}), 1);
}
