// The Backlink over loopback multicast on "lo": the Internal stream's items
// reach the engine's handlers over one connection or two, the timers
// republish the infrastructure and the configuration from the Backlink's own
// thread, and a shutdown from another thread leaves nothing that reaches the
// engine, which may be deleted at once, even while items keep arriving. The
// two-way-ranging engine's positions leave on the External stream.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QString>
#include <QThread>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "host/devices/worker_thread.h"
#include "host/dpu/backlink.h"
#include "host/dpu/dpu.h"
#include "host/dpu/twr_site_exchange.h"
#include "host/dpu/twr_snoop_engine.h"
#include "protocol/vex/vex_connection.h"
#include "protocol/vex/vex_data_types.h"
#include "support/dpu_test_site.h"
#include "support/process_multicast_group.h"
#include "support/stdout_capture.h"

namespace {

using namespace dpu_test_site;

// Counts the items of each type seen on one stream, on its receiver thread.
class StreamWatcher {
  public:
    StreamWatcher(uint16_t port, std::vector<uint16_t> types) : connection_(LoopbackStream(port)) {
        for (const uint16_t type : types) {
            connection_.Subscribe(type, [this](uint32_t, uint32_t, const VexDataItem& item) {
                std::lock_guard<std::mutex> lock(mutex_);
                items_.emplace_back(item.GetType(), std::vector<uint8_t>(
                                                        item.GetData(), item.GetData() + item.GetDataSize()));
            });
        }
    }
    int Count(uint16_t type) {
        std::lock_guard<std::mutex> lock(mutex_);
        int count = 0;
        for (const auto& item : items_) {
            count += item.first == type ? 1 : 0;
        }
        return count;
    }
    std::vector<std::vector<uint8_t>> Payloads(uint16_t type) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::vector<uint8_t>> payloads;
        for (const auto& item : items_) {
            if (item.first == type) {
                payloads.push_back(item.second);
            }
        }
        return payloads;
    }

  private:
    VexConnection connection_;
    std::mutex mutex_;
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> items_;
};

VexPacket PacketOf(uint32_t serial, uint16_t type, const void* record, uint16_t size) {
    VexPacket packet(serial);
    packet.AddDataItem(type, size, record);
    return packet;
}

VexPacket TickPacket(uint32_t networkTime) {
    vex_data_tick_t tick{};
    tick.serial_number = kMaster;
    tick.network_time = networkTime;
    tick.transmit_time = networkTime * 1000ull;
    return PacketOf(kMaster, VexType::kTick, &tick, sizeof(tick));
}

VexPacket SmoothingPacket(uint32_t factor) {
    const vex_data_smoothing_factor_t request{0, 0, factor};
    return PacketOf(0, VexType::kSmoothingFactor, &request, sizeof(request));
}

uint32_t SmoothingFactor() {
    return Settings::GlobalSettings()->GetHostSettingsReference()->GetSmoothingFactor();
}

class BacklinkTest : public ::testing::Test {
  protected:
    void Start(uint16_t outputPort, uint16_t inputPort) {
        options_t options;
        options.group = ProcessMulticastGroup().toStdString();
        options.output_port = outputPort;
        options.input_port = inputPort;
        site_ = Install(options);
        dpu_.reset(new Dpu());
        StdoutCapture quiet;
        ASSERT_TRUE(dpu_->Init({}, site_.node_manager, site_.scheduler, site_.budget));
        master_.reset(new RecordingLink(kMaster));
        dpu_->GetMaster()->SetNodeLink(master_.get());
    }

    site_t site_;
    std::unique_ptr<Dpu> dpu_;
    std::unique_ptr<RecordingLink> master_;
};

