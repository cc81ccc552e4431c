#include "config/config_updater.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include "config/config_version_one_updater.h"
#include "config/config_version_two_updater.h"
#include "config/settings.h"

namespace {

QJsonObject LoadObject(const char* name) {
    QFile file(QString(VORAV_TEST_DATA_DIR "/config/") + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << name << ": " << error.errorString().toStdString();
    return document.object();
}

// Every path at which the two values differ (a missing key, another type or another
// value), so that a failure names the keys rather than dumping two documents.
void CollectDifferences(const QJsonValue& actual, const QJsonValue& expected, const QString& path,
                        QStringList* differences) {
    if (actual.type() != expected.type()) {
        differences->append(path + ": type differs");
        return;
    }
    if (expected.isObject()) {
        const QJsonObject actual_object = actual.toObject();
        const QJsonObject expected_object = expected.toObject();
        for (const QString& key : expected_object.keys()) {
            if (!actual_object.contains(key)) {
                differences->append(path + "/" + key + ": missing");
            } else {
                CollectDifferences(actual_object.value(key), expected_object.value(key), path + "/" + key,
                                   differences);
            }
        }
        for (const QString& key : actual_object.keys()) {
            if (!expected_object.contains(key))
                differences->append(path + "/" + key + ": unexpected");
        }
    } else if (expected.isArray()) {
        const QJsonArray actual_array = actual.toArray();
        const QJsonArray expected_array = expected.toArray();
        if (actual_array.size() != expected_array.size()) {
            differences->append(
                path +
                QString(": %1 elements, expected %2").arg(actual_array.size()).arg(expected_array.size()));
            return;
        }
        for (int i = 0; i < expected_array.size(); ++i)
            CollectDifferences(actual_array.at(i), expected_array.at(i), path + QString("[%1]").arg(i),
                               differences);
    } else if (actual != expected) {
        differences->append(path + ": " + QJsonDocument(QJsonArray{actual}).toJson(QJsonDocument::Compact) +
                            " instead of " +
                            QJsonDocument(QJsonArray{expected}).toJson(QJsonDocument::Compact));
    }
}

std::string Differences(const QJsonObject& actual, const QJsonObject& expected) {
    QStringList differences;
    CollectDifferences(actual, expected, "", &differences);
    return differences.join("\n").toStdString();
}

const QJsonObject Upgrade(const QJsonObject& config) {
    return ConfigUpdater::UpdateConfigurationToMostRecent(config);
}

}  // namespace

TEST(ConfigUpgradeFiles, VersionOneMatchesHandWrittenVersionThree) {
    const QJsonObject upgraded = Upgrade(LoadObject("version1.cfg"));
    EXPECT_EQ(Differences(upgraded, LoadObject("version1_upgraded.json")), "");
}

TEST(ConfigUpgradeFiles, VersionTwoMatchesHandWrittenVersionThree) {
    const QJsonObject upgraded = Upgrade(LoadObject("version2.cfg"));
    EXPECT_EQ(Differences(upgraded, LoadObject("version2_upgraded.json")), "");
}

TEST(ConfigUpgradeFiles, VersionThreeIsUnchanged) {
    const QJsonObject config = LoadObject("version3.cfg");
    EXPECT_EQ(Differences(Upgrade(config), config), "");
}

TEST(ConfigUpgradeVersionDispatch, CurrentAndUnknownVersionsComeBackUnchanged) {
    for (const QJsonValue& version : {QJsonValue(3), QJsonValue(7), QJsonValue(-1)}) {
        const QJsonObject config{{"vsn", version}, {"host", QJsonObject{{"x", 1}}}, {"network", 5}};
        EXPECT_EQ(Upgrade(config), config) << version.toDouble();
    }
}

TEST(ConfigUpgradeVersionDispatch, MissingZeroOneAndNonIntegerVersionsAreVersionOne) {
    const QJsonValue versions[] = {
        QJsonValue(QJsonValue::Undefined), QJsonValue(0), QJsonValue(1), QJsonValue(1.5), QJsonValue("2"),
        QJsonValue(4294967298.0)};
    for (const QJsonValue& version : versions) {
        QJsonObject config{{"lcm_port", 7001}};
        if (!version.isUndefined())
            config.insert("vsn", version);
        const QJsonObject upgraded = Upgrade(config);
        EXPECT_EQ(upgraded.value("vsn"), QJsonValue(2)) << QJsonDocument(config).toJson().toStdString();
        EXPECT_EQ(upgraded["host"]["multicast"]["external socket"]["port"], QJsonValue(7001));
        EXPECT_EQ(upgraded["lcm_port"], QJsonValue(7001));
    }
}

TEST(ConfigUpgradeVersionDispatch, VersionTwoKeepsItsVersionAndTheCallersObject) {
    const QJsonObject config{{"vsn", 2}, {"known networks", QJsonArray{QJsonObject{{"server uid", 3}}}}};
    const QJsonObject copy = config;
    const QJsonObject upgraded = Upgrade(config);
    EXPECT_EQ(config, copy);
    EXPECT_EQ(upgraded["vsn"], QJsonValue(2));
    EXPECT_EQ(upgraded["known networks"], config["known networks"]);
    EXPECT_TRUE(upgraded["host"].isObject());
    EXPECT_TRUE(upgraded["network"].isObject());
}

TEST(ConfigUpgradeVersionOne, TwrAdjustmentSetsEveryAntennaDelay) {
    const struct {
        QJsonValue adjustment;
        int antenna_delay;
    } cases[] = {{QJsonValue(0.5), 16336},
                 {QJsonValue(-0.5), 16548},
                 {QJsonValue(QJsonValue::Undefined), 16442},
                 {QJsonValue("0.5"), 16442},
                 {QJsonValue(0), 16442}};
    for (const auto& test_case : cases) {
        QJsonObject config{{"clocks", QJsonArray{QJsonObject{{"serial", "01:00:0001"}}}},
                           {"anchors", QJsonArray{QJsonObject{{"serial", 5}}}},
                           {"tags", QJsonArray{QJsonObject{{"serial", "01:01:0001"}}}}};
        if (!test_case.adjustment.isUndefined())
            config.insert("twr_adjustment", test_case.adjustment);
        const QJsonObject network = Upgrade(config)["network"].toObject();
        for (const char* list : {"masters", "anchors", "tags"})
            EXPECT_EQ(network[list][0]["antenna delay"], QJsonValue(test_case.antenna_delay)) << list;
    }
}

TEST(ConfigUpgradeVersionOne, AdjustmentUsesTheSpeedOfLightInForce) {
    HostSettings* host = Settings::GlobalSettings()->GetHostSettingsReference();
    const double saved = host->GetSpeedOfLight();
    const QJsonObject config{{"twr_adjustment", 0.5}, {"tags", QJsonArray{QJsonObject{{"serial", 9}}}}};

    host->SetSpeedOfLight(299792458.0 / 2.0);
    EXPECT_EQ(Upgrade(config)["network"]["tags"][0]["antenna delay"], QJsonValue(16442 - 213));
    // A speed of light of 0 (or an absurd adjustment) must not make the conversion undefined.
    host->SetSpeedOfLight(0.0);
    EXPECT_TRUE(Upgrade(config)["network"]["tags"][0]["antenna delay"].isDouble());
    host->SetSpeedOfLight(299792458.0);
    const QJsonObject huge{{"twr_adjustment", -1e300}, {"tags", QJsonArray{QJsonObject{{"serial", 9}}}}};
    EXPECT_EQ(Upgrade(huge)["network"]["tags"][0]["antenna delay"], QJsonValue(2147483647));
    host->SetSpeedOfLight(saved);
}

TEST(ConfigUpgradeVersionOne, ClocksBecomeMastersAndTheirPortsSerialPorts) {
    const QJsonObject config{
        {"clocks",
         QJsonArray{QJsonObject{{"serial", "01:00:0001"}, {"x", 1}, {"y", 2}, {"z", 3}, {"port", "/dev/a"}},
                    QJsonObject{{"x", 4}, {"port", 17}}, QJsonObject{{"serial", 2}}, QJsonValue(12)}}};
    const QJsonObject upgraded = Upgrade(config);
    const QJsonArray masters = upgraded["network"]["masters"].toArray();
    ASSERT_EQ(masters.size(), 4);
    EXPECT_EQ(masters[0].toObject(), (QJsonObject{{"serial number", "01:00:0001"},
                                                  {"antenna delay", 16442},
                                                  {"x", 1},
                                                  {"y", 2},
                                                  {"z", 3},
                                                  {"enabled", true}}));
    EXPECT_EQ(masters[1].toObject(), (QJsonObject{{"x", 4}, {"enabled", true}}));
    EXPECT_EQ(masters[2].toObject(),
              (QJsonObject{{"serial number", 2}, {"antenna delay", 16442}, {"enabled", true}}));
    EXPECT_EQ(masters[3].toObject(), (QJsonObject{{"enabled", true}}));
    EXPECT_EQ(upgraded["host"]["serial ports"].toArray(), (QJsonArray{"/dev/a", 17}));
    EXPECT_FALSE(masters[0].toObject().contains("backhaul"));
}

TEST(ConfigUpgradeVersionOne, DevicesWithoutSerialStayEmptyButAreKept) {
    const QJsonObject config{{"tags", QJsonArray{QJsonObject{{"name", "t"}}}},
                             {"anchors", QJsonArray{QJsonObject{{"z", 1.5}}}}};
    const QJsonObject network = Upgrade(config)["network"].toObject();
    EXPECT_EQ(network["tags"].toArray(), (QJsonArray{QJsonObject{{"enabled", true}}}));
    EXPECT_EQ(network["anchors"].toArray(),
              QJsonArray{(QJsonObject{{"z", 1.5}, {"backhaul", "uwb"}, {"enabled", true}})});
}

TEST(ConfigUpgradeVersionOne, EmptyObjectGivesEmptyListsAndFixedSections) {
    const QJsonObject upgraded = Upgrade(QJsonObject{});
    const QJsonObject network = upgraded["network"].toObject();
    EXPECT_EQ(network["masters"].toArray(), QJsonArray{});
    EXPECT_EQ(network["anchors"].toArray(), QJsonArray{});
    EXPECT_EQ(network["tags"].toArray(), QJsonArray{});
    EXPECT_EQ(network["scheduler options"].toObject(), (QJsonObject{{"tag rate", 20.0}}));
    EXPECT_EQ(network["rf settings"].toArray(), QJsonArray{(QJsonObject{{"bit rate", 6.8},
                                                                        {"channel", 5},
                                                                        {"preamble code", 4},
                                                                        {"preamble length", 64},
                                                                        {"prf", 16},
                                                                        {"tx power", 134744072}})});
    const QJsonObject host = upgraded["host"].toObject();
    EXPECT_EQ(host["serial ports"].toArray(), QJsonArray{});
    EXPECT_EQ(host["default tag bounds"].toObject(), QJsonObject{});
    EXPECT_EQ(host["smoothing factor"], QJsonValue(0));
    EXPECT_EQ(host["multicast"]["internal socket"].toObject(),
              (QJsonObject{{"address", "239.255.76.67"}, {"interface", "lo"}, {"port", 7667}, {"ttl", 1}}));
    EXPECT_EQ(host["multicast"]["config socket"].toObject(), (QJsonObject{{"interface", "lo"}}));
    EXPECT_EQ(upgraded["vsn"], QJsonValue(2));
}

TEST(ConfigUpgradeVersionOne, NonArrayListsAreLeftOutAndBoundsCopiedAsTheyAre) {
    const QJsonObject config{{"clocks", "none"}, {"anchors", 3}, {"x_max", "far"}, {"z_min", -2}};
    const QJsonObject version_two = ConfigVersionOneUpdater().UpdateConfiguration(config);
    const QJsonObject network = version_two["network"].toObject();
    EXPECT_FALSE(network.contains("masters"));
    EXPECT_FALSE(network.contains("anchors"));
    EXPECT_FALSE(network.contains("tags"));
    EXPECT_EQ(network["serial ports"].toArray(), QJsonArray{});
    EXPECT_EQ(network["scheduler options"].toObject(), (QJsonObject{{"tag rate", "20 Hz"}}));
    EXPECT_EQ(network["default tag bounds"].toObject(), (QJsonObject{{"maxx", "far"}, {"minz", -2}}));
    EXPECT_EQ(version_two["clocks"], QJsonValue("none"));
}

TEST(ConfigUpgradeVersionTwo, TagRateTextIsParsedAsItsLeadingNumber) {
    const struct {
        QJsonValue rate;
        double expected;
    } cases[] = {
        {QJsonValue("10 Hz"), 10.0}, {QJsonValue("0.5 Hz"), 0.5}, {QJsonValue("  -2.5e1x"), -25.0},
        {QJsonValue("Hz 10"), 0.0},  {QJsonValue(""), 0.0},       {QJsonValue("inf"), 0.0},
        {QJsonValue("1e999"), 0.0},  {QJsonValue(".25Hz"), 0.25}, {QJsonValue("7e"), 7.0},
        {QJsonValue("+3."), 3.0},    {QJsonValue(10), 20.0},      {QJsonValue(QJsonValue::Null), 20.0}};
    for (const auto& test_case : cases) {
        const QJsonObject config{
            {"vsn", 2},
            {"network", QJsonObject{{"scheduler options", QJsonObject{{"tag rate", test_case.rate}}}}}};
        EXPECT_EQ(Upgrade(config)["network"]["scheduler options"]["tag rate"], QJsonValue(test_case.expected))
            << QJsonDocument(QJsonArray{test_case.rate}).toJson(QJsonDocument::Compact).toStdString();
    }
    EXPECT_EQ(Upgrade(QJsonObject{{"vsn", 2}})["network"]["scheduler options"]["tag rate"], QJsonValue(20.0));
}

TEST(ConfigUpgradeVersionTwo, NodesGetEnabledAndAnchorsBackhaulAndLoseTwrMaster) {
    QJsonObject node{{"twr_master", true}, {"enabled", 0}, {"extra", "kept"}};
    ConfigVersionTwoUpdater().UpdateNodeConfiguration(node);
    EXPECT_EQ(node, (QJsonObject{{"enabled", 0}, {"extra", "kept"}}));

    const QJsonObject network{{"anchors", QJsonArray{QJsonObject{{"backhaul", "wired"}}, QJsonObject{}, 5}},
                              {"masters", QJsonArray{QJsonObject{{"enabled", false}, {"twr_master", false}}}},
                              {"tags", "not a list"}};
    const QJsonObject updated = ConfigVersionTwoUpdater().UpdateNetworkSection(network);
    EXPECT_EQ(updated["anchors"].toArray(),
              (QJsonArray{QJsonObject{{"backhaul", "wired"}, {"enabled", true}},
                          QJsonObject{{"backhaul", "uwb"}, {"enabled", true}},
                          QJsonObject{{"backhaul", "uwb"}, {"enabled", true}}}));
    EXPECT_EQ(updated["masters"].toArray(), (QJsonArray{QJsonObject{{"enabled", false}}}));
    EXPECT_EQ(updated["tags"].toArray(), QJsonArray{});
    EXPECT_EQ(updated["rf settings"].toArray(), QJsonArray{});
    EXPECT_EQ(updated.keys(),
              (QStringList{"anchors", "masters", "rf settings", "scheduler options", "tag payload", "tags"}));
}

TEST(ConfigUpgradeVersionTwo, TagPayloadIsAlwaysTheFixedObjectWithoutHeadroom) {
    const QJsonObject network{
        {"tag payload", QJsonObject{{"headroom", 9}, {"mpu", QJsonObject{{"send gyro", true}}}}}};
    const QJsonObject payload =
        ConfigVersionTwoUpdater().UpdateNetworkSection(network)["tag payload"].toObject();
    EXPECT_FALSE(payload.contains("headroom"));
    EXPECT_EQ(payload["mpu"]["send gyro"], QJsonValue(false));
    EXPECT_EQ(payload["mpu"]["gyro dlpf rate"], QJsonValue(5));
    EXPECT_EQ(payload["barometer"].toObject(),
              (QJsonObject{{"send pressure", false}, {"send temperature", false}}));
}

TEST(ConfigUpgradeVersionTwo, HostSectionTakesOptionsOnlyWhenPresentAndTypesThem) {
    const QJsonObject host{
        {"algorithm", "twr+snoop"}, {"vm gain", "high"}, {"smooth guess", 1}, {"other", 1}};
    const QJsonObject network{{"smoothing factor", 2.5}, {"serial ports", "ttyACM0"}};
    const QJsonObject updated = ConfigVersionTwoUpdater().UpdateHostSection(host, network);
    EXPECT_EQ(updated["algorithm"], QJsonValue("rtls_vm"));
    EXPECT_EQ(updated["vm gain"], QJsonValue(0.0));
    EXPECT_EQ(updated["smooth guess"], QJsonValue(false));
    EXPECT_FALSE(updated.contains("vm reject threshold"));
    EXPECT_FALSE(updated.contains("other"));
    EXPECT_EQ(updated["smoothing factor"], QJsonValue(0));
    EXPECT_EQ(updated["serial ports"].toArray(), QJsonArray{});
    // A multicast object without keys gives empty texts and zero numbers, no complaint.
    EXPECT_EQ(updated["multicast"]["external socket"].toObject(),
              (QJsonObject{{"address", ""}, {"interface", ""}, {"port", 0}, {"ttl", 0}}));
    EXPECT_EQ(updated["multicast"]["config socket"].toObject(), (QJsonObject{{"interface", ""}}));
}
