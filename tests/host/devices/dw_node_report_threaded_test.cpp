// Report assembly and payload handling on a receiver thread while solver
// threads store and read the tag's positions and take its packet, as the
// location engine runs them. Every item the node gathers must reach exactly
// one taken packet, and the locks must keep the threads apart (this test also
// runs under ThreadSanitizer).
#include <gtest/gtest.h>

#include <QByteArray>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/device_time.h"
#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "host/devices/dw_node.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/sensor_data_temp_packet.h"
#include "protocol/reports/derazud_toa_rpt.h"

namespace {

constexpr uint32_t kTagSerial = 0x01040200;
constexpr int kAnchors = 6;
constexpr int kReports = 1500;
constexpr int kSolverThreads = 3;
// Long enough that the payload's try-lock never gives up under a sanitizer.
constexpr uint32_t kSyncPeriodMs = 20000;
constexpr double kSpeedOfLight = 299792458.0;

// What every taken packet held, added up.
struct item_counts_t {
    int used_statuses = 0;
    int other_statuses = 0;
    int temperatures = 0;
    int others = 0;

    void Add(const std::shared_ptr<VexPacket>& packet) {
        if (!packet) {
            return;
        }
        for (const auto& item : packet->GetDataItems()) {
            vex_data_anchor_status_t status{};
            if (VexData_Read(*item, &status)) {
                (status.status == kVexAnchorStatusUsed ? used_statuses : other_statuses) += 1;
            } else if (item->GetType() == VexType::kLps25hTemperature) {
                ++temperatures;
            } else {
                ++others;
            }
        }
    }
};

// Hands finished reports to the solver threads, as the engine's callback
// hands them to its thread pool.
class SolverQueue : public ToaReportReceiver {
  public:
    void ToaRxCallback(QByteArray report) override {
        derazud_toa_rpt_t decoded{};
        DerAzudToaRpt_FromBuff(&decoded, reinterpret_cast<const uint8_t*>(report.constData()), report.size());
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.push_back(decoded);
        ++published_;
        changed_.notify_all();
    }

    // False once the receiver is done and the queue is empty.
    bool Next(derazud_toa_rpt_t* report) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !reports_.empty() || finished_; });
        if (reports_.empty()) {
            return false;
        }
        *report = reports_.front();
        reports_.pop_front();
        return true;
    }

    void Finish() {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        changed_.notify_all();
    }

    int Published() {
        std::lock_guard<std::mutex> lock(mutex_);
        return published_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<derazud_toa_rpt_t> reports_;
    int published_ = 0;
    bool finished_ = false;
};

