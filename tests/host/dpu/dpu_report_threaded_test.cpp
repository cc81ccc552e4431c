// One External packet per time-of-arrival report of a known tag, made on the
// thread pool: the anchor status items, the solve's diagnostics (0x8008 per
// anchor, then 0x8007) and last the smoothed position. From encoded reports
// handed to the engine, and from timed receptions and pings through the
// anchors' clocks; solves of one tag come out in report order.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QDateTime>
#include <QThreadPool>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/geometry.h"
#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "host/dpu/dpu.h"
#include "host/dpu/toa_solver.h"
#include "protocol/reports/derazud_toa_rpt.h"
#include "protocol/vex/vex_data_types.h"
#include "support/dpu_test_site.h"
#include "support/stdout_capture.h"

class DpuTestPeer {
  public:
    static void ProcessAnchors(Dpu& dpu, const anchor_report_item_queue_t& item,
                               const std::shared_ptr<DwNode>& anchor, int64_t now) {
        dpu._ProcessAnchors(item, anchor, now);
    }
};

namespace {

using namespace dpu_test_site;

constexpr double kTicksPerSecond = 6.38976e10;
constexpr double kSpeedOfLight = 299792458.0;
const Coordinates kAnchorPositions[] = {
    {0.0, 0.0, 2500.0}, {10000.0, 0.0, 2500.0}, {10000.0, 8000.0, 500.0}, {0.0, 8000.0, 3000.0}};
// Network ids: the master has 1, the anchors 2 to 5 in order, the tags 6 and 7.
constexpr uint16_t kFirstAnchorId = 2;
constexpr uint16_t kTagId = 6;
constexpr uint16_t kSecondTagId = 7;

// Master device time at which each anchor hears a transmission from `tag` (mm)
// sent at `sent` seconds.
int64_t ArrivalTicks(const Coordinates& tag, int anchor, double sent) {
    const double flight = tag.CalculateDistanceBetween(kAnchorPositions[anchor]) / 1000.0 / kSpeedOfLight;
    return static_cast<int64_t>(std::llround((sent + flight) * kTicksPerSecond));
}

QByteArray EncodeReport(uint32_t tag, uint16_t tagId, uint16_t sequence,
                        const std::vector<derazud_toa_t>& entries) {
    std::vector<derazud_toa_t> copy = entries;
    derazud_toa_rpt_t report{};
    report.creation_time = static_cast<uint64_t>(QDateTime::currentMSecsSinceEpoch());
    report.serial_number = tag;
    report.network_id = tagId;
    report.count = static_cast<int16_t>(copy.size());
    report.sequence = sequence;
    report.toas = copy.data();
    QByteArray bytes(DerAzudToaRpt_EncodedSize(&report), '\0');
    DerAzudToaRpt_ToBuff(reinterpret_cast<uint8_t*>(bytes.data()), &report);
    return bytes;
}

std::vector<derazud_toa_t> Entries(const Coordinates& tag, double sent, int anchors = 4) {
    std::vector<derazud_toa_t> entries;
    for (int i = 0; i < anchors; ++i) {
        entries.push_back(derazud_toa_t{kAnchors[i], static_cast<uint16_t>(kFirstAnchorId + i),
                                        ArrivalTicks(tag, i, sent), -80.0, -78.0});
    }
    return entries;
}

// The solve run directly on what the engine should hand it: the anchors'
// positions, the arrival times, weights of 1, the tag's initial position as
// the start and the site's tuning.
toa_solution_t DirectSolve(const std::vector<uint64_t>& arrivals) {
    FlatSettingsInterface settings(Settings::GlobalSettings());
    std::vector<toa_measurement_t> measurements;
    for (size_t i = 0; i < arrivals.size(); ++i) {
        measurements.push_back(
            toa_measurement_t{kAnchorPositions[i], static_cast<int64_t>(arrivals[i]), 1.0});
    }
    const toa_solver_parameters_t parameters{
        settings.GetVmVectorGain(), settings.GetVmMinStopThreshold(), settings.GetVmRejectionThreshold(),
        settings.GetSpeedOfLight(), settings.GetTagBounds(),          settings.GetMinimumNumberOfAnchors()};
    toa_solution_t solution{};
    SolveToaPosition(measurements.data(), static_cast<int>(measurements.size()),
                     Coordinates(5000.0, 3200.0, 2100.0), parameters, &solution, nullptr);
    return solution;
}

// The published position is the solve's, in whole millimetres of a float in metres.
void ExpectPositionOfSolve(const vex_data_position_t& position, const toa_solution_t& solution) {
    ASSERT_EQ(solution.status, ToaSolveStatus::kAccepted);
    EXPECT_NEAR(+position.x, solution.position.GetX(), 1.0);
    EXPECT_NEAR(+position.y, solution.position.GetY(), 1.0);
    EXPECT_NEAR(+position.z, solution.position.GetZ(), 1.0);
    EXPECT_EQ(+position.error, static_cast<int32_t>(static_cast<float>(solution.quality)));
}

// What one published packet holds, item by item.
struct Contents {
    uint32_t serial = 0;
    std::vector<uint16_t> types;
    std::vector<vex_data_anchor_status_t> statuses;
    std::vector<vex_data_toa_anchor_t> anchors;
    std::vector<vex_data_toa_solution_t> solutions;
    std::vector<vex_data_position_t> positions;
};

Contents Read(const VexPacket& packet) {
    Contents contents;
    contents.serial = packet.GetSerialNumber();
    for (const auto& item : packet.GetDataItems()) {
        contents.types.push_back(item->GetType());
        vex_data_anchor_status_t status;
        vex_data_toa_anchor_t anchor;
        vex_data_toa_solution_t solution;
        vex_data_position_t position;
        if (VexData_Read(*item, &status)) {
            contents.statuses.push_back(status);
        } else if (VexData_Read(*item, &anchor)) {
            contents.anchors.push_back(anchor);
        } else if (VexData_Read(*item, &solution)) {
            contents.solutions.push_back(solution);
        } else if (VexData_Read(*item, &position)) {
            contents.positions.push_back(position);
        }
    }
    return contents;
}

class DpuReportTest : public ::testing::Test {
  protected:
    void SetUp() override { Start(options_t()); }

