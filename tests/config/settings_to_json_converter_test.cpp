#include "config/settings_to_json_converter.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <cmath>

#include "config/config_to_settings_converter.h"
#include "config/settings.h"

namespace {

class SettingsToJsonConverterTest : public ::testing::Test {
  protected:
    const QJsonObject Convert() { return SettingsToJsonConverter().ConvertSettingsToJson(&settings_); }
    HostSettings* Host() { return settings_.GetHostSettingsReference(); }
    RfNetworkSettings* Network() { return settings_.GetRfNetworkSettingsReference(); }

    void SetRf(void (*change)(cmd_set_rf_settings_t&)) {
        cmd_set_rf_settings_t rf{};
        change(rf);
        Network()->SetRfSettings(rf);
    }
    QJsonObject RfObject() { return Convert()["network"]["rf settings"][0].toObject(); }

    void SetSensors(void (*change)(sensors_config_t&)) {
        sensors_config_t sensors{};
        change(sensors);
        Network()->SetTagSensorConfig(sensors);
    }
    QJsonObject Mpu() { return Convert()["network"]["tag payload"]["mpu"].toObject(); }

    Settings settings_;
};

}  // namespace

TEST_F(SettingsToJsonConverterTest, WritesTheVersionThreeLayout) {
    const QJsonObject config = Convert();
    EXPECT_EQ(config.keys(), (QStringList{"host", "network", "vsn"}));
    EXPECT_EQ(config["vsn"], QJsonValue(3));
    EXPECT_EQ(config["host"].toObject().keys(), (QStringList{"algorithm", "default tag bounds", "multicast",
                                                             "serial ports", "smoothing factor"}));
    EXPECT_EQ(config["network"].toObject().keys(),
              (QStringList{"anchors", "masters", "rf settings", "scheduler options", "tag payload", "tags"}));
    EXPECT_EQ(config["network"]["rf settings"].toArray().size(), 1);
    EXPECT_EQ(config["network"]["tag payload"].toObject().keys(),
              (QStringList{"barometer", "headroom", "mpu"}));
}

TEST_F(SettingsToJsonConverterTest, EmptyNodeListsAreWrittenAsEmptyArrays) {
    const QJsonObject network = Convert()["network"].toObject();
    for (const char* list : {"masters", "anchors", "tags"}) {
        ASSERT_TRUE(network[list].isArray()) << list;
        EXPECT_TRUE(network[list].toArray().isEmpty()) << list;
    }
}

TEST_F(SettingsToJsonConverterTest, NodesCarrySerialTextDelayEnabledAndPosition) {
    AnchorSettings anchor;
    anchor.SetSerialNumber(0x0100ab12);
    anchor.SetAntennaDelay(0xFFFFFFFF);
    anchor.SetEnabled(false);
    anchor.SetBackhaulType("wired");
    anchor.SetX(1.25);
    anchor.SetY(-2);
    anchor.SetZ(3);
    Network()->AddAnchor(anchor);
    MasterSettings master;
    master.SetSerialNumber(1);
    Network()->AddMaster(master);
    TagSettings tag;
    tag.SetSerialNumber(0x01010021);
    tag.SetAntennaDelay(16442);
    Network()->AddTag(tag);

    const QJsonObject network = Convert()["network"].toObject();
    EXPECT_EQ(network["anchors"][0].toObject(), (QJsonObject{{"serial number", "01:00:AB12"},
                                                             {"antenna delay", 4294967295.0},
                                                             {"enabled", false},
                                                             {"backhaul", "wired"},
                                                             {"x", 1.25},
                                                             {"y", -2},
                                                             {"z", 3}}));
    EXPECT_EQ(network["masters"][0].toObject(), (QJsonObject{{"serial number", "00:00:0001"},
                                                             {"antenna delay", 0},
                                                             {"enabled", true},
                                                             {"x", 0},
                                                             {"y", 0},
                                                             {"z", 0}}));
    EXPECT_EQ(network["tags"][0].toObject(),
              (QJsonObject{{"serial number", "01:01:0021"}, {"antenna delay", 16442}, {"enabled", true}}));
}

