#include "config/settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

void ExpectDefaultSocket(const NetworkSocketSettings& socket) {
    EXPECT_EQ(socket.GetAddress(), "239.255.76.67");
    EXPECT_EQ(socket.GetPort(), 7667);
    EXPECT_EQ(socket.GetTtl(), 1);
    EXPECT_EQ(socket.GetNetworkIface(), "lo");
}

// Field by field: the record has padding bytes that a copy need not keep.
bool SameBytes(const cmd_set_rf_settings_t& a, const cmd_set_rf_settings_t& b) {
    return a.type == b.type && a.len == b.len && a.execution_time == b.execution_time &&
           a.timed_flag == b.timed_flag && a.channel_number == b.channel_number && a.prf_flag == b.prf_flag &&
           a.preamble_length_code == b.preamble_length_code &&
           a.second_preamble_code == b.second_preamble_code &&
           a.transmit_preamble_code == b.transmit_preamble_code &&
           a.receive_preamble_code == b.receive_preamble_code && a.setting_byte_7 == b.setting_byte_7 &&
           a.bit_rate_code == b.bit_rate_code && a.setting_byte_9 == b.setting_byte_9 &&
           a.transmit_power_code == b.transmit_power_code;
}

cmd_set_rf_settings_t SomeRfSettings() {
    cmd_set_rf_settings_t rf{};
    rf.type = 0x16;
    rf.len = 20;
    rf.channel_number = 5;
    rf.bit_rate_code = 2;
    rf.transmit_power_code = 0x1F1F1F1F;
    return rf;
}

TEST(SettingsTest, FreshSettingsAreInvalidWithDefaults) {
    Settings settings;
    EXPECT_FALSE(settings.IsValid());
    EXPECT_TRUE(settings.GetAlienNodeList().empty());
    RfNetworkSettings* rf = settings.GetRfNetworkSettingsReference();
    EXPECT_TRUE(rf->GetTags().empty());
    EXPECT_TRUE(rf->GetAnchors().empty());
    EXPECT_TRUE(rf->GetMasters().empty());
    EXPECT_DOUBLE_EQ(rf->GetSyncRate(), 1.0);
    HostSettings* host = settings.GetHostSettingsReference();
    ExpectDefaultSocket(host->GetOutputSocketSettings());
    ExpectDefaultSocket(host->GetInputSocketSettings());
    ExpectDefaultSocket(host->GetConfigSocketSettings());
}

TEST(SettingsTest, HostDefaults) {
    HostSettings host;
    const BoundingBox bounds = host.GetTagBounds();
    EXPECT_DOUBLE_EQ(bounds.GetMinCoordinates().GetX(), 0.0);
    EXPECT_DOUBLE_EQ(bounds.GetMaxCoordinates().GetZ(), 0.0);
    EXPECT_DOUBLE_EQ(host.GetMaxTagVelocity(), 200.0);
    EXPECT_FALSE(host.GetUseRdoaSanityCheck());
    EXPECT_EQ(host.GetAlgorithm(), "");
    EXPECT_FALSE(host.GetSmoothPositionGuess());
    EXPECT_TRUE(host.GetUseOcclusionMitigation());
    EXPECT_DOUBLE_EQ(host.GetVmMinStopThreshold(), 0.005);
    EXPECT_DOUBLE_EQ(host.GetVmVectorGain(), 1.0);
    EXPECT_DOUBLE_EQ(host.GetSpeedOfLight(), 299792458.0);
    EXPECT_EQ(host.GetMinimumNumberOfAnchors(), 4u);
    EXPECT_DOUBLE_EQ(host.GetVmRejectionThreshold(), 0.15);
    EXPECT_EQ(host.GetSmoothingFactor(), 0u);
    EXPECT_TRUE(host.GetSerialPorts().empty());
}

