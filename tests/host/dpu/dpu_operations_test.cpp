// The location engine's operations that nothing in the server calls: their
// results on hand-worked values.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVector>
#include <string>

#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "host/dpu/dpu.h"
#include "protocol/vex/vex_data_types.h"
#include "support/dpu_test_site.h"
#include "support/stdout_capture.h"

namespace {

using namespace dpu_test_site;

QJsonArray Nodes(const char* json) {
    return QJsonDocument::fromJson(json).array();
}

TEST(DpuOperationsTest, TransmitPowerOfTheSecondGainByte) {
    Install();
    FlatSettingsInterface settings(Settings::GlobalSettings());
    cmd_set_rf_settings_t rf = settings.GetRfSettings();
    // Bits 16-23: coarse 2 (bits 5-7), fine 9: 3 x (6 - 2) + 4.5 dB.
    rf.transmit_power_code = 0x00490000;
    settings.SetRfSettings(rf);
    Dpu dpu;
    EXPECT_FLOAT_EQ(dpu.GetTxPowerInDb(), 16.5f);
    // Coarse 7, fine 31: 3 x (6 - 7) + 15.5 dB.
    rf.transmit_power_code = 0xFFFFFFFF;
    settings.SetRfSettings(rf);
    EXPECT_FLOAT_EQ(dpu.GetTxPowerInDb(), 12.5f);
}

TEST(DpuOperationsTest, NextExecutableTimeIsTheNextWholePeriodAfterOneSyncPeriod) {
    const site_t site = Install();
    Dpu dpu;
    StdoutCapture quiet;
    ASSERT_TRUE(dpu.Init({}, site.node_manager, site.scheduler, site.budget));
    const uint32_t period = dpu.GetSyncPeriod();
    // ceil((1000 + P) / 1000) x 1000 + 7.
    const uint64_t expected = (1000 + period + 999) / 1000 * 1000 + 7;
    EXPECT_EQ(dpu.CalculateNextExecutableGnt(1000, 7, 1000), expected);
    EXPECT_EQ(dpu.CalculateNextExecutableGnt(1000, 7, 0), 7u);
    // A tag's ideal time is in its beacon slot, the first whole period at or
    // after the counter less one period: with the counter at 10 P + 1, 10 P on.
    Dpu::BringUpTimings timings;
    timings.stop_attempt_sleep_ms = 0;
    timings.master_start_sleep_ms = 0;
    dpu.SetBringUpTimingsForTesting(timings);
    dpu.InitializeMasterNode();
    vex_data_tick_t tick{};
    tick.network_time = 10 * period + 1;
    dpu.RxVexTick(kMaster, VexDataItem(VexType::kTick, sizeof(tick), &tick));
    const uint64_t ideal =
        dpu._CalculateIdealTagTransmissionTime(site.node_manager->FindTagBySerialNumber(kTag));
    const TIME_RESERVATION_T slot = site.scheduler->GetTimeSlot(
        kTag, site.budget.GetSlottime(RfSchedulerSettings::kSlotTagBeacon), period);
    ASSERT_NE(slot.duration, 0u);
    EXPECT_EQ(ideal, slot.start + 10ull * period);
}

TEST(DpuOperationsTest, CountsActiveAndUwbBackhaulNodesOfAConfiguration) {
    const QJsonArray nodes =
        Nodes(R"([{"enabled": true, "backhaul": "uwb"}, {"enabled": false, "backhaul": "uwb"},
                                       {"backhaul": "wired"}, {}, {"enabled": "yes"}])");
    // A missing "enabled" counts as enabled, a non-boolean one too; a missing
    // "backhaul" as "uwb".
    EXPECT_EQ(Dpu::GetNumberOfActiveNodes(nodes), 4);
    EXPECT_EQ(Dpu::GetNumberOfActiveUwbBackhaulNodes(nodes), 3);
}

TEST(DpuOperationsTest, ReportsEverySerialNumberThatAppearsTwice) {
    const QVector<QJsonArray> lists = {
        Nodes(R"([{"serial number": "01:00:0001"}, {"serial number": "01:00:0002"}])"),
        Nodes(R"([{"serial number": "01:00:0002"}, {"serial number": 16777218}])")};
    QtMessagesToStdout messages;
    StdoutCapture capture;
    EXPECT_TRUE(Dpu::CheckForSerialNumberDuplication(lists));
    EXPECT_EQ(capture.Stop(), "Err: Device 01:00:0002 appears 3 times in the config file!\nHost aborting.\n");
    EXPECT_FALSE(Dpu::CheckForSerialNumberDuplication({lists[0]}));
}

}  // namespace
