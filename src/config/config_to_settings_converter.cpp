#include "config/config_to_settings_converter.h"

#include <QString>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "base/geometry.h"
#include "base/serial_number.h"
#include "config/alien_node_settings.h"
#include "config/config_json_reading.h"
#include "config/host_settings.h"
#include "config/rf_network_settings.h"
#include "config/settings.h"
#include "config/tag_payload_codes.h"
#include "config/transmit_power.h"
#include "protocol/packets/device_protocol.h"

using config_json::ReadArray;
using config_json::ReadBool;
using config_json::ReadDouble;
using config_json::ReadInt;
using config_json::ReadObject;
using config_json::ReadString;

namespace {

constexpr double kDefaultMaximumBound = 1000000.0;  // metres
constexpr double kDefaultMinimumBound = -1000000.0;
constexpr double kMillimetresPerMetre = 1000.0;

uint32_t ReadUnsigned32(const QJsonObject& object, const char* key, int32_t default_value) {
    return static_cast<uint32_t>(ReadInt(object.value(key), default_value));
}

uint8_t LowByte(int32_t value) {
    return static_cast<uint8_t>(static_cast<uint32_t>(value) & 0xFFu);
}

struct preamble_codes_t {
    uint8_t length_code;
    uint8_t pac_code;
};

preamble_codes_t PreambleCodes(int32_t preamble_length) {
    switch (preamble_length) {
        case 64:
            return {0, 0};
        case 128:
            return {1, 0};
        case 256:
            return {2, 1};
        case 512:
            return {3, 1};
        case 1024:
            return {4, 2};
        case 2048:
            return {6, 3};
        case 4096:
            return {7, 3};
        default:
            return {0, 0};
    }
}

uint8_t BitRateCode(const std::string& bit_rate) {
    if (bit_rate == "110 kbps")
        return 0;
    if (bit_rate == "850 kbps")
        return 1;
    return 2;
}

// log2 of a full scale relative to its smallest setting, truncated toward zero. A scale
// of 0 or below has no logarithm (the conversion to an integer would be undefined); it
// gets code 0, the smallest scale. For any positive int the result lies within about
// -31 .. 31, so the conversion is defined.
uint32_t ScaleCode(double logarithm) {
    if (!std::isfinite(logarithm))
        return 0;
    return static_cast<uint32_t>(static_cast<int32_t>(std::trunc(logarithm)));
}

uint32_t AccelerometerScaleCode(int32_t full_scale_g) {
    if (full_scale_g <= 0)
        return 0;
    return ScaleCode(std::log2(static_cast<double>(full_scale_g)) - 1.0);
}

uint32_t GyroscopeScaleCode(int32_t full_scale_dps) {
    if (full_scale_dps <= 0)
        return 0;
    return ScaleCode(std::log2(static_cast<double>(full_scale_dps) / 250.0));
}

}  // namespace

Settings* ConfigToSettingsConverter::ConvertConfigToSettings(Settings* settings, QJsonObject config) {
    ConvertHostConfigToSettings(settings, ReadObject(config.value("host")));
    ConvertNetworkConfigToSettings(settings, ReadObject(config.value("network")));
    ConvertOtherKnownNetworkConfigToSettings(settings, ReadArray(config.value("known networks")));
    settings->MarkValid();
    return settings;
}