TEST(SettingsTest, OpenFieldsStartAtZero) {
    RfNetworkSettings rf;
    const cmd_set_rf_settings_t zero{};
    EXPECT_TRUE(SameBytes(rf.GetRfSettings(), zero));
    const sensors_config_t sensors = rf.GetTagSensorConfig();
    EXPECT_EQ(sensors.enable_flags, 0);
    EXPECT_EQ(sensors.gyroscope_scale_code, 0u);
    EXPECT_EQ(rf.GetMinimumPacketDuration(), 0u);
    EXPECT_DOUBLE_EQ(rf.GetAnchorPayloadDurationMultiplier(), 0.0);
    EXPECT_DOUBLE_EQ(rf.GetTagPayloadDurationMultiplier(), 0.0);
    EXPECT_EQ(rf.GetPaddingBetweenTagsAndAnchors(), 0u);
    EXPECT_EQ(rf.GetPaddingBeforeSyncPacket(), 0u);
    AnchorSettings anchor;
    EXPECT_DOUBLE_EQ(anchor.GetX(), 0.0);
    EXPECT_EQ(anchor.GetBackhaulType(), "");
    MasterSettings master;
    EXPECT_DOUBLE_EQ(master.GetZ(), 0.0);
    TagSettings tag;
    EXPECT_EQ(tag.GetPayloadSize(), 0);
    EXPECT_EQ(tag.GetSensorSettings().reserved_0, 0);
    EXPECT_EQ(tag.GetSensorSettings().sensors_config.sample_rate_divisor, 0);
}

TEST(SettingsTest, NodeDefaultsAndPointerCopies) {
    NodeSettings node;
    EXPECT_EQ(node.GetSerialNumber(), 0u);
    EXPECT_EQ(node.GetAntennaDelay(), 0u);
    EXPECT_TRUE(node.GetEnabled());

    AnchorSettings anchor;
    anchor.SetSerialNumber(0x01000102);
    anchor.SetAntennaDelay(16400);
    anchor.SetEnabled(false);
    anchor.SetBackhaulType("wired");
    anchor.SetX(1.5);
    anchor.SetY(-2.0);
    anchor.SetZ(3.25);
    AnchorSettings copy(&anchor);
    EXPECT_EQ(copy.GetSerialNumber(), 0x01000102u);
    EXPECT_EQ(copy.GetAntennaDelay(), 16400u);
    EXPECT_FALSE(copy.GetEnabled());
    EXPECT_EQ(copy.GetBackhaulType(), "wired");
    EXPECT_DOUBLE_EQ(copy.GetX(), 1.5);
    EXPECT_DOUBLE_EQ(copy.GetY(), -2.0);
    EXPECT_DOUBLE_EQ(copy.GetZ(), 3.25);

    MasterSettings master;
    master.SetSerialNumber(7);
    master.SetY(9.0);
    MasterSettings master_copy(&master);
    EXPECT_EQ(master_copy.GetSerialNumber(), 7u);
    EXPECT_DOUBLE_EQ(master_copy.GetY(), 9.0);

    NodeSettings node_copy(static_cast<NodeSettings*>(&anchor));
    EXPECT_EQ(node_copy.GetSerialNumber(), 0x01000102u);
    EXPECT_FALSE(node_copy.GetEnabled());

    TagSettings from_null(static_cast<TagSettings*>(nullptr));
    EXPECT_EQ(from_null.GetSerialNumber(), 0u);
    EXPECT_TRUE(from_null.GetEnabled());
}

TEST(SettingsTest, IsWirelessOnlyForUwb) {
    AnchorSettings anchor;
    EXPECT_FALSE(anchor.IsWireless());
    anchor.SetBackhaulType("uwb");
    EXPECT_TRUE(anchor.IsWireless());
    anchor.SetBackhaulType("UWB");
    EXPECT_FALSE(anchor.IsWireless());
    anchor.SetBackhaulType("wired");
    EXPECT_FALSE(anchor.IsWireless());
}

TEST(SettingsTest, AlienNodeIsDisabledWithFixedAntennaDelay) {
    const cmd_set_rf_settings_t rf = SomeRfSettings();
    AlienNodeSettings alien(0x01010005, rf);
    EXPECT_EQ(alien.GetSerialNumber(), 0x01010005u);
    EXPECT_FALSE(alien.GetEnabled());
    EXPECT_EQ(alien.GetAntennaDelay(), 16442u);
    EXPECT_TRUE(SameBytes(alien.GetRfSettings(), rf));
    AlienNodeSettings copy(&alien);
    EXPECT_EQ(copy.GetSerialNumber(), 0x01010005u);
    EXPECT_EQ(copy.GetAntennaDelay(), 16442u);
    EXPECT_TRUE(SameBytes(copy.GetRfSettings(), rf));
}

