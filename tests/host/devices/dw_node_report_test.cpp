#include <gtest/gtest.h>

#include <QByteArray>
#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/device_time.h"
#include "base/thread_annotations.h"
#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "host/devices/dw_node.h"
#include "host/devices/toa_report_check.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/sensor_data_temp_packet.h"
#include "protocol/reports/derazud_toa_rpt.h"
#include "support/stdout_capture.h"

// Holds a node's report or packet lock from another thread, as a solve or a
// second caller would.
class DwNodeTestPeer {
  public:
    static QMutex& ReportLock(DwNode& node) { return node.report_mutex_; }
    static QMutex& PacketLock(DwNode& node) { return node.packet_mutex_; }
};

namespace {

constexpr uint32_t kTagSerial = 0x01040100;
constexpr uint16_t kTagId = 40;
constexpr uint32_t kSyncPeriodMs = 100;
constexpr double kSpeedOfLight = 299792458.0;
constexpr int64_t kTransmit = 400000000000;

// A finished report as the receiver got it.
struct received_report_t {
    uint16_t sequence;
    uint64_t serial_number;
    uint16_t network_id;
    std::vector<derazud_toa_t> toas;

    std::vector<uint32_t> Anchors() const {
        std::vector<uint32_t> serials;
        for (const auto& toa : toas) {
            serials.push_back(static_cast<uint32_t>(toa.anchor_serial_number));
        }
        return serials;
    }
};

class ReportCollector : public ToaReportReceiver {
  public:
    void ToaRxCallback(QByteArray report) override {
        derazud_toa_rpt_t decoded{};
        const int used = DerAzudToaRpt_FromBuff(
            &decoded, reinterpret_cast<const uint8_t*>(report.constData()), report.size());
        EXPECT_EQ(used, report.size());
        received_report_t copy{decoded.sequence, decoded.serial_number, decoded.network_id, {}};
        for (int i = 0; i < decoded.count; ++i) {
            copy.toas.push_back(decoded.toas[i]);
        }
        DerAzudToaRpt_Cleanup(&decoded);
        reports.push_back(copy);
    }
    std::vector<received_report_t> reports;
};

using Statuses = std::vector<std::pair<uint32_t, uint8_t>>;

Statuses StatusItems(const std::shared_ptr<VexPacket>& packet) {
    Statuses statuses;
    for (const auto& item : packet->GetDataItems()) {
        vex_data_anchor_status_t status{};
        if (VexData_Read(*item, &status)) {
            statuses.emplace_back(+status.anchor_serial_number, +status.status);  // packed: copies
        }
    }
    return statuses;
}

// Holds a lock from a thread of its own until destroyed.
class LockHolder {
  public:
    explicit LockHolder(QMutex& mutex) {
        thread_ = std::thread([this, &mutex] {
            AnnotatedMutexLocker lock(&mutex);
            std::unique_lock<std::mutex> guard(state_mutex_);
            held_ = true;
            changed_.notify_all();
            changed_.wait(guard, [this] { return release_; });
        });
        std::unique_lock<std::mutex> guard(state_mutex_);
        changed_.wait(guard, [this] { return held_; });
    }
    ~LockHolder() {
        {
            std::lock_guard<std::mutex> guard(state_mutex_);
            release_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

  private:
    std::mutex state_mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool release_ = false;
    std::thread thread_;
};

// A site of anchors (positions in metres) and one tag, with the global
// settings reset for each test.
class DwNodeReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Settings defaults;
        Settings::GlobalSettings()->CopyFromOtherSettings(&defaults);
        Host()->SetSpeedOfLight(kSpeedOfLight);
        Host()->SetUseRdoaSanityCheck(false);
        Host()->SetSmoothPositionGuess(false);
        Host()->SetMaxTagVelocity(5.0);
        TagSettings settings;
        settings.SetSerialNumber(kTagSerial);
        tag_ = std::make_shared<DwTag>(settings, kTagId, kSyncPeriodMs);
        tag_->SetInitialPosition(9.0, 4.0, 1.0);
    }