    // Installs the site with these options and a new engine on it.
    void Start(const options_t& options) {
        dpu_.reset();
        site_ = Install(options);
        dpu_.reset(new Dpu());
        StdoutCapture quiet;
        ASSERT_TRUE(dpu_->Init({}, site_.node_manager, site_.scheduler, site_.budget));
        dpu_->AttachPublisher(publisher_);
    }

    void TearDown() override {
        // Waits for the solves still running.
        dpu_.reset();
    }

    std::vector<VexPacket> WaitForPackets(size_t count) {
        EXPECT_TRUE(SpinUntil([this, count] { return publisher_->Output().size() >= count; }));
        return publisher_->Output();
    }

    // Sync k of the master as each anchor hears it, at local times offset
    // from the master's.
    static constexpr double kSyncSeconds = 0.1;
    static constexpr int64_t kFirstSync = 10000000000;
    static int64_t LocalOffset(int anchor) { return int64_t{1000003} * (anchor + 1); }
    void Sync(int k) {
        const int64_t syncTicks = static_cast<int64_t>(kSyncSeconds * kTicksPerSecond);
        for (int a = 0; a < 4; ++a) {
            const int64_t flight =
                site_.node_manager->FindAnchorBySerialNumber(kAnchors[a])->GetClock().GetMasterDistTickOffset();
            vex_data_timed_rx_t rx{};
            rx.serial_number = kMaster;
            rx.network_id = 1;
            rx.packet_type = kVexRxPacketSync;
            rx.tx_time = static_cast<uint64_t>(kFirstSync + k * syncTicks);
            rx.rx_time = static_cast<uint64_t>(kFirstSync + k * syncTicks + flight + LocalOffset(a));
            dpu_->RxVexTimedRx(kAnchors[a], VexDataItem(VexType::kTimedRx, sizeof(rx), &rx));
        }
    }
    // A ping of the tag at `truth`, sent at `sent` seconds, as each anchor hears it.
    void Ping(uint32_t tag, uint16_t tagId, const Coordinates& truth, uint8_t sequence, double sent) {
        for (int a = 0; a < 4; ++a) {
            vex_data_ping_t record{};
            record.sequence = sequence;
            record.serial_number = tag;
            record.network_id = tagId;
            record.rx_time = static_cast<uint64_t>(ArrivalTicks(truth, a, sent) + LocalOffset(a));
            record.signal_strength = signal_strength_t{3000, 3000, 3000, 1000, 2000, 0};
            dpu_->RxVexPing(kAnchors[a], VexDataItem(VexType::kPing, sizeof(record), &record));
        }
    }

