// The location engine's operations that nothing in the server calls: their
// results on hand-worked values.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVector>
#include <cstring>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "host/dpu/dpu.h"
#include "protocol/reports/derazud_rdoa_rpt.h"
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

// An RDOA report as it travels: head, then per entry the anchor's serial
// number and id, the reference anchor's serial number and id, and the range
// difference as the bits of a float.
std::vector<uint8_t> RdoaReportBytes(
    const std::vector<std::pair<std::pair<uint16_t, uint16_t>, float>>& entries) {
    std::vector<uint8_t> bytes(kDerAzudRdoaRptHeadSize + kDerAzudRdoaSize * entries.size());
    wire::write_be16(bytes.data() + 16, 9);
    wire::write_be16(bytes.data() + 18, static_cast<uint16_t>(entries.size()));
    uint8_t* at = bytes.data() + kDerAzudRdoaRptHeadSize;
    for (const auto& entry : entries) {
        uint32_t bits;
        std::memcpy(&bits, &entry.second, sizeof(bits));
        wire::write_be64(at, 0x01000000u + entry.first.first);
        wire::write_be16(at + 8, entry.first.first);
        wire::write_be64(at + 10, 0x01000000u + entry.first.second);
        wire::write_be16(at + 18, entry.first.second);
        wire::write_be32(at + 20, bits);
        at += kDerAzudRdoaSize;
    }
    return bytes;
}

TEST(DpuOperationsTest, RangeDifferenceOfAnAnchorPairGoesIntoTheMatrixWithOppositeSigns) {
    const std::vector<uint8_t> bytes =
        RdoaReportBytes({{{2, 3}, 1.5f}, {{5, 4}, -0.25f}, {{3, 2}, 7.0f}, {{4, 5}, 9.0f}});
    derazud_rdoa_rpt_t report{};
    ASSERT_EQ(DerAzudRdoaRpt_FromBuff(&report, bytes.data(), static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
    const uint16_t ids[4] = {2, 3, 4, 5};
    double matrix[4][4] = {};

    // (2, 3) is listed as such first: +1.5 at [0][1]; the later (3, 2) is not read.
    EXPECT_EQ(Dpu::FindRDOABetweenAnchors(report, matrix, ids, 0, 1), 1);
    EXPECT_EQ(matrix[0][1], 1.5);
    EXPECT_EQ(matrix[1][0], -1.5);
    // Asked the other way round, the same entry is found reversed: the
    // matrix says the same.
    matrix[0][1] = matrix[1][0] = 0.0;
    EXPECT_EQ(Dpu::FindRDOABetweenAnchors(report, matrix, ids, 1, 0), 1);
    EXPECT_EQ(matrix[1][0], -1.5);
    EXPECT_EQ(matrix[0][1], 1.5);
    // (4, 5) first appears reversed as (5, 4) with -0.25.
    EXPECT_EQ(Dpu::FindRDOABetweenAnchors(report, matrix, ids, 2, 3), 1);
    EXPECT_EQ(matrix[2][3], 0.25);
    EXPECT_EQ(matrix[3][2], -0.25);

    // A pair no entry names, an index beyond the four columns and a report
    // without entries leave the matrix alone.
    double before[4][4];
    std::memcpy(before, matrix, sizeof(matrix));
    EXPECT_EQ(Dpu::FindRDOABetweenAnchors(report, matrix, ids, 0, 2), 0);
    EXPECT_EQ(Dpu::FindRDOABetweenAnchors(report, matrix, ids, 0, 4), 0);
    EXPECT_EQ(Dpu::FindRDOABetweenAnchors(report, matrix, ids, -1, 0), 0);
    DerAzudRdoaRpt_Cleanup(&report);
    EXPECT_EQ(Dpu::FindRDOABetweenAnchors(report, matrix, ids, 0, 1), 0);
    EXPECT_EQ(std::memcmp(before, matrix, sizeof(matrix)), 0);
}

}  // namespace
