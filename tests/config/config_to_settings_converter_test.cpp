#include "config/config_to_settings_converter.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <string>
#include <vector>

#include "config/settings.h"

namespace {

QJsonObject WithNetwork(const QJsonObject& network) {
    return QJsonObject{{"network", network}};
}

QJsonObject WithHost(const QJsonObject& host) {
    return QJsonObject{{"host", host}};
}

QJsonObject WithRf(const QJsonObject& rf) {
    return WithNetwork(QJsonObject{{"rf settings", QJsonArray{rf}}});
}

QJsonObject WithMpu(const QJsonObject& mpu) {
    return WithNetwork(QJsonObject{{"tag payload", QJsonObject{{"mpu", mpu}}}});
}

class ConfigToSettingsConverterTest : public ::testing::Test {
  protected:
    Settings* Convert(const QJsonObject& config) {
        return ConfigToSettingsConverter::ConvertConfigToSettings(&settings_, config);
    }
    HostSettings* Host() { return settings_.GetHostSettingsReference(); }
    RfNetworkSettings* Network() { return settings_.GetRfNetworkSettingsReference(); }
    cmd_set_rf_settings_t Rf() { return Network()->GetRfSettings(); }
    sensors_config_t Sensors() { return Network()->GetTagSensorConfig(); }

    void ExpectSocket(const NetworkSocketSettings& socket, const char* address, uint16_t port, uint16_t ttl,
                      const char* network_iface) {
        EXPECT_EQ(socket.GetAddress(), address);
        EXPECT_EQ(socket.GetPort(), port);
        EXPECT_EQ(socket.GetTtl(), ttl);
        EXPECT_EQ(socket.GetNetworkIface(), network_iface);
    }

    // The record of an RF object without keys.
    void ExpectDefaultRfRecord() {
        const cmd_set_rf_settings_t rf = Rf();
        EXPECT_EQ(rf.type, 0x16);
        EXPECT_EQ(rf.len, 20);
        EXPECT_EQ(rf.execution_time, 0u);
        EXPECT_EQ(rf.timed_flag, 0);
        EXPECT_EQ(rf.channel_number, 0);
        EXPECT_EQ(rf.prf_flag, 0);
        EXPECT_EQ(rf.preamble_length_code, 0);
        EXPECT_EQ(rf.second_preamble_code, 0);
        EXPECT_EQ(rf.transmit_preamble_code, 0);
        EXPECT_EQ(rf.receive_preamble_code, 0);
        EXPECT_EQ(rf.setting_byte_7, 1);
        EXPECT_EQ(rf.bit_rate_code, 2);
        EXPECT_EQ(rf.setting_byte_9, 1);
        EXPECT_EQ(rf.transmit_power_code, 0xFF0808FFu);
    }

