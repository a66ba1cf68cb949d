#include "device/MuxDiscovery.h"
#include "device/Device.h"

#include "process/ToolError.h"
#include "process/Tools.h"
#include "support/AsyncTest.h"
#include "support/QtPrinters.h"
#include "support/StandinTools.h"
#include "support/TempHome.h"

#include "DeviceTestSupport.h"

#include <QFileInfo>

#include <gtest/gtest.h>

using namespace DeviceTest;

TEST(Device, DerivedIdentityAndSubtitle)
{
    Device cable{"0x970E80428AC26", "00008030-001A", "Анна", "iPhone14,2", "17.1", Device::Link::usb, true};
    EXPECT_EQ(cable.id(), "00008030-001A");
    EXPECT_TRUE(cable.canUseCfgutil());
    EXPECT_EQ(cable.subtitle(), "iPhone14,2 · iOS 17.1 · кабель");

    Device wifi{std::nullopt, "00008030-001A", "Анна", std::nullopt, std::nullopt, Device::Link::wifi, true};
    EXPECT_FALSE(wifi.canUseCfgutil());
    EXPECT_EQ(wifi.subtitle(), "Wi-Fi");

    cable.udid.reset();
    EXPECT_EQ(cable.id(), "0x970E80428AC26");
    cable.link = Device::Link::wifi;
    EXPECT_FALSE(cable.canUseCfgutil());
    cable.ecid.reset();
    EXPECT_EQ(cable.id(), "Анна");
}

TEST(MuxDiscovery, ParsesUdidsTrimmingOnlyBlanks)
{
    EXPECT_EQ(MuxDiscovery::parseUdids(" \tA1 \n\n \t \nB2\t\n"), (QStringList{"A1", "B2"}));
    EXPECT_TRUE(MuxDiscovery::parseUdids("").isEmpty());
}

TEST(MuxDiscovery, NoToolMeansNoDevices)
{
    TempHome home;
    EXPECT_FALSE(MuxDiscovery::isAvailable());
    EXPECT_TRUE(AsyncTest::await(MuxDiscovery().devices()).isEmpty());
}

TEST(MuxDiscovery, MergesCableAndNetworkAndReadsInfoInStableOrder)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory());
    tools.setScenario(scenario({
        rule("idevice_id", {"-l"}, {out("  CCC\t"), out(""), out("AAA")}),
        rule("idevice_id", {"-n"}, {out("BBB"), out("AAA")}),
        rule("ideviceinfo", {"-u", "AAA", "-k", "DeviceName"}, {out("Телефон Анны")}),
        rule("ideviceinfo", {"-u", "AAA", "-k", "ProductType"}, {out("iPhone14,2")}),
        rule("ideviceinfo", {"-u", "AAA", "-k", "ProductVersion"}, {err("ERROR: Could not connect")}, 255),
        rule("ideviceinfo", {"-u", "CCC", "-k", "DeviceName"}, {out("  ")}),
        matching("ideviceinfo", ".", {err("ERROR: Device not found!")}, 255),
    }));
    ASSERT_TRUE(MuxDiscovery::isAvailable());

    const QList<Device> devices = AsyncTest::await(MuxDiscovery().devices());
    ASSERT_EQ(devices.size(), 3);
    EXPECT_EQ(devices[0],
              (Device{std::nullopt, "AAA", "Телефон Анны", "iPhone14,2", std::nullopt, Device::Link::usb, true}));
    EXPECT_EQ(devices[0].subtitle(), "iPhone14,2 · кабель");
    EXPECT_EQ(devices[1], (Device{std::nullopt, "BBB", "BBB", std::nullopt, std::nullopt, Device::Link::wifi, true}));
    EXPECT_EQ(devices[1].subtitle(), "Wi-Fi");
    EXPECT_EQ(devices[2].name, "CCC"); // blank answer keeps the UDID as name
    EXPECT_EQ(devices[2].link, Device::Link::usb);

    // The model compares lists in order: the same phones in another output order are no change.
    tools.setScenario(scenario({
        rule("idevice_id", {"-l"}, {out("AAA"), out("CCC")}),
        rule("idevice_id", {"-n"}, {out("AAA"), out("BBB")}),
        matching("ideviceinfo", ".", {}, 1),
    }));
    QStringList ids;
    for (const Device& device : AsyncTest::await(MuxDiscovery().devices()))
        ids.append(device.id());
    EXPECT_EQ(ids, (QStringList{"AAA", "BBB", "CCC"}));
}

TEST(MuxDiscovery, FailingFlagContributesNothingAndMissingInfoToolIsNoError)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory(), {"idevice_id"});
    tools.setScenario(scenario({
        rule("idevice_id", {"-l"}, {err("ERROR: Unable to retrieve device list!")}, 255),
        rule("idevice_id", {"-n"}, {out("NET1")}),
    }));
    const QList<Device> devices = AsyncTest::await(MuxDiscovery().devices());
    ASSERT_EQ(devices.size(), 1);
    EXPECT_EQ(devices[0].name, "NET1");
    EXPECT_EQ(devices[0].link, Device::Link::wifi);
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

TEST(MuxDiscovery, RealToolsWithoutPhoneGiveNoDevices)
{
    if (!QFileInfo::exists("/usr/bin/idevice_id") || !QFileInfo::exists("/usr/bin/ideviceinfo"))
        GTEST_SKIP() << "libimobiledevice tools are not installed";
    TempHome home;
    Tools::setSystemToolsSearched(true);
    // Real idevice_id: "ERROR: Unable to retrieve device list!", exit 255.
    EXPECT_TRUE(AsyncTest::await(MuxDiscovery().devices()).isEmpty());

    // A phone that idevice_id claims but the real ideviceinfo cannot reach is named by its UDID.
    StandinTools tools(home.resourceDirectory(), {"idevice_id"});
    tools.setScenario(scenario({
        rule("idevice_id", {"-l"}, {out("00008030-000000000000DEAD")}),
        rule("idevice_id", {"-n"}, {}, 255),
    }));
    const QList<Device> devices = AsyncTest::await(MuxDiscovery().devices());
    ASSERT_EQ(devices.size(), 1);
    EXPECT_EQ(devices[0].name, "00008030-000000000000DEAD");
    EXPECT_EQ(devices[0].subtitle(), "кабель");
}