    static HostSettings* Host() {
        return FlatSettingsInterface(Settings::GlobalSettings()).GetHostSettings();
    }

    // Anchor i gets serial 0x0103000 + i and network id 2 + i.
    void AddAnchor(double x, double y, double z) {
        AnchorSettings settings;
        const uint32_t index = static_cast<uint32_t>(anchors_.size());
        settings.SetSerialNumber(AnchorSerial(index));
        settings.SetX(x);
        settings.SetY(y);
        settings.SetZ(z);
        anchors_[AnchorSerial(index)] =
            std::make_shared<DwAnchor>(settings, static_cast<uint16_t>(2 + index), kSyncPeriodMs);
    }
    static uint32_t AnchorSerial(uint32_t index) { return 0x01030000 + index; }

    // Six anchors around a hall, the tag at its configured position.
    void AddHall() {
        AddAnchor(0, 0, 3);
        AddAnchor(20, 0, 3);
        AddAnchor(20, 10, 3);
        AddAnchor(0, 10, 3);
        AddAnchor(10, -2, 2.5);
        AddAnchor(10, 12, 2.5);
    }

    // The TOA at which anchor `index` hears a transmission at `transmit` from
    // the tag at (x, y, z) metres, `error` metres late.
    int64_t Toa(uint32_t index, double x, double y, double z, int64_t transmit = kTransmit,
                double error = 0.0) {
        const auto& anchor = anchors_.at(AnchorSerial(index));
        const double metres = std::sqrt(std::pow(anchor->GetX() - x, 2) + std::pow(anchor->GetY() - y, 2) +
                                        std::pow(anchor->GetZ() - z, 2)) +
                              error;
        return static_cast<int64_t>(DeviceTimeMask(
            static_cast<uint64_t>(transmit + std::llround(metres / kSpeedOfLight * 6.38976e10))));
    }

    // Anchor `index` answers `sequence`, as the location engine passes it.
    void Respond(uint32_t sequence, uint32_t index, int64_t toa, uint32_t expected = 1000) {
        RespondAs(sequence, AnchorSerial(index), static_cast<int16_t>(2 + index), toa, expected);
    }
    void RespondAs(uint32_t sequence, uint32_t serial, int16_t id, int64_t toa, uint32_t expected = 1000) {
        tag_->ProcessReportResponse(&collector_, sequence, id, serial, toa, anchors_, -80.0, -78.0, expected);
    }
    // All hall anchors answer `sequence` with consistent TOAs; anchor `bad`
    // `error` metres off.
    void HallResponds(uint32_t sequence, int bad = -1, double error = 0.0, uint32_t expected = 1000) {
        for (uint32_t i = 0; i < anchors_.size(); ++i) {
            Respond(sequence, i, Toa(i, 9.0, 4.0, 1.0, kTransmit, static_cast<int>(i) == bad ? error : 0.0),
                    expected);
        }
    }

    // The last report went out with a single response of the six: the tag's
    // packet holds a status 3 for each of the five others, then the status 0.
    Statuses ExpectCheckedDownToOne() {
        EXPECT_EQ(collector_.reports.back().toas.size(), 1u);
        const Statuses statuses = StatusItems(tag_->GetVexPacket());
        EXPECT_EQ(statuses.size(), 6u);
        for (size_t i = 0; i < statuses.size(); ++i) {
            EXPECT_EQ(statuses[i].second,
                      i + 1 < statuses.size() ? kAnchorStatusImplausibleMove : kVexAnchorStatusUsed)
                << i;
        }
        return statuses;
    }

