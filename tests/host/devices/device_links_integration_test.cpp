// The links against the device simulator: a master on a USB serial port (a
// pseudo-terminal), an anchor on Ethernet that announces itself on the
// configuration group, a wireless anchor and a tag over the simulated air.
// The server's side is the real one: links and configuration server in
// threads of their own; what they publish is recorded.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QHostAddress>
#include <QNetworkInterface>
#include <QString>
#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/devices/configuration_server.h"
#include "host/devices/ethernet_link.h"
#include "host/devices/usb_link.h"
#include "host/devices/worker_thread.h"
#include "protocol/packets/ssp_cmd_start_sync_packet.h"
#include "protocol/vex/vex_data_types.h"
#include "simulator/device_simulator.h"
#include "support/device_payloads.h"
#include "support/link_test_support.h"
#include "support/process_multicast_group.h"

namespace {

using namespace test_devices;
using namespace link_test;
namespace dp = device_protocol;

// This file's UDP ports.
constexpr uint16_t kConfigPort = 42490;
constexpr uint16_t kEthernetDevicePort = 42491;
// About 100 ms of network time.
constexpr uint32_t kSyncPeriod = 97500;

sim_device_t Device(uint32_t serial, SimRole role, SimLinkKind link, Coordinates position) {
    sim_device_t device;
    device.serial_number = serial;
    device.role = role;
    device.link = link;
    device.position = position;
    return device;
}

// The test network of MakeRegistry: the master on USB, the first anchor on
// Ethernet (on the given UDP port; 0: any free one), the second over the air,
// a standing tag.
sim_site_t Site(uint16_t ethernet_port) {
    sim_site_t site;
    sim_device_t master = Device(kMaster, SimRole::kMaster, SimLinkKind::kUsb, {0, 0, 2});
    master.usb_path = "/tmp/vorav-links-sim-master-" + std::to_string(getpid());
    site.devices.push_back(master);
    sim_device_t ethernet = Device(kAnchor1, SimRole::kAnchor, SimLinkKind::kEthernet, {10, 0, 2});
    ethernet.ethernet_port = ethernet_port;
    site.devices.push_back(ethernet);
    site.devices.push_back(Device(kAnchor2, SimRole::kAnchor, SimLinkKind::kNone, {0, 10, 2}));
    site.devices.push_back(Device(kTag1, SimRole::kTag, SimLinkKind::kNone, {5, 5, 1}));
    site.config_group = ProcessMulticastGroup().toStdString();
    site.config_port = kConfigPort;
    site.announce_period_ms = 100;
    return site;
}

Bytes StartSync() {
    const ssp_cmd_start_sync_t start{dp::kSspTypeCommand, dp::kSspCmdStartSync, kSyncPeriod, 1, 600, 0, 0};
    return Encode(SspCmdStartSync_ToBuff, start, dp::kSspCmdStartSyncSize);
}

void Send(NodeLink* link, const Bytes& payload) {
    link->Publish(payload.data(), static_cast<uint32_t>(payload.size()));
}

size_t CountItems(const VexPacketRecorder& recorder, uint16_t type, uint32_t packet_serial) {
    const auto items = ItemsOf(recorder);
    return static_cast<size_t>(std::count_if(items.begin(), items.end(), [&](const Item& item) {
        return item.type == type && item.packet_serial == packet_serial;
    }));
}

class DeviceLinksIntegrationTest : public ::testing::Test {
  protected:
    // Only the test that links the Ethernet anchor needs to know its port:
    // the other takes any free one, since ctest runs both at once.
    void StartSimulator(uint16_t ethernet_port) {
        simulator_ = std::make_unique<DeviceSimulator>(Site(ethernet_port));
        std::string error;
        ASSERT_TRUE(simulator_->Start(&error)) << error;
    }
    void TearDown() override {
        for (const WorkerThread& thread : threads_) {
            EXPECT_TRUE(StopAndJoin(thread));
        }
        if (simulator_) {
            simulator_->Stop();
        }
    }