TEST_F(BacklinkTest, EqualSettingsShareOneConnectionThatCarriesItemsToTheEngine) {
    Start(43500, 43500);
    StreamWatcher external(43500, {VexType::kTimeReservation});
    Backlink backlink(dpu_.get());
    EXPECT_TRUE(backlink.GetStreams()->IsOneConnection());
    StdoutCapture quiet;

    // A tick of the master before it is initialised: the RF settings go to it.
    VexPacket tick = TickPacket(1000);
    backlink.PublishInputVex(tick);
    ASSERT_TRUE(SpinUntil([this] { return !master_->Frames().empty(); }));
    EXPECT_EQ(master_->Frames()[0].bytes[1], 0x04);

    const uint8_t stopped = 6;
    VexPacket ssp = PacketOf(kMaster, VexType::kSspResponse, &stopped, 1);
    backlink.PublishInputVex(ssp);
    ASSERT_TRUE(SpinUntil([this] { return dpu_->IsMasterStopped(); }));

    VexPacket smoothing = SmoothingPacket(3);
    backlink.PublishInputVex(smoothing);
    ASSERT_TRUE(SpinUntil([] { return SmoothingFactor() == 3; }));

    // A discovery is admitted and its reservation item appears on the
    // External stream, which here is the same group and port.
    vex_data_discovery_t discovery{};
    discovery.serial_number = kTag;
    VexPacket announce = PacketOf(kAnchors[0], VexType::kDiscovery, &discovery, sizeof(discovery));
    backlink.PublishInputVex(announce);
    ASSERT_TRUE(SpinUntil([&external] { return external.Count(VexType::kTimeReservation) == 1; }));
    const auto payload = external.Payloads(VexType::kTimeReservation)[0];
    vex_data_time_reservation_t reservation;
    std::memcpy(&reservation, payload.data(), sizeof(reservation));
    EXPECT_EQ(+reservation.serial_number, kTag);
    EXPECT_EQ(+reservation.outcome, kVexAdmissionTag);
    backlink.Shutdown();
}

TEST_F(BacklinkTest, DifferentSettingsMakeTwoConnections) {
    Start(43502, 43503);
    StreamWatcher external(43502, {VexType::kInfrastructure});
    Backlink backlink(dpu_.get());
    EXPECT_FALSE(backlink.GetStreams()->IsOneConnection());
    StdoutCapture quiet;
    VexPacket smoothing = SmoothingPacket(9);
    backlink.PublishInputVex(smoothing);
    ASSERT_TRUE(SpinUntil([] { return SmoothingFactor() == 9; }));
    dpu_->PublishInfrastructure();
    ASSERT_TRUE(SpinUntil([&external] { return external.Count(VexType::kInfrastructure) == 5; }));
    backlink.Shutdown();
}

TEST_F(BacklinkTest, TimersRepublishFromTheBacklinksThreadUntilShutdown) {
    Start(43504, 43505);
    StreamWatcher external(43504, {VexType::kInfrastructure});
    StreamWatcher internal(43505, {VexType::kConfig});
    // The program's intervals, 100 times shorter here.
    const backlink_timings_t program;
    EXPECT_EQ(program.infrastructure_first_ms, 1000);
    EXPECT_EQ(program.infrastructure_interval_ms, 7013);
    EXPECT_EQ(program.config_first_ms, 1500);
    EXPECT_EQ(program.config_interval_ms, 20131);
    constexpr int kTimeScale = 100;
    backlink_timings_t timings;
    timings.infrastructure_first_ms = program.infrastructure_first_ms / kTimeScale;
    timings.infrastructure_interval_ms = program.infrastructure_interval_ms / kTimeScale;
    timings.config_first_ms = program.config_first_ms / kTimeScale;
    timings.config_interval_ms = program.config_interval_ms / kTimeScale;
    auto* backlink = new Backlink(dpu_.get(), nullptr, timings);
    const WorkerThread thread = WorkerThread::Create(backlink, &Backlink::Run, &Backlink::QuitThreadSignal,
                                                     &Backlink::Shutdown, QString("Backlink"));
    StdoutCapture capture;
    thread.Start();
    // Five items per infrastructure publication; the configuration item once
    // per publication.
    ASSERT_TRUE(SpinUntil([&] {
        return external.Count(VexType::kInfrastructure) >= 15 && internal.Count(VexType::kConfig) >= 3;
    }));

    thread.RequestStop();
    // Nothing reaches the engine from here on: it may go at once.
    dpu_.reset();
    ASSERT_TRUE(SpinUntil([&thread] { return thread.IsFinished(); }));
    const std::string printed = capture.Stop();
    EXPECT_EQ(printed.rfind("Backlink: thread running...\n", 0), 0u);
    EXPECT_NE(printed.find("DPU: publishing configurations...\n"), std::string::npos);
    EXPECT_EQ(printed.substr(printed.size() - 26), "Backlink: thread finished\n");
}