    void ExpectDefaults() {
        EXPECT_TRUE(settings_.IsValid());
        EXPECT_EQ(Host()->GetAlgorithm(), "");
        ExpectSocket(Host()->GetOutputSocketSettings(), "239.255.76.67", 7667, 1, "lo");
        ExpectSocket(Host()->GetInputSocketSettings(), "239.255.76.67", 7667, 1, "lo");
        ExpectSocket(Host()->GetConfigSocketSettings(), "239.255.76.67", 7670, 1, "lo");
        EXPECT_EQ(Host()->GetSmoothingFactor(), 0u);
        const BoundingBox bounds = Host()->GetTagBounds();
        for (double value : {bounds.GetMaxCoordinates().GetX(), bounds.GetMaxCoordinates().GetY(),
                             bounds.GetMaxCoordinates().GetZ()})
            EXPECT_EQ(value, 1e9);
        for (double value : {bounds.GetMinCoordinates().GetX(), bounds.GetMinCoordinates().GetY(),
                             bounds.GetMinCoordinates().GetZ()})
            EXPECT_EQ(value, -1e9);
        EXPECT_EQ(Host()->GetMaxTagVelocity(), 200.0);
        EXPECT_EQ(Host()->GetVmMinStopThreshold(), 0.005);
        EXPECT_EQ(Host()->GetVmRejectionThreshold(), 0.15);
        EXPECT_TRUE(Host()->GetUseOcclusionMitigation());
        EXPECT_FALSE(Host()->GetSmoothPositionGuess());
        EXPECT_EQ(Host()->GetVmVectorGain(), 1.0);
        EXPECT_FALSE(Host()->GetUseRdoaSanityCheck());
        EXPECT_EQ(Host()->GetSpeedOfLight(), 299792458.0);
        EXPECT_EQ(Host()->GetMinimumNumberOfAnchors(), 4u);
        EXPECT_TRUE(Host()->GetSerialPorts().empty());

        ExpectDefaultRfRecord();

        EXPECT_EQ(Network()->GetSyncRate(), 0.0);
        EXPECT_TRUE(Network()->GetMasters().empty());
        EXPECT_TRUE(Network()->GetAnchors().empty());
        EXPECT_TRUE(Network()->GetTags().empty());
        EXPECT_EQ(Network()->GetMinimumPacketDuration(), 250u);
        EXPECT_EQ(Network()->GetPaddingBeforeSyncPacket(), 210u);
        EXPECT_EQ(Network()->GetPaddingBetweenTagsAndAnchors(), 210u);
        EXPECT_DOUBLE_EQ(Network()->GetAnchorPayloadDurationMultiplier(), 1.2);
        EXPECT_DOUBLE_EQ(Network()->GetTagPayloadDurationMultiplier(), 1.2);

        const sensors_config_t sensors = Sensors();
        EXPECT_EQ(sensors.enable_flags, 0);
        EXPECT_EQ(sensors.gyroscope_scale_code, 0u);
        EXPECT_EQ(sensors.gyroscope_filter_code, 6u);
        EXPECT_EQ(sensors.accelerometer_scale_code, 0u);
        EXPECT_EQ(sensors.accelerometer_filter_code, 6u);
        EXPECT_EQ(sensors.sample_rate_divisor, 9);
        EXPECT_EQ(sensors.subsample_rate_divisor, 1);
        EXPECT_EQ(sensors.payload_headroom, 0);

        EXPECT_TRUE(settings_.GetAlienNodeList().empty());
    }

    Settings settings_;
};

}  // namespace

TEST_F(ConfigToSettingsConverterTest, EmptyObjectGivesEveryDefault) {
    EXPECT_EQ(Convert(QJsonObject{}), &settings_);
    ExpectDefaults();
}

TEST_F(ConfigToSettingsConverterTest, SectionsOfTheWrongTypeGiveEveryDefault) {
    Convert(
        QJsonObject{{"host", QJsonArray{1}}, {"network", "x"}, {"known networks", QJsonObject{{"a", 1}}}});
    ExpectDefaults();
    Convert(QJsonObject{
        {"host", QJsonObject{{"multicast", 1}, {"default tag bounds", true}, {"serial ports", 3}}},
        {"network", QJsonObject{{"rf settings", QJsonObject{}},
                                {"masters", 1},
                                {"tag payload", QJsonArray{}},
                                {"scheduler options", "10"}}}});
    ExpectDefaults();
}

TEST_F(ConfigToSettingsConverterTest, ConvertingOverwritesSettingsInUse) {
    Convert(QJsonObject{
        {"host", QJsonObject{{"algorithm", "x"}, {"min anchors", 9}, {"serial ports", QJsonArray{"/dev/a"}}}},
        {"network", QJsonObject{{"masters", QJsonArray{QJsonObject{}}},
                                {"anchors", QJsonArray{QJsonObject{}, QJsonObject{}}},
                                {"tags", QJsonArray{QJsonObject{}}},
                                {"min pkt duration", 1}}},
        {"known networks", QJsonArray{QJsonObject{{"nodes", QJsonArray{QJsonObject{}}},
                                                  {"rf settings", QJsonArray{QJsonObject{}}}}}}});
    ASSERT_EQ(Network()->GetAnchors().size(), 2u);
    ASSERT_EQ(settings_.GetAlienNodeList().size(), 1u);
    Convert(QJsonObject{});
    ExpectDefaults();
}

