#include "config/config_file_validator.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QStringList>
#include <string>
#include <utility>
#include <vector>

#include "support/stdout_capture.h"

namespace {

// A complete version-3 configuration with two masters, two anchors and one tag.
const char* const valid_config_ = R"({
  "vsn": 3,
  "host": {
    "algorithm": "toa",
    "smoothing factor": 4,
    "serial ports": ["ttyACM0"],
    "multicast": {
      "internal socket": {"address": "239.255.76.67", "port": 7667, "ttl": 1, "interface": "lo"},
      "external socket": {"address": "239.255.76.68", "port": 7668, "ttl": 1, "interface": "lo"},
      "config socket": {"address": "239.255.76.67", "port": 7670, "ttl": 1, "interface": "lo"}
    },
    "default tag bounds": {"minx": -10, "maxx": 10, "miny": -10, "maxy": 10,
                           "minz": -1, "maxz": 5}
  },
  "network": {
    "rf settings": [{"channel": 5, "bit rate": "6.8 Mbps", "prf": 64,
                     "preamble length": 128, "preamble code": 9, "tx power": "0x1f1f1f1f"}],
    "masters": [
      {"serial number": "01:00:0001", "antenna delay": 16400, "x": 0, "y": 0, "z": 2},
      {"serial number": "01:00:0002", "antenna delay": 16400, "x": 1, "y": 0, "z": 2,
       "enabled": false}
    ],
    "anchors": [
      {"serial number": "01:00:0003", "antenna delay": 16400, "x": 5, "y": 0, "z": 2},
      {"serial number": "01:00:0004", "antenna delay": 16400, "x": 5, "y": 5, "z": 2,
       "backhaul": "wired"}
    ],
    "tags": [{"serial number": "01:01:0010", "antenna delay": 16400}],
    "scheduler options": {"tag rate": 10},
    "tag payload": {
      "mpu": {"send accel": true, "accel dlpf rate": 41, "accel scale": 2, "send gyro": false,
              "gyro dlpf rate": 41, "gyro scale": 250, "send magnetometer": false,
              "send quat": false},
      "barometer": {"send pressure": true, "send temperature": true}
    }
  }
})";

QJsonObject ValidConfig() {
    return QJsonDocument::fromJson(valid_config_).object();
}

// Removes the key at a path such as "network/masters/1/x"; numbers index arrays.
QJsonValue Removed(const QJsonValue& value, const QStringList& path) {
    if (path.isEmpty())
        return value;
    const QString head = path.first();
    if (value.isArray()) {
        QJsonArray array = value.toArray();
        const int index = head.toInt();
        array[index] = Removed(array.at(index), path.mid(1));
        return array;
    }
    QJsonObject object = value.toObject();
    if (path.size() == 1) {
        object.remove(head);
    } else {
        object[head] = Removed(object.value(head), path.mid(1));
    }
    return object;
}

QJsonObject Without(const QJsonObject& config, const char* path) {
    return Removed(config, QString(path).split('/')).toObject();
}

QJsonObject With(const QJsonObject& config, const QStringList& path, const QJsonValue& value) {
    // Sets the value at a path of object keys, rebuilding each object on the way.
    QJsonObject result = config;
    if (path.size() == 1) {
        result[path.first()] = value;
        return result;
    }
    QJsonValue parent = result.value(path.first());
    QJsonObject parent_object = With(parent.toObject(), path.mid(1), value);
    result[path.first()] = parent_object;
    return result;
}

struct validation_t {
    bool valid;
    std::string output;
};

validation_t Validate(const QJsonObject& config) {
    QtMessagesToStdout qt_messages;
    StdoutCapture capture;
    EXPECT_TRUE(capture.IsActive());
    const bool valid = ConfigFileValidator::IsConfigFileValid(config, false);
    return validation_t{valid, capture.Stop()};
}

