// The budget as the host computes it: from a configuration's "network"
// section through the converter into settings. A missing or unusable tag
// rate must leave a non-zero status, so that the host refuses to start.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "config/config_to_settings_converter.h"
#include "config/settings.h"
#include "host/scheduling/rf_scheduler_settings.h"

namespace {

constexpr char kNetwork[] = R"({
    "rf settings": [
        {"channel": 5, "preamble code": 10, "bit rate": "6.8 Mbps", "prf": 64, "preamble length": 256}
    ],
    "scheduler options": {"tag rate": 8.5},
    "anchors": [
        {"serial number": "01:00:0011", "backhaul": "uwb"},
        {"serial number": "01:00:0012", "backhaul": "wired"},
        {"serial number": "01:00:0013", "enabled": false},
        {"serial number": "01:00:0014"}
    ],
    "tags": [{"serial number": "01:01:0021"}],
    "tag payload": {
        "headroom": 4,
        "mpu": {"send accel": true, "send gyro": true, "send quat": true,
                "sample rate divisor": 20, "subsample rate divisor": 2},
        "barometer": {"send pressure": true}
    }
})";

QJsonObject Network() {
    return QJsonDocument::fromJson(kNetwork).object();
}

RfSchedulerSettings BudgetOf(const QJsonObject& network) {
    Settings settings;
    ConfigToSettingsConverter::ConvertNetworkConfigToSettings(&settings, network);
    return RfSchedulerSettings(&settings);
}

TEST(RfBudgetFromConfiguration, SiteWithTwoWirelessAnchors) {
    // Anchors 11 ("uwb") and 14 (no backhaul) count; 12 is wired, 13 disabled.
    // Payload: (250 + 250 + 1000 / 2 + 100) x 1.05 / 8.5 + 2 + 4 = 141.9 -> 142.
    const RfSchedulerSettings budget = BudgetOf(Network());
    EXPECT_EQ(budget.GetStatus(), 0);
    EXPECT_EQ(budget.GetLocationCycle(), 114705u);
    EXPECT_EQ(budget.GetBeaconPayloadSize(), 142);
    EXPECT_EQ(budget.GetSlottime(0), 558u);
    EXPECT_EQ(budget.GetSlottime(1), 363u);
    EXPECT_EQ(budget.GetSlottime(2), 584u);
    EXPECT_EQ(budget.GetSlottime(3), 1848u);
    EXPECT_EQ(budget.GetSlottime(4), 107168u);
    EXPECT_EQ(budget.GetMaxNumTags(), 5);
    EXPECT_EQ(budget.GetAnchorReportPayloadSize(), 955);
}

TEST(RfBudgetFromConfiguration, MissingOrUnusableTagRateIsRefused) {
    QJsonObject network = Network();
    network.remove("scheduler options");
    EXPECT_EQ(BudgetOf(network).GetStatus(), 1);

    for (const char* options :
         {R"({"tag rate": 0})", R"({"tag rate": -2.5})", R"({"tag rate": "ten"})", R"({})"}) {
        network["scheduler options"] = QJsonDocument::fromJson(options).object();
        const RfSchedulerSettings budget = BudgetOf(network);
        EXPECT_EQ(budget.GetStatus(), 1) << options;
        EXPECT_EQ(budget.GetLocationCycle(), 0u) << options;
    }
}

TEST(RfBudgetFromConfiguration, ExtremeButValidTagRatesGiveAStatus) {
    QJsonObject network = Network();
    network["scheduler options"] = QJsonDocument::fromJson(R"({"tag rate": 1000000})").object();
    EXPECT_EQ(BudgetOf(network).GetStatus(), 3);  // a cycle of 0
    network["scheduler options"] = QJsonDocument::fromJson(R"({"tag rate": 0.001})").object();
    EXPECT_EQ(BudgetOf(network).GetStatus(), 2);  // the sensors fill far more than one beacon
    // So slow that the cycle would not fit 32 bits; the beacon is too long first.
    network["scheduler options"] = QJsonDocument::fromJson(R"({"tag rate": 1e-9})").object();
    EXPECT_EQ(BudgetOf(network).GetStatus(), 2);
    EXPECT_EQ(BudgetOf(network).GetLocationCycle(), 0u);
}

}  // namespace
