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

namespace {

QString installFailure(const QString& ipa, const QString& udid)
{
    try {
        AsyncTest::await(IDeviceInstaller().install(ipa, udid, false, {}));
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

TEST(IDeviceInstaller, OnlyACompleteStepCountsAndFailuresComeFromErrorsNotThePath)
{
    // What Debian's ideviceinstaller 1.1.1 prints, stream by stream, in each situation.
    const QByteArray copying = "Copying '/home/u/error/App.ipa' to device... ";
    const QByteArray steps = "Installing 'com.example.error'\n\rInstall: CreatingStagingDirectory (5%)"
                             "\rInstall: VerifyingApplication (40%)";
    const struct {
        int status;
        QByteArray out, err;
        QString expected; // empty: installed
    } cases[] = {
        {0,
         copying + "DONE.\n" + steps + "\rInstall: Complete\n",
         "WARNING: could not locate iTunesMetadata.plist in archive!\n",
         {}},
        {128, copying + "DONE.\n" + steps,
         "ERROR: Install failed. Got error \"ApplicationVerificationFailed\" with code 0xe8008015: No profile\n",
         "iPhone не принял приложение: на нём нужно войти в тот Apple Account, который его получал (Настройки → App "
         "Store)"},
        {128, copying + "DONE.\n" + steps, "ERROR: Install failed. Got error \"DeviceOSVersionTooLow\".\n",
         "Этой версии приложения нужна iOS новее, чем на iPhone — выбери версию постарше"},
        {0, copying + "DONE.\n" + steps, "ideviceinstaller: Device removed\n",
         "Связь с iPhone прервалась — проверь кабель и повтори"},
        {0, copying, "AFC Write error: 30\nError: wrote only 0 of 1000\n",
         "Связь с iPhone прервалась — проверь кабель и повтори"},
        {255, "", "ERROR: stat: /x.ipa: No such file or directory\n",
         "Файл .ipa не найден или не читается — скачай его заново"},
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
    AsyncTest::await(IDeviceInstaller().install("/ipa/App 1.ipa", "U1", false, record));
    AsyncTest::await(IDeviceInstaller().install("/ipa/App 1.ipa", "U1", false, record));
    EXPECT_EQ(seen.size(), 4);
    EXPECT_EQ(seen.first(), std::make_pair(0.05, QString("Готовлю место на iPhone")));

    // Exit status 0 both times: the text on standard error is what fails them.
    EXPECT_EQ(installFailure("/ipa/B.ipa", "U2"),
              "iPhone не принял приложение: на нём нужно войти в тот Apple Account, который его получал (Настройки → "
              "App Store)");
    EXPECT_EQ(installFailure("/ipa/C.ipa", "U2"), "iPhone не найден — проверь кабель");
    EXPECT_EQ(tools.calls("ideviceinstaller").count(QStringList{"--help"}), 1);
}

TEST(IDeviceInstaller, MissingToolIsNotInstalled)
{
    TempHome home;
    EXPECT_FALSE(IDeviceInstaller::isAvailable());
    EXPECT_EQ(installFailure("/x.ipa", "U"),
              "Не найден ideviceinstaller — поставь пакет ideviceinstaller (sudo apt install ideviceinstaller)");
}