// Every required key in the order it is checked, with the message for its absence.
const std::vector<std::pair<const char*, const char*>> required_keys_ = {
    {"host", "Config: `host` section missing\n"},
    {"host/algorithm", "Config: `algorithm` missing from `host` section\n"},
    {"host/smoothing factor", "Config: `smoothing factor` missing from `host` section\n"},
    {"host/serial ports", "Config: serial ports section missing\n"},
    {"host/multicast", "Config: multicast section missing\n"},
    {"host/multicast/internal socket", "Config: `multicast` section missing `internal socket` field\n"},
    {"host/multicast/internal socket/address", "Config: `address` missing from `internal socket` section\n"},
    {"host/multicast/internal socket/port", "Config: `port` missing from `internal socket` section\n"},
    {"host/multicast/internal socket/ttl", "Config: `ttl` missing from `internal socket` section\n"},
    {"host/multicast/internal socket/interface",
     "Config: `interface` missing from `internal socket` section\n"},
    {"host/multicast/external socket", "Config: `multicast` section missing `external socket` field\n"},
    {"host/multicast/external socket/address", "Config: `address` missing from `external socket` section\n"},
    {"host/multicast/external socket/port", "Config: `port` missing from `external socket` section\n"},
    {"host/multicast/external socket/ttl", "Config: `ttl` missing from `external socket` section\n"},
    {"host/multicast/external socket/interface",
     "Config: `interface` missing from `external socket` section\n"},
    {"host/multicast/config socket", "Config: `multicast` section missing `config socket` field\n"},
    {"host/multicast/config socket/interface", "Config: `config socket` section missing `interface` field\n"},
    {"host/default tag bounds", "No tag bounds\n"},
    {"host/default tag bounds/minx", "Config: x min missing\n"},
    {"host/default tag bounds/maxx", "Config: x max missing\n"},
    {"host/default tag bounds/miny", "Config: y min missing\n"},
    {"host/default tag bounds/maxy", "Config: y max missing\n"},
    {"host/default tag bounds/minz", "Config: z min missing\n"},
    {"host/default tag bounds/maxz", "Config: z max missing\n"},
    {"network", "Config: `network` section missing\n"},
    {"network/rf settings", "Config: Network rf settings missing\n"},
    {"network/rf settings/0/channel", "Config: rf channel missing\n"},
    {"network/rf settings/0/bit rate", "Config: rf bitrate missing\n"},
    {"network/rf settings/0/prf", "Config: rf prf missing\n"},
    {"network/rf settings/0/preamble length", "Config: rf preamble length missing\n"},
    {"network/rf settings/0/preamble code", "Config: rf preamble code missing\n"},
    {"network/masters", "Config: master missing\n"},
    {"network/masters/0/serial number", "Config: master serial num missing\n"},
    {"network/masters/0/antenna delay", "Config: master antenna delay missing\n"},
    {"network/masters/0/x", "Config: master x missing\n"},
    {"network/masters/0/y", "Config: master y missing\n"},
    {"network/masters/0/z", "Config: master z missing\n"},
    {"network/masters/1/serial number", "Config: master serial num missing\n"},
    {"network/masters/1/antenna delay", "Config: master antenna delay missing\n"},
    {"network/masters/1/x", "Config: master x missing\n"},
    {"network/masters/1/y", "Config: master y missing\n"},
    {"network/masters/1/z", "Config: master z missing\n"},
    {"network/anchors", "Config: anchors missing\n"},
    {"network/anchors/0/serial number", "Config: anchor serial num missing\n"},
    {"network/anchors/0/antenna delay", "Config: anchor antenna delay missing\n"},
    {"network/anchors/0/x", "Config: anchor x missing\n"},
    {"network/anchors/0/y", "Config: anchor y missing\n"},
    {"network/anchors/0/z", "Config: anchor z missing\n"},
    {"network/anchors/1/serial number", "Config: anchor serial num missing\n"},
    {"network/anchors/1/antenna delay", "Config: anchor antenna delay missing\n"},
    {"network/anchors/1/x", "Config: anchor x missing\n"},
    {"network/anchors/1/y", "Config: anchor y missing\n"},
    {"network/anchors/1/z", "Config: anchor z missing\n"},
    {"network/tags", "Config: tag list missing\n"},
    {"network/tags/0/serial number", "No tag serial number\n"},
    {"network/tags/0/antenna delay", "No tag antenna delay\n"},
    {"network/scheduler options", "Config: `scheduler options` missing from network section\n"},
    {"network/scheduler options/tag rate", "Config: `tag rate` missing from `scheduler options` section\n"},
    {"network/tag payload", "Config: `tag payload` missing from `network` section\n"},
    {"network/tag payload/mpu", "Config: `mpu` missing from `tag payload` section\n"},
    {"network/tag payload/mpu/send accel", "Config: `send accel` missing from `mpu` section\n"},
    {"network/tag payload/mpu/accel dlpf rate", "Config: `accel dlpf rate` missing from `mpu` section\n"},
    {"network/tag payload/mpu/accel scale", "Config: `accel scale` missing from `mpu` section\n"},
    {"network/tag payload/mpu/send gyro", "Config: `send gyro` missing from `mpu` section\n"},
    {"network/tag payload/mpu/gyro dlpf rate", "Config: `gyro dlpf rate` missing from `mpu` section\n"},
    {"network/tag payload/mpu/gyro scale", "Config: `gyro scale` missing from `mpu` section\n"},
    {"network/tag payload/mpu/send magnetometer", "Config: `send magnetometer` missing from `mpu` section\n"},
    {"network/tag payload/mpu/send quat", "Config: `send quat` missing from `mpu` section\n"},
    {"network/tag payload/barometer", "Config: `barometer` missing from `tag payload` section\n"},
    {"network/tag payload/barometer/send pressure",
     "Config: `send pressure` missing from `barometer` section\n"},
    {"network/tag payload/barometer/send temperature",
     "Config: `send temperature` missing from `barometer` section\n"},
};

