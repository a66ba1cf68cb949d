#include "device/MuxDiscovery.h"
#include "device/Device.h"

#include "process/ToolError.h"
#include "process/Tools.h"
#include "support/AsyncTest.h"
#include "support/QtPrinters.h"
#include "support/StandinTools.h"
#include "support/TempHome.h"

#include "DeviceTestSupport.h"

#include <gtest/gtest.h>

using namespace DeviceTest;

TEST(Device, IdentityFallsBackFromUdidToEcidToNameAndOnlyCablePhonesUseCfgutil)
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
}

TEST(MuxDiscovery, ParsesTheListingAndTheTopLevelOfInfo)
{
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
    tools.setScenario(scenario({
        both,
        rule("ideviceinfo", {"-u", "AAA"}, {out("DeviceName: Телефон Анны"), out("ProductType: iPhone14,2")}),
        rule("ideviceinfo", {"-u", "BBB", "-n"},
             {err("ERROR: Could not connect to lockdownd: Pairing dialog response pending (-19)")}, 255),
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
    EXPECT_EQ(AsyncTest::await(discovery.devices()).at(0).name, "Снова");
    EXPECT_EQ(tools.calls("ideviceinfo").size(), 4);
}

TEST(MuxDiscovery, UnstartableToolFailsWithTheRunnersError)
{
    TempHome home;
    // Executable for the lookup, but not a program the system can start.
    QFile file(home.resourceDirectory() + "/idevice_id");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\x7f"
               "ELF garbage");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_THROW(AsyncTest::await(MuxDiscovery().devices()), ToolError);
}