    DwNodeMap anchors_;
    std::shared_ptr<DwTag> tag_;
    ReportCollector collector_;
};

TEST_F(DwNodeReportTest, ReportGoesOutWhenTheExpectedCountIsReached) {
    AddHall();
    for (uint32_t i = 0; i < 4; ++i) {
        Respond(7, i, Toa(i, 9.0, 4.0, 1.0), 4);
        EXPECT_EQ(collector_.reports.size(), i < 3 ? 0u : 1u);
    }
    ASSERT_EQ(collector_.reports.size(), 1u);
    const received_report_t& report = collector_.reports[0];
    EXPECT_EQ(report.sequence, 7);
    EXPECT_EQ(report.serial_number, kTagSerial);
    EXPECT_EQ(report.network_id, kTagId);
    EXPECT_EQ(report.Anchors(),
              (std::vector<uint32_t>{AnchorSerial(0), AnchorSerial(1), AnchorSerial(2), AnchorSerial(3)}));
    EXPECT_EQ(report.toas[2].anchor_network_id, 4);
    EXPECT_EQ(report.toas[2].toa, Toa(2, 9.0, 4.0, 1.0));
    EXPECT_EQ(report.toas[2].first_path_power, -80.0);
    EXPECT_EQ(report.toas[2].total_power, -78.0);
    EXPECT_EQ(
        StatusItems(tag_->GetVexPacket()),
        (Statuses{{AnchorSerial(0), 0}, {AnchorSerial(1), 0}, {AnchorSerial(2), 0}, {AnchorSerial(3), 0}}));

    // A fifth response after the report went out opens a report of its own,
    // which the next sequence sends, unchecked with one response.
    Respond(7, 4, Toa(4, 9.0, 4.0, 1.0), 4);
    EXPECT_EQ(collector_.reports.size(), 1u);
    Respond(8, 0, Toa(0, 9.0, 4.0, 1.0), 4);
    ASSERT_EQ(collector_.reports.size(), 2u);
    EXPECT_EQ(collector_.reports[1].sequence, 7);
    EXPECT_EQ(collector_.reports[1].Anchors(), (std::vector<uint32_t>{AnchorSerial(4)}));
}

TEST_F(DwNodeReportTest, SequencesComparedModulo256) {
    AddHall();
    const int64_t toa = Toa(0, 9.0, 4.0, 1.0);
    // The first response begins a report whatever its sequence.
    Respond(250, 0, toa);
    Respond(250, 1, toa);
    Respond(245, 2, toa);  // five back: late, dropped
    Respond(20, 0, toa);   // new: the 250 report goes out
    ASSERT_EQ(collector_.reports.size(), 1u);
    EXPECT_EQ(collector_.reports[0].sequence, 250);
    EXPECT_EQ(collector_.reports[0].Anchors(), (std::vector<uint32_t>{AnchorSerial(0), AnchorSerial(1)}));

    Respond(15, 1, toa);  // late
    Respond(10, 1, toa);  // ten back: a new transmission
    ASSERT_EQ(collector_.reports.size(), 2u);
    EXPECT_EQ(collector_.reports[1].sequence, 20);
    Respond(1, 2, toa);  // nine back: late

    // Across the wrap: 254, then 0 two ahead, then a late 255 and a late 250.
    Respond(254, 3, toa);
    Respond(0, 4, toa);
    Respond(255, 5, toa);
    Respond(250, 5, toa);
    Respond(0, 5, toa);
    Respond(1, 0, toa);
    ASSERT_EQ(collector_.reports.size(), 5u);
    EXPECT_EQ(collector_.reports[2].sequence, 10);
    EXPECT_EQ(collector_.reports[2].Anchors(), (std::vector<uint32_t>{AnchorSerial(1)}));
    EXPECT_EQ(collector_.reports[3].sequence, 254);
    EXPECT_EQ(collector_.reports[3].Anchors(), (std::vector<uint32_t>{AnchorSerial(3)}));
    EXPECT_EQ(collector_.reports[4].sequence, 0);
    EXPECT_EQ(collector_.reports[4].Anchors(), (std::vector<uint32_t>{AnchorSerial(4), AnchorSerial(5)}));
}

TEST_F(DwNodeReportTest, UnknownAndRepeatedAnchorsLeaveTheReport) {
    AddHall();
    const int64_t toa = Toa(0, 9.0, 4.0, 1.0);
    Respond(3, 0, Toa(0, 9.0, 4.0, 1.0));
    RespondAs(3, 0x0BADBEEF, 7, toa);  // not an anchor of the site
    Respond(3, 1, Toa(1, 9.0, 4.0, 1.0));
    Respond(3, 0, Toa(0, 9.0, 4.0, 1.0));  // the same anchor again
    RespondAs(3, 0x0BADBEEF, 4, toa);      // a stray serial with a site anchor's id
    Respond(3, 2, Toa(2, 9.0, 4.0, 1.0));
    Respond(3, 3, Toa(3, 9.0, 4.0, 1.0));
    Respond(4, 0, toa);
    ASSERT_EQ(collector_.reports.size(), 1u);
    const received_report_t& report = collector_.reports[0];
    ASSERT_EQ(report.toas.size(), 4u);
    std::vector<uint32_t> anchors = report.Anchors();
    std::sort(anchors.begin(), anchors.end());
    EXPECT_EQ(anchors,
              (std::vector<uint32_t>{AnchorSerial(0), AnchorSerial(1), AnchorSerial(2), AnchorSerial(3)}));
    // One status 1 per stray response, none for the repeat, then 0 for each
    // response handed on.
    const Statuses statuses = StatusItems(tag_->GetVexPacket());
    ASSERT_EQ(statuses.size(), 6u);
    EXPECT_EQ(statuses[0], std::make_pair(0x0BADBEEFu, kAnchorStatusNotRegistered));
    EXPECT_EQ(statuses[1], std::make_pair(0x0BADBEEFu, kAnchorStatusNotRegistered));
    for (int i = 2; i < 6; ++i) {
        EXPECT_EQ(statuses[i].second, kVexAnchorStatusUsed) << i;
        EXPECT_EQ(statuses[i].first, report.Anchors()[i - 2]);
    }
}

// Membership goes by the anchor's serial number alone: the network id a
// response carries travels on with it unchecked.
TEST_F(DwNodeReportTest, ResponseOfAKnownAnchorStaysWhateverItsNetworkId) {
    AddHall();
    const int16_t ids[] = {0, 0x07FE, 0x7FFF, 100};
    for (uint32_t i = 0; i < 4; ++i) {
        RespondAs(3, AnchorSerial(i), ids[i], Toa(i, 9.0, 4.0, 1.0));
    }
    Respond(4, 0, Toa(0, 9.0, 4.0, 1.0));
    ASSERT_EQ(collector_.reports.size(), 1u);
    const received_report_t& report = collector_.reports[0];
    ASSERT_EQ(report.toas.size(), 4u);
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(report.toas[i].anchor_serial_number, AnchorSerial(i));
        EXPECT_EQ(report.toas[i].anchor_network_id, static_cast<uint16_t>(ids[i]));
    }
    for (const auto& status : StatusItems(tag_->GetVexPacket())) {
        EXPECT_EQ(status.second, kVexAnchorStatusUsed);
    }
}