TEST(DwNodeReportThreaded, ReceiverAssemblyAgainstSolverThreads) {
    Settings defaults;
    Settings::GlobalSettings()->CopyFromOtherSettings(&defaults);
    HostSettings* host = FlatSettingsInterface(Settings::GlobalSettings()).GetHostSettings();
    host->SetSpeedOfLight(kSpeedOfLight);
    host->SetUseRdoaSanityCheck(true);
    host->SetSmoothPositionGuess(true);  // the check then waits for the position lock
    host->SetMaxTagVelocity(std::nan(""));
    host->SetSmoothingFactor(3);

    DwNodeMap anchors;
    const double positions[kAnchors][3] = {{0, 0, 3},  {20, 0, 3},  {20, 10, 3},
                                           {0, 10, 3}, {10, -2, 2}, {10, 12, 2}};
    for (int i = 0; i < kAnchors; ++i) {
        AnchorSettings settings;
        settings.SetSerialNumber(0x01030100 + i);
        settings.SetX(positions[i][0]);
        settings.SetY(positions[i][1]);
        settings.SetZ(positions[i][2]);
        anchors[0x01030100 + i] =
            std::make_shared<DwAnchor>(settings, static_cast<uint16_t>(2 + i), kSyncPeriodMs);
    }
    TagSettings tag_settings;
    tag_settings.SetSerialNumber(kTagSerial);
    auto tag = std::make_shared<DwTag>(tag_settings, 20, kSyncPeriodMs);
    tag->SetInitialPosition(9.0, 4.0, 1.0);

    SolverQueue queue;
    std::mutex counts_mutex;
    item_counts_t counts;
    int positions_stored = 0;

    std::vector<std::thread> solvers;
    for (int s = 0; s < kSolverThreads; ++s) {
        solvers.emplace_back([&] {
            derazud_toa_rpt_t report{};
            while (queue.Next(&report)) {
                const std::shared_ptr<VexPacket> packet = tag->GetVexPacket();
                derazud_pos3_t position{};
                position.serial_number = kTagSerial;
                position.x = 9.0f;
                position.y = 4.0f;
                position.z = 1.0f;
                position.sequence = report.sequence;
                position.creation_time = static_cast<int64_t>(report.creation_time);
                tag->SetCurrentPos3(position);
                const vex_data_position_t smoothed = tag->GetSmoothedPositionData();
                EXPECT_EQ(+smoothed.x, 9000);  // packed: compared as values
                EXPECT_EQ(+smoothed.y, 4000);
                DerAzudToaRpt_Cleanup(&report);
                std::lock_guard<std::mutex> lock(counts_mutex);
                counts.Add(packet);
                ++positions_stored;
            }
        });
    }

    // The receiver thread: each transmission's responses, and with every
    // fourth one a ping whose user data is a whole temperature record.
    item_counts_t payload_counts;
    int responses = 0;
    std::thread receiver([&] {
        for (int r = 0; r < kReports; ++r) {
            const uint8_t sequence = static_cast<uint8_t>(r);
            const int64_t transmit = 1000000000 + int64_t{r} * 6389760;
            for (int i = 0; i < kAnchors; ++i) {
                const double metres =
                    std::sqrt(std::pow(positions[i][0] - 9.0, 2) + std::pow(positions[i][1] - 4.0, 2) +
                              std::pow(positions[i][2] - 1.0, 2));
                const int64_t toa = transmit + std::llround(metres / kSpeedOfLight * kDeviceTicksPerSecond);
                tag->ProcessReportResponse(&queue, sequence, static_cast<int16_t>(2 + i), 0x01030100 + i, toa,
                                           anchors, -80.0, -78.0, kAnchors);
                ++responses;
            }
            if (r % 4 != 0) {
                continue;
            }
            vex_data_ping_t ping{};
            ping.sequence = sequence;
            sensor_data_temp_t record{
                {device_protocol::kSensorDataTempSize, device_protocol::kSensorTemperature}, 0, 20};
            std::vector<uint8_t> user_data(device_protocol::kSensorDataTempSize);
            SensorDataTemp_ToBuff(user_data.data(), &record);
            const auto packet =
                tag->UpdatePayload(&ping, user_data.data(), static_cast<uint16_t>(user_data.size()),
                                   static_cast<uint32_t>(r) << 8);
            EXPECT_NE(packet, nullptr);
            payload_counts.Add(packet);
        }
    });
    receiver.join();

    // Bounded wait for the solvers to take every published report.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard<std::mutex> lock(counts_mutex);
            if (positions_stored == queue.Published()) {
                break;
            }
        }
        std::this_thread::yield();
    }
    queue.Finish();
    for (auto& solver : solvers) {
        solver.join();
    }
    counts.Add(tag->GetVexPacket());

    EXPECT_EQ(queue.Published(), kReports);
    EXPECT_EQ(positions_stored, kReports);
    EXPECT_EQ(responses, kReports * kAnchors);
    EXPECT_EQ(counts.used_statuses + payload_counts.used_statuses, kReports * kAnchors);
    EXPECT_EQ(counts.other_statuses + payload_counts.other_statuses, 0);
    EXPECT_EQ(counts.temperatures + payload_counts.temperatures, (kReports + 3) / 4);
    EXPECT_EQ(counts.others + payload_counts.others, 0);
}

}  // namespace