TEST_F(ConfigToSettingsConverterTest, IntegersAreWholeNumbersWithinInt32KeepingTheirLowBits) {
    const struct {
        QJsonValue port;
        uint16_t expected;
    } cases[] = {
        {QJsonValue(70000), 4464},        {QJsonValue(-1), 65535},        {QJsonValue(7000.5), 7667},
        {QJsonValue("7000"), 7667},       {QJsonValue(true), 7667},       {QJsonValue(2147483647.0), 65535},
        {QJsonValue(2147483648.0), 7667}, {QJsonValue(-2147483648.0), 0}, {QJsonValue(1e300), 7667}};
    for (const auto& test_case : cases) {
        Convert(WithHost(QJsonObject{
            {"multicast", QJsonObject{{"external socket", QJsonObject{{"port", test_case.port}}}}}}));
        EXPECT_EQ(Host()->GetOutputSocketSettings().GetPort(), test_case.expected)
            << test_case.port.toDouble();
    }
    Convert(WithHost(QJsonObject{{"smoothing factor", -1}, {"min anchors", 4294967295.0}}));
    EXPECT_EQ(Host()->GetSmoothingFactor(), 0xFFFFFFFFu);
    EXPECT_EQ(Host()->GetMinimumNumberOfAnchors(), 4u);
    Convert(WithNetwork(QJsonObject{{"tag payload", QJsonObject{{"headroom", 70000}}}}));
    EXPECT_EQ(Sensors().payload_headroom, 4464);
}

TEST_F(ConfigToSettingsConverterTest, HostKeysAreReadWithTheirTypes) {
    Convert(WithHost(QJsonObject{{"algorithm", "rtls_vm"},
                                 {"max tag velocity", 3},
                                 {"vm min stop", "1"},
                                 {"use occlusion mitigation", 0},
                                 {"smooth guess", true},
                                 {"use rdoa insanity", "true"},
                                 {"speed of light", 3e8},
                                 {"serial ports", QJsonArray{"/dev/a", 5, "/dev/a"}}}));
    EXPECT_EQ(Host()->GetAlgorithm(), "rtls_vm");
    EXPECT_EQ(Host()->GetMaxTagVelocity(), 3.0);
    EXPECT_EQ(Host()->GetVmMinStopThreshold(), 0.005);
    EXPECT_TRUE(Host()->GetUseOcclusionMitigation());
    EXPECT_TRUE(Host()->GetSmoothPositionGuess());
    EXPECT_FALSE(Host()->GetUseRdoaSanityCheck());
    EXPECT_EQ(Host()->GetSpeedOfLight(), 3e8);
    EXPECT_EQ(Host()->GetSerialPorts(), (std::vector<std::string>{"/dev/a", "", "/dev/a"}));
}

TEST_F(ConfigToSettingsConverterTest, ConfigSocketPortIsAlways7670) {
    Convert(WithHost(QJsonObject{
        {"multicast",
         QJsonObject{{"config socket", QJsonObject{{"address", "239.1.1.1"}, {"port", 9999}, {"ttl", 4}}},
                     {"internal socket", QJsonObject{{"address", "239.2.2.2"}, {"interface", "eth0"}}}}}}));
    ExpectSocket(Host()->GetConfigSocketSettings(), "239.1.1.1", 7670, 4, "lo");
    ExpectSocket(Host()->GetInputSocketSettings(), "239.2.2.2", 7667, 1, "eth0");
}