    site_t site_;
    std::shared_ptr<RecordingPublisher> publisher_ = std::make_shared<RecordingPublisher>();
    std::unique_ptr<Dpu> dpu_;
};

TEST_F(DpuReportTest, ReportYieldsDiagnosticsPerAnchorThenTheSolutionThenThePosition) {
    // Half a metre from the start guess: the solve converges in far fewer
    // than its 100 iterations.
    const Coordinates truth(5400.0, 3000.0, 1800.0);
    dpu_->ToaRxCallback(EncodeReport(kTag, kTagId, 7, Entries(truth, 1.0)));
    const auto packets = WaitForPackets(1);
    ASSERT_EQ(packets.size(), 1u);
    const Contents contents = Read(packets[0]);
    EXPECT_EQ(contents.serial, kTag);
    EXPECT_EQ(contents.types,
              (std::vector<uint16_t>{VexType::kToaAnchor, VexType::kToaAnchor, VexType::kToaAnchor,
                                     VexType::kToaAnchor, VexType::kToaSolution, VexType::kPosition}));
    const auto entries = Entries(truth, 1.0);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(+contents.anchors[i].anchor_serial_number, kAnchors[i]);
        EXPECT_EQ(+contents.anchors[i].time_of_arrival, static_cast<uint64_t>(entries[i].toa));
        // Occlusion mitigation is off: every weight is 1.
        EXPECT_EQ(+contents.anchors[i].weight, 1000000);
    }
    // The start guess is the tag's initial position: the centroid of the
    // master and the anchors, (5, 3.2, 2.1) m.
    EXPECT_EQ(+contents.solutions[0].start_x, 5000);
    EXPECT_EQ(+contents.solutions[0].start_y, 3200);
    EXPECT_EQ(+contents.solutions[0].start_z, 2100);
    std::vector<uint64_t> arrivals;
    for (const auto& entry : entries) {
        arrivals.push_back(static_cast<uint64_t>(entry.toa));
    }
    const toa_solution_t solution = DirectSolve(arrivals);
    EXPECT_EQ(+contents.solutions[0].iteration_count, solution.iteration_count);
    const vex_data_position_t& position = contents.positions[0];
    ExpectPositionOfSolve(position, solution);
    EXPECT_NEAR(+position.x, truth.GetX(), 100);
    EXPECT_NEAR(+position.y, truth.GetY(), 100);
    EXPECT_EQ(+position.sequence, 7);
}

TEST_F(DpuReportTest, WithOcclusionMitigationEachAnchorCarriesItsOcclusionWeight) {
    options_t options;
    options.occlusion_mitigation = true;
    ASSERT_NO_FATAL_FAILURE(Start(options));
    // One anchor's tag reception lost most of its power off the first path.
    auto entries = Entries(Coordinates(5400.0, 3000.0, 1800.0), 1.0);
    entries[1].first_path_power = -95.0;
    dpu_->ToaRxCallback(EncodeReport(kTag, kTagId, 3, entries));
    const auto packets = WaitForPackets(1);
    ASSERT_EQ(packets.size(), 1u);
    const Contents contents = Read(packets[0]);
    ASSERT_EQ(contents.anchors.size(), 4u);
    std::vector<double> weights;
    for (int i = 0; i < 4; ++i) {
        const auto anchor = site_.node_manager->FindAnchorBySerialNumber(kAnchors[i]);
        const double weight = Dpu::CalculateAnchorWeight(anchor, entries[i]);
        weights.push_back(weight);
        EXPECT_EQ(+contents.anchors[i].weight, static_cast<int32_t>(weight * 1000000.0));
        EXPECT_LT(+contents.anchors[i].weight, 1000000);
    }
    EXPECT_LT(weights[1], weights[0]);
    EXPECT_EQ(contents.positions.size(), 1u);
}

