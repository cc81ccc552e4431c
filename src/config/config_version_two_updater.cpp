#include "config/config_version_two_updater.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonValue>
#include <QLocale>
#include <cmath>
#include <cstdint>

#include "config/config_json_reading.h"
#include "config/config_version_one_updater.h"

using config_json::ReadArray;
using config_json::ReadBool;
using config_json::ReadDouble;
using config_json::ReadInt;
using config_json::ReadObject;
using config_json::ReadQString;

QJsonObject ConfigVersionTwoUpdater::UpdateConfiguration(QJsonObject config) {
    QJsonObject result = config;
    const uint32_t version = static_cast<uint32_t>(ReadInt(config.value("vsn"), 1));
    if (version == 0 || version == 1) {
        ConfigVersionOneUpdater version_one;
        result = version_one.UpdateConfiguration(result);
    } else if (version != 2) {
        return result;
    }
    // "vsn" stays as it was (2): nothing after the upgrade reads it, and only a written
    // file carries 3.
    const QJsonObject host = ReadObject(result.value("host"));
    const QJsonObject network = ReadObject(result.value("network"));
    result.insert("host", UpdateHostSection(host, network));
    result.insert("network", UpdateNetworkSection(network));
    return result;
}

QJsonObject ConfigVersionTwoUpdater::SocketSection(const QJsonObject& multicast, const QString& prefix) {
    QJsonObject socket;
    socket.insert("address", ReadQString(multicast.value(prefix + "_udp_address"), QString()));
    socket.insert("interface", ReadQString(multicast.value(prefix + "_udp_iface"), QString()));
    socket.insert("port", ReadInt(multicast.value(prefix + "_udp_port"), 0));
    socket.insert("ttl", ReadInt(multicast.value(prefix + "_udp_ttl"), 0));
    return socket;
}

QJsonObject ConfigVersionTwoUpdater::UpdateHostSection(QJsonObject host, QJsonObject network) {
    QJsonObject updated;
    updated.insert("algorithm", "rtls_vm");
    updated.insert("default tag bounds", ReadObject(network.value("default tag bounds")));
    updated.insert("serial ports", ReadArray(network.value("serial ports")));
    updated.insert("smoothing factor", ReadInt(network.value("smoothing factor"), 0));

    // Optional localisation keys: only those the version-2 host has, so that an
    // absent one takes the converter's default rather than 0.
    for (const char* key : {"smooth guess", "use occlusion mitigation"}) {
        if (host.contains(key))
            updated.insert(key, ReadBool(host.value(key), false));
    }
    for (const char* key : {"vm gain", "vm reject threshold", "max tag velocity", "vm min stop"}) {
        if (host.contains(key))
            updated.insert(key, ReadDouble(host.value(key), 0.0));
    }

    const QJsonObject multicast = ReadObject(host.value("multicast"));
    QJsonObject sockets;
    sockets.insert("external socket", SocketSection(multicast, "external"));
    sockets.insert("internal socket", SocketSection(multicast, "internal"));
    sockets.insert("config socket",
                   QJsonObject{{"interface", ReadQString(multicast.value("cfg_udp_iface"), QString())}});
    updated.insert("multicast", sockets);
    return updated;
}

QJsonArray ConfigVersionTwoUpdater::UpdateNodeList(const QJsonValue& list, bool is_anchor_list) {
    QJsonArray updated;
    for (const QJsonValue& element : ReadArray(list)) {
        QJsonObject node = element.toObject();
        if (is_anchor_list && !node.contains("backhaul"))
            node.insert("backhaul", "uwb");
        UpdateNodeConfiguration(node);
        updated.append(node);
    }
    return updated;
}

QJsonObject ConfigVersionTwoUpdater::UpdateNetworkSection(QJsonObject network) {
    QJsonObject updated;
    updated.insert("anchors", UpdateNodeList(network.value("anchors"), true));
    updated.insert("masters", UpdateNodeList(network.value("masters"), false));
    updated.insert("tags", UpdateNodeList(network.value("tags"), false));

    const QJsonObject scheduler = ReadObject(network.value("scheduler options"));
    const QString tag_rate = ReadQString(scheduler.value("tag rate"), "20 Hz");
    updated.insert("scheduler options", QJsonObject{{"tag rate", ParseLeadingNumber(tag_rate)}});

    QJsonObject mpu;
    mpu.insert("send accel", false);
    mpu.insert("accel dlpf rate", 5);
    mpu.insert("accel scale", 2);
    mpu.insert("send gyro", false);
    mpu.insert("gyro dlpf rate", 5);
    mpu.insert("gyro scale", 250);
    mpu.insert("send magnetometer", false);
    mpu.insert("send quat", false);
    mpu.insert("sample rate divisor", 10);
    mpu.insert("subsample rate divisor", 1);
    QJsonObject barometer;
    barometer.insert("send pressure", false);
    barometer.insert("send temperature", false);
    updated.insert("tag payload", QJsonObject{{"mpu", mpu}, {"barometer", barometer}});

    updated.insert("rf settings", ReadArray(network.value("rf settings")));
    return updated;
}

void ConfigVersionTwoUpdater::UpdateNodeConfiguration(QJsonObject& node) {
    node.remove("twr_master");
    if (!node.contains("enabled"))
        node.insert("enabled", true);
}

double ConfigVersionTwoUpdater::ParseLeadingNumber(const QString& text) {
    int position = 0;
    const int length = text.size();
    while (position < length && text.at(position).isSpace())
        ++position;

    // Only the decimal form: sign, digits with an optional fraction, optional exponent.
    // Words such as "inf" or "nan" are not numbers here.
    const int start = position;
    auto is_digit = [&](int at) { return at < length && text.at(at) >= '0' && text.at(at) <= '9'; };
    if (position < length && (text.at(position) == '+' || text.at(position) == '-'))
        ++position;
    int digits = 0;
    while (is_digit(position)) {
        ++position;
        ++digits;
    }
    if (position < length && text.at(position) == '.') {
        ++position;
        while (is_digit(position)) {
            ++position;
            ++digits;
        }
    }
    if (digits == 0)
        return 0.0;
    if (position < length && (text.at(position) == 'e' || text.at(position) == 'E')) {
        int exponent_end = position + 1;
        if (exponent_end < length && (text.at(exponent_end) == '+' || text.at(exponent_end) == '-'))
            ++exponent_end;
        if (is_digit(exponent_end)) {
            while (is_digit(exponent_end))
                ++exponent_end;
            position = exponent_end;
        }
    }

    bool ok = false;
    const double number = QLocale::c().toDouble(text.mid(start, position - start), &ok);
    // A number beyond the double range has no JSON form; treat it as no number.
    if (!ok || !std::isfinite(number))
        return 0.0;
    return number;
}
