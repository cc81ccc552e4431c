#include "config/config_version_one_updater.h"

#include <QJsonArray>
#include <QJsonValue>
#include <cmath>
#include <cstdint>

#include "base/network_socket_settings.h"
#include "config/config_json_reading.h"
#include "config/flat_settings_interface.h"
#include "config/settings.h"

namespace {

// Antenna delay every version-1 device had before its "twr_adjustment" correction.
constexpr int kBaseAntennaDelay = 16442;
// One device clock tick, 1 / (128 x 499.2 MHz), in seconds.
constexpr double kDeviceTickSeconds = 1.5650040064102565e-11;
const char* const kDefaultTagRate = "20 Hz";
// 0x08 in each of the four gain bytes.
constexpr int kVersionOneTransmitPower = 134744072;

}  // namespace

int ConfigVersionOneUpdater::AntennaDelayFromAdjustment(const QJsonObject& config) {
    if (!config.contains("twr_adjustment"))
        return kBaseAntennaDelay;
    const double adjustment_metres = config_json::ReadDouble(config.value("twr_adjustment"), 0.0);
    const double speed_of_light = FlatSettingsInterface(Settings::GlobalSettings()).GetSpeedOfLight();
    const double ticks = adjustment_metres / (speed_of_light * kDeviceTickSeconds);
    // A huge adjustment or a speed of light of 0 set by an earlier configuration gives
    // a quotient outside the 32-bit range (or none at all); saturate instead of an
    // undefined conversion, and keep the final delay within the int range too.
    int64_t whole_ticks = 0;
    if (ticks >= 2147483647.0) {
        whole_ticks = INT32_MAX;
    } else if (ticks <= -2147483648.0) {
        whole_ticks = INT32_MIN;
    } else if (!std::isnan(ticks)) {
        whole_ticks = static_cast<int64_t>(std::trunc(ticks));
    }
    const int64_t delay = kBaseAntennaDelay - whole_ticks;
    if (delay > INT32_MAX)
        return INT32_MAX;
    return static_cast<int>(delay);
}

QJsonObject ConfigVersionOneUpdater::HostSection(const QJsonObject& config) {
    const int port = config_json::ReadInt(config.value("lcm_port"), kDefaultStreamPort);
    QJsonObject multicast;
    multicast.insert("external_udp_port", port);
    multicast.insert("external_udp_iface", kDefaultStreamInterface);
    multicast.insert("external_udp_ttl", kDefaultStreamTtl);
    multicast.insert("external_udp_address", kDefaultStreamAddress);
    multicast.insert("internal_udp_port", port);
    multicast.insert("internal_udp_iface", kDefaultStreamInterface);
    multicast.insert("internal_udp_ttl", kDefaultStreamTtl);
    multicast.insert("internal_udp_address", kDefaultStreamAddress);
    multicast.insert("cfg_udp_iface", kDefaultStreamInterface);

    QJsonObject host;
    host.insert("algorithm", "rtls_vm");
    host.insert("multicast", multicast);
    return host;
}

QJsonObject ConfigVersionOneUpdater::TagBounds(const QJsonObject& config) {
    static const char* const kRenames[][2] = {{"x_max", "maxx"}, {"x_min", "minx"}, {"y_max", "maxy"},
                                              {"y_min", "miny"}, {"z_max", "maxz"}, {"z_min", "minz"}};
    QJsonObject bounds;
    for (const auto& rename : kRenames) {
        if (config.contains(rename[0]))
            bounds.insert(rename[1], config.value(rename[0]));
    }
    return bounds;
}

QJsonObject ConfigVersionOneUpdater::UpdateConfiguration(QJsonObject config) {
    QJsonObject result = config;
    const int antenna_delay = AntennaDelayFromAdjustment(config);

    QJsonObject rf;
    rf.insert("bit rate", 6.8);
    rf.insert("channel", 5);
    rf.insert("preamble code", 4);
    rf.insert("preamble length", 64);
    rf.insert("prf", 16);
    rf.insert("tx power", kVersionOneTransmitPower);

    QJsonObject network;
    network.insert("rf settings", QJsonArray{rf});

    QJsonArray serial_ports;
    if (config.value("clocks").isArray()) {
        QJsonArray masters;
        for (const QJsonValue& element : config.value("clocks").toArray()) {
            const QJsonObject clock = element.toObject();
            QJsonObject master;
            ConvertAnchorGenericData(master, clock, antenna_delay);
            if (clock.contains("port"))
                serial_ports.append(clock.value("port"));
            masters.append(master);
        }
        network.insert("masters", masters);
    }
    network.insert("serial ports", serial_ports);

    if (config.value("anchors").isArray()) {
        QJsonArray anchors;
        for (const QJsonValue& element : config.value("anchors").toArray()) {
            QJsonObject anchor;
            ConvertAnchorGenericData(anchor, element.toObject(), antenna_delay);
            anchors.append(anchor);
        }
        network.insert("anchors", anchors);
    }
    if (config.value("tags").isArray()) {
        QJsonArray tags;
        for (const QJsonValue& element : config.value("tags").toArray()) {
            QJsonObject tag;
            ConvertDeviceGenericData(tag, element.toObject(), antenna_delay);
            tags.append(tag);
        }
        network.insert("tags", tags);
    }
    network.insert("scheduler options", QJsonObject{{"tag rate", kDefaultTagRate}});
    network.insert("default tag bounds", TagBounds(config));

    result.insert("host", HostSection(config));
    result.insert("network", network);
    result.insert("vsn", 2);
    return result;
}

void ConfigVersionOneUpdater::ConvertDeviceGenericData(QJsonObject& out, QJsonObject device,
                                                       int antennaDelay) {
    if (!device.contains("serial"))
        return;
    out.insert("serial number", device.value("serial"));
    out.insert("antenna delay", antennaDelay);
}

void ConfigVersionOneUpdater::ConvertAnchorGenericData(QJsonObject& out, QJsonObject device,
                                                       int antennaDelay) {
    ConvertDeviceGenericData(out, device, antennaDelay);
    for (const char* axis : {"x", "y", "z"}) {
        if (device.contains(axis))
            out.insert(axis, device.value(axis));
    }
}