TEST_F(DpuReportTest, ReportsThatAreNotSolvedStillPublishThePreviousPosition) {
    const Coordinates truth(3000.0, 4000.0, 1000.0);
    // Three anchors, one below the minimum of four.
    dpu_->ToaRxCallback(EncodeReport(kTag, kTagId, 1, Entries(truth, 1.0, 3)));
    // An anchor id no node has.
    auto unknown = Entries(truth, 2.0);
    unknown[2].anchor_network_id = 40;
    {
        QtMessagesToStdout messages;
        StdoutCapture quiet;
        dpu_->ToaRxCallback(EncodeReport(kTag, kTagId, 2, unknown));
        WaitForPackets(2);
    }
    // A report of a tag nobody configured publishes nothing.
    StdoutCapture capture;
    dpu_->ToaRxCallback(EncodeReport(0x0BADBEEF, 99, 3, Entries(truth, 3.0)));
    QThreadPool::globalInstance()->waitForDone();
    EXPECT_EQ(capture.Stop(), "DPU: received TOA report with unrecognized init node 99\n");

    const auto packets = publisher_->Output();
    ASSERT_EQ(packets.size(), 2u);
    for (const VexPacket& packet : packets) {
        const Contents contents = Read(packet);
        EXPECT_EQ(contents.types, std::vector<uint16_t>{VexType::kPosition});
        EXPECT_EQ(+contents.positions[0].x, 5000);
        EXPECT_EQ(+contents.positions[0].y, 3200);
    }
}

TEST_F(DpuReportTest, RejectedSolvePublishesItsDiagnosticsAndKeepsThePreviousPosition) {
    // One anchor heard the tag 50 m of flight too late: no point explains
    // that, and the mean step stays far above the 0.5 m threshold.
    auto entries = Entries(Coordinates(5400.0, 3000.0, 1800.0), 1.0);
    entries[0].toa += static_cast<int64_t>(50.0 / kSpeedOfLight * kTicksPerSecond);
    dpu_->ToaRxCallback(EncodeReport(kTag, kTagId, 4, entries));
    const auto packets = WaitForPackets(1);
    ASSERT_EQ(packets.size(), 1u);
    const Contents contents = Read(packets[0]);
    EXPECT_EQ(contents.types,
              (std::vector<uint16_t>{VexType::kToaAnchor, VexType::kToaAnchor, VexType::kToaAnchor,
                                     VexType::kToaAnchor, VexType::kToaSolution, VexType::kPosition}));
    int64_t totalCorrection = 0;
    for (const auto& anchor : contents.anchors) {
        totalCorrection += std::abs(+anchor.correction);
    }
    EXPECT_GE(totalCorrection / 4, 500);
    // Still the tag's initial position, with no sequence of a solve.
    EXPECT_EQ(+contents.positions[0].x, 5000);
    EXPECT_EQ(+contents.positions[0].y, 3200);
    EXPECT_EQ(+contents.positions[0].z, 2100);
    EXPECT_NE(+contents.positions[0].sequence, 4);
}

TEST_F(DpuReportTest, UnknownMemberNodeIsReportedOncePer256Reports) {
    // The count is process-wide and wraps at 256: whatever it stood at, 256
    // reports pass its zero exactly once, from two tags solved in parallel.
    auto entries = Entries(Coordinates(3000.0, 4000.0, 1000.0), 1.0);
    entries[3].anchor_network_id = 41;
    QtMessagesToStdout messages;
    StdoutCapture capture;
    for (int i = 0; i < 128; ++i) {
        dpu_->ToaRxCallback(EncodeReport(kTag, kTagId, static_cast<uint16_t>(i), entries));
        dpu_->ToaRxCallback(EncodeReport(kSecondTag, kSecondTagId, static_cast<uint16_t>(i), entries));
    }
    WaitForPackets(256);
    const std::string printed = capture.Stop();
    EXPECT_EQ(printed,
              "DPU: received TOA report with unrecognized member node 41. Is another host running?\n");
}