TEST_F(ConfigToSettingsConverterTest, TagBoundsAreMetresStoredAsMillimetres) {
    Convert(WithHost(QJsonObject{
        {"default tag bounds",
         QJsonObject{
             {"maxx", 10.5}, {"maxy", 8}, {"maxz", "3"}, {"minx", -1}, {"miny", -0.25}, {"minz", 0}}}}));
    const BoundingBox bounds = Host()->GetTagBounds();
    EXPECT_EQ(bounds.GetMaxCoordinates().GetX(), 10500.0);
    EXPECT_EQ(bounds.GetMaxCoordinates().GetY(), 8000.0);
    EXPECT_EQ(bounds.GetMaxCoordinates().GetZ(), 1e9);
    EXPECT_EQ(bounds.GetMinCoordinates().GetX(), -1000.0);
    EXPECT_EQ(bounds.GetMinCoordinates().GetY(), -250.0);
    EXPECT_EQ(bounds.GetMinCoordinates().GetZ(), 0.0);
}

TEST_F(ConfigToSettingsConverterTest, RfObjectFillsTheRecord) {
    Convert(WithNetwork(QJsonObject{{"rf settings", QJsonArray{QJsonObject{{"channel", 261},
                                                                           {"tx power", "0x1f1f1f1f"},
                                                                           {"preamble code", 9},
                                                                           {"bit rate", "850 kbps"},
                                                                           {"prf", 64},
                                                                           {"preamble length", 1024}},
                                                               QJsonObject{{"channel", 2}}}}}));
    const cmd_set_rf_settings_t rf = Rf();
    EXPECT_EQ(rf.type, 0x16);
    EXPECT_EQ(rf.len, 20);
    EXPECT_EQ(rf.timed_flag, 0);
    EXPECT_EQ(rf.channel_number, 5);
    EXPECT_EQ(rf.prf_flag, 1);
    EXPECT_EQ(rf.preamble_length_code, 4);
    EXPECT_EQ(rf.second_preamble_code, 2);
    EXPECT_EQ(rf.transmit_preamble_code, 9);
    EXPECT_EQ(rf.receive_preamble_code, 9);
    EXPECT_EQ(rf.setting_byte_7, 1);
    EXPECT_EQ(rf.bit_rate_code, 1);
    EXPECT_EQ(rf.setting_byte_9, 1);
    EXPECT_EQ(rf.transmit_power_code, 0x1F1F1F1Fu);
}

TEST_F(ConfigToSettingsConverterTest, EmptyRfSettingsArrayGivesTheDefaultRecord) {
    Convert(
        WithRf(QJsonObject{{"channel", 2}, {"prf", 64}, {"preamble length", 4096}, {"preamble code", 9}}));
    ASSERT_EQ(Rf().channel_number, 2);
    Convert(WithNetwork(QJsonObject{{"rf settings", QJsonArray{}}}));
    ExpectDefaultRfRecord();
}

TEST_F(ConfigToSettingsConverterTest, BitRateAndPrfMatchExactly) {
    const struct {
        QJsonValue bit_rate;
        uint8_t code;
    } bit_rates[] = {{QJsonValue("110 kbps"), 0}, {QJsonValue("850 kbps"), 1}, {QJsonValue("850kbps"), 2},
                     {QJsonValue("110 KBPS"), 2}, {QJsonValue("6.8 Mbps"), 2}, {QJsonValue(6.8), 2}};
    for (const auto& test_case : bit_rates) {
        Convert(WithRf(QJsonObject{{"bit rate", test_case.bit_rate}}));
        EXPECT_EQ(Rf().bit_rate_code, test_case.code) << test_case.bit_rate.toString().toStdString();
    }
    Convert(WithRf(QJsonObject{{"prf", "64"}}));
    EXPECT_EQ(Rf().prf_flag, 0);
    Convert(WithRf(QJsonObject{{"prf", 16}}));
    EXPECT_EQ(Rf().prf_flag, 0);
    Convert(WithRf(QJsonObject{{"prf", 64.0}}));
    EXPECT_EQ(Rf().prf_flag, 1);
}