TEST(ConfigFileValidatorTest, CompleteConfigurationPassesSilently) {
    const validation_t result = Validate(ValidConfig());
    EXPECT_TRUE(result.valid);
    EXPECT_EQ(result.output, "");
}

TEST(ConfigFileValidatorTest, EachMissingKeyGivesItsOwnMessage) {
    for (const auto& key : required_keys_) {
        SCOPED_TRACE(key.first);
        const validation_t result = Validate(Without(ValidConfig(), key.first));
        EXPECT_FALSE(result.valid);
        EXPECT_EQ(result.output, key.second);
    }
}

TEST(ConfigFileValidatorTest, FirstMissingKeyInCheckOrderIsReported) {
    // Removing the keys from the last to the first: each time the key just removed is
    // the first one missing, so its message alone must be printed.
    QJsonObject config = ValidConfig();
    for (auto key = required_keys_.rbegin(); key != required_keys_.rend(); ++key) {
        SCOPED_TRACE(key->first);
        config = Without(config, key->first);
        const validation_t result = Validate(config);
        EXPECT_FALSE(result.valid);
        EXPECT_EQ(result.output, key->second);
    }
    EXPECT_TRUE(config.keys() == QStringList{"vsn"});
}

TEST(ConfigFileValidatorTest, EmptyObjectNamesOnlyTheHostSection) {
    const validation_t result = Validate(QJsonObject());
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(result.output, "Config: `host` section missing\n");
}