TEST_F(DpuReportTest, SolvesOfOneTagArePublishedInReportOrder) {
    constexpr int kReports = 150;
    const Coordinates first(3000.0, 4000.0, 1000.0);
    const Coordinates second(7000.0, 2000.0, 1200.0);
    for (int i = 0; i < kReports; ++i) {
        // Later reports are sent later: their arrival times grow.
        dpu_->ToaRxCallback(
            EncodeReport(kTag, kTagId, static_cast<uint16_t>(i), Entries(first, 1.0 + i * 0.1)));
        dpu_->ToaRxCallback(
            EncodeReport(kSecondTag, kSecondTagId, static_cast<uint16_t>(i), Entries(second, 1.0 + i * 0.1)));
    }
    const auto packets = WaitForPackets(2 * kReports);
    ASSERT_EQ(packets.size(), 2u * kReports);
    std::map<uint32_t, std::vector<uint64_t>> firstArrivals;
    for (const VexPacket& packet : packets) {
        const Contents contents = Read(packet);
        ASSERT_EQ(contents.anchors.size(), 4u);
        firstArrivals[contents.serial].push_back(+contents.anchors[0].time_of_arrival);
    }
    for (const uint32_t tag : {kTag, kSecondTag}) {
        const std::vector<uint64_t>& arrivals = firstArrivals[tag];
        ASSERT_EQ(arrivals.size(), static_cast<size_t>(kReports));
        EXPECT_TRUE(std::is_sorted(arrivals.begin(), arrivals.end()));
    }
}

TEST_F(DpuReportTest, StartGuessIsTheSmoothedPositionOnlyWhenAskedFor) {
    // After solves at two places 4.5 m apart the smoothed position (a window
    // of many periods averages both) lies between them; the current one is
    // the second.
    Settings::GlobalSettings()->GetHostSettingsReference()->SetSmoothingFactor(100);
    const Coordinates first(3000.0, 4000.0, 1000.0);
    const Coordinates second(7000.0, 2000.0, 1200.0);
    for (const bool smoothed : {false, true}) {
        Settings::GlobalSettings()->GetHostSettingsReference()->SetSmoothPositionGuess(smoothed);
        const uint32_t tag = smoothed ? kSecondTag : kTag;
        const uint16_t tagId = smoothed ? kSecondTagId : kTagId;
        const size_t before = publisher_->Output().size();
        for (int i = 0; i < 3; ++i) {
            dpu_->ToaRxCallback(EncodeReport(tag, tagId, static_cast<uint16_t>(i),
                                             Entries(i == 0 ? first : second, 1.0 + i)));
        }
        const auto packets = WaitForPackets(before + 3);
        const vex_data_position_t average = Read(packets[before + 1]).positions.at(0);
        EXPECT_NEAR(+average.x, 5000.0, 100.0);
        const vex_data_toa_solution_t third = Read(packets[before + 2]).solutions.at(0);
        EXPECT_NEAR(+third.start_x, smoothed ? +average.x : second.GetX(), smoothed ? 1.0 : 100.0)
            << smoothed;
        EXPECT_NEAR(+third.start_y, smoothed ? +average.y : second.GetY(), smoothed ? 1.0 : 100.0)
            << smoothed;
    }
}

TEST_F(DpuReportTest, AnchorQueuesKeepTwoReceptionsPerTagAndMoreOverTheUwbBackhaul) {
    // Three wired anchors and one over UWB, so that each count shows. Two
    // tags: a wired anchor keeps 2 x 2 = 4 receptions, the UWB one 4 + 3
    // wired anchors x 4 = 16; the oldest go.
    options_t options;
    options.one_uwb_anchor = true;
    ASSERT_NO_FATAL_FAILURE(Start(options));
    StdoutCapture quiet;
    for (uint8_t sequence = 1; sequence <= 20; ++sequence) {
        Ping(kTag, kTagId, Coordinates(5000.0, 4000.0, 1000.0), sequence, 1.0 + sequence * kSyncSeconds);
    }
    for (const uint32_t serial : kAnchors) {
        const auto& queue = site_.node_manager->FindAnchorBySerialNumber(serial)->GetAnchorReportItemQueue();
        const size_t limit = serial == kAnchors[0] ? 16 : 4;
        ASSERT_EQ(queue.size(), limit);
        EXPECT_EQ(queue.front().sequence, 21 - limit);
    }
}

