// Sites: the default site agrees with the repository's default.cfg, a site's
// server configuration loads back through the server's own chain as the same
// devices, site files are refused with a reason, and motions go where they say.
#include "simulator/sim_site.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <cmath>
#include <cstdio>

#include "base/serial_number.h"
#include "config/config_file_loader.h"
#include "config/config_read.h"
#include "config/settings.h"

namespace {

const std::string kDefaultSite = std::string(VORAV_SOURCE_DIR) + "/tools/simulator/default_site.json";
const std::string kDefaultConfig = std::string(VORAV_SOURCE_DIR) + "/default.cfg";

std::string TempPath(const std::string& stem) {
    return "/tmp/" + stem + "-" + std::to_string(getpid());
}

void WriteFile(const std::string& path, const std::string& text) {
    FILE* file = fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fputs(text.c_str(), file);
    fclose(file);
}

// A configuration file read as the server reads it.
Settings LoadAsServer(const std::string& path) {
    ConfigFileLoader loader("/dev/null");
    Settings settings;
    EXPECT_TRUE(ReadConfig(&loader, path, &settings)) << path;
    return settings;
}

TEST(SimSiteTest, DefaultSiteIsDefaultCfgWithTheMasterOnTheSerialPortItNames) {
    sim_site_t site;
    Settings settings;
    std::string error;
    ASSERT_TRUE(LoadSimSite(kDefaultSite, "", &site, &settings, &error)) << error;
    Settings config = LoadAsServer(kDefaultConfig);
    RfNetworkSettings* network = config.GetRfNetworkSettingsReference();
    ASSERT_EQ(site.devices.size(),
              network->GetMasters().size() + network->GetAnchors().size() + network->GetTags().size());

    std::vector<std::string> usb_paths;
    for (const auto& device : site.devices) {
        if (device.link == SimLinkKind::kUsb)
            usb_paths.push_back(device.usb_path);
        EXPECT_NE(device.link, SimLinkKind::kEthernet);
    }
    EXPECT_EQ(config.GetHostSettingsReference()->GetSerialPorts(), usb_paths);
    const sim_device_t* master = site.Find(network->GetMasters().at(0).GetSerialNumber());
    ASSERT_NE(master, nullptr);
    EXPECT_EQ(master->role, SimRole::kMaster);
    EXPECT_EQ(master->link, SimLinkKind::kUsb);
    for (const auto& anchor : network->GetAnchors()) {
        const sim_device_t* device = site.Find(anchor.GetSerialNumber());
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(device->role, SimRole::kAnchor);
        EXPECT_EQ(device->link == SimLinkKind::kNone, anchor.IsWireless())
            << SerialNumber_ToString(anchor.GetSerialNumber());
        EXPECT_DOUBLE_EQ(device->position.GetX(), anchor.GetX());
        EXPECT_DOUBLE_EQ(device->position.GetY(), anchor.GetY());
        EXPECT_DOUBLE_EQ(device->position.GetZ(), anchor.GetZ());
    }
    for (const auto& tag : network->GetTags())
        EXPECT_EQ(site.Find(tag.GetSerialNumber())->role, SimRole::kTag);
    EXPECT_DOUBLE_EQ(site.speed_of_light, config.GetHostSettingsReference()->GetSpeedOfLight());
}

TEST(SimSiteTest, WrittenServerConfigurationLoadsBackAsTheSitesDevicesAndPorts) {
    sim_site_t site;
    Settings settings;
    std::string error;
    ASSERT_TRUE(LoadSimSite(kDefaultSite, "", &site, &settings, &error)) << error;
    // Two anchors attached: one over USB, one over Ethernet; both are wired backhaul to the server.
    site.devices[1].link = SimLinkKind::kUsb;
    site.devices[1].usb_path = "/tmp/vorav-sim-anchor-11";
    site.devices[2].link = SimLinkKind::kEthernet;
    site.devices[3].position = Coordinates(9.5, 0.25, 2.0);
    const std::string path = TempPath("vorav-sim-written.cfg");
    ASSERT_TRUE(WriteServerConfigForSite(site, &settings, path));

    Settings written = LoadAsServer(path);
    remove(path.c_str());
    EXPECT_EQ(written.GetHostSettingsReference()->GetSerialPorts(),
              (std::vector<std::string>{"/tmp/vorav-sim-master", "/tmp/vorav-sim-anchor-11"}));
    const auto anchors = written.GetRfNetworkSettingsReference()->GetAnchors();
    ASSERT_EQ(anchors.size(), 4u);
    EXPECT_EQ(anchors[0].GetBackhaulType(), "wired");
    EXPECT_EQ(anchors[1].GetBackhaulType(), "wired");
    EXPECT_EQ(anchors[2].GetBackhaulType(), "uwb");
    EXPECT_DOUBLE_EQ(anchors[2].GetX(), 9.5);
    EXPECT_DOUBLE_EQ(anchors[2].GetY(), 0.25);
    // What the site does not hold stays as the configuration had it.
    EXPECT_EQ(anchors[0].GetAntennaDelay(), 16442u);
    EXPECT_EQ(written.GetRfNetworkSettingsReference()->GetTags().size(), 2u);
    EXPECT_DOUBLE_EQ(written.GetRfNetworkSettingsReference()->GetSyncRate(),
                     settings.GetRfNetworkSettingsReference()->GetSyncRate());
}

TEST(SimSiteTest, SiteFilesThatCannotDescribeTheSiteAreRefusedWithTheReason) {
    const std::string path = TempPath("vorav-sim-site.json");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"devices": {"01:00:0099": {}}})", "01:00:0099 is not in"},
        {R"({"devices": {"01:01:0021": {"link": "usb", "path": "/tmp/x"}}})", "tags talk over the air only"},
        {R"({"devices": {"01:00:0001": {"link": "usb"}}})", "a USB link needs a \"path\""},
        {R"({"devices": {"01:00:0011": {"link": "serial"}}})", "unknown link serial"},
        {R"({"devices": {"01:01:0022": {"motion": {"kind": "spiral"}}}})", "unknown motion spiral"},
        {R"({"devices": {"01:01:0022": {"motion": {"kind": "circle", "period s": 0}}}})", "positive"},
        {"[1, 2]", "not a JSON object"},
    };
    for (const auto& c : cases) {
        WriteFile(path, c.first);
        sim_site_t site;
        Settings settings;
        std::string error;
        EXPECT_FALSE(LoadSimSite(path, kDefaultConfig, &site, &settings, &error)) << c.first;
        EXPECT_NE(error.find(c.second), std::string::npos) << error;
    }
    WriteFile(path, "{}");
    sim_site_t site;
    Settings settings;
    std::string error;
    EXPECT_FALSE(LoadSimSite(path, "", &site, &settings, &error));
    EXPECT_NE(error.find("no server configuration"), std::string::npos) << error;
    remove(path.c_str());
}