    NodeLink* StartMasterLink() {
        auto* link = new UsbLink();
        EXPECT_TRUE(
            link->Init(registry_, recorder_, QString::fromStdString(simulator_->Site().devices[0].usb_path)));
        master_connections_ = CountConnections(link);
        Start(link, "master link");
        return link;
    }

    void Start(NodeLink* link, const QString& name) {
        threads_.push_back(WorkerThread::Create<NodeLink>(link, &NodeLink::Run, &NodeLink::QuitThread,
                                                          &NodeLink::Shutdown, name));
        threads_.back().Start();
    }

    // Asks the master for both passthroughs and syncs.
    void StartSyncs(NodeLink* master) {
        Send(master, {dp::kSspTypeCommand, dp::kSspCmdSetTxPassthrough, 1});
        Send(master, {dp::kSspTypeCommand, dp::kSspCmdSetRxPassthrough, 1});
        Send(master, StartSync());
    }

    std::unique_ptr<DeviceSimulator> simulator_;
    std::shared_ptr<const NodeManager> registry_ = MakeRegistry();
    std::shared_ptr<VexPacketRecorder> recorder_ = std::make_shared<VexPacketRecorder>();
    std::shared_ptr<std::atomic<int>> master_connections_;
    std::vector<WorkerThread> threads_;
    // Filled in the configuration server's thread until TearDown stops it.
    std::mutex mutex_;  // guards announces_
    std::vector<std::pair<ethernet_announce_t, std::pair<QString, quint16>>> announces_;
};

TEST_F(DeviceLinksIntegrationTest, UsbMasterIsIdentifiedSyncsAndForwardsWhatItHears) {
    ASSERT_NO_FATAL_FAILURE(StartSimulator(0));
    NodeLink* master = StartMasterLink();
    ASSERT_TRUE(SpinUntil([&] { return master_connections_->load() == 1; }));
    EXPECT_EQ(master->GetSerialNumber(), kMaster);
    StartSyncs(master);

    // The answers to the three commands, the master's own syncs as ticks, and
    // the announces of the devices without an address that it hears.
    ASSERT_TRUE(SpinUntil([&] {
        return CountItems(*recorder_, VexType::kSspResponse, kMaster) >= 3 &&
               CountItems(*recorder_, VexType::kTick, kMaster) >= 3 &&
               CountItems(*recorder_, VexType::kDiscovery, kMaster) >= 1;
    }));
    std::vector<uint8_t> responses;
    uint32_t last_network_time = 0;
    int ticks = 0;
    for (const Item& item : ItemsOf(*recorder_)) {
        if (item.type == VexType::kSspResponse) {
            responses.push_back(item.payload.at(0));
        } else if (item.type == VexType::kTick) {
            vex_data_tick_t tick{};
            ASSERT_EQ(item.payload.size(), sizeof(tick));
            std::memcpy(&tick, item.payload.data(), sizeof(tick));
            EXPECT_EQ(+tick.serial_number, kMaster);
            if (ticks++ > 0) {
                EXPECT_GT(+tick.network_time, last_network_time);
            }
            last_network_time = tick.network_time;
        } else if (item.type == VexType::kDiscovery) {
            vex_data_discovery_t discovery{};
            ASSERT_EQ(item.payload.size(), sizeof(discovery));
            std::memcpy(&discovery, item.payload.data(), sizeof(discovery));
            EXPECT_TRUE(discovery.serial_number == kAnchor2 || discovery.serial_number == kTag1 ||
                        discovery.serial_number == kAnchor1)
                << std::hex << discovery.serial_number;
        }
    }
    EXPECT_EQ(std::vector<uint8_t>(responses.begin(), responses.begin() + 3),
              (std::vector<uint8_t>{dp::kSspCmdSetTxPassthrough, dp::kSspCmdSetRxPassthrough,
                                    dp::kSspCmdStartSync}));

    // Pulled out and plugged back in: identified once more, exactly once.
    ASSERT_TRUE(simulator_->Unplug(kMaster));
    ASSERT_TRUE(SpinUntil([&] { return master->GetSerialNumber() == 0; }));
    ASSERT_TRUE(simulator_->Plug(kMaster));
    ASSERT_TRUE(SpinUntil([&] { return master_connections_->load() == 2; }));
    const size_t responses_before = CountItems(*recorder_, VexType::kSspResponse, kMaster);
    Send(master, {dp::kSspTypeCommand, dp::kSspCmdStopSync});
    ASSERT_TRUE(SpinUntil(
        [&] { return CountItems(*recorder_, VexType::kSspResponse, kMaster) == responses_before + 1; }));
    EXPECT_EQ(master_connections_->load(), 2);
}

TEST_F(DeviceLinksIntegrationTest, EthernetAnchorIsFoundByItsAnnounceAndForwardsTheSyncsItHears) {
    ASSERT_NO_FATAL_FAILURE(StartSimulator(kEthernetDevicePort));
    auto* server = new ConfigurationServer(ProcessMulticastGroup(), kConfigPort,
                                           QNetworkInterface::interfaceFromName("lo"));
    QObject::connect(
        server, &ConfigurationServer::SignalEthernetAnnounceReceived, server,
        [this](ethernet_announce_t announce, QString address, quint16 port) {
            std::lock_guard<std::mutex> lock(mutex_);
            announces_.push_back({announce, {address, port}});
        },
        Qt::DirectConnection);
    threads_.push_back(WorkerThread::Create(server, &ConfigurationServer::Run,
                                            &ConfigurationServer::QuitThread, &ConfigurationServer::Shutdown,
                                            "configuration server"));
    threads_.back().Start();
    ASSERT_TRUE(SpinUntil([&] {
        std::lock_guard<std::mutex> lock(mutex_);
        return !announces_.empty();
    }));
    std::pair<ethernet_announce_t, std::pair<QString, quint16>> first;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        first = announces_.front();
    }
    EXPECT_EQ(first.first.serial_number, kAnchor1);
    EXPECT_EQ(first.second.first, "127.0.0.1");
    EXPECT_EQ(first.second.second, kEthernetDevicePort);

