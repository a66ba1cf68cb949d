#include "device/CfgUtil.h"
#include "device/CfgUtilError.h"
#include "device/DeviceAppsReader.h"
#include "device/IDeviceInstaller.h"
#include "device/MuxDiscovery.h"

#include "support/AsyncTest.h"
#include "support/QtPrinters.h"
#include "support/StandinTools.h"
#include "support/TempHome.h"

#include "DeviceTestSupport.h"

#include <gtest/gtest.h>

using namespace DeviceTest;

namespace {

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

TEST(CfgUtilProgress, ReadsThePercentAndTheStepBeforeIt)
{
    const struct {
        QString line;
        double fraction;
        QString step;
    } cases[] = {
        {"[ 45%] Copying 12 files", 0.45, "Установка"},
        {"\t- Install: CreatingStagingDirectory (5%)", 0.05, "Install: CreatingStagingDirectory ("},
        {"0%", 0.0, "Установка"},
        {"Installing: 50.5%", 0.505, "Installing"},
    };
    for (const auto& c : cases) {
        const auto progress = CfgUtil::parseProgress(c.line);
        ASSERT_TRUE(progress) << c.line.toStdString();
        EXPECT_DOUBLE_EQ(progress->fraction, c.fraction);
        EXPECT_EQ(progress->step, c.step);
    }
    EXPECT_DOUBLE_EQ(CfgUtil::parseProgress("1234%")->fraction, 1.0);
    EXPECT_FALSE(CfgUtil::parseProgress("Install: Complete"));
    EXPECT_FALSE(CfgUtil::parseProgress("percent: %"));
}

TEST(CfgUtilFailure, TranslatesInTableOrderElsePassesTextOrStatus)
{
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
}

TEST(CfgUtilJSON, AnswerShapes)
{
    EXPECT_EQ(failureOf([] { CfgUtil::interpretJSON(output(0, R"({"Type":"Error"})")); }), "cfgutil вернул ошибку");
    EXPECT_EQ(failureOf([] { CfgUtil::interpretJSON(output(0, R"({"Type":"Error","Message":"Busy"})")); }), "Busy");
    EXPECT_EQ(CfgUtil::interpretJSON(output(1, R"({"Devices":[]})")).value("Devices").toArray().size(), 0);
    // Nothing, half an object, an array: an empty answer when cfgutil says all is well.
    for (const QByteArray& junk : {QByteArray(), QByteArray(R"({"Devices":["0x1)"), QByteArray("[1,2]")})
        EXPECT_TRUE(CfgUtil::interpretJSON(output(0, junk)).isEmpty()) << junk.constData();
    EXPECT_EQ(failureOf([] { CfgUtil::interpretJSON(output(4, R"({"Devi)", "device is locked")); }),
              "Устройство заблокировано — разблокируй экран и повтори");
}

TEST(CfgUtilJSON, EcidsAndPerDevicePropertiesOfOddAnswers)
{
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
    tools.setScenario(scenario({
        rule("cfgutil", {"--format", "JSON", "list"}, {out(listAnswer)}),
        rule("cfgutil",
             {"--format", "JSON", "--ecid", "0x970E80428AC26", "get", "name", "deviceType", "firmwareVersion", "UDID",
              "isPaired", "activationState"},
             {out(getAnswer)}),
        matching("cfgutil", "--ecid 0x1A2B3C get", {out(R"({"Type":"Error","Message":"Device went away"})")}),
    }));
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

TEST(DeviceTools, AMissingToolFailsEveryOperationSayingWhatToInstall)
{
    TempHome home;
    const QString cfgutil = "Не найден cfgutil. Поставь Apple Configurator из App Store.";
    const struct {
        std::function<void()> operation;
        QString failure;
    } cases[] = {
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
    for (const auto& c : cases)
        EXPECT_EQ(failureOf(c.operation), c.failure);
}
