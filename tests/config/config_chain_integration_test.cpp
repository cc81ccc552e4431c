// The whole loading chain on the sample files and on the repository's default.cfg:
// load, upgrade, validate, convert, write, and read the written file back.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "base/serial_number.h"
#include "config/config_file_loader.h"
#include "config/config_read.h"
#include "config/settings.h"
#include "config/settings_to_config_file_writer.h"
#include "config/settings_to_json_converter.h"
#include "support/stdout_capture.h"

namespace {

const uint32_t kServerB = 0x01020002;

std::string SampleFile(const char* name) {
    return std::string(VORAV_TEST_DATA_DIR "/config/") + name;
}

std::string DefaultFile() {
    return std::string(VORAV_SOURCE_DIR "/default.cfg");
}

// The loading chain with a loader of the test's own (its server uid, no /etc file).
bool LoadChain(const std::string& path, uint32_t server_uid, Settings* settings, std::string* printed) {
    StdoutCapture capture;
    ConfigFileLoader loader("/nonexistent/vorav/server_uid");
    loader.SetServerUid(server_uid);
    const bool valid = ReadConfig(&loader, path, settings);
    *printed = capture.Stop();
    return valid;
}

QByteArray ReadFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path;
    return file.readAll();
}

void ExpectSocketsEqual(const NetworkSocketSettings& actual, const NetworkSocketSettings& expected,
                        const char* name) {
    EXPECT_TRUE(actual == expected) << name << ": " << actual.GetAddress() << ":" << actual.GetPort()
                                    << " ttl " << actual.GetTtl() << " " << actual.GetNetworkIface();
}

void ExpectNodeRoundTrip(const NodeSettings& reread, const NodeSettings& original) {
    EXPECT_EQ(reread.GetSerialNumber(), original.GetSerialNumber());
    // A delay beyond the signed 32-bit range is written but not read back.
    const uint32_t delay = original.GetAntennaDelay();
    EXPECT_EQ(reread.GetAntennaDelay(), delay > 2147483647u ? 0u : delay);
    EXPECT_EQ(reread.GetEnabled(), original.GetEnabled());
}

uint32_t FilterCodeAfterRoundTrip(uint32_t code, bool is_gyroscope) {
    if (code > 6 || (is_gyroscope && code == 0))
        return 6;
    return code;
}

