#include "config/config_file_validator.h"

#include <QDebug>
#include <QJsonValue>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "base/serial_number.h"

namespace {

// Prints the message of a missing key and flushes, so it is never lost in a buffer
// when start-up gives up right after.
template <typename... Args>
void Report(const char* format, Args... args) {
    printf(format, args...);
    fflush(stdout);
}

void Report(const char* message) {
    fputs(message, stdout);
    fflush(stdout);
}

// "Config: `key` missing from `section` section\n" for each key absent, first one only.
bool HasKeys(const QJsonObject& object, std::initializer_list<const char*> keys, const char* section) {
    for (const char* key : keys) {
        if (!object.contains(key)) {
            Report("Config: `%s` missing from `%s` section\n", key, section);
            return false;
        }
    }
    return true;
}

// A required key and the text of (or for) the message when it is missing.
struct key_message_t {
    const char* key;
    const char* message;
};

bool HasKeysWithMessages(const QJsonObject& object, std::initializer_list<key_message_t> keys) {
    for (const key_message_t& entry : keys) {
        if (!object.contains(entry.key)) {
            Report(entry.message);
            return false;
        }
    }
    return true;
}

// Masters and anchors: "Config: <kind> <what> missing\n" for the first key an entry
// lacks, entries in list order. An entry that is not an object counts as one without keys.
bool IsPositionedNodeListValid(const QJsonArray& list, const char* kind) {
    static const key_message_t keys[] = {{"serial number", "serial num"},
                                         {"antenna delay", "antenna delay"},
                                         {"x", "x"},
                                         {"y", "y"},
                                         {"z", "z"}};
    for (const QJsonValue& entry : list) {
        const QJsonObject node = entry.toObject();
        for (const key_message_t& key : keys) {
            if (!node.contains(key.key)) {
                Report("Config: %s %s missing\n", kind, key.message);
                return false;
            }
        }
    }
    return true;
}

}  // namespace

bool ConfigFileValidator::IsConfigFileValid(QJsonObject config, bool flag) {
    if (!config.contains("host")) {
        Report("Config: `%s` section missing\n", "host");
        return false;
    }
    if (!IsHostSectionValid(config.value("host").toObject(), flag))
        return false;
    if (!config.contains("network")) {
        Report("Config: `%s` section missing\n", "network");
        return false;
    }
    return IsNetworkSectionValid(config.value("network").toObject(), flag);
}

bool ConfigFileValidator::IsSocketValid(QJsonObject socket, const char* name) {
    return HasKeys(socket, {"address", "port", "ttl", "interface"}, name);
}

bool ConfigFileValidator::IsHostSectionValid(QJsonObject host, bool /*flag*/) {
    if (!HasKeys(host, {"algorithm", "smoothing factor"}, "host"))
        return false;
    if (!host.contains("serial ports")) {
        Report("Config: serial ports section missing\n");
        return false;
    }
    if (!host.contains("multicast")) {
        Report("Config: multicast section missing\n");
        return false;
    }
    const QJsonObject multicast = host.value("multicast").toObject();
    for (const char* socket : {"internal socket", "external socket"}) {
        if (!multicast.contains(socket)) {
            Report("Config: `%s` section missing `%s` field\n", "multicast", socket);
            return false;
        }
        if (!IsSocketValid(multicast.value(socket).toObject(), socket))
            return false;
    }
    if (!multicast.contains("config socket")) {
        Report("Config: `%s` section missing `%s` field\n", "multicast", "config socket");
        return false;
    }
    // The config socket's port is fixed by the conversion; only its interface is needed.
    if (!multicast.value("config socket").toObject().contains("interface")) {
        Report("Config: `%s` section missing `%s` field\n", "config socket", "interface");
        return false;
    }
    if (!host.contains("default tag bounds")) {
        qDebug() << "No tag bounds";
        return false;
    }
    return HasKeysWithMessages(host.value("default tag bounds").toObject(),
                               {{"minx", "Config: x min missing\n"},
                                {"maxx", "Config: x max missing\n"},
                                {"miny", "Config: y min missing\n"},
                                {"maxy", "Config: y max missing\n"},
                                {"minz", "Config: z min missing\n"},
                                {"maxz", "Config: z max missing\n"}});
}

