// The server's own location engine, Backlink, USB link, configuration server
// and Ethernet link, set up as the host sets them up, against a simulated
// site: the engine brings the network up through the simulated master on its
// pseudo-terminal, an Ethernet anchor announces itself and is linked (it then
// publishes its receptions on the Internal stream itself), the anchors and
// tags that announce themselves over the air are admitted, and the positions
// published come within a few decimetres of where the simulator says the tags
// truly were at each transmission, with the Ethernet anchor among those used.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "engine_setup.h"
#include "host/devices/configuration_server.h"
#include "host/devices/ethernet_link.h"
#include "host/devices/node_manager.h"
#include "host/devices/usb_link.h"
#include "host/devices/worker_thread.h"
#include "host/dpu/backlink.h"
#include "host/dpu/dpu.h"
#include "host/scheduling/rf_scheduler.h"
#include "host/scheduling/rf_scheduler_settings.h"
#include "protocol/vex/vex_connection.h"
#include "protocol/vex/vex_data_types.h"
#include "server_side.h"
#include "simulator/device_simulator.h"
#include "support/spin_until.h"

namespace {

constexpr uint32_t kStandingTag = 0x01010022;
constexpr uint32_t kCirclingTag = 0x01010021;
// This file's UDP ports: the Internal and External streams.
constexpr uint16_t kInternalPort = 43300;
constexpr uint16_t kExternalPort = 43301;
constexpr uint16_t kConfigPort = 43302;
constexpr uint32_t kEthernetAnchor = 0x01000012;

struct published_position_t {
    uint32_t serial;
    vex_data_position_t position;
    std::chrono::steady_clock::time_point received;
};

// The External stream's positions, gathered on its receiver thread.
std::mutex positions_mutex_;
std::vector<published_position_t> positions_;
std::map<uint32_t, int> solve_anchors_;  // anchor serial number: solves it took part in

// The default site, with anchors hung at different heights so that height is
// determined too, the master on a pseudo-terminal of this process, and the
// streams on a group and ports of this test.
sim_site_t Site(Settings* settings) {
    sim_site_t site;
    std::string error;
    EXPECT_TRUE(LoadSimSite(std::string(VORAV_SOURCE_DIR) + "/tools/simulator/default_site.json", "", &site,
                            settings, &error))
        << error;
    const double heights[] = {2.5, 0.4, 2.9, 1.0};
    int anchor = 0;
    for (auto& device : site.devices) {
        if (device.role == SimRole::kAnchor)
            device.position =
                Coordinates(device.position.GetX(), device.position.GetY(), heights[anchor++ % 4]);
        if (device.link == SimLinkKind::kUsb)
            device.usb_path = "/tmp/" + ProcessUnique("vorav-sim-e2e-master");
        if (device.serial_number == kEthernetAnchor)
            device.link = SimLinkKind::kEthernet;
    }
    site.config_group = ProcessGroup();
    site.config_port = kConfigPort;
    site.announce_period_ms = 200;
    ApplySimSiteToSettings(site, settings);
    HostSettings* host = settings->GetHostSettingsReference();
    host->SetInputSocketSettings(LoopbackStream(kInternalPort));
    host->SetOutputSocketSettings(LoopbackStream(kExternalPort));
    return site;
}

// A tag's solved positions so far: those of distinct transmissions (every
// report publishes the tag's position, also when no new one was solved).
size_t PositionCount(uint32_t serial) {
    std::lock_guard<std::mutex> lock(positions_mutex_);
    std::set<uint32_t> network_times;
    for (const auto& published : positions_) {
        if (published.serial == serial)
            network_times.insert(published.position.network_time);
    }
    return network_times.size();
}

// Distances (mm) of a tag's published positions from its true positions at
// the transmission each was solved from, leaving out the first ones (the
// smoothing starts from the tag's initial position). The solve's network time
// lies within a unit or two of the transmission's; network time starts again
// with every start of the master, so of the transmissions with that network
// time the last one before the position arrived is the one.
std::vector<double> Errors(uint32_t serial, const std::vector<sim_truth_t>& truth, size_t skip,
                           const DeviceSimulator& simulator) {
    const auto start =
        std::chrono::steady_clock::now() - std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                               std::chrono::duration<double>(simulator.Now()));
    std::vector<double> errors;
    std::lock_guard<std::mutex> lock(positions_mutex_);
    size_t seen = 0;
    std::set<uint32_t> taken;
    for (const auto& published : positions_) {
        if (published.serial != serial || !taken.insert(published.position.network_time).second ||
            seen++ < skip)
            continue;
        const double arrived = std::chrono::duration<double>(published.received - start).count();
        const sim_truth_t* match = nullptr;
        for (const auto& record : truth) {
            const int32_t apart = static_cast<int32_t>(record.network_time - published.position.network_time);
            if (record.serial_number == serial && apart >= -2 && apart <= 2 && record.time_s <= arrived &&
                (match == nullptr || record.time_s > match->time_s))
                match = &record;
        }
        if (match == nullptr)
            continue;
        const Coordinates solved(published.position.x, published.position.y, published.position.z);
        errors.push_back(solved.CalculateDistanceBetween(match->position * 1000.0));
    }
    return errors;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 1e9 : values[values.size() / 2];
}