TEST_F(SettingsToJsonConverterTest, TransmitPowerIsLowerCaseHexWithoutPrefix) {
    SetRf([](cmd_set_rf_settings_t& rf) { rf.transmit_power_code = 0xFF0808FF; });
    EXPECT_EQ(RfObject()["tx power"], QJsonValue("ff0808ff"));
    EXPECT_EQ(ConfigToSettingsConverter::ConvertRfConfigToSetRfSettingsCmd(RfObject()).transmit_power_code,
              0xFF0808FFu);
    SetRf([](cmd_set_rf_settings_t& rf) { rf.transmit_power_code = 0; });
    EXPECT_EQ(RfObject()["tx power"], QJsonValue("0"));
    EXPECT_EQ(ConfigToSettingsConverter::ConvertRfConfigToSetRfSettingsCmd(RfObject()).transmit_power_code,
              0u);
    SetRf([](cmd_set_rf_settings_t& rf) { rf.transmit_power_code = 0x000A; });
    EXPECT_EQ(RfObject()["tx power"], QJsonValue("a"));
}

TEST_F(SettingsToJsonConverterTest, RfCodesBecomeTheFileValues) {
    const int lengths[] = {64, 128, 256, 512, 1024, 2048, 2048, 4096};
    for (uint8_t code = 0; code < 8; ++code) {
        cmd_set_rf_settings_t rf{};
        rf.preamble_length_code = code;
        Network()->SetRfSettings(rf);
        EXPECT_EQ(RfObject()["preamble length"], QJsonValue(lengths[code])) << int(code);
    }
    SetRf([](cmd_set_rf_settings_t& rf) {
        rf.prf_flag = 1;
        rf.bit_rate_code = 1;
        rf.channel_number = 7;
        rf.transmit_preamble_code = 3;
        rf.receive_preamble_code = 11;
    });
    QJsonObject object = RfObject();
    EXPECT_EQ(object["prf"], QJsonValue(64));
    EXPECT_EQ(object["bit rate"], QJsonValue("850 kbps"));
    EXPECT_EQ(object["channel"], QJsonValue(7));
    EXPECT_EQ(object["preamble code"], QJsonValue(11));
    SetRf([](cmd_set_rf_settings_t& rf) { rf.bit_rate_code = 2; });
    object = RfObject();
    EXPECT_EQ(object["prf"], QJsonValue(16));
    EXPECT_EQ(object["bit rate"], QJsonValue("6.8 Mbps"));
    SetRf([](cmd_set_rf_settings_t& rf) { rf.bit_rate_code = 9; });
    EXPECT_EQ(RfObject()["bit rate"], QJsonValue("110 kbps"));
    // Codes that no file gives must still produce a finite number.
    SetRf([](cmd_set_rf_settings_t& rf) { rf.preamble_length_code = 255; });
    EXPECT_TRUE(std::isfinite(RfObject()["preamble length"].toDouble()));
}

TEST_F(SettingsToJsonConverterTest, SensorCodesBecomeTheFileValues) {
    SetSensors([](sensors_config_t& sensors) {
        sensors.enable_flags = 0x01 | 0x04 | 0x10;
        sensors.sample_rate_divisor = 9;
        sensors.subsample_rate_divisor = 0;
        sensors.accelerometer_filter_code = 6;
        sensors.gyroscope_filter_code = 6;
        sensors.accelerometer_scale_code = 3;
        sensors.gyroscope_scale_code = 2;
        sensors.payload_headroom = 12;
    });
    const QJsonObject payload = Convert()["network"]["tag payload"].toObject();
    EXPECT_EQ(payload["headroom"], QJsonValue(12));
    EXPECT_EQ(payload["barometer"].toObject(),
              (QJsonObject{{"send pressure", true}, {"send temperature", false}}));
    EXPECT_EQ(payload["mpu"].toObject(), (QJsonObject{{"send accel", true},
                                                      {"send gyro", false},
                                                      {"send magnetometer", true},
                                                      {"send quat", false},
                                                      {"sample rate divisor", 10},
                                                      {"subsample rate divisor", 0},
                                                      {"accel dlpf rate", 5},
                                                      {"accel scale", 16},
                                                      {"gyro dlpf rate", 5},
                                                      {"gyro scale", 1000}}));
}