TEST_F(ConfigToSettingsConverterTest, PreambleLengthGivesLengthAndPacCodes) {
    const struct {
        int length;
        uint8_t length_code;
        uint8_t pac_code;
    } cases[] = {{64, 0, 0},   {128, 1, 0},  {256, 2, 1},  {512, 3, 1}, {1024, 4, 2},
                 {2048, 6, 3}, {4096, 7, 3}, {1536, 0, 0}, {0, 0, 0},   {-64, 0, 0}};
    for (const auto& test_case : cases) {
        Convert(WithRf(QJsonObject{{"preamble length", test_case.length}}));
        EXPECT_EQ(Rf().preamble_length_code, test_case.length_code) << test_case.length;
        EXPECT_EQ(Rf().second_preamble_code, test_case.pac_code) << test_case.length;
    }
}

TEST_F(ConfigToSettingsConverterTest, TagPayloadFillsSensorRecord) {
    Convert(WithNetwork(QJsonObject{
        {"tag payload",
         QJsonObject{{"headroom", 7},
                     {"mpu", QJsonObject{{"send accel", true},
                                         {"accel dlpf rate", 92},
                                         {"accel scale", 16},
                                         {"send gyro", true},
                                         {"gyro dlpf rate", 10},
                                         {"gyro scale", 2000},
                                         {"send magnetometer", 1},
                                         {"send quat", true},
                                         {"sample rate divisor", 20},
                                         {"subsample rate divisor", 3}}},
                     {"barometer", QJsonObject{{"send pressure", false}, {"send temperature", true}}}}}}));
    const sensors_config_t sensors = Sensors();
    EXPECT_EQ(sensors.enable_flags, 0x01 | 0x02 | 0x08 | 0x20);
    EXPECT_EQ(sensors.accelerometer_filter_code, 2u);
    EXPECT_EQ(sensors.accelerometer_scale_code, 3u);
    EXPECT_EQ(sensors.gyroscope_filter_code, 5u);
    EXPECT_EQ(sensors.gyroscope_scale_code, 3u);
    EXPECT_EQ(sensors.sample_rate_divisor, 19);
    EXPECT_EQ(sensors.subsample_rate_divisor, 3);
    EXPECT_EQ(sensors.payload_headroom, 7);
}

TEST_F(ConfigToSettingsConverterTest, FilterRatesMapToCodesAndGyroscopeHasNoCodeZero) {
    const int rates[] = {460, 184, 92, 41, 20, 10, 5, 0, 1000};
    const uint32_t accelerometer_codes[] = {0, 1, 2, 3, 4, 5, 6, 6, 6};
    const uint32_t gyroscope_codes[] = {6, 1, 2, 3, 4, 5, 6, 6, 6};
    for (size_t i = 0; i < sizeof(rates) / sizeof(rates[0]); ++i) {
        Convert(WithMpu(QJsonObject{{"accel dlpf rate", rates[i]}, {"gyro dlpf rate", rates[i]}}));
        EXPECT_EQ(Sensors().accelerometer_filter_code, accelerometer_codes[i]) << rates[i];
        EXPECT_EQ(Sensors().gyroscope_filter_code, gyroscope_codes[i]) << rates[i];
    }
}

TEST_F(ConfigToSettingsConverterTest, ScalesGiveTruncatedLogarithms) {
    const struct {
        int scale;
        uint32_t code;
    } accelerometer[] = {{2, 0},           {4, 1},           {8, 2}, {16, 3}, {3, 0},
                         {1, 0xFFFFFFFFu}, {2147483647, 29}, {0, 0}, {-8, 0}};
    for (const auto& test_case : accelerometer) {
        Convert(WithMpu(QJsonObject{{"accel scale", test_case.scale}}));
        EXPECT_EQ(Sensors().accelerometer_scale_code, test_case.code) << test_case.scale;
    }
    const struct {
        int scale;
        uint32_t code;
    } gyroscope[] = {{250, 0},
                     {500, 1},
                     {1000, 2},
                     {2000, 3},
                     {750, 1},
                     {100, 0xFFFFFFFFu},
                     {1, static_cast<uint32_t>(-7)},
                     {2147483647, 23},
                     {0, 0},
                     {-250, 0}};
    for (const auto& test_case : gyroscope) {
        Convert(WithMpu(QJsonObject{{"gyro scale", test_case.scale}}));
        EXPECT_EQ(Sensors().gyroscope_scale_code, test_case.code) << test_case.scale;
    }
}