TEST_F(DpuReportTest, StaleReceptionIsDroppedAndAStaleClockSkipped) {
    // A reception queued more than two sync periods (2 P x 0.0010256 ms)
    // before the host time of the sync that maps it is dropped silently; one
    // queued at that limit goes on to the clock check, and this anchor's
    // clock has never been synchronised: stale, the response is skipped.
    const auto anchor = site_.node_manager->FindAnchorBySerialNumber(kAnchors[0]);
    anchor_report_item_queue_t item{};
    item.item.serial_number = kTag;
    const int64_t now = 5000000;
    item.reception_time = now - static_cast<int64_t>(2 * dpu_->GetSyncPeriod() * 0.0010256) - 1;
    StdoutCapture capture;
    DpuTestPeer::ProcessAnchors(*dpu_, item, anchor, now);
    EXPECT_EQ(capture.Stop(), "");
    item.reception_time += 1;
    StdoutCapture skipped;
    const int64_t earliest = QDateTime::currentMSecsSinceEpoch();
    DpuTestPeer::ProcessAnchors(*dpu_, item, anchor, now);
    const int64_t latest = QDateTime::currentMSecsSinceEpoch();
    const std::string printed = skipped.Stop();
    // The age of a clock never updated is the time since the epoch.
    const std::string head = "DPU: 6 skipping response from 2 - LastUpdateAge:";
    ASSERT_EQ(printed.substr(0, head.size()), head);
    const int64_t age = std::stoll(printed.substr(head.size()));
    EXPECT_EQ(printed, head + std::to_string(age) + "ms\n");
    EXPECT_GE(age, earliest);
    EXPECT_LE(age, latest);
}

// The reports a sync completes (every tag's, at once) are solved once the
// sync's receptions are mapped: all of them, none left waiting for the next
// sync. Each period's solves are awaited before the next period, as a sync
// period is far longer than the solves: the report checks compare a tag's
// responses with its last solved position.
TEST_F(DpuReportTest, ReportsCompletedByASyncAreAllSolvedInOrderPerTag) {
    constexpr int kPeriods = 40;
    const Coordinates first(3000.0, 4000.0, 1000.0);
    const Coordinates second(7000.0, 2000.0, 1200.0);
    const double firstSyncSeconds = kFirstSync / kTicksPerSecond;
    // The periods follow each other within milliseconds here, not 100 ms:
    // the movement allowed between two reports (speed times the time between
    // them) must not depend on that.
    Settings::GlobalSettings()->GetHostSettingsReference()->SetMaxTagVelocity(1.0e9);
    StdoutCapture capture;
    Sync(0);
    for (int k = 1; k <= kPeriods; ++k) {
        Sync(k);
        // This sync mapped the pings of period k - 1, which began the
        // reports of that period and so completed those of period k - 2:
        // all of those are solved, none waits for the next sync.
        QThreadPool::globalInstance()->waitForDone();
        EXPECT_EQ(publisher_->Output().size(), 2u * static_cast<size_t>(std::max(0, k - 2))) << "period " << k;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const double period = firstSyncSeconds + k * kSyncSeconds;
        Ping(kTag, kTagId, first, static_cast<uint8_t>(k), period + 0.3 * kSyncSeconds);
        Ping(kSecondTag, kSecondTagId, second, static_cast<uint8_t>(k), period + 0.6 * kSyncSeconds);
    }
    Sync(kPeriods + 1);
    QThreadPool::globalInstance()->waitForDone();
    EXPECT_EQ(capture.Stop(), "");
    std::map<uint32_t, std::vector<uint64_t>> firstArrivals;
    for (const VexPacket& packet : publisher_->Output()) {
        const Contents contents = Read(packet);
        ASSERT_EQ(contents.anchors.size(), 4u);
        ASSERT_EQ(contents.positions.size(), 1u);
        firstArrivals[contents.serial].push_back(+contents.anchors[0].time_of_arrival);
    }
    for (const uint32_t tag : {kTag, kSecondTag}) {
        const std::vector<uint64_t>& arrivals = firstArrivals[tag];
        EXPECT_EQ(arrivals.size(), static_cast<size_t>(kPeriods - 1));
        EXPECT_TRUE(std::is_sorted(arrivals.begin(), arrivals.end()));
        EXPECT_EQ(std::adjacent_find(arrivals.begin(), arrivals.end()), arrivals.end());
    }
}