TEST_F(SettingsToJsonConverterTest, FilterAndScaleCodeTables) {
    const int accelerometer_hertz[] = {460, 184, 92, 41, 20, 10, 5, 5};
    const int gyroscope_hertz[] = {5, 184, 92, 41, 20, 10, 5, 5};
    for (uint32_t code = 0; code < 8; ++code) {
        sensors_config_t sensors{};
        sensors.accelerometer_filter_code = code;
        sensors.gyroscope_filter_code = code;
        sensors.accelerometer_scale_code = code;
        sensors.gyroscope_scale_code = code;
        Network()->SetTagSensorConfig(sensors);
        const QJsonObject mpu = Mpu();
        EXPECT_EQ(mpu["accel dlpf rate"], QJsonValue(accelerometer_hertz[code])) << code;
        EXPECT_EQ(mpu["gyro dlpf rate"], QJsonValue(gyroscope_hertz[code])) << code;
        EXPECT_EQ(mpu["accel scale"], QJsonValue(2 << code)) << code;
        EXPECT_EQ(mpu["gyro scale"], QJsonValue(250 << code)) << code;
    }
    SetSensors([](sensors_config_t& sensors) {
        sensors.sample_rate_divisor = 255;
        sensors.accelerometer_scale_code = 0xFFFFFFFF;  // -1: 2 to the power 0
        sensors.gyroscope_scale_code = 0xFFFFFFFE;      // -2: 62.5, truncated
    });
    QJsonObject mpu = Mpu();
    EXPECT_EQ(mpu["sample rate divisor"], QJsonValue(256));
    EXPECT_EQ(mpu["accel scale"], QJsonValue(1));
    EXPECT_EQ(mpu["gyro scale"], QJsonValue(62));
    // Codes no file gives stay within what the reader accepts instead of overflowing.
    SetSensors([](sensors_config_t& sensors) {
        sensors.accelerometer_scale_code = 0x7FFFFFFF;
        sensors.gyroscope_scale_code = 0x80000000;
    });
    mpu = Mpu();
    EXPECT_EQ(mpu["accel scale"], QJsonValue(2147483647));
    EXPECT_EQ(mpu["gyro scale"], QJsonValue(0));
}

TEST_F(SettingsToJsonConverterTest, HostSectionHoldsBoundsInMetresAndSockets) {
    BoundingBox bounds;
    bounds.SetMaxCoordinates(Coordinates(11000, 9500, 3000));
    bounds.SetMinCoordinates(Coordinates(-1500, -1, 0));
    Host()->SetTagBounds(bounds);
    Host()->SetAlgorithm("rtls_vm");
    Host()->SetSmoothingFactor(4000000000u);
    Host()->SetSerialPorts({"/dev/b", "/dev/a"});
    Host()->SetOutputSocketSettings(NetworkSocketSettings("239.0.0.1", 7001, 3, "eth0"));
    Host()->SetConfigSocketSettings(NetworkSocketSettings("239.9.9.9", 7670, 5, "eth1"));

    const QJsonObject host = Convert()["host"].toObject();
    EXPECT_EQ(host["algorithm"], QJsonValue("rtls_vm"));
    EXPECT_EQ(host["smoothing factor"], QJsonValue(4000000000.0));
    EXPECT_EQ(host["serial ports"].toArray(), (QJsonArray{"/dev/b", "/dev/a"}));
    EXPECT_EQ(host["default tag bounds"].toObject(),
              (QJsonObject{
                  {"maxx", 11}, {"maxy", 9.5}, {"maxz", 3}, {"minx", -1.5}, {"miny", -0.001}, {"minz", 0}}));
    EXPECT_EQ(host["multicast"]["external socket"].toObject(),
              (QJsonObject{{"address", "239.0.0.1"}, {"port", 7001}, {"ttl", 3}, {"interface", "eth0"}}));
    EXPECT_EQ(host["multicast"]["internal socket"].toObject(),
              (QJsonObject{{"address", "239.255.76.67"}, {"port", 7667}, {"ttl", 1}, {"interface", "lo"}}));
    // The configuration socket keeps only its interface.
    EXPECT_EQ(host["multicast"]["config socket"].toObject(), (QJsonObject{{"interface", "eth1"}}));
}

TEST_F(SettingsToJsonConverterTest, SyncRateBecomesTagRateAndUnwrittenValuesStayOut) {
    Network()->SetSyncRate(12.5);
    Host()->SetMaxTagVelocity(3);
    Network()->SetMinimumPacketDuration(5);
    settings_.SetAlienNodeList({AlienNodeSettings(5, cmd_set_rf_settings_t{})});
    const QJsonObject config = Convert();
    EXPECT_EQ(config["network"]["scheduler options"].toObject(), (QJsonObject{{"tag rate", 12.5}}));
    EXPECT_FALSE(config.contains("known networks"));
    EXPECT_FALSE(config["host"].toObject().contains("max tag velocity"));
    EXPECT_FALSE(config["network"].toObject().contains("min pkt duration"));
}