// Waits, running this thread's events (the engine's bring-up runs here), until
// both tags have `count` positions published or the bound passes.
void WaitForPositions(size_t count) {
    test_support::SpinUntil(
        [count] { return PositionCount(kStandingTag) >= count && PositionCount(kCirclingTag) >= count; },
        std::chrono::seconds(90));
}

class SimulatorServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> lock(positions_mutex_);
            positions_.clear();
            solve_anchors_.clear();
        }
        Settings settings;
        site_ = Site(&settings);
        Settings::GlobalSettings()->CopyFromOtherSettings(&settings);
        for (const auto& device : site_.devices) {
            if (device.role == SimRole::kMaster)
                master_ = device.serial_number;
        }
        simulator_ = std::make_unique<DeviceSimulator>(site_);
        std::string error;
        ASSERT_TRUE(simulator_->Start(&error)) << error;
        external_ = std::make_unique<VexConnection>(LoopbackStream(kExternalPort));
        external_->Subscribe(VexType::kToaAnchor, [](uint32_t, uint32_t, const VexDataItem& item) {
            vex_data_toa_anchor_t anchor;
            if (VexData_Read(item, &anchor)) {
                std::lock_guard<std::mutex> lock(positions_mutex_);
                ++solve_anchors_[anchor.anchor_serial_number];
            }
        });
        external_->Subscribe(VexType::kPosition, [](uint32_t serial, uint32_t, const VexDataItem& item) {
            published_position_t published{serial, {}, std::chrono::steady_clock::now()};
            if (VexData_Read(item, &published.position)) {
                std::lock_guard<std::mutex> lock(positions_mutex_);
                positions_.push_back(published);
            }
        });

        ASSERT_TRUE(engine_.Start(master_, site_.Find(master_)->usb_path));
        nodes_ = engine_.nodes;
        dpu_ = engine_.dpu;
        backlink_ = engine_.backlink;

        // The host's part for Ethernet devices: a link for the configured device that
        // announces itself, bound to the Internal stream, brought into the network.
        auto* configuration_server = new ConfigurationServer(
            QString::fromStdString(ProcessGroup()), kConfigPort, QNetworkInterface::interfaceFromName("lo"));
        server_thread_ = WorkerThread::Create(configuration_server, &ConfigurationServer::Run,
                                              &ConfigurationServer::QuitThread,
                                              &ConfigurationServer::Shutdown, QString("ConfigurationServer"));
        QObject::connect(configuration_server, &ConfigurationServer::SignalEthernetAnnounceReceived, &host_,
                         [this](ethernet_announce_t announce, QString address, quint16 port) {
                             if (announce.serial_number == kEthernetAnchor && ethernet_thread_.IsEmpty())
                                 LinkEthernetDevice(announce, address, port);
                         });
        server_thread_.Start();
    }

    void LinkEthernetDevice(const ethernet_announce_t& announce, const QString& address, quint16 port) {
        auto* ethernet = new EthernetLink();
        ethernet->SetSerialNumber(announce.serial_number);
        ethernet->SetLocalAddress(QHostAddress(QString::fromStdString(ProcessGroup())));
        ethernet->SetLocalPort(kInternalPort);
        ethernet->SetNetworkInterface("lo", announce.vlan_id);
        ethernet->Init(nodes_, backlink_->GetStreams(), QString("udpm://%1:%2").arg(address).arg(port));
        QObject::connect(ethernet, &NodeLink::DeviceConnected, dpu_,
                         qOverload<NodeLink*>(&Dpu::InitializeNetwork));
        ethernet_thread_ = WorkerThread::Create<NodeLink>(ethernet, &NodeLink::Run, &NodeLink::QuitThread,
                                                          &NodeLink::Shutdown, QString("EthernetLink"));
        ethernet_thread_.Start();
    }

    void TearDown() override {
        for (const WorkerThread* thread : {&server_thread_, &ethernet_thread_}) {
            thread->RequestStop();
            EXPECT_TRUE(thread->Join(5000));
        }
        EXPECT_TRUE(engine_.Stop());
        if (external_)
            external_->ClearSubscriptions();
        if (simulator_)
            simulator_->Stop();
    }

    // Both tags' published positions against the truth.
    void ExpectTracked(const std::vector<sim_truth_t>& truth, size_t skip) {
        for (const uint32_t tag : {kStandingTag, kCirclingTag}) {
            const std::vector<double> errors = Errors(tag, truth, skip, *simulator_);
            ASSERT_GE(errors.size(), 30u) << std::hex << tag;
            printf("tag %08X: %zu positions, median distance from the truth %.0f mm\n", tag, errors.size(),
                   Median(errors));
            fflush(stdout);
            EXPECT_LT(Median(errors), 300.0) << std::hex << tag;
        }
    }

    sim_site_t site_;
    uint32_t master_ = 0;
    std::unique_ptr<DeviceSimulator> simulator_;
    std::unique_ptr<VexConnection> external_;
    engine_under_test_t engine_;
    std::shared_ptr<NodeManager> nodes_;
    Dpu* dpu_ = nullptr;
    Backlink* backlink_ = nullptr;
    QObject host_;
    WorkerThread server_thread_;
    WorkerThread ethernet_thread_;
};