// A written file read back gives the original settings except for the documented
// losses: bounds through a division and multiplication by 1000, delays and smoothing
// factors above the signed 32-bit range, gyroscope filter code 0 and filter codes above
// 6, the values that are not written (back to their defaults), the network byte, the
// PAC code (derived again) and the alien nodes.
void ExpectRoundTrip(Settings* reread, Settings* original) {
    HostSettings* host = reread->GetHostSettingsReference();
    HostSettings* host_original = original->GetHostSettingsReference();
    EXPECT_TRUE(reread->IsValid());
    EXPECT_EQ(host->GetAlgorithm(), host_original->GetAlgorithm());
    const uint32_t smoothing = host_original->GetSmoothingFactor();
    EXPECT_EQ(host->GetSmoothingFactor(), smoothing > 2147483647u ? 0u : smoothing);
    ExpectSocketsEqual(host->GetOutputSocketSettings(), host_original->GetOutputSocketSettings(), "output");
    ExpectSocketsEqual(host->GetInputSocketSettings(), host_original->GetInputSocketSettings(), "input");
    ExpectSocketsEqual(host->GetConfigSocketSettings(),
                       NetworkSocketSettings("239.255.76.67", 7670, 1,
                                             host_original->GetConfigSocketSettings().GetNetworkIface()),
                       "config");
    EXPECT_EQ(host->GetSerialPorts(), host_original->GetSerialPorts());
    const BoundingBox bounds = host->GetTagBounds();
    const BoundingBox bounds_original = host_original->GetTagBounds();
    const Coordinates corners[] = {bounds.GetMinCoordinates(), bounds.GetMaxCoordinates()};
    const Coordinates corners_original[] = {bounds_original.GetMinCoordinates(),
                                            bounds_original.GetMaxCoordinates()};
    for (int i = 0; i < 2; ++i) {
        EXPECT_DOUBLE_EQ(corners[i].GetX(), corners_original[i].GetX());
        EXPECT_DOUBLE_EQ(corners[i].GetY(), corners_original[i].GetY());
        EXPECT_DOUBLE_EQ(corners[i].GetZ(), corners_original[i].GetZ());
    }
    EXPECT_EQ(host->GetMaxTagVelocity(), 200.0);
    EXPECT_EQ(host->GetVmMinStopThreshold(), 0.005);
    EXPECT_EQ(host->GetVmRejectionThreshold(), 0.15);
    EXPECT_TRUE(host->GetUseOcclusionMitigation());
    EXPECT_FALSE(host->GetSmoothPositionGuess());
    EXPECT_EQ(host->GetVmVectorGain(), 1.0);
    EXPECT_FALSE(host->GetUseRdoaSanityCheck());
    EXPECT_EQ(host->GetSpeedOfLight(), 299792458.0);
    EXPECT_EQ(host->GetMinimumNumberOfAnchors(), 4u);

    RfNetworkSettings* network = reread->GetRfNetworkSettingsReference();
    RfNetworkSettings* network_original = original->GetRfNetworkSettingsReference();
    EXPECT_EQ(network->GetSyncRate(), network_original->GetSyncRate());
    EXPECT_EQ(network->GetMinimumPacketDuration(), 250u);
    EXPECT_EQ(network->GetPaddingBeforeSyncPacket(), 210u);
    EXPECT_EQ(network->GetPaddingBetweenTagsAndAnchors(), 210u);
    EXPECT_DOUBLE_EQ(network->GetAnchorPayloadDurationMultiplier(), 1.2);
    EXPECT_DOUBLE_EQ(network->GetTagPayloadDurationMultiplier(), 1.2);

    const cmd_set_rf_settings_t rf = network->GetRfSettings();
    const cmd_set_rf_settings_t rf_original = network_original->GetRfSettings();
    EXPECT_EQ(rf.type, 0x16);
    EXPECT_EQ(rf.len, 20);
    EXPECT_EQ(rf.execution_time, 0u);
    EXPECT_EQ(rf.timed_flag, 0);
    EXPECT_EQ(rf.channel_number, rf_original.channel_number);
    EXPECT_EQ(rf.prf_flag, rf_original.prf_flag);
    EXPECT_EQ(rf.preamble_length_code, rf_original.preamble_length_code);
    EXPECT_EQ(rf.second_preamble_code, rf_original.second_preamble_code);
    EXPECT_EQ(rf.transmit_preamble_code, rf_original.receive_preamble_code);
    EXPECT_EQ(rf.receive_preamble_code, rf_original.receive_preamble_code);
    EXPECT_EQ(rf.bit_rate_code, rf_original.bit_rate_code);
    EXPECT_EQ(rf.setting_byte_7, 1);
    EXPECT_EQ(rf.setting_byte_9, 1);
    EXPECT_EQ(rf.transmit_power_code, rf_original.transmit_power_code);

    const sensors_config_t sensors = network->GetTagSensorConfig();
    const sensors_config_t sensors_original = network_original->GetTagSensorConfig();
    EXPECT_EQ(sensors.enable_flags, sensors_original.enable_flags);
    EXPECT_EQ(sensors.gyroscope_scale_code, sensors_original.gyroscope_scale_code);
    EXPECT_EQ(sensors.gyroscope_filter_code,
              FilterCodeAfterRoundTrip(sensors_original.gyroscope_filter_code, true));
    EXPECT_EQ(sensors.accelerometer_scale_code, sensors_original.accelerometer_scale_code);
    EXPECT_EQ(sensors.accelerometer_filter_code,
              FilterCodeAfterRoundTrip(sensors_original.accelerometer_filter_code, false));
    EXPECT_EQ(sensors.sample_rate_divisor, sensors_original.sample_rate_divisor);
    EXPECT_EQ(sensors.subsample_rate_divisor, sensors_original.subsample_rate_divisor);
    EXPECT_EQ(sensors.payload_headroom, sensors_original.payload_headroom);

    const std::vector<MasterSettings> masters = network->GetMasters();
    const std::vector<MasterSettings> masters_original = network_original->GetMasters();
    ASSERT_EQ(masters.size(), masters_original.size());
    for (size_t i = 0; i < masters.size(); ++i) {
        ExpectNodeRoundTrip(masters[i], masters_original[i]);
        EXPECT_EQ(masters[i].GetX(), masters_original[i].GetX());
        EXPECT_EQ(masters[i].GetY(), masters_original[i].GetY());
        EXPECT_EQ(masters[i].GetZ(), masters_original[i].GetZ());
    }
    const std::vector<AnchorSettings> anchors = network->GetAnchors();
    const std::vector<AnchorSettings> anchors_original = network_original->GetAnchors();
    ASSERT_EQ(anchors.size(), anchors_original.size());
    for (size_t i = 0; i < anchors.size(); ++i) {
        ExpectNodeRoundTrip(anchors[i], anchors_original[i]);
        EXPECT_EQ(anchors[i].GetBackhaulType(), anchors_original[i].GetBackhaulType());
        EXPECT_EQ(anchors[i].GetX(), anchors_original[i].GetX());
        EXPECT_EQ(anchors[i].GetY(), anchors_original[i].GetY());
        EXPECT_EQ(anchors[i].GetZ(), anchors_original[i].GetZ());
    }
    const std::vector<TagSettings> tags = network->GetTags();
    const std::vector<TagSettings> tags_original = network_original->GetTags();
    ASSERT_EQ(tags.size(), tags_original.size());
    for (size_t i = 0; i < tags.size(); ++i)
        ExpectNodeRoundTrip(tags[i], tags_original[i]);

    EXPECT_TRUE(reread->GetAlienNodeList().empty());
}