// Through the anchors' clocks: each anchor hears the master's syncs and the
// tag's pings at local times offset from the master's; the report made when
// the tag's next transmission begins is solved to where the tag is.
TEST_F(DpuReportTest, TimedReceptionsAndPingsMakeOnePacketWithStatusesFirst) {
    const Coordinates truth(4700.0, 3500.0, 2300.0);
    const double syncSeconds = kSyncSeconds;
    auto sync = [this](int k) { Sync(k); };
    auto ping = [this, &truth](uint8_t sequence, double sent) { Ping(kTag, kTagId, truth, sequence, sent); };
    const double firstSyncSeconds = kFirstSync / kTicksPerSecond;
    {
        // What the master hears is not the anchors' business: its pings are
        // not queued and its timed receptions do not move its clock. A ping
        // of a tag nobody configured is reported, a truncated one ignored.
        vex_data_ping_t record{};
        record.sequence = 1;
        record.serial_number = kTag;
        record.network_id = kTagId;
        dpu_->RxVexPing(kMaster, VexDataItem(VexType::kPing, sizeof(record), &record));
        dpu_->RxVexPing(kAnchors[0], VexDataItem(VexType::kPing, sizeof(record) - 1, &record));
        vex_data_timed_rx_t rx{};
        rx.serial_number = kMaster;
        rx.packet_type = kVexRxPacketSync;
        rx.tx_time = 5;
        rx.rx_time = 7;
        dpu_->RxVexTimedRx(kMaster, VexDataItem(VexType::kTimedRx, sizeof(rx), &rx));
        const std::shared_ptr<DwNode> master = site_.node_manager->GetPrimaryMaster();
        EXPECT_TRUE(master->GetAnchorReportItemQueue().empty());
        EXPECT_GT(master->GetClock().LastUpdateAgeMs(), 1000000u);
        record.serial_number = 0x0BADBEEF;
        StdoutCapture capture;
        dpu_->RxVexPing(kAnchors[0], VexDataItem(VexType::kPing, sizeof(record), &record));
        EXPECT_EQ(capture.Stop(), "DPU: Could not find Tag with serial num 0B:AD:BEEF\n");
        EXPECT_TRUE(
            site_.node_manager->FindAnchorBySerialNumber(kAnchors[0])->GetAnchorReportItemQueue().empty());
    }
    StdoutCapture capture;
    sync(0);
    sync(1);
    ping(1, firstSyncSeconds + 1.5 * syncSeconds);
    // The last sync pair again is no new sync point: the receptions stay queued.
    sync(1);
    for (const uint32_t anchor : kAnchors) {
        EXPECT_EQ(site_.node_manager->FindAnchorBySerialNumber(anchor)->GetAnchorReportItemQueue().size(),
                  1u);
    }
    sync(2);  // maps the four receptions: the report of sequence 1 is open
    const bool nothingYet = publisher_->Output().empty();
    ping(2, firstSyncSeconds + 2.5 * syncSeconds);
    sync(3);  // sequence 2 begins: the report of sequence 1 goes out
    QThreadPool::globalInstance()->waitForDone();
    EXPECT_EQ(capture.Stop(), "");
    EXPECT_TRUE(nothingYet);
    const auto packets = WaitForPackets(1);
    ASSERT_EQ(packets.size(), 1u);
    const Contents contents = Read(packets[0]);
    EXPECT_EQ(contents.serial, kTag);
    const std::vector<uint16_t> expected = {
        VexType::kAnchorStatus, VexType::kAnchorStatus, VexType::kAnchorStatus, VexType::kAnchorStatus,
        VexType::kToaAnchor,    VexType::kToaAnchor,    VexType::kToaAnchor,    VexType::kToaAnchor,
        VexType::kToaSolution,  VexType::kPosition};
    EXPECT_EQ(contents.types, expected);
    std::vector<uint64_t> arrivals;
    for (int a = 0; a < 4; ++a) {
        EXPECT_EQ(+contents.statuses[a].status, kVexAnchorStatusUsed);
        // The clocks map each local reception back onto the master's time.
        const int64_t expected = ArrivalTicks(truth, a, firstSyncSeconds + 1.5 * syncSeconds);
        EXPECT_NEAR(static_cast<double>(+contents.anchors[a].time_of_arrival), static_cast<double>(expected),
                    2.0);
        arrivals.push_back(+contents.anchors[a].time_of_arrival);
    }
    ExpectPositionOfSolve(contents.positions[0], DirectSolve(arrivals));
    EXPECT_NEAR(+contents.positions[0].x, truth.GetX(), 100);
    EXPECT_NEAR(+contents.positions[0].y, truth.GetY(), 100);
    EXPECT_EQ(+contents.positions[0].sequence, 1);
}

}  // namespace