void ConfigToSettingsConverter::ConvertHostConfigToSettings(Settings* settings, QJsonObject host) {
    HostSettings* host_settings = settings->GetHostSettingsReference();
    host_settings->SetAlgorithm(ReadString(host.value("algorithm"), std::string()));

    const QJsonObject multicast = ReadObject(host.value("multicast"));
    const NetworkSocketSettings default_socket = NetworkSocketSettings::Default();
    NetworkSocketSettings output_socket = default_socket;
    ConvertSocketConfigToSettings(output_socket, ReadObject(multicast.value("external socket")));
    host_settings->SetOutputSocketSettings(output_socket);
    NetworkSocketSettings input_socket = default_socket;
    ConvertSocketConfigToSettings(input_socket, ReadObject(multicast.value("internal socket")));
    host_settings->SetInputSocketSettings(input_socket);
    NetworkSocketSettings config_socket = default_socket;
    ConvertSocketConfigToSettings(config_socket, ReadObject(multicast.value("config socket")));
    config_socket.SetPort(kDeviceConfigStreamPort);
    host_settings->SetConfigSocketSettings(config_socket);

    host_settings->SetSmoothingFactor(ReadUnsigned32(host, "smoothing factor", 0));

    const QJsonObject bounds = ReadObject(host.value("default tag bounds"));
    BoundingBox tag_bounds;
    tag_bounds.SetMaxCoordinates(
        Coordinates(ReadDouble(bounds.value("maxx"), kDefaultMaximumBound) * kMillimetresPerMetre,
                    ReadDouble(bounds.value("maxy"), kDefaultMaximumBound) * kMillimetresPerMetre,
                    ReadDouble(bounds.value("maxz"), kDefaultMaximumBound) * kMillimetresPerMetre));
    tag_bounds.SetMinCoordinates(
        Coordinates(ReadDouble(bounds.value("minx"), kDefaultMinimumBound) * kMillimetresPerMetre,
                    ReadDouble(bounds.value("miny"), kDefaultMinimumBound) * kMillimetresPerMetre,
                    ReadDouble(bounds.value("minz"), kDefaultMinimumBound) * kMillimetresPerMetre));
    host_settings->SetTagBounds(tag_bounds);

    host_settings->SetMaxTagVelocity(ReadDouble(host.value("max tag velocity"), 200.0));
    host_settings->SetVmMinStopThreshold(ReadDouble(host.value("vm min stop"), 0.005));
    host_settings->SetVmRejectionThreshold(ReadDouble(host.value("vm reject threshold"), 0.15));
    host_settings->SetUseOcclusionMitigation(ReadBool(host.value("use occlusion mitigation"), true));
    host_settings->SetSmoothPositionGuess(ReadBool(host.value("smooth guess"), false));
    host_settings->SetVmVectorGain(ReadDouble(host.value("vm gain"), 1.0));
    host_settings->SetUseRdoaSanityCheck(ReadBool(host.value("use rdoa insanity"), false));
    host_settings->SetSpeedOfLight(ReadDouble(host.value("speed of light"), 299792458.0));
    host_settings->SetMinimumNumberOfAnchors(ReadUnsigned32(host, "min anchors", 4));

    std::vector<std::string> serial_ports;
    for (const QJsonValue& port : ReadArray(host.value("serial ports")))
        serial_ports.push_back(ReadString(port, std::string()));
    host_settings->SetSerialPorts(serial_ports);
}

void ConfigToSettingsConverter::ConvertSocketConfigToSettings(NetworkSocketSettings& socket,
                                                              QJsonObject config) {
    socket.SetAddress(ReadString(config.value("address"), kDefaultStreamAddress));
    socket.SetPort(static_cast<uint16_t>(ReadUnsigned32(config, "port", kDefaultStreamPort)));
    socket.SetTtl(static_cast<uint16_t>(ReadUnsigned32(config, "ttl", kDefaultStreamTtl)));
    socket.SetNetworkIface(ReadString(config.value("interface"), kDefaultStreamInterface));
}

