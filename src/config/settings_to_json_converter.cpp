#include "config/settings_to_json_converter.h"

#include <QJsonArray>
#include <QString>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "base/saturating_conversion.h"
#include "config/host_settings.h"
#include "config/node_settings.h"
#include "config/rf_network_settings.h"
#include "config/settings.h"
#include "config/tag_payload_codes.h"
#include "base/geometry.h"
#include "base/serial_number.h"

namespace {

constexpr double kMillimetresPerMetre = 1000.0;

QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

// Code 5 is never produced by the reader; the doubling skips the step from 5 to 6, so
// 6 and 7 give 2048 and 4096.
double PreambleLength(uint8_t code) {
    const int doublings = code >= 6 ? code - 1 : code;
    return std::ldexp(64.0, doublings);
}

QJsonObject PositionedNode(SettingsToJsonConverter& converter, NodeSettings* node, double x, double y,
                           double z) {
    QJsonObject object;
    converter.ConvertNodeSettingsToJson(node, &object);
    object.insert("x", x);
    object.insert("y", y);
    object.insert("z", z);
    return object;
}

}  // namespace

QJsonObject SettingsToJsonConverter::ConvertSettingsToJson(Settings* settings) {
    QJsonObject config;
    config.insert("vsn", 3);
    ConvertHostSettingsToJson(settings, &config);
    ConvertRfNetworkSettingsToJson(settings, &config);
    return config;
}

void SettingsToJsonConverter::ConvertHostSettingsToJson(Settings* settings, QJsonObject* config) {
    HostSettings* host = settings->GetHostSettingsReference();
    QJsonObject host_config;
    host_config.insert("algorithm", Utf8(host->GetAlgorithm()));
    host_config.insert("smoothing factor", static_cast<double>(host->GetSmoothingFactor()));
    ConvertTagBoundsToJson(host, &host_config);
    ConvertMulticastSettingsToJson(host, &host_config);
    ConvertSerialPortSettingsToJson(host, &host_config);
    config->insert("host", host_config);
}

void SettingsToJsonConverter::ConvertTagBoundsToJson(HostSettings* host, QJsonObject* host_config) {
    const BoundingBox bounds = host->GetTagBounds();
    const Coordinates maximum = bounds.GetMaxCoordinates();
    const Coordinates minimum = bounds.GetMinCoordinates();
    QJsonObject object;
    object.insert("maxx", maximum.GetX() / kMillimetresPerMetre);
    object.insert("maxy", maximum.GetY() / kMillimetresPerMetre);
    object.insert("maxz", maximum.GetZ() / kMillimetresPerMetre);
    object.insert("minx", minimum.GetX() / kMillimetresPerMetre);
    object.insert("miny", minimum.GetY() / kMillimetresPerMetre);
    object.insert("minz", minimum.GetZ() / kMillimetresPerMetre);
    host_config->insert("default tag bounds", object);
}

void SettingsToJsonConverter::ConvertMulticastSettingsToJson(HostSettings* host, QJsonObject* host_config) {
    QJsonObject multicast;
    ConvertSocketSettingsToJson("external socket", host->GetOutputSocketSettings(), &multicast);
    ConvertSocketSettingsToJson("internal socket", host->GetInputSocketSettings(), &multicast);
    // The reader fixes the configuration socket's port; only its interface is kept.
    multicast.insert("config socket",
                     QJsonObject{{"interface", Utf8(host->GetConfigSocketSettings().GetNetworkIface())}});
    host_config->insert("multicast", multicast);
}

void SettingsToJsonConverter::ConvertSocketSettingsToJson(const char* key, NetworkSocketSettings socket,
                                                          QJsonObject* multicast) {
    QJsonObject object;
    object.insert("address", Utf8(socket.GetAddress()));
    object.insert("port", socket.GetPort());
    object.insert("ttl", socket.GetTtl());
    object.insert("interface", Utf8(socket.GetNetworkIface()));
    multicast->insert(key, object);
}

void SettingsToJsonConverter::ConvertSerialPortSettingsToJson(HostSettings* host, QJsonObject* host_config) {
    QJsonArray ports;
    for (const std::string& port : host->GetSerialPorts())
        ports.append(Utf8(port));
    host_config->insert("serial ports", ports);
}

void SettingsToJsonConverter::ConvertRfNetworkSettingsToJson(Settings* settings, QJsonObject* config) {
    RfNetworkSettings* network = settings->GetRfNetworkSettingsReference();
    QJsonObject network_config;
    ConvertMasterListToJson(network, &network_config);
    ConvertAnchorListToJson(network, &network_config);
    ConvertTagListToJson(network, &network_config);
    ConvertSchedulerSettingsToJson(network, &network_config);
    ConvertRfSettingsToJson(network, &network_config);
    ConvertSensorSettingsToJson(network, &network_config);
    config->insert("network", network_config);
}