TEST_F(BacklinkTest, ShutdownWhileItemsArriveNeverReachesADeletedEngine) {
    Start(43506, 43507);
    auto* backlink = new Backlink(dpu_.get());
    const WorkerThread thread = WorkerThread::Create(backlink, &Backlink::Run, &Backlink::QuitThreadSignal,
                                                     &Backlink::Shutdown, QString("Backlink"));
    StdoutCapture quiet;
    thread.Start();
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread sender([&stop, &sent] {
        // Sends from its own connection, built in this thread.
        VexConnection connection(LoopbackStream(43507));
        for (uint32_t i = 1; !stop; ++i) {
            VexPacket tick = TickPacket(i);
            VexPacket smoothing = SmoothingPacket(i % 50);
            connection.Publish(tick);
            connection.Publish(smoothing);
            ++sent;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    // Items are flowing into the engine.
    ASSERT_TRUE(SpinUntil([this] { return master_->Frames().size() >= 20; }));
    thread.RequestStop();
    // Once the stop returns no callback runs or will run: the count stays.
    const size_t framesAtStop = master_->Frames().size();
    dpu_.reset();
    const int sentAtDeletion = sent;
    // Keep sending into the stopped Backlink for a while.
    ASSERT_TRUE(SpinUntil([&sent, sentAtDeletion] { return sent > sentAtDeletion + 100; }));
    stop = true;
    sender.join();
    ASSERT_TRUE(SpinUntil([&thread] { return thread.IsFinished(); }));
    EXPECT_EQ(master_->Frames().size(), framesAtStop);
}

TEST_F(BacklinkTest, TheRangingEnginesPositionsLeaveOnTheExternalStreamUntilShutdown) {
    Start(44800, 44801);
    StreamWatcher external(44800, {VexType::kPosition});
    TwrSnoopEngine* engine = TwrSnoopEngine::Instance();
    engine->SetNodeManager(site_.node_manager);
    engine->AddTwrSnoopDevices(kTag, 16442, kMaster, 16450);
    const twr_test::GeneratedExchange exchange = twr_test::Generate(twr_test::SiteExchange());
    long counter = 0;
    // One exchange per call, each with a counter of its own.
    auto locate = [&] {
        counter += 10;
        for (const derazud_usb_anchor_rpt_t& report : exchange.reports) {
            engine->AddData(&report, counter, 1);
        }
        return engine->Calculate3DTwrSnoop(engine->GetPairs().front());
    };

    auto* backlink = new Backlink(dpu_.get());
    StdoutCapture quiet;
    ASSERT_TRUE(locate());
    ASSERT_TRUE(SpinUntil([&external] { return external.Count(VexType::kPosition) == 1; }));
    vex_data_position_t position;
    const std::vector<uint8_t> payload = external.Payloads(VexType::kPosition)[0];
    ASSERT_EQ(payload.size(), sizeof(position));
    std::memcpy(&position, payload.data(), sizeof(position));
    const twr_test::Point found{position.x / 1000.0, position.y / 1000.0, position.z / 1000.0};
    EXPECT_LT(twr_test::Distance(found, twr_test::kSiteTagPosition), 0.02);

    // Shut down (here, from its own thread) and gone: nothing is published.
    backlink->Shutdown();
    EXPECT_FALSE(locate());
    delete backlink;
    EXPECT_FALSE(locate());

    // A Backlink going away leaves a newer one's streams attached.
    auto* older = new Backlink(dpu_.get());
    auto* newer = new Backlink(dpu_.get());
    delete older;
    ASSERT_TRUE(locate());
    ASSERT_TRUE(SpinUntil([&external] { return external.Count(VexType::kPosition) == 2; }));
    delete newer;
    EXPECT_FALSE(locate());
    engine->Clear();
    engine->SetNodeManager(nullptr);
}

}  // namespace