TEST_F(ConfigToSettingsConverterTest, DivisorsWrapToOneByte) {
    const struct {
        int sample_rate;
        uint8_t sample_rate_byte;
        int subsample;
        uint8_t subsample_byte;
    } cases[] = {
        {1, 0, 0, 1}, {0, 255, 256, 1}, {257, 0, 257, 1}, {-2147483647 - 1, 255, -1, 255}, {10, 9, 2, 2}};
    for (const auto& test_case : cases) {
        Convert(WithMpu(QJsonObject{{"sample rate divisor", test_case.sample_rate},
                                    {"subsample rate divisor", test_case.subsample}}));
        EXPECT_EQ(Sensors().sample_rate_divisor, test_case.sample_rate_byte) << test_case.sample_rate;
        EXPECT_EQ(Sensors().subsample_rate_divisor, test_case.subsample_byte) << test_case.subsample;
    }
}

TEST_F(ConfigToSettingsConverterTest, NodesKeepFileOrderAndDuplicates) {
    const QJsonObject master{
        {"serial number", "01:00:0001"}, {"antenna delay", 16450}, {"x", 1.5}, {"y", 2}, {"z", 3}};
    Convert(WithNetwork(QJsonObject{
        {"masters", QJsonArray{master, master}},
        {"anchors",
         QJsonArray{QJsonObject{{"serial number", 16777233}, {"backhaul", "wired"}, {"enabled", false}},
                    QJsonObject{{"serial number", "0x01000012"}, {"enabled", 0}, {"backhaul", 1}}, 7}},
        {"tags", QJsonArray{QJsonObject{{"serial number", "01:01:0021"}, {"antenna delay", -1}, {"x", 4}},
                            QJsonObject{{"serial number", 1.5}}}},
        {"scheduler options", QJsonObject{{"tag rate", 12.5}}}}));

    const std::vector<MasterSettings> masters = Network()->GetMasters();
    ASSERT_EQ(masters.size(), 2u);
    for (const MasterSettings& m : masters) {
        EXPECT_EQ(m.GetSerialNumber(), 0x01000001u);
        EXPECT_EQ(m.GetAntennaDelay(), 16450u);
        EXPECT_TRUE(m.GetEnabled());
        EXPECT_EQ(m.GetX(), 1.5);
        EXPECT_EQ(m.GetY(), 2.0);
        EXPECT_EQ(m.GetZ(), 3.0);
    }
    const std::vector<AnchorSettings> anchors = Network()->GetAnchors();
    ASSERT_EQ(anchors.size(), 3u);
    EXPECT_EQ(anchors[0].GetSerialNumber(), 0x01000011u);
    EXPECT_EQ(anchors[0].GetBackhaulType(), "wired");
    EXPECT_FALSE(anchors[0].GetEnabled());
    EXPECT_EQ(anchors[1].GetSerialNumber(), 0x01000012u);
    EXPECT_EQ(anchors[1].GetBackhaulType(), "uwb");
    EXPECT_TRUE(anchors[1].GetEnabled());
    // An element that is not an object is an anchor with every default.
    EXPECT_EQ(anchors[2].GetSerialNumber(), 0u);
    EXPECT_EQ(anchors[2].GetAntennaDelay(), 0u);
    EXPECT_EQ(anchors[2].GetBackhaulType(), "uwb");
    EXPECT_EQ(anchors[2].GetX(), 0.0);
    const std::vector<TagSettings> tags = Network()->GetTags();
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(tags[0].GetSerialNumber(), 0x01010021u);
    EXPECT_EQ(tags[0].GetAntennaDelay(), 0xFFFFFFFFu);
    EXPECT_EQ(tags[1].GetSerialNumber(), 0u);
    EXPECT_EQ(Network()->GetSyncRate(), 12.5);
}