TEST(SettingsTest, ListsKeepOrderAndGettersReturnCopies) {
    RfNetworkSettings rf;
    for (uint32_t serial : {3u, 1u, 2u, 1u}) {
        TagSettings tag;
        tag.SetSerialNumber(serial);
        rf.AddTag(tag);
    }
    std::vector<TagSettings> tags = rf.GetTags();
    ASSERT_EQ(tags.size(), 4u);
    EXPECT_EQ(tags[0].GetSerialNumber(), 3u);
    EXPECT_EQ(tags[3].GetSerialNumber(), 1u);
    tags[0].SetSerialNumber(99);
    tags.pop_back();
    EXPECT_EQ(rf.GetTags().size(), 4u);
    EXPECT_EQ(rf.GetTags()[0].GetSerialNumber(), 3u);
    rf.SetTags(tags);
    EXPECT_EQ(rf.GetTags().size(), 3u);
    EXPECT_EQ(rf.GetTags()[0].GetSerialNumber(), 99u);
}

TEST(SettingsTest, CopyFromOtherSettingsCopiesEverythingButStoredOnlyValues) {
    Settings source;
    source.MarkValid();
    HostSettings* host = source.GetHostSettingsReference();
    host->SetAlgorithm("toa");
    host->SetSmoothingFactor(12);
    host->SetSerialPorts({"ttyACM0", "ttyACM1"});
    host->SetInputSocketSettings(NetworkSocketSettings("239.1.1.1", 7000, 3, "eth0"));
    RfNetworkSettings* rf = source.GetRfNetworkSettingsReference();
    rf->SetRfSettings(SomeRfSettings());
    rf->SetSyncRate(10.0);
    sensors_config_t sensors{};
    sensors.enable_flags = 0x3F;
    rf->SetTagSensorConfig(sensors);
    rf->SetMinimumPacketDuration(250);
    rf->AddMaster(MasterSettings());
    rf->AddAnchor(AnchorSettings());
    rf->AddAnchor(AnchorSettings());
    source.SetAlienNodeList({AlienNodeSettings(5, SomeRfSettings())});

    Settings copy(&source);
    EXPECT_TRUE(copy.IsValid());
    EXPECT_EQ(copy.GetHostSettingsReference()->GetAlgorithm(), "toa");
    EXPECT_EQ(copy.GetHostSettingsReference()->GetSmoothingFactor(), 12u);
    EXPECT_EQ(copy.GetHostSettingsReference()->GetSerialPorts().size(), 2u);
    EXPECT_TRUE(copy.GetHostSettingsReference()->GetInputSocketSettings() ==
                NetworkSocketSettings("239.1.1.1", 7000, 3, "eth0"));
    RfNetworkSettings* copied_rf = copy.GetRfNetworkSettingsReference();
    EXPECT_TRUE(SameBytes(copied_rf->GetRfSettings(), SomeRfSettings()));
    EXPECT_DOUBLE_EQ(copied_rf->GetSyncRate(), 10.0);
    EXPECT_EQ(copied_rf->GetTagSensorConfig().enable_flags, 0x3F);
    EXPECT_EQ(copied_rf->GetMasters().size(), 1u);
    EXPECT_EQ(copied_rf->GetAnchors().size(), 2u);
    EXPECT_EQ(copy.GetAlienNodeList().size(), 1u);
    // The stored-only values are not part of the copy.
    EXPECT_EQ(copied_rf->GetMinimumPacketDuration(), 0u);

    // Copying an invalid object over a valid one makes it invalid again.
    Settings fresh;
    copy.CopyFromOtherSettings(&fresh);
    EXPECT_FALSE(copy.IsValid());
    EXPECT_TRUE(copy.GetRfNetworkSettingsReference()->GetAnchors().empty());
    EXPECT_TRUE(copy.GetAlienNodeList().empty());
}