class ConfigChainTest : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override { ASSERT_TRUE(directory_.isValid()); }

    std::string Path() const {
        const std::string name = GetParam();
        return name == "default.cfg" ? DefaultFile() : SampleFile(GetParam());
    }

    QTemporaryDir directory_;
};

}  // namespace

TEST_P(ConfigChainTest, LoadsCleanlyAndRoundTripsThroughAWrittenFile) {
    Settings loaded;
    std::string printed;
    ASSERT_TRUE(LoadChain(Path(), kServerB, &loaded, &printed)) << printed;
    EXPECT_EQ(printed, "");

    const std::string written_path = directory_.filePath("written.cfg").toStdString();
    ASSERT_TRUE(SettingsToConfigFileWriter().WriteSettingsToJsonFile(&loaded, written_path));
    Settings reread;
    ASSERT_TRUE(LoadChain(written_path, kServerB, &reread, &printed)) << printed;
    EXPECT_EQ(printed, "");
    ExpectRoundTrip(&reread, &loaded);

    // What is written once comes back unchanged: writing again gives the same bytes.
    const std::string rewritten_path = directory_.filePath("rewritten.cfg").toStdString();
    ASSERT_TRUE(SettingsToConfigFileWriter().WriteSettingsToJsonFile(&reread, rewritten_path));
    EXPECT_EQ(ReadFile(rewritten_path), ReadFile(written_path));
}

INSTANTIATE_TEST_SUITE_P(SampleFiles, ConfigChainTest,
                         ::testing::Values("version1.cfg", "version2.cfg", "version3.cfg", "per_server.cfg",
                                           "default.cfg"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             return name.substr(0, name.find('.'));
                         });