TEST_F(ConfigToSettingsConverterTest, NodeWithoutSerialNumberGetsZero) {
    Convert(WithNetwork(QJsonObject{{"masters", QJsonArray{QJsonObject{{"antenna delay", 16442}, {"x", 1}}}},
                                    {"tags", QJsonArray{QJsonObject{{"antenna delay", 7}}}}}));
    ASSERT_EQ(Network()->GetMasters().size(), 1u);
    EXPECT_EQ(Network()->GetMasters()[0].GetSerialNumber(), 0u);
    EXPECT_EQ(Network()->GetMasters()[0].GetAntennaDelay(), 16442u);
    EXPECT_EQ(Network()->GetMasters()[0].GetX(), 1.0);
    ASSERT_EQ(Network()->GetTags().size(), 1u);
    EXPECT_EQ(Network()->GetTags()[0].GetSerialNumber(), 0u);
    EXPECT_EQ(Network()->GetTags()[0].GetAntennaDelay(), 7u);
}

TEST_F(ConfigToSettingsConverterTest, KnownNetworksBecomeDisabledAlienNodes) {
    const QJsonObject first{
        {"server uid", "01:02:0001"},
        {"nodes", QJsonArray{QJsonObject{{"serial number", "01:00:0101"}, {"enabled", true}},
                             QJsonObject{{"serial number", 16777474}, {"antenna delay", 1}},
                             QJsonObject{{"serial number", "01:01:0121"}}}},
        {"rf settings",
         QJsonArray{QJsonObject{{"channel", 2}, {"preamble length", 256}}, QJsonObject{{"channel", 3}}}}};
    const QJsonObject second{{"nodes", QJsonArray{QJsonObject{{"serial number", "01:00:0201"}}}},
                             {"rf settings", QJsonArray{}}};
    Convert(QJsonObject{{"known networks", QJsonArray{first, second}}});

    const std::vector<AlienNodeSettings> aliens = settings_.GetAlienNodeList();
    ASSERT_EQ(aliens.size(), 4u);
    const uint32_t serials[] = {0x01000101u, 0x01000102u, 0x01010121u, 0x01000201u};
    for (size_t i = 0; i < aliens.size(); ++i) {
        EXPECT_EQ(aliens[i].GetSerialNumber(), serials[i]);
        EXPECT_FALSE(aliens[i].GetEnabled());
        EXPECT_EQ(aliens[i].GetAntennaDelay(), 16442u);
        EXPECT_EQ(aliens[i].GetRfSettings().timed_flag, 1);
        EXPECT_EQ(aliens[i].GetRfSettings().type, 0x16);
    }
    EXPECT_EQ(aliens[0].GetRfSettings().channel_number, 2);
    EXPECT_EQ(aliens[0].GetRfSettings().preamble_length_code, 2);
    EXPECT_EQ(aliens[0].GetRfSettings().second_preamble_code, 1);
    EXPECT_EQ(aliens[3].GetRfSettings().channel_number, 0);
    EXPECT_EQ(aliens[3].GetRfSettings().transmit_power_code, 0xFF0808FFu);
    // The own network's record keeps network byte 0.
    EXPECT_EQ(Rf().timed_flag, 0);

    Convert(QJsonObject{{"known networks", QJsonArray{second}}});
    ASSERT_EQ(settings_.GetAlienNodeList().size(), 1u);
    EXPECT_EQ(settings_.GetAlienNodeList()[0].GetSerialNumber(), 0x01000201u);
}