void ConfigToSettingsConverter::ConvertNetworkConfigToSettings(Settings* settings, QJsonObject network) {
    RfNetworkSettings* rf_network = settings->GetRfNetworkSettingsReference();
    ConvertNetworkRfConfigToSettings(settings, ReadArray(network.value("rf settings")));

    const QJsonObject scheduler = ReadObject(network.value("scheduler options"));
    rf_network->SetSyncRate(ReadDouble(scheduler.value("tag rate"), 0.0));

    rf_network->SetMasters({});
    rf_network->SetAnchors({});
    rf_network->SetTags({});
    for (const QJsonValue& master : ReadArray(network.value("masters")))
        ConvertMasterConfigToSettings(settings, master.toObject());
    for (const QJsonValue& anchor : ReadArray(network.value("anchors")))
        ConvertAnchorConfigToSettings(settings, anchor.toObject());
    for (const QJsonValue& tag : ReadArray(network.value("tags")))
        ConvertTagConfigToSettings(settings, tag.toObject());

    const sensors_config_t sensors = ConvertTagPayloadConfig(ReadObject(network.value("tag payload")));

    rf_network->SetMinimumPacketDuration(ReadUnsigned32(network, "min pkt duration", 250));
    rf_network->SetPaddingBeforeSyncPacket(ReadUnsigned32(network, "sync padding", 210));
    rf_network->SetPaddingBetweenTagsAndAnchors(ReadUnsigned32(network, "tag-anchr padding", 210));
    rf_network->SetAnchorPayloadDurationMultiplier(ReadDouble(network.value("anchr payload time mult"), 2.2) -
                                                   1.0);
    rf_network->SetTagPayloadDurationMultiplier(ReadDouble(network.value("tag payload time mult"), 2.2) -
                                                1.0);

    rf_network->SetTagSensorConfig(sensors);
}

void ConfigToSettingsConverter::ConvertNetworkRfConfigToSettings(Settings* settings, QJsonArray rf_settings) {
    // An empty array gives an undefined element 0, hence the defaults.
    const cmd_set_rf_settings_t record = ConvertRfConfigToSetRfSettingsCmd(rf_settings.at(0).toObject());
    settings->GetRfNetworkSettingsReference()->SetRfSettings(record);
}

cmd_set_rf_settings_t ConfigToSettingsConverter::ConvertRfConfigToSetRfSettingsCmd(QJsonObject rf) {
    const uint8_t channel = LowByte(ReadInt(rf.value("channel"), 0));
    const uint32_t transmit_power = TransmitPower_Create(rf.value("tx power"));
    const uint8_t preamble_code = LowByte(ReadInt(rf.value("preamble code"), 0));
    const uint8_t bit_rate_code = BitRateCode(ReadString(rf.value("bit rate"), std::string()));
    const uint8_t prf_code = ReadInt(rf.value("prf"), 0) == 64 ? 1 : 0;
    const preamble_codes_t preamble = PreambleCodes(ReadInt(rf.value("preamble length"), 0));

    cmd_set_rf_settings_t record{};
    record.type = device_protocol::kCmdSetRfSettings;
    record.len = device_protocol::kCmdSetRfSettingsLen;
    record.execution_time = 0;
    record.timed_flag = 0;  // this server's own network
    record.channel_number = channel;
    record.prf_flag = prf_code;
    record.preamble_length_code = preamble.length_code;
    record.second_preamble_code = preamble.pac_code;
    record.transmit_preamble_code = preamble_code;
    record.receive_preamble_code = preamble_code;
    record.setting_byte_7 = 1;
    record.bit_rate_code = bit_rate_code;
    record.setting_byte_9 = 1;
    record.transmit_power_code = transmit_power;
    return record;
}

void ConfigToSettingsConverter::ConvertNodeConfigToNodeSettings(NodeSettings& node, QJsonObject config) {
    node.SetAntennaDelay(ReadUnsigned32(config, "antenna delay", 0));
    node.SetSerialNumber(SerialNumber_Create(config.value("serial number")));
    node.SetEnabled(ReadBool(config.value("enabled"), true));
}

void ConfigToSettingsConverter::ConvertMasterConfigToSettings(Settings* settings, QJsonObject config) {
    MasterSettings master;
    ConvertNodeConfigToNodeSettings(master, config);
    master.SetX(ReadDouble(config.value("x"), 0.0));
    master.SetY(ReadDouble(config.value("y"), 0.0));
    master.SetZ(ReadDouble(config.value("z"), 0.0));
    settings->GetRfNetworkSettingsReference()->AddMaster(master);
}

void ConfigToSettingsConverter::ConvertAnchorConfigToSettings(Settings* settings, QJsonObject config) {
    AnchorSettings anchor;
    ConvertNodeConfigToNodeSettings(anchor, config);
    anchor.SetBackhaulType(ReadString(config.value("backhaul"), "uwb"));
    anchor.SetX(ReadDouble(config.value("x"), 0.0));
    anchor.SetY(ReadDouble(config.value("y"), 0.0));
    anchor.SetZ(ReadDouble(config.value("z"), 0.0));
    settings->GetRfNetworkSettingsReference()->AddAnchor(anchor);
}