TEST(ConfigFileValidatorTest, RfSettingsMustHoldExactlyOneEntry) {
    const QJsonArray one = ValidConfig()["network"].toObject()["rf settings"].toArray();
    const validation_t two =
        Validate(With(ValidConfig(), {"network", "rf settings"}, QJsonArray{one.at(0), one.at(0)}));
    EXPECT_FALSE(two.valid);
    EXPECT_EQ(two.output, "2\nConfig: No rf settings specified\n");
    const validation_t none = Validate(With(ValidConfig(), {"network", "rf settings"}, QJsonArray()));
    EXPECT_EQ(none.output, "0\nConfig: No rf settings specified\n");
    // An object where the array belongs counts as no entries.
    const validation_t object = Validate(With(ValidConfig(), {"network", "rf settings"}, one.at(0)));
    EXPECT_FALSE(object.valid);
    EXPECT_EQ(object.output, "0\nConfig: No rf settings specified\n");
}

TEST(ConfigFileValidatorTest, EmptyMasterListIsRefusedWithoutLineEnd) {
    const validation_t result = Validate(With(ValidConfig(), {"network", "masters"}, QJsonArray()));
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(result.output, "Config: no masters in list");
    const validation_t string = Validate(With(ValidConfig(), {"network", "masters"}, "master"));
    EXPECT_EQ(string.output, "Config: no masters in list");
}

TEST(ConfigFileValidatorTest, EmptyAnchorAndTagListsAreAccepted) {
    QJsonObject config = With(ValidConfig(), {"network", "anchors"}, QJsonArray());
    config = With(config, {"network", "tags"}, QJsonArray());
    const validation_t result = Validate(config);
    EXPECT_TRUE(result.valid);
    EXPECT_EQ(result.output, "");
}

TEST(ConfigFileValidatorTest, ConfigSocketNeedsOnlyItsInterface) {
    const validation_t result = Validate(
        With(ValidConfig(), {"host", "multicast", "config socket"}, QJsonObject{{"interface", "eth0"}}));
    EXPECT_TRUE(result.valid);
    EXPECT_EQ(result.output, "");
}

TEST(ConfigFileValidatorTest, WrongValueTypesPassBecauseOnlyPresenceIsChecked) {
    QJsonArray rf = ValidConfig()["network"].toObject()["rf settings"].toArray();
    QJsonObject entry = rf.at(0).toObject();
    entry["channel"] = "five";
    entry["prf"] = QJsonArray{64};
    rf[0] = entry;
    QJsonObject config = With(ValidConfig(), {"network", "rf settings"}, rf);
    config = With(config, {"host", "serial ports"}, 17);
    config = With(config, {"host", "algorithm"}, QJsonValue::Null);
    const validation_t result = Validate(config);
    EXPECT_TRUE(result.valid);
    EXPECT_EQ(result.output, "");
}

TEST(ConfigFileValidatorTest, SectionsOfTheWrongShapeCountAsEmpty) {
    EXPECT_EQ(Validate(With(ValidConfig(), {"host"}, QJsonArray{1, 2})).output,
              "Config: `algorithm` missing from `host` section\n");
    EXPECT_EQ(Validate(With(ValidConfig(), {"network"}, "network")).output,
              "Config: Network rf settings missing\n");
    EXPECT_EQ(Validate(With(ValidConfig(), {"host", "multicast"}, 3)).output,
              "Config: `multicast` section missing `internal socket` field\n");
    EXPECT_EQ(Validate(With(ValidConfig(), {"network", "tag payload"}, QJsonArray())).output,
              "Config: `mpu` missing from `tag payload` section\n");
    // A node entry that is not an object counts as one without keys.
    QJsonArray anchors = ValidConfig()["network"].toObject()["anchors"].toArray();
    anchors.append(42);
    EXPECT_EQ(Validate(With(ValidConfig(), {"network", "anchors"}, anchors)).output,
              "Config: anchor serial num missing\n");
    // An anchor list that is not an array counts as empty and passes.
    EXPECT_TRUE(Validate(With(ValidConfig(), {"network", "anchors"}, "none")).valid);
}