TEST_F(DwNodeReportTest, ReportEmptiedByTheCheckIsStillHandedOn) {
    AddHall();
    for (uint32_t stray = 0; stray < 4; ++stray) {
        RespondAs(5, 0x0BAD0000 + stray, static_cast<int16_t>(2 + stray), 1000);
    }
    Respond(6, 0, 1000);
    ASSERT_EQ(collector_.reports.size(), 1u);
    EXPECT_EQ(collector_.reports[0].sequence, 5);
    EXPECT_TRUE(collector_.reports[0].toas.empty());
    EXPECT_EQ(StatusItems(tag_->GetVexPacket()).size(), 4u);
}

// Until a check leaves more than 3 responses, the move allowed is the
// velocity over all the time since the epoch; after it, over the time since.
TEST_F(DwNodeReportTest, BeforeTheFirstGoodCheckTheMoveSinceTheEpochIsAllowed) {
    AddHall();
    // About 30 m since the epoch; 17 nm/s, next to nothing within the test.
    Host()->SetMaxTagVelocity(30000.0 / static_cast<double>(QDateTime::currentMSecsSinceEpoch()));
    // Three of the site and a stray: 3 remain, not a good check.
    for (uint32_t i = 0; i < 3; ++i) {
        Respond(1, i, Toa(i, 9.0, 4.0, 1.0), 4);
    }
    RespondAs(1, 0x0BADBEEF, 9, 1000, 4);
    // Five, anchor 2 60 m late: it deviates 48 m from the mean offset, the
    // others 12 m; it alone goes, 4 remain: a good check.
    for (uint32_t i = 0; i < 5; ++i) {
        Respond(2, i, Toa(i, 9.0, 4.0, 1.0, kTransmit, i == 2 ? 60.0 : 0.0), 5);
    }
    ASSERT_EQ(collector_.reports.size(), 2u);
    EXPECT_EQ(collector_.reports[0].Anchors(),
              (std::vector<uint32_t>{AnchorSerial(0), AnchorSerial(1), AnchorSerial(2)}));
    EXPECT_EQ(collector_.reports[1].Anchors(),
              (std::vector<uint32_t>{AnchorSerial(0), AnchorSerial(1), AnchorSerial(4), AnchorSerial(3)}));
    EXPECT_EQ(StatusItems(tag_->GetVexPacket()), (Statuses{{0x0BADBEEF, kAnchorStatusNotRegistered},
                                                           {AnchorSerial(0), 0},
                                                           {AnchorSerial(1), 0},
                                                           {AnchorSerial(2), 0},
                                                           {AnchorSerial(2), kAnchorStatusImplausibleMove},
                                                           {AnchorSerial(0), 0},
                                                           {AnchorSerial(1), 0},
                                                           {AnchorSerial(4), 0},
                                                           {AnchorSerial(3), 0}}));

    // Checked with next to no move allowed: responses go one by one
    // (status 3) until the rest agree, which whole ticks never quite do, down
    // to one.
    HallResponds(3, -1, 0.0, 6);
    ASSERT_EQ(collector_.reports.size(), 3u);
    ExpectCheckedDownToOne();
}