TEST(ConfigChainFiles, VersionOneFileGivesItsDevicesAndTheFixedRfSettings) {
    Settings settings;
    std::string printed;
    ASSERT_TRUE(LoadChain(SampleFile("version1.cfg"), 0, &settings, &printed)) << printed;
    HostSettings* host = settings.GetHostSettingsReference();
    RfNetworkSettings* network = settings.GetRfNetworkSettingsReference();
    EXPECT_EQ(host->GetAlgorithm(), "rtls_vm");
    EXPECT_EQ(host->GetOutputSocketSettings().GetPort(), 7000);
    EXPECT_EQ(host->GetInputSocketSettings().GetPort(), 7000);
    EXPECT_EQ(host->GetConfigSocketSettings().GetPort(), 7670);
    EXPECT_EQ(host->GetSerialPorts(), std::vector<std::string>{"/dev/ttyACM0"});
    EXPECT_EQ(host->GetTagBounds().GetMaxCoordinates().GetX(), 11000.0);
    EXPECT_EQ(host->GetTagBounds().GetMinCoordinates().GetY(), -1000.0);
    EXPECT_EQ(network->GetSyncRate(), 20.0);
    const cmd_set_rf_settings_t rf = network->GetRfSettings();
    EXPECT_EQ(rf.channel_number, 5);
    EXPECT_EQ(rf.bit_rate_code, 2);  // the number 6.8 is no bit-rate text
    EXPECT_EQ(rf.prf_flag, 0);
    EXPECT_EQ(rf.preamble_length_code, 0);
    EXPECT_EQ(rf.receive_preamble_code, 4);
    EXPECT_EQ(rf.transmit_power_code, 0x08080808u);
    const sensors_config_t sensors = network->GetTagSensorConfig();
    EXPECT_EQ(sensors.enable_flags, 0);
    // The fixed payload's 5 Hz filters are no table rate: code 6 for both.
    EXPECT_EQ(sensors.accelerometer_filter_code, 6u);
    EXPECT_EQ(sensors.gyroscope_filter_code, 6u);
    EXPECT_EQ(sensors.sample_rate_divisor, 9);
    ASSERT_EQ(network->GetMasters().size(), 1u);
    ASSERT_EQ(network->GetAnchors().size(), 4u);
    ASSERT_EQ(network->GetTags().size(), 2u);
    EXPECT_EQ(network->GetMasters()[0].GetSerialNumber(), 0x01000001u);
    EXPECT_EQ(network->GetMasters()[0].GetAntennaDelay(), 16336u);
    EXPECT_EQ(network->GetAnchors()[3].GetSerialNumber(), 0x01000014u);
    EXPECT_EQ(network->GetAnchors()[3].GetBackhaulType(), "uwb");
    EXPECT_EQ(network->GetTags()[1].GetSerialNumber(), 0x01010022u);
    EXPECT_EQ(network->GetTags()[1].GetAntennaDelay(), 16336u);
}

TEST(ConfigChainFiles, VersionTwoFileKeepsItsOptionsSocketsAndNodes) {
    Settings settings;
    std::string printed;
    ASSERT_TRUE(LoadChain(SampleFile("version2.cfg"), 0, &settings, &printed)) << printed;
    HostSettings* host = settings.GetHostSettingsReference();
    RfNetworkSettings* network = settings.GetRfNetworkSettingsReference();
    EXPECT_TRUE(host->GetSmoothPositionGuess());
    EXPECT_FALSE(host->GetUseOcclusionMitigation());
    EXPECT_EQ(host->GetVmVectorGain(), 0.8);
    EXPECT_EQ(host->GetVmMinStopThreshold(), 0.0);  // a text in version 2 becomes 0
    EXPECT_EQ(host->GetSmoothingFactor(), 7u);
    ExpectSocketsEqual(host->GetOutputSocketSettings(),
                       NetworkSocketSettings("239.255.76.70", 7700, 2, "eth0"), "output");
    ExpectSocketsEqual(host->GetInputSocketSettings(), NetworkSocketSettings("239.255.76.71", 7701, 0, "lo"),
                       "input");
    ExpectSocketsEqual(host->GetConfigSocketSettings(),
                       NetworkSocketSettings("239.255.76.67", 7670, 1, "eth1"), "config");
    EXPECT_EQ(network->GetSyncRate(), 12.5);
    EXPECT_EQ(network->GetRfSettings().bit_rate_code, 1);
    EXPECT_EQ(network->GetRfSettings().preamble_length_code, 4);
    EXPECT_EQ(network->GetRfSettings().transmit_power_code, 0x15355575u);
    EXPECT_EQ(network->GetTagSensorConfig().enable_flags, 0);  // the fixed payload wins
    const std::vector<AnchorSettings> anchors = network->GetAnchors();
    ASSERT_EQ(anchors.size(), 4u);
    EXPECT_EQ(anchors[1].GetBackhaulType(), "wired");
    EXPECT_FALSE(anchors[2].GetEnabled());
    EXPECT_FALSE(network->GetTags()[1].GetEnabled());
}

