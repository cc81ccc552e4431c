#include "config/flat_settings_interface.h"

#include <gtest/gtest.h>

namespace {

AnchorSettings Anchor(bool enabled, const std::string& backhaul) {
    AnchorSettings anchor;
    anchor.SetEnabled(enabled);
    anchor.SetBackhaulType(backhaul);
    return anchor;
}

TagSettings Tag(bool enabled) {
    TagSettings tag;
    tag.SetEnabled(enabled);
    return tag;
}

TEST(FlatSettingsInterfaceTest, CountsActiveWirelessAnchors) {
    Settings settings;
    FlatSettingsInterface flat(&settings);
    EXPECT_EQ(flat.GetNumberOfActiveWirelessAnchors(), 0u);
    flat.SetAnchorList({Anchor(true, ""), Anchor(true, "uwb"), Anchor(true, "wired"), Anchor(false, "uwb"),
                        Anchor(false, ""), Anchor(true, "fibre"), Anchor(true, "Wired")});
    // Empty, unknown and differently cased types count; "wired" and disabled ones do not.
    EXPECT_EQ(flat.GetNumberOfActiveWirelessAnchors(), 4u);
    EXPECT_FALSE(flat.GetAnchorList()[0].IsWireless());
}

TEST(FlatSettingsInterfaceTest, CountsEnabledTags) {
    Settings settings;
    FlatSettingsInterface flat(&settings);
    EXPECT_EQ(flat.GetNumberOfActiveTags(), 0u);
    flat.SetTagList({Tag(true), Tag(false), Tag(true), Tag(true)});
    EXPECT_EQ(flat.GetNumberOfActiveTags(), 3u);
}

TEST(FlatSettingsInterfaceTest, ReadsTheSettingsAsTheyAreAtEachCall) {
    Settings settings;
    FlatSettingsInterface flat(&settings);
    EXPECT_EQ(flat.GetHostSettings(), settings.GetHostSettingsReference());
    EXPECT_EQ(flat.GetRfNtwrkSettings(), settings.GetRfNetworkSettingsReference());
    settings.GetRfNetworkSettingsReference()->SetSyncRate(8.0);
    settings.GetHostSettingsReference()->SetSmoothPositionGuess(true);
    EXPECT_DOUBLE_EQ(flat.GetSyncRate(), 8.0);
    EXPECT_TRUE(flat.GetUseSmoothedPositionGuess());
}

TEST(FlatSettingsInterfaceTest, SettersReachTheEmbeddedObjects) {
    Settings settings;
    FlatSettingsInterface flat(&settings);
    HostSettings* host = settings.GetHostSettingsReference();
    RfNetworkSettings* rf = settings.GetRfNetworkSettingsReference();

    flat.SetAlgorithm("toa");
    flat.SetSmoothingFactor(9);
    flat.SetMinimumNumberOfAnchors(5);
    BoundingBox bounds;
    bounds.SetMaxCoordinates(Coordinates(1, 2, 3));
    flat.SetTagBounds(bounds);
    flat.SetSerialPorts({"ttyUSB0"});
    EXPECT_EQ(host->GetAlgorithm(), "toa");
    EXPECT_EQ(host->GetSmoothingFactor(), 9u);
    EXPECT_EQ(host->GetMinimumNumberOfAnchors(), 5u);
    EXPECT_DOUBLE_EQ(host->GetTagBounds().GetMaxCoordinates().GetY(), 2.0);
    ASSERT_EQ(host->GetSerialPorts().size(), 1u);
    EXPECT_EQ(flat.GetSerialPorts()[0], "ttyUSB0");
    EXPECT_EQ(flat.GetAlgorithm(), "toa");
    EXPECT_EQ(flat.GetSmoothingFactor(), 9u);
    EXPECT_EQ(flat.GetMinimumNumberOfAnchors(), 5u);
    EXPECT_DOUBLE_EQ(flat.GetTagBounds().GetMaxCoordinates().GetZ(), 3.0);

    flat.SetOutputSocketSettings(NetworkSocketSettings("239.0.0.1", 1001, 2, "eth0"));
    flat.SetInputSocketSettings(NetworkSocketSettings("239.0.0.2", 1002, 3, "eth1"));
    flat.SetConfigSocketSettings(NetworkSocketSettings("239.0.0.3", 1003, 4, "eth2"));
    EXPECT_EQ(flat.GetOutputUdpAddress(), "239.0.0.1");
    EXPECT_EQ(flat.GetOutputUdpPort(), 1001);
    EXPECT_EQ(flat.GetOutputUdpTtl(), 2);
    EXPECT_EQ(flat.GetOutputNetworkInterface(), "eth0");
    EXPECT_EQ(flat.GetInputUdpAddress(), "239.0.0.2");
    EXPECT_EQ(flat.GetInputUdpPort(), 1002);
    EXPECT_EQ(flat.GetInputUdpTtl(), 3);
    EXPECT_EQ(flat.GetInputNetworkInterface(), "eth1");
    EXPECT_TRUE(flat.GetConfigSocketSettings() == NetworkSocketSettings("239.0.0.3", 1003, 4, "eth2"));
    EXPECT_TRUE(host->GetOutputSocketSettings() == flat.GetOutputSocketSettings());
    EXPECT_TRUE(host->GetInputSocketSettings() == flat.GetInputSocketSettings());

    sensors_config_t sensors{};
    sensors.gyroscope_scale_code = 3;
    flat.SetSensorSettings(sensors);
    EXPECT_EQ(rf->GetTagSensorConfig().gyroscope_scale_code, 3u);
    EXPECT_EQ(flat.GetSensorSettings().gyroscope_scale_code, 3u);
    cmd_set_rf_settings_t record{};
    record.channel_number = 7;
    flat.SetRfSettings(record);
    EXPECT_EQ(rf->GetRfSettings().channel_number, 7);
    EXPECT_EQ(flat.GetRfSettings().channel_number, 7);
    flat.SetSyncRate(2.5);
    EXPECT_DOUBLE_EQ(rf->GetSyncRate(), 2.5);

    MasterSettings master;
    master.SetSerialNumber(11);
    flat.SetMasterList({master});
    ASSERT_EQ(rf->GetMasters().size(), 1u);
    EXPECT_EQ(flat.GetMasterList()[0].GetSerialNumber(), 11u);
    settings.SetAlienNodeList({AlienNodeSettings(1, record), AlienNodeSettings(2, record)});
    EXPECT_EQ(flat.GetAlienNodeList().size(), 2u);
}

TEST(FlatSettingsInterfaceTest, HostValueGettersDelegate) {
    Settings settings;
    FlatSettingsInterface flat(&settings);
    EXPECT_DOUBLE_EQ(flat.GetVmMinStopThreshold(), 0.005);
    EXPECT_DOUBLE_EQ(flat.GetVmRejectionThreshold(), 0.15);
    EXPECT_DOUBLE_EQ(flat.GetVmVectorGain(), 1.0);
    EXPECT_DOUBLE_EQ(flat.GetMaxTagVelocity(), 200.0);
    EXPECT_DOUBLE_EQ(flat.GetSpeedOfLight(), 299792458.0);
    EXPECT_FALSE(flat.GetUseRdoaSanityCheck());
    EXPECT_FALSE(flat.GetUseSmoothedPositionGuess());
    EXPECT_TRUE(flat.GetUseOcclusionMitigation());
    HostSettings* host = settings.GetHostSettingsReference();
    host->SetVmMinStopThreshold(0.1);
    host->SetVmRejectionThreshold(0.2);
    host->SetVmVectorGain(0.3);
    host->SetMaxTagVelocity(4.0);
    host->SetSpeedOfLight(5.0);
    host->SetUseRdoaSanityCheck(true);
    host->SetUseOcclusionMitigation(false);
    EXPECT_DOUBLE_EQ(flat.GetVmMinStopThreshold(), 0.1);
    EXPECT_DOUBLE_EQ(flat.GetVmRejectionThreshold(), 0.2);
    EXPECT_DOUBLE_EQ(flat.GetVmVectorGain(), 0.3);
    EXPECT_DOUBLE_EQ(flat.GetMaxTagVelocity(), 4.0);
    EXPECT_DOUBLE_EQ(flat.GetSpeedOfLight(), 5.0);
    EXPECT_TRUE(flat.GetUseRdoaSanityCheck());
    EXPECT_FALSE(flat.GetUseOcclusionMitigation());
}

}  // namespace