// The tag's history holds (5, 4, 1) m and then (13, 4, 1) m: the current
// position is the newer, the smoothed one their mean (9, 4, 1). TOAs sent
// from the position the option names agree to whole ticks with a guess
// there; from 4 m away they would disagree by metres, far beyond the metre
// allowed.
TEST_F(DwNodeReportTest, GuessIsTheSmoothedPositionOnlyWhenConfigured) {
    AddHall();
    FlatSettingsInterface(Settings::GlobalSettings()).SetSmoothingFactor(1);
    Host()->SetMaxTagVelocity(1000.0 / static_cast<double>(QDateTime::currentMSecsSinceEpoch()));
    for (bool smoothed : {false, true}) {
        SCOPED_TRACE(smoothed ? "smoothed" : "current");
        Host()->SetSmoothPositionGuess(smoothed);
        tag_ = std::make_shared<DwTag>(TagSettings(), kTagId, kSyncPeriodMs);
        for (float x : {5.0f, 13.0f}) {
            derazud_pos3_t position{};
            position.x = x;
            position.y = 4.0f;
            position.z = 1.0f;
            tag_->SetCurrentPos3(position);
        }
        const double x = smoothed ? 9.0 : 13.0;
        for (uint32_t i = 0; i < 6; ++i) {
            Respond(1, i, Toa(i, x, 4.0, 1.0), 6);
        }
        ASSERT_FALSE(collector_.reports.empty());
        EXPECT_EQ(collector_.reports.back().toas.size(), 6u);
        Statuses all_used;
        for (uint32_t i = 0; i < 6; ++i) {
            all_used.emplace_back(AnchorSerial(i), kVexAnchorStatusUsed);
        }
        EXPECT_EQ(StatusItems(tag_->GetVexPacket()), all_used);
    }
}