TEST(ConfigChainFiles, PerServerFileGivesThisServersNetworkAndOthersAsAliens) {
    Settings settings;
    std::string printed;
    ASSERT_TRUE(LoadChain(SampleFile("per_server.cfg"), kServerB, &settings, &printed)) << printed;
    RfNetworkSettings* network = settings.GetRfNetworkSettingsReference();
    EXPECT_EQ(network->GetRfSettings().channel_number, 5);
    ASSERT_EQ(network->GetMasters().size(), 1u);
    EXPECT_EQ(network->GetMasters()[0].GetSerialNumber(), 0x01000001u);

    // Servers A and C, in file order: tags, anchors, then the master of each.
    const std::vector<AlienNodeSettings> aliens = settings.GetAlienNodeList();
    ASSERT_EQ(aliens.size(), 14u);
    const uint32_t first_of_a[] = {0x01010121u, 0x01010122u, 0x01000111u, 0x01000112u,
                                   0x01000113u, 0x01000114u, 0x01000101u};
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(aliens[i].GetSerialNumber(), first_of_a[i]) << i;
        EXPECT_EQ(aliens[i].GetRfSettings().channel_number, 2);
        EXPECT_EQ(aliens[i + 7].GetSerialNumber(), first_of_a[i] + 0x100) << i;
        EXPECT_EQ(aliens[i + 7].GetRfSettings().channel_number, 3);
    }
    for (const AlienNodeSettings& alien : aliens) {
        EXPECT_FALSE(alien.GetEnabled());
        EXPECT_EQ(alien.GetAntennaDelay(), 16442u);
        EXPECT_EQ(alien.GetRfSettings().timed_flag, 1);
    }

    // On another server the same file gives that server's own network.
    ASSERT_TRUE(LoadChain(SampleFile("per_server.cfg"), 0x01020003, &settings, &printed)) << printed;
    EXPECT_EQ(network->GetRfSettings().channel_number, 3);
    EXPECT_EQ(network->GetMasters()[0].GetSerialNumber(), 0x01000201u);
}

TEST(ConfigChainFiles, DefaultFileDescribesTheSimulatedRoom) {
    Settings settings;
    std::string printed;
    ASSERT_TRUE(LoadChain(DefaultFile(), 0, &settings, &printed)) << printed;
    HostSettings* host = settings.GetHostSettingsReference();
    RfNetworkSettings* network = settings.GetRfNetworkSettingsReference();
    const NetworkSocketSettings stream("239.255.76.67", 7667, 1, "lo");
    ExpectSocketsEqual(host->GetOutputSocketSettings(), stream, "output");
    ExpectSocketsEqual(host->GetInputSocketSettings(), stream, "input");
    ExpectSocketsEqual(host->GetConfigSocketSettings(), NetworkSocketSettings("239.255.76.67", 7670, 1, "lo"),
                       "config");

    const std::vector<MasterSettings> masters = network->GetMasters();
    const std::vector<AnchorSettings> anchors = network->GetAnchors();
    const std::vector<TagSettings> tags = network->GetTags();
    ASSERT_EQ(masters.size(), 1u);
    ASSERT_GE(anchors.size(), 4u);
    ASSERT_EQ(tags.size(), 2u);
    std::vector<uint32_t> serials{masters[0].GetSerialNumber()};
    std::set<double> heights;
    for (const AnchorSettings& anchor : anchors) {
        EXPECT_TRUE(anchor.GetEnabled());
        EXPECT_TRUE(anchor.IsWireless());
        EXPECT_TRUE(anchor.GetZ() > 0.0 && anchor.GetZ() <= 3.0) << anchor.GetZ();
        heights.insert(anchor.GetZ());
        EXPECT_TRUE(anchor.GetX() == 0.0 || anchor.GetX() == 10.0);
        EXPECT_TRUE(anchor.GetY() == 0.0 || anchor.GetY() == 8.0);
        serials.push_back(anchor.GetSerialNumber());
    }
    // Anchors all at one height leave the tags' height poorly determined.
    EXPECT_GE(heights.size(), 2u);
    for (const TagSettings& tag : tags)
        serials.push_back(tag.GetSerialNumber());
    for (uint32_t serial : serials)
        EXPECT_TRUE(SerialNumber_IsValid(serial)) << serial;
    // The master hangs on a wall of the 10 m x 8 m room.
    const MasterSettings& master = masters[0];
    EXPECT_TRUE(master.GetX() == 0.0 || master.GetX() == 10.0 || master.GetY() == 0.0 ||
                master.GetY() == 8.0);
    const BoundingBox bounds = host->GetTagBounds();
    EXPECT_LE(bounds.GetMinCoordinates().GetX(), 0.0);
    EXPECT_GE(bounds.GetMaxCoordinates().GetX(), 10000.0);
    EXPECT_LE(bounds.GetMinCoordinates().GetY(), 0.0);
    EXPECT_GE(bounds.GetMaxCoordinates().GetY(), 8000.0);
    EXPECT_GT(network->GetSyncRate(), 0.0);
}