void ConfigToSettingsConverter::ConvertTagConfigToSettings(Settings* settings, QJsonObject config) {
    TagSettings tag;
    ConvertNodeConfigToNodeSettings(tag, config);
    settings->GetRfNetworkSettingsReference()->AddTag(tag);
}

void ConfigToSettingsConverter::ConvertOtherKnownNetworkConfigToSettings(Settings* settings,
                                                                         QJsonArray known_networks) {
    std::vector<AlienNodeSettings> aliens;
    for (const QJsonValue& entry_value : known_networks) {
        const QJsonObject entry = entry_value.toObject();
        const QJsonArray nodes = ReadArray(entry.value("nodes"));
        cmd_set_rf_settings_t rf =
            ConvertRfConfigToSetRfSettingsCmd(ReadArray(entry.value("rf settings")).at(0).toObject());
        rf.timed_flag = 1;  // the network byte: a record of another network
        for (const QJsonValue& node : nodes)
            aliens.emplace_back(SerialNumber_Create(node.toObject().value("serial number")), rf);
    }
    settings->SetAlienNodeList(aliens);
}

sensors_config_t ConfigToSettingsConverter::ConvertTagPayloadConfig(QJsonObject tag_payload) {
    const uint16_t headroom = static_cast<uint16_t>(ReadInt(tag_payload.value("headroom"), 0));

    const QJsonObject mpu = ReadObject(tag_payload.value("mpu"));
    uint8_t flags = 0;
    if (ReadBool(mpu.value("send accel"), false))
        flags |= tag_payload::kSendAccelerometer;
    const uint32_t accelerometer_filter =
        tag_payload::FilterCodeOfHertz(ReadInt(mpu.value("accel dlpf rate"), 0), false);
    const uint32_t accelerometer_scale = AccelerometerScaleCode(ReadInt(mpu.value("accel scale"), 2));
    if (ReadBool(mpu.value("send gyro"), false))
        flags |= tag_payload::kSendGyroscope;
    const uint32_t gyroscope_filter =
        tag_payload::FilterCodeOfHertz(ReadInt(mpu.value("gyro dlpf rate"), 0), true);
    const uint32_t gyroscope_scale = GyroscopeScaleCode(ReadInt(mpu.value("gyro scale"), 250));
    if (ReadBool(mpu.value("send magnetometer"), false))
        flags |= tag_payload::kSendMagnetometer;
    if (ReadBool(mpu.value("send quat"), false))
        flags |= tag_payload::kSendQuaternion;
    // Unsigned arithmetic: the divisor minus 1 wraps (0 gives 255) without overflow.
    const uint8_t sample_rate_divisor = static_cast<uint8_t>(
        (static_cast<uint32_t>(ReadInt(mpu.value("sample rate divisor"), 10)) - 1u) & 0xFFu);
    uint8_t subsample_divisor = LowByte(ReadInt(mpu.value("subsample rate divisor"), 1));
    if (subsample_divisor == 0)
        subsample_divisor = 1;

    const QJsonObject barometer = ReadObject(tag_payload.value("barometer"));
    if (ReadBool(barometer.value("send pressure"), false))
        flags |= tag_payload::kSendPressure;
    if (ReadBool(barometer.value("send temperature"), false))
        flags |= tag_payload::kSendTemperature;

    sensors_config_t sensors{};
    sensors.enable_flags = flags;
    sensors.gyroscope_scale_code = gyroscope_scale;
    sensors.gyroscope_filter_code = gyroscope_filter;
    sensors.accelerometer_scale_code = accelerometer_scale;
    sensors.accelerometer_filter_code = accelerometer_filter;
    sensors.sample_rate_divisor = sample_rate_divisor;
    sensors.subsample_rate_divisor = subsample_divisor;
    sensors.payload_headroom = headroom;
    return sensors;
}