bool ConfigFileValidator::IsNetworkSectionValid(QJsonObject network, bool /*flag*/) {
    if (!network.contains("rf settings")) {
        Report("Config: Network rf settings missing\n");
        return false;
    }
    const QJsonArray rf_settings = network.value("rf settings").toArray();
    if (rf_settings.size() != 1) {
        Report("%u\n", static_cast<unsigned>(rf_settings.size()));
        Report("Config: No rf settings specified\n");
        return false;
    }
    if (!HasKeysWithMessages(rf_settings.at(0).toObject(),
                             {{"channel", "Config: rf channel missing\n"},
                              {"bit rate", "Config: rf bitrate missing\n"},
                              {"prf", "Config: rf prf missing\n"},
                              {"preamble length", "Config: rf preamble length missing\n"},
                              {"preamble code", "Config: rf preamble code missing\n"}})) {
        return false;
    }

    if (!network.contains("masters")) {
        Report("Config: master missing\n");
        return false;
    }
    const QJsonArray masters = network.value("masters").toArray();
    if (masters.isEmpty()) {
        Report("Config: no masters in list");
        return false;
    }
    if (!IsPositionedNodeListValid(masters, "master"))
        return false;

    if (!network.contains("anchors")) {
        Report("Config: anchors missing\n");
        return false;
    }
    const QJsonArray anchors = network.value("anchors").toArray();
    if (!IsPositionedNodeListValid(anchors, "anchor"))
        return false;

    if (!network.contains("tags")) {
        Report("Config: tag list missing\n");
        return false;
    }
    const QJsonArray tags = network.value("tags").toArray();
    for (const QJsonValue& entry : tags) {
        const QJsonObject tag = entry.toObject();
        if (!tag.contains("serial number")) {
            qDebug() << "No tag serial number";
            return false;
        }
        if (!tag.contains("antenna delay")) {
            qDebug() << "No tag antenna delay";
            return false;
        }
    }

    if (CheckForSerialNumberDuplication({anchors, masters, tags}))
        return false;

    if (!network.contains("scheduler options")) {
        Report("Config: `%s` missing from network section\n", "scheduler options");
        return false;
    }
    if (!HasKeys(network.value("scheduler options").toObject(), {"tag rate"}, "scheduler options")) {
        return false;
    }
    if (!HasKeys(network, {"tag payload"}, "network"))
        return false;
    const QJsonObject tag_payload = network.value("tag payload").toObject();
    if (!HasKeys(tag_payload, {"mpu"}, "tag payload"))
        return false;
    if (!HasKeys(tag_payload.value("mpu").toObject(),
                 {"send accel", "accel dlpf rate", "accel scale", "send gyro", "gyro dlpf rate", "gyro scale",
                  "send magnetometer", "send quat"},
                 "mpu")) {
        return false;
    }
    if (!HasKeys(tag_payload, {"barometer"}, "tag payload"))
        return false;
    return HasKeys(tag_payload.value("barometer").toObject(), {"send pressure", "send temperature"},
                   "barometer");
}

bool ConfigFileValidator::CheckForSerialNumberDuplication(std::vector<QJsonArray> lists) {
    std::map<uint32_t, uint32_t> counts;
    for (const QJsonArray& list : lists) {
        for (const QJsonValue& entry : list) {
            const QJsonObject device = entry.toObject();
            if (!device.value("enabled").toBool(true))
                continue;
            ++counts[SerialNumber_Create(device.value("serial number"))];
        }
    }
    bool duplicate_found = false;
    for (const auto& serial_and_count : counts) {
        if (serial_and_count.second <= 1)
            continue;
        qDebug() << "Err: Device " << SerialNumber_ToString(serial_and_count.first).c_str() << " appears "
                 << serial_and_count.second << " times in the config file!";
        duplicate_found = true;
    }
    return duplicate_found;
}