void SettingsToJsonConverter::ConvertMasterListToJson(RfNetworkSettings* network,
                                                      QJsonObject* network_config) {
    QJsonArray masters;
    for (MasterSettings& master : network->GetMasters())
        masters.append(PositionedNode(*this, &master, master.GetX(), master.GetY(), master.GetZ()));
    network_config->insert("masters", masters);
}

void SettingsToJsonConverter::ConvertAnchorListToJson(RfNetworkSettings* network,
                                                      QJsonObject* network_config) {
    QJsonArray anchors;
    for (AnchorSettings& anchor : network->GetAnchors()) {
        QJsonObject object = PositionedNode(*this, &anchor, anchor.GetX(), anchor.GetY(), anchor.GetZ());
        object.insert("backhaul", Utf8(anchor.GetBackhaulType()));
        anchors.append(object);
    }
    network_config->insert("anchors", anchors);
}

void SettingsToJsonConverter::ConvertTagListToJson(RfNetworkSettings* network, QJsonObject* network_config) {
    QJsonArray tags;
    for (TagSettings& tag : network->GetTags()) {
        QJsonObject object;
        ConvertNodeSettingsToJson(&tag, &object);
        tags.append(object);
    }
    network_config->insert("tags", tags);
}

void SettingsToJsonConverter::ConvertNodeSettingsToJson(NodeSettings* node, QJsonObject* node_config) {
    node_config->insert("serial number",
                        QString::fromStdString(SerialNumber_ToString(node->GetSerialNumber())));
    // The whole unsigned range, as a non-negative number.
    node_config->insert("antenna delay", static_cast<double>(node->GetAntennaDelay()));
    node_config->insert("enabled", node->GetEnabled());
}

void SettingsToJsonConverter::ConvertSchedulerSettingsToJson(RfNetworkSettings* network,
                                                             QJsonObject* network_config) {
    network_config->insert("scheduler options", QJsonObject{{"tag rate", network->GetSyncRate()}});
}

void SettingsToJsonConverter::ConvertRfSettingsToJson(RfNetworkSettings* network,
                                                      QJsonObject* network_config) {
    const cmd_set_rf_settings_t rf = network->GetRfSettings();
    QJsonObject object;
    object.insert("channel", rf.channel_number);
    object.insert("preamble code", rf.receive_preamble_code);
    object.insert("tx power", QString::number(rf.transmit_power_code, 16));
    object.insert("preamble length", PreambleLength(rf.preamble_length_code));
    object.insert("prf", rf.prf_flag == 0 ? 16 : 64);
    const char* bit_rate = "110 kbps";
    if (rf.bit_rate_code == 1) {
        bit_rate = "850 kbps";
    } else if (rf.bit_rate_code == 2) {
        bit_rate = "6.8 Mbps";
    }
    object.insert("bit rate", bit_rate);
    network_config->insert("rf settings", QJsonArray{object});
}

void SettingsToJsonConverter::ConvertSensorSettingsToJson(RfNetworkSettings* network,
                                                          QJsonObject* network_config) {
    const sensors_config_t sensors = network->GetTagSensorConfig();
    const uint8_t flags = sensors.enable_flags;
    // The scale codes are signed for the power.
    const int32_t accelerometer_scale = static_cast<int32_t>(sensors.accelerometer_scale_code);
    const int32_t gyroscope_scale = static_cast<int32_t>(sensors.gyroscope_scale_code);

    QJsonObject mpu;
    mpu.insert("send accel", (flags & tag_payload::kSendAccelerometer) != 0);
    mpu.insert("send gyro", (flags & tag_payload::kSendGyroscope) != 0);
    mpu.insert("send magnetometer", (flags & tag_payload::kSendMagnetometer) != 0);
    mpu.insert("send quat", (flags & tag_payload::kSendQuaternion) != 0);
    mpu.insert("sample rate divisor", sensors.sample_rate_divisor + 1);
    mpu.insert("subsample rate divisor", sensors.subsample_rate_divisor);
    mpu.insert("accel dlpf rate", tag_payload::FilterHertzOfCode(sensors.accelerometer_filter_code, false));
    mpu.insert("accel scale", TruncateToInt32(std::ldexp(1.0, accelerometer_scale) * 2.0));
    mpu.insert("gyro dlpf rate", tag_payload::FilterHertzOfCode(sensors.gyroscope_filter_code, true));
    mpu.insert("gyro scale", TruncateToInt32(std::ldexp(250.0, gyroscope_scale)));

    QJsonObject barometer;
    barometer.insert("send pressure", (flags & tag_payload::kSendPressure) != 0);
    barometer.insert("send temperature", (flags & tag_payload::kSendTemperature) != 0);

    QJsonObject payload;
    payload.insert("headroom", sensors.payload_headroom);
    payload.insert("mpu", mpu);
    payload.insert("barometer", barometer);
    network_config->insert("tag payload", payload);
}