// Every host field set away from its default, so that a copy missing one shows.
HostSettings HostWithEveryFieldChanged() {
    HostSettings host;
    BoundingBox bounds;
    bounds.SetMinCoordinates(Coordinates(-1.0, -2.0, -3.0));
    bounds.SetMaxCoordinates(Coordinates(4.0, 5.0, 6.0));
    host.SetTagBounds(bounds);
    host.SetMaxTagVelocity(12.5);
    host.SetUseRdoaSanityCheck(true);
    host.SetOutputSocketSettings(NetworkSocketSettings("239.0.0.1", 1001, 2, "eth0"));
    host.SetInputSocketSettings(NetworkSocketSettings("239.0.0.2", 1002, 3, "eth1"));
    host.SetConfigSocketSettings(NetworkSocketSettings("239.0.0.3", 7670, 4, "eth2"));
    host.SetAlgorithm("toa");
    host.SetSmoothPositionGuess(true);
    host.SetUseOcclusionMitigation(false);
    host.SetVmMinStopThreshold(0.25);
    host.SetVmVectorGain(0.75);
    host.SetSpeedOfLight(299700000.0);
    host.SetMinimumNumberOfAnchors(6);
    host.SetVmRejectionThreshold(0.5);
    host.SetSmoothingFactor(17);
    host.SetSerialPorts({"ttyACM0", "ttyUSB3"});
    return host;
}

void ExpectHostWithEveryFieldChanged(const HostSettings& host) {
    const BoundingBox bounds = host.GetTagBounds();
    EXPECT_DOUBLE_EQ(bounds.GetMinCoordinates().GetX(), -1.0);
    EXPECT_DOUBLE_EQ(bounds.GetMinCoordinates().GetY(), -2.0);
    EXPECT_DOUBLE_EQ(bounds.GetMinCoordinates().GetZ(), -3.0);
    EXPECT_DOUBLE_EQ(bounds.GetMaxCoordinates().GetX(), 4.0);
    EXPECT_DOUBLE_EQ(bounds.GetMaxCoordinates().GetY(), 5.0);
    EXPECT_DOUBLE_EQ(bounds.GetMaxCoordinates().GetZ(), 6.0);
    EXPECT_DOUBLE_EQ(host.GetMaxTagVelocity(), 12.5);
    EXPECT_TRUE(host.GetUseRdoaSanityCheck());
    EXPECT_TRUE(host.GetOutputSocketSettings() == NetworkSocketSettings("239.0.0.1", 1001, 2, "eth0"));
    EXPECT_TRUE(host.GetInputSocketSettings() == NetworkSocketSettings("239.0.0.2", 1002, 3, "eth1"));
    EXPECT_TRUE(host.GetConfigSocketSettings() == NetworkSocketSettings("239.0.0.3", 7670, 4, "eth2"));
    EXPECT_EQ(host.GetAlgorithm(), "toa");
    EXPECT_TRUE(host.GetSmoothPositionGuess());
    EXPECT_FALSE(host.GetUseOcclusionMitigation());
    EXPECT_DOUBLE_EQ(host.GetVmMinStopThreshold(), 0.25);
    EXPECT_DOUBLE_EQ(host.GetVmVectorGain(), 0.75);
    EXPECT_DOUBLE_EQ(host.GetSpeedOfLight(), 299700000.0);
    EXPECT_EQ(host.GetMinimumNumberOfAnchors(), 6u);
    EXPECT_DOUBLE_EQ(host.GetVmRejectionThreshold(), 0.5);
    EXPECT_EQ(host.GetSmoothingFactor(), 17u);
    EXPECT_EQ(host.GetSerialPorts(), (std::vector<std::string>{"ttyACM0", "ttyUSB3"}));
}

TEST(SettingsTest, HostCopyTakesEveryField) {
    HostSettings source = HostWithEveryFieldChanged();
    HostSettings copy;
    copy.CopyFromOtherHostSettings(&source);
    ExpectHostWithEveryFieldChanged(copy);

    Settings settings;
    settings.SetHostSettings(source);
    Settings settings_copy(&settings);
    ExpectHostWithEveryFieldChanged(*settings_copy.GetHostSettingsReference());
}