TEST(ConfigFileValidatorTest, DuplicateAmongEnabledDevicesIsRefused) {
    QJsonArray tags = ValidConfig()["network"].toObject()["tags"].toArray();
    // The first anchor's serial number on a tag without "enabled".
    tags.append(QJsonObject{{"serial number", "01:00:0003"}, {"antenna delay", 1}});
    const validation_t result = Validate(With(ValidConfig(), {"network", "tags"}, tags));
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(result.output, "Err: Device  01:00:0003  appears  2  times in the config file!\n");
}

TEST(ConfigFileValidatorTest, DisabledDevicesAreLeftOutOfTheDuplicateCheck) {
    QJsonArray tags = ValidConfig()["network"].toObject()["tags"].toArray();
    tags.append(QJsonObject{{"serial number", "01:00:0003"}, {"antenna delay", 1}, {"enabled", false}});
    // The disabled second master shares its number with a disabled tag too.
    tags.append(QJsonObject{{"serial number", "01:00:0002"}, {"antenna delay", 1}, {"enabled", false}});
    const validation_t result = Validate(With(ValidConfig(), {"network", "tags"}, tags));
    EXPECT_TRUE(result.valid);
    EXPECT_EQ(result.output, "");
}

TEST(ConfigFileValidatorTest, DuplicateCheckCountsPerSerialNumberInAscendingOrder) {
    // Serial numbers in text and numeric form are the same device; "enabled": 0 is not a
    // boolean and so counts as enabled.
    const QJsonArray anchors{QJsonObject{{"serial number", "0x01000009"}},
                             QJsonObject{{"serial number", "01:00:0005"}}};
    const QJsonArray masters{QJsonObject{{"serial number", 0x01000009}, {"enabled", 0}}};
    const QJsonArray tags{QJsonObject{{"serial number", "01:00:0005"}},
                          QJsonObject{{"serial number", "01:00:0009"}, {"enabled", true}},
                          QJsonObject{{"serial number", "01:00:0007"}}};
    QtMessagesToStdout qt_messages;
    StdoutCapture capture;
    EXPECT_TRUE(ConfigFileValidator::CheckForSerialNumberDuplication({anchors, masters, tags}));
    EXPECT_EQ(capture.Stop(),
              "Err: Device  01:00:0005  appears  2  times in the config file!\n"
              "Err: Device  01:00:0009  appears  3  times in the config file!\n");
}

TEST(ConfigFileValidatorTest, NoDuplicateInEmptyOrDistinctLists) {
    QtMessagesToStdout qt_messages;
    StdoutCapture capture;
    EXPECT_FALSE(ConfigFileValidator::CheckForSerialNumberDuplication({}));
    EXPECT_FALSE(ConfigFileValidator::CheckForSerialNumberDuplication(
        {QJsonArray{QJsonObject{{"serial number", 1}}}, QJsonArray{QJsonObject{{"serial number", 2}}},
         QJsonArray{"not an object"}}));
    EXPECT_EQ(capture.Stop(), "");
}

TEST(ConfigFileValidatorTest, DuplicateCheckRunsBeforeSchedulerOptions) {
    QJsonArray anchors = ValidConfig()["network"].toObject()["anchors"].toArray();
    anchors.append(anchors.at(0));
    QJsonObject config = With(ValidConfig(), {"network", "anchors"}, anchors);
    config = Without(config, "network/scheduler options");
    const validation_t result = Validate(config);
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(result.output, "Err: Device  01:00:0003  appears  2  times in the config file!\n");
}

TEST(ConfigFileValidatorTest, SocketCheckNamesTheSocket) {
    StdoutCapture capture;
    EXPECT_FALSE(ConfigFileValidator::IsSocketValid(
        QJsonObject{{"address", "a"}, {"port", 1}, {"interface", "lo"}}, "external socket"));
    EXPECT_TRUE(ConfigFileValidator::IsSocketValid(
        QJsonObject{{"address", "a"}, {"port", 1}, {"ttl", 1}, {"interface", "lo"}}, "x"));
    EXPECT_EQ(capture.Stop(), "Config: `ttl` missing from `external socket` section\n");
}

}  // namespace