// No velocity allows no move, not even before the first good check.
TEST_F(DwNodeReportTest, ZeroVelocityRemovesFromTheFirstCheckOn) {
    AddHall();
    Host()->SetMaxTagVelocity(0.0);
    HallResponds(1, 2, 30.0);
    HallResponds(2);
    ASSERT_EQ(collector_.reports.size(), 1u);
    const Statuses statuses = ExpectCheckedDownToOne();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses[0].first, AnchorSerial(2));  // the one 30 m off goes first
}

// Waits until the wall clock has moved on by `ms`: the move allowed since
// the last check grows with it.
void LetTimePass(int ms) {
    const int64_t start = QDateTime::currentMSecsSinceEpoch();
    while (QDateTime::currentMSecsSinceEpoch() - start < ms) {
        std::this_thread::yield();
    }
}

TEST_F(DwNodeReportTest, GenerousVelocityRemovesOnlyTheImplausibleAnchor) {
    AddHall();
    // 100 km/s: at least 200 m after 2 ms, more than whole-tick TOAs ever
    // disagree; 10 000 km would take 100 s to allow.
    Host()->SetMaxTagVelocity(1e5);
    HallResponds(1);
    HallResponds(2, 4, 1e7);  // report 1 is checked as 2 begins
    LetTimePass(2);
    HallResponds(3);
    ASSERT_EQ(collector_.reports.size(), 2u);
    EXPECT_EQ(collector_.reports[1].toas.size(), 5u);
    const Statuses statuses = StatusItems(tag_->GetVexPacket());
    ASSERT_EQ(statuses.size(), 12u);
    EXPECT_EQ(statuses[6], std::make_pair(AnchorSerial(4), kAnchorStatusImplausibleMove));
}

TEST_F(DwNodeReportTest, RangeDifferenceVoteCatchesEarlyAndLateAnchors) {
    AddHall();
    Host()->SetUseRdoaSanityCheck(true);
    Host()->SetMaxTagVelocity(std::nan(""));  // the vote alone
    HallResponds(1, 1, 60.0);
    HallResponds(2, 5, -60.0);
    HallResponds(3);
    ASSERT_EQ(collector_.reports.size(), 2u);
    EXPECT_EQ(collector_.reports[0].toas.size(), 5u);
    EXPECT_EQ(collector_.reports[1].toas.size(), 5u);
    Statuses removed;
    for (const auto& status : StatusItems(tag_->GetVexPacket())) {
        if (status.second != kVexAnchorStatusUsed) {
            removed.push_back(status);
        }
    }
    EXPECT_EQ(removed, (Statuses{{AnchorSerial(1), kAnchorStatusRangeDifference},
                                 {AnchorSerial(5), kAnchorStatusRangeDifference}}));
}

TEST_F(DwNodeReportTest, ReportHoldsAtMost512Responses) {
    for (int i = 0; i < 520; ++i) {
        AddAnchor(0.1 * i, 0.0, 3.0);
    }
    for (uint32_t i = 0; i < 520; ++i) {
        Respond(9, i, Toa(i, 9.0, 4.0, 1.0), 100000);
    }
    Respond(10, 0, 0, 100000);
    ASSERT_EQ(collector_.reports.size(), 1u);
    const received_report_t& report = collector_.reports[0];
    ASSERT_EQ(report.toas.size(), 512u);
    EXPECT_EQ(report.toas[511].anchor_serial_number, AnchorSerial(511));
}

TEST_F(DwNodeReportTest, BusyReportLockDropsTheResponseWithItsMessage) {
    AddHall();
    {
        LockHolder holder(DwNodeTestPeer::ReportLock(*tag_));
        StdoutCapture capture;
        Respond(1, 0, 1000, 1);
        EXPECT_EQ(capture.Stop(), "Unable to lock func process report response!\n");
    }
    EXPECT_TRUE(collector_.reports.empty());
    Respond(1, 0, 1000, 1);
    EXPECT_EQ(collector_.reports.size(), 1u);
}