TEST_F(SimulatorServerTest, EngineTracksTheSimulatedTagsWithinAFewDecimetres) {
    // The bring-up alone takes some 13 s (5 s with the master stopped, 7 s of fast sync).
    WaitForPositions(80);
    EXPECT_GT(simulator_->GetStatus(master_).syncs_sent, 100u);
    EXPECT_NE(simulator_->GetStatus(kEthernetAnchor).host_address, 0u)
        << "the Ethernet link configured the device";
    {
        std::lock_guard<std::mutex> lock(positions_mutex_);
        EXPECT_GT(solve_anchors_[kEthernetAnchor], 20)
            << "the Ethernet anchor's receptions reached the solver";
    }
    ExpectTracked(simulator_->TakeTruth(), 20);
}

// The master's cable pulled and plugged back: the link sees the port go, finds
// the device again under the same name, the engine brings the network up once
// more, and the tags, which kept their slots, are tracked again.
TEST_F(SimulatorServerTest, MasterPluggedBackInIsBroughtUpAgainAndTrackingResumes) {
    WaitForPositions(20);
    ASSERT_GE(PositionCount(kStandingTag), 20u);
    ASSERT_TRUE(simulator_->Unplug(master_));
    ASSERT_TRUE(simulator_->Plug(master_));
    const size_t before = PositionCount(kStandingTag);
    {
        std::lock_guard<std::mutex> lock(positions_mutex_);
        positions_.clear();
    }
    simulator_->TakeTruth();
    WaitForPositions(50);
    EXPECT_GT(simulator_->GetStatus(master_).commands_received, 10u) << "the master was set up again";
    EXPECT_GE(before, 20u);
    ExpectTracked(simulator_->TakeTruth(), 10);
}

}  // namespace