TEST(SimSiteTest, MotionsPassThroughTheirPointsAtTheRightTimes) {
    sim_device_t tag;
    tag.position = Coordinates(1, 1, 1);
    tag.motion.kind = SimMotionKind::kCircle;
    tag.motion.centre = Coordinates(5, 4, 1.5);
    tag.motion.radius = 2.0;
    tag.motion.period_s = 20.0;
    Coordinates p = SimDevicePosition(tag, 5.0);  // a quarter turn
    EXPECT_NEAR(p.GetX(), 5.0, 1e-9);
    EXPECT_NEAR(p.GetY(), 6.0, 1e-9);
    EXPECT_NEAR(p.GetZ(), 1.5, 1e-9);
    for (double t = 0.0; t < 40.0; t += 0.7)
        EXPECT_NEAR(SimDevicePosition(tag, t).CalculateDistanceBetween(tag.motion.centre), 2.0, 1e-9);

    tag.motion.kind = SimMotionKind::kLine;
    tag.motion.end = Coordinates(5, 1, 1);
    EXPECT_NEAR(SimDevicePosition(tag, 0.0).GetX(), 1.0, 1e-9);
    EXPECT_NEAR(SimDevicePosition(tag, 5.0).GetX(), 3.0, 1e-9);
    EXPECT_NEAR(SimDevicePosition(tag, 10.0).GetX(), 5.0, 1e-9);
    EXPECT_NEAR(SimDevicePosition(tag, 15.0).GetX(), 3.0, 1e-9);
    EXPECT_NEAR(SimDevicePosition(tag, 20.0).GetX(), 1.0, 1e-9);

    tag.motion.kind = SimMotionKind::kStatic;
    EXPECT_NEAR(SimDevicePosition(tag, 123.0).CalculateDistanceBetween(tag.position), 0.0, 1e-12);
}

}  // namespace