// Pings of a tag carrying temperature records trickled a few bytes at a time.
class DwNodePayloadTest : public DwNodeReportTest {
  protected:
    // The record bytes of temperature reading `value`.
    static std::vector<uint8_t> Record(uint16_t value) {
        sensor_data_temp_t record{
            {device_protocol::kSensorDataTempSize, device_protocol::kSensorTemperature}, 0x0100, value};
        std::vector<uint8_t> bytes(device_protocol::kSensorDataTempSize);
        SensorDataTemp_ToBuff(bytes.data(), &record);
        return bytes;
    }

    // Cuts the records of readings first, first + 1, ... into chunks of
    // `size` bytes as a tag does: a continued record opens its chunk with
    // (index of the next record, 0xFE).
    static std::vector<std::vector<uint8_t>> Chunks(uint16_t first, size_t count, size_t size) {
        std::vector<uint8_t> stream;
        for (size_t i = 0; i < count; ++i) {
            const auto record = Record(static_cast<uint16_t>(first + i));
            stream.insert(stream.end(), record.begin(), record.end());
        }
        std::vector<std::vector<uint8_t>> chunks;
        size_t at = 0;
        size_t record_end = 0;
        while (at < stream.size()) {
            std::vector<uint8_t> chunk;
            if (at < record_end) {
                const size_t carried = std::min(record_end - at, size - 2);
                chunk.push_back(static_cast<uint8_t>(2 + carried));
                chunk.push_back(kTrickleContinuationMarker);
                chunk.insert(chunk.end(), stream.begin() + at, stream.begin() + at + carried);
                at += carried;
            }
            while (chunk.size() < size && at < stream.size() && at >= record_end) {
                record_end = at + stream[at];
                const size_t taken = std::min(record_end - at, size - chunk.size());
                chunk.insert(chunk.end(), stream.begin() + at, stream.begin() + at + taken);
                at += taken;
            }
            chunks.push_back(chunk);
        }
        return chunks;
    }

    std::shared_ptr<VexPacket> Ping(uint8_t sequence, const std::vector<uint8_t>& user_data) {
        vex_data_ping_t ping{};
        ping.sequence = sequence;
        ping.serial_number = kTagSerial;
        // An exact-size heap copy, so that a read past the user data is seen.
        std::vector<uint8_t> copy(user_data);
        return tag_->UpdatePayload(&ping, copy.empty() ? nullptr : copy.data(),
                                   static_cast<uint16_t>(copy.size()), 0x12345678);
    }

    static std::vector<int16_t> Temperatures(const std::shared_ptr<VexPacket>& packet) {
        std::vector<int16_t> values;
        if (packet) {
            for (const auto& item : packet->GetDataItems()) {
                vex_data_lps25h_temperature_t temperature{};
                EXPECT_TRUE(VexData_Read(*item, &temperature));
                values.push_back(+temperature.temperature);
            }
        }
        return values;
    }
};

TEST_F(DwNodePayloadTest, RecordsAcrossPingsBecomeItemsOnce) {
    const auto chunks = Chunks(100, 3, 4);
    std::vector<int16_t> got;
    for (size_t i = 0; i < chunks.size(); ++i) {
        const uint8_t sequence = static_cast<uint8_t>(254 + i);  // 254, 255, 0, 1 ...
        const auto values = Temperatures(Ping(sequence, chunks[i]));
        got.insert(got.end(), values.begin(), values.end());
        EXPECT_EQ(Ping(sequence, chunks[i]), nullptr) << "repeat of " << int{sequence};
    }
    EXPECT_EQ(got, (std::vector<int16_t>{100, 101, 102}));
}

// Every ping delivered twice and now and then a stale one again, over several
// wraps of the 8-bit sequence: each reading arrives exactly once, in order.
TEST_F(DwNodePayloadTest, RepeatsAndLatePingsFeedNoChunkTwiceAcrossWraps) {
    const auto chunks = Chunks(0, 400, 5);
    ASSERT_GT(chunks.size(), 3 * 256u);
    std::vector<int16_t> got;
    for (size_t i = 0; i < chunks.size(); ++i) {
        const uint8_t sequence = static_cast<uint8_t>(i);
        for (int copy = 0; copy < 2; ++copy) {
            const auto values = Temperatures(Ping(sequence, chunks[i]));
            got.insert(got.end(), values.begin(), values.end());
        }
        if (i >= 4 && i % 7 == 0) {
            EXPECT_EQ(Ping(static_cast<uint8_t>(i - 4), chunks[i - 4]), nullptr);
        }
    }
    ASSERT_EQ(got.size(), 400u);
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i], static_cast<int16_t>(i));
    }
}