    // What the host does with a configured device's announce.
    auto* anchor = new EthernetLink();
    ASSERT_TRUE(anchor->SetNetworkInterface("lo", 0));
    anchor->SetLocalAddress(QHostAddress("127.0.0.1"));
    anchor->SetLocalPort(1);
    anchor->SetSerialNumber(first.first.serial_number);
    ASSERT_TRUE(anchor->Init(registry_, recorder_,
                             QString("udpm://%1:%2").arg(first.second.first).arg(first.second.second)));
    const auto anchor_connections = CountConnections(anchor);
    Start(anchor, "Ethernet anchor link");
    ASSERT_TRUE(SpinUntil([&] { return anchor_connections->load() == 1; }));
    ASSERT_TRUE(SpinUntil([&] { return simulator_->GetStatus(kAnchor1).host_port != 0; }));
    EXPECT_EQ(simulator_->GetStatus(kAnchor1).host_address, 0x7F000001u);

    Send(anchor, {dp::kSspTypeCommand, dp::kSspCmdSetRxPassthrough, 1});
    NodeLink* master = StartMasterLink();
    ASSERT_TRUE(SpinUntil([&] { return master_connections_->load() == 1; }));
    StartSyncs(master);
    // The anchor's receptions of the master's syncs, in packets of its own.
    ASSERT_TRUE(SpinUntil([&] { return CountItems(*recorder_, VexType::kTimedRx, kAnchor1) >= 3; }));
    EXPECT_GE(CountItems(*recorder_, VexType::kSspResponse, kAnchor1), 1u);
    for (const Item& item : ItemsOf(*recorder_)) {
        if (item.type == VexType::kTimedRx && item.packet_serial == kAnchor1) {
            vex_data_timed_rx_t rx{};
            ASSERT_EQ(item.payload.size(), sizeof(rx));
            std::memcpy(&rx, item.payload.data(), sizeof(rx));
            EXPECT_EQ(+rx.packet_type, dp::kRfPacketSync);
        }
    }
}

}  // namespace