TEST(SettingsTest, RfNetworkCopyTakesRecordRateSensorsAndListsOnly) {
    RfNetworkSettings source;
    source.SetRfSettings(SomeRfSettings());
    source.SetSyncRate(20.0);
    sensors_config_t sensors{};
    sensors.enable_flags = 0x11;
    sensors.payload_headroom = 300;
    source.SetTagSensorConfig(sensors);
    source.SetMinimumPacketDuration(250);
    source.SetAnchorPayloadDurationMultiplier(1.2);
    source.SetTagPayloadDurationMultiplier(1.3);
    source.SetPaddingBetweenTagsAndAnchors(210);
    source.SetPaddingBeforeSyncPacket(211);
    TagSettings tag;
    tag.SetSerialNumber(0x01010001);
    source.AddTag(tag);
    AnchorSettings anchor;
    anchor.SetSerialNumber(0x01000002);
    source.AddAnchor(anchor);
    MasterSettings master;
    master.SetSerialNumber(0x01000001);
    source.AddMaster(master);

    // The stored-only values of the target stay as they were.
    RfNetworkSettings target;
    target.SetMinimumPacketDuration(1);
    target.SetAnchorPayloadDurationMultiplier(2.0);
    target.SetTagPayloadDurationMultiplier(3.0);
    target.SetPaddingBetweenTagsAndAnchors(4);
    target.SetPaddingBeforeSyncPacket(5);
    target.AddTag(TagSettings());
    target.AddTag(TagSettings());
    target.CopyFromOtherRfNetworkSettings(&source);

    EXPECT_TRUE(SameBytes(target.GetRfSettings(), SomeRfSettings()));
    EXPECT_DOUBLE_EQ(target.GetSyncRate(), 20.0);
    EXPECT_EQ(target.GetTagSensorConfig().enable_flags, 0x11);
    EXPECT_EQ(target.GetTagSensorConfig().payload_headroom, 300);
    ASSERT_EQ(target.GetTags().size(), 1u);
    EXPECT_EQ(target.GetTags()[0].GetSerialNumber(), 0x01010001u);
    ASSERT_EQ(target.GetAnchors().size(), 1u);
    EXPECT_EQ(target.GetAnchors()[0].GetSerialNumber(), 0x01000002u);
    ASSERT_EQ(target.GetMasters().size(), 1u);
    EXPECT_EQ(target.GetMasters()[0].GetSerialNumber(), 0x01000001u);
    EXPECT_EQ(target.GetMinimumPacketDuration(), 1u);
    EXPECT_DOUBLE_EQ(target.GetAnchorPayloadDurationMultiplier(), 2.0);
    EXPECT_DOUBLE_EQ(target.GetTagPayloadDurationMultiplier(), 3.0);
    EXPECT_EQ(target.GetPaddingBetweenTagsAndAnchors(), 4u);
    EXPECT_EQ(target.GetPaddingBeforeSyncPacket(), 5u);
}

TEST(SettingsTest, CopyFromItselfOrNullChangesNothing) {
    Settings settings;
    settings.MarkValid();
    settings.GetHostSettingsReference()->SetAlgorithm("x");
    settings.CopyFromOtherSettings(&settings);
    settings.CopyFromOtherSettings(nullptr);
    EXPECT_TRUE(settings.IsValid());
    EXPECT_EQ(settings.GetHostSettingsReference()->GetAlgorithm(), "x");
}

TEST(SettingsTest, SetHostAndRfNetworkSettingsReplaceEveryField) {
    Settings settings;
    RfNetworkSettings rf;
    rf.SetMinimumPacketDuration(250);
    rf.SetSyncRate(4.0);
    settings.SetRfNetworkSettings(rf);
    EXPECT_EQ(settings.GetRfNetworkSettingsReference()->GetMinimumPacketDuration(), 250u);
    EXPECT_DOUBLE_EQ(settings.GetRfNetworkSettingsReference()->GetSyncRate(), 4.0);
    HostSettings host;
    host.SetSpeedOfLight(1.0);
    settings.SetHostSettings(host);
    EXPECT_DOUBLE_EQ(settings.GetHostSettingsReference()->GetSpeedOfLight(), 1.0);
    EXPECT_FALSE(settings.IsValid());
}

TEST(SettingsTest, GlobalSettingsIsOneInstance) {
    Settings* global = Settings::GlobalSettings();
    ASSERT_NE(global, nullptr);
    EXPECT_EQ(global, Settings::GlobalSettings());
}

}  // namespace