TEST_F(DwNodePayloadTest, LostPingDropsOnlyTheRecordItCut) {
    const auto chunks = Chunks(10, 2, 4);  // 12 bytes: 4 chunks
    ASSERT_EQ(chunks.size(), 4u);
    std::vector<int16_t> got;
    for (uint8_t i : {0, 2, 3}) {  // chunk 1 (the middle of record 10) is lost
        const auto values = Temperatures(Ping(static_cast<uint8_t>(254 + i), chunks[i]));
        got.insert(got.end(), values.begin(), values.end());
    }
    EXPECT_EQ(got, (std::vector<int16_t>{11}));
}

TEST_F(DwNodePayloadTest, EmptyOrMissingUserDataGivesNothing) {
    EXPECT_EQ(Ping(1, {}), nullptr);
    vex_data_ping_t ping{};
    ping.sequence = 2;
    const uint8_t byte = 6;
    EXPECT_EQ(tag_->UpdatePayload(&ping, nullptr, 5, 0), nullptr);
    EXPECT_EQ(tag_->UpdatePayload(nullptr, &byte, 1, 0), nullptr);
    // None of these counted as a ping: sequence 1 still starts cleanly.
    EXPECT_EQ(Temperatures(Ping(1, Record(5))), (std::vector<int16_t>{5}));
}

TEST_F(DwNodePayloadTest, BadRecordKeepsItemsBeforeItAndSaysSo) {
    // A temperature record followed by one stray byte (a message of length 1).
    std::vector<uint8_t> chunk = Record(77);
    chunk.push_back(1);  // a one-byte message: too short for any record
    StdoutCapture capture;
    const auto packet = Ping(5, chunk);
    EXPECT_EQ(capture.Stop(), "Received Bad Sensor Data\n");
    EXPECT_EQ(Temperatures(packet), (std::vector<int16_t>{77}));

    // A record whose length byte is not its kind's size is refused whole.
    std::vector<uint8_t> long_record = Record(78);
    long_record[0] = 7;
    long_record.push_back(0);
    StdoutCapture second;
    EXPECT_TRUE(Temperatures(Ping(6, long_record)).empty());
    EXPECT_EQ(second.Stop(), "Received Bad Sensor Data\n");

    // An unknown kind is named, then refused.
    StdoutCapture third;
    EXPECT_TRUE(Temperatures(Ping(7, {3, 9, 0})).empty());
    EXPECT_EQ(third.Stop(), "Received sensor data with unrecognized type 09\nReceived Bad Sensor Data\n");
}

TEST_F(DwNodePayloadTest, PayloadCarriesTheStatusItemsGatheredSoFar) {
    AddHall();
    HallResponds(1, -1, 0.0, 6);
    const auto packet = Ping(1, Record(3));
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->GetSerialNumber(), kTagSerial);
    EXPECT_EQ(packet->GetDataItems().size(), 7u);  // six statuses, one reading
    EXPECT_TRUE(tag_->GetVexPacket()->GetDataItems().empty());
}

TEST_F(DwNodePayloadTest, BusyPacketLockDropsTheUserDataWithItsMessage) {
    {
        LockHolder holder(DwNodeTestPeer::PacketLock(*tag_));
        StdoutCapture capture;
        EXPECT_EQ(Ping(1, Record(1)), nullptr);
        EXPECT_EQ(capture.Stop(), "DwNode: Could not lock user data!\n");
    }
    // The dropped ping was not taken: the same sequence is new.
    EXPECT_EQ(Temperatures(Ping(1, Record(2))), (std::vector<int16_t>{2}));
}

}  // namespace