TEST(ConfigChainFiles, DefaultFileIsInTheWrittenForm) {
    // Saving the default configuration unchanged must not rewrite it.
    const QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    Settings settings;
    std::string printed;
    ASSERT_TRUE(LoadChain(DefaultFile(), 0, &settings, &printed)) << printed;
    const std::string path = directory.filePath("default.cfg").toStdString();
    ASSERT_TRUE(SettingsToConfigFileWriter().WriteSettingsToJsonFile(&settings, path));
    EXPECT_EQ(ReadFile(path), ReadFile(DefaultFile()));
}

TEST(ConfigChainFiles, RefusedLoadLeavesTheSettingsAsTheyWere) {
    const QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const std::string path = directory.filePath("no_network.cfg").toStdString();
    {
        QFile file(QString::fromStdString(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        // A version-3 object whose network section is missing.
        QByteArray text = ReadFile(SampleFile("version3.cfg"));
        text.replace("\"network\"", "\"netwerk\"");
        file.write(text);
    }
    Settings settings;
    std::string printed;
    ASSERT_TRUE(LoadChain(DefaultFile(), 0, &settings, &printed));
    const QJsonObject before = SettingsToJsonConverter().ConvertSettingsToJson(&settings);
    EXPECT_FALSE(LoadChain(path, 0, &settings, &printed));
    EXPECT_EQ(printed, "Config: `network` section missing\n");
    EXPECT_FALSE(LoadChain(SampleFile("does_not_exist.cfg"), 0, &settings, &printed));
    EXPECT_EQ(SettingsToJsonConverter().ConvertSettingsToJson(&settings), before);
}

// The chain hands back the object it validated: a version-1 file comes back upgraded,
// as the upgrader alone makes it; a file that is not read gives an empty object.
TEST(ConfigChainFiles, HandsBackTheUpgradedObject) {
    ConfigFileLoader loader("/nonexistent/vorav/server_uid");
    Settings settings;
    QJsonObject config;
    StdoutCapture capture;
    ASSERT_TRUE(ReadConfig(&loader, SampleFile("version1.cfg"), &settings, &config));
    const QJsonDocument expected = QJsonDocument::fromJson(ReadFile(SampleFile("version1_upgraded.json")));
    EXPECT_EQ(config, expected.object());
    EXPECT_FALSE(ReadConfig(&loader, SampleFile("does_not_exist.cfg"), &settings, &config));
    EXPECT_TRUE(config.isEmpty());
    EXPECT_EQ(capture.Stop(), "Unable to open configuration file " + SampleFile("does_not_exist.cfg") + "\n");
}
