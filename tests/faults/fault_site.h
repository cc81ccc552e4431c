#pragma once
// A simulated site served by the real Host in this process, for fault tests:
// the master and one anchor on pseudo-terminals of this process (USB), one
// anchor on Ethernet, the other anchors over the air, two tags. The Host
// stays in the test's main thread (it is never moved into a host thread), so
// its starts, the engine's bring-up and its stops run there while the test
// spins the event loop.
//
// The Host's own configuration server listens on the fixed device
// configuration group; the simulated Ethernet device announces on a group of
// this process instead (port 7670 all the same), to a configuration server of
// the test's whose announces go to Host::EthernetAnnounceReceived as the
// Host's own would.
//
// Threads: the External stream's receiver thread gathers the positions and the
// solves' anchors under `mutex`; everything else runs in the test's thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QNetworkInterface>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "base/network_socket_settings.h"
#include "config/settings.h"
#include "host/devices/configuration_server.h"
#include "host/devices/worker_thread.h"
#include "host/host.h"
#include "protocol/vex/vex_connection.h"
#include "protocol/vex/vex_data_types.h"
#include "simulator/device_simulator.h"
#include "simulator/sim_site.h"
#include "support/loopback_streams.h"

constexpr uint32_t kFaultMaster = 0x01000001;
constexpr uint32_t kUsbAnchor = 0x01000011;
constexpr uint32_t kEthernetAnchor = 0x01000012;
constexpr uint32_t kStandingTag = 0x01010022;
constexpr uint32_t kCirclingTag = 0x01010021;
// A fifth anchor, over the air: with one anchor away the solver still has the
// four it needs.
constexpr uint32_t kFifthAnchor = 0x01000015;

// What the External stream carried, per transmitter.
class PublishedLog {
  public:
    void Attach(VexConnection* external) {
        external->Subscribe(VexType::kToaAnchor, [this](uint32_t, uint32_t, const VexDataItem& item) {
            vex_data_toa_anchor_t anchor;
            if (VexData_Read(item, &anchor)) {
                std::lock_guard<std::mutex> lock(mutex_);
                ++solves_with_[anchor.anchor_serial_number];
            }
        });
        external->Subscribe(VexType::kPosition, [this](uint32_t serial, uint32_t, const VexDataItem& item) {
            vex_data_position_t position;
            if (VexData_Read(item, &position)) {
                std::lock_guard<std::mutex> lock(mutex_);
                // Every report publishes the tag's position, also when the
                // solve gave no new one: count distinct transmissions.
                network_times_[serial].insert(position.network_time);
            }
        });
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        network_times_.clear();
        solves_with_.clear();
    }
    // Distinct transmissions of a tag whose position was published.
    size_t Positions(uint32_t tag) {
        std::lock_guard<std::mutex> lock(mutex_);
        return network_times_[tag].size();
    }
    // Solves in which an anchor took part.
    int SolvesWith(uint32_t anchor) {
        std::lock_guard<std::mutex> lock(mutex_);
        return solves_with_[anchor];
    }

  private:
    std::mutex mutex_;
    std::map<uint32_t, std::set<uint32_t>> network_times_;
    std::map<uint32_t, int> solves_with_;
};

// The default site and a fifth anchor, with anchors at several heights, the master and kUsbAnchor
// on pseudo-terminals named for this process, kEthernetAnchor on Ethernet,
// and the streams on this process's group at `internal_port` and the next.
// `name` tells apart the pseudo-terminals of several sites of one process;
// without `ethernet` the Ethernet anchor reports over the air instead.
inline sim_site_t FaultSite(Settings* settings, uint16_t internal_port,
                            const std::vector<std::string>& extra_serial_ports = {},
                            const std::string& name = "", bool ethernet = true) {
    sim_site_t site;
    std::string error;
    EXPECT_TRUE(LoadSimSite(std::string(VORAV_SOURCE_DIR) + "/tools/simulator/default_site.json", "", &site,
                            settings, &error))
        << error;
    const double heights[] = {2.5, 0.4, 2.9, 1.0};
    int anchor = 0;
    const std::string stem = "/tmp/vorav-faults-" + std::to_string(getpid()) + name;
    for (auto& device : site.devices) {
        if (device.role == SimRole::kAnchor)
            device.position =
                Coordinates(device.position.GetX(), device.position.GetY(), heights[anchor++ % 4]);
        if (device.serial_number == kFaultMaster)
            device.usb_path = stem + "-master";
        if (device.serial_number == kUsbAnchor) {
            device.link = SimLinkKind::kUsb;
            device.usb_path = stem + "-anchor";
        }
        if (device.serial_number == kEthernetAnchor && ethernet)
            device.link = SimLinkKind::kEthernet;
    }
    sim_device_t fifth;
    fifth.serial_number = kFifthAnchor;
    fifth.role = SimRole::kAnchor;
    fifth.position = Coordinates(5.0, 8.5, 1.8);
    auto last_anchor = site.devices.begin();
    for (auto device = site.devices.begin(); device != site.devices.end(); ++device) {
        if (device->role == SimRole::kAnchor)
            last_anchor = device;
    }
    site.devices.insert(last_anchor + 1, fifth);
    site.config_group = ProcessMulticastGroup().toStdString();
    site.config_port = kDeviceConfigStreamPort;
    site.announce_period_ms = 200;
    site.truth_port = 0;
    ApplySimSiteToSettings(site, settings);
    HostSettings* host = settings->GetHostSettingsReference();
    host->SetInputSocketSettings(LoopbackStream(internal_port));
    host->SetOutputSocketSettings(LoopbackStream(static_cast<uint16_t>(internal_port + 1)));
    if (!extra_serial_ports.empty()) {
        std::vector<std::string> ports = host->GetSerialPorts();
        ports.insert(ports.end(), extra_serial_ports.begin(), extra_serial_ports.end());
        host->SetSerialPorts(ports);
    }
    return site;
}

// The site, its simulator, the Host started on it and a reader of the
// External stream.
class FaultSiteTest : public ::testing::Test {
  protected:
    // `extra_serial_ports` are further ports the Host is to open (the test's own).
    void StartSite(uint16_t internal_port, const std::vector<std::string>& extra_serial_ports = {}) {
        internal_port_ = internal_port;
        Settings settings;
        site_ = FaultSite(&settings, internal_port, extra_serial_ports);
        Settings::GlobalSettings()->CopyFromOtherSettings(&settings);
        simulator_ = std::make_unique<DeviceSimulator>(site_);
        std::string error;
        ASSERT_TRUE(simulator_->Start(&error)) << error;
        external_ = std::make_unique<VexConnection>(LoopbackStream(static_cast<uint16_t>(internal_port + 1)));
        log_.Attach(external_.get());

        auto* server = new ConfigurationServer(ProcessMulticastGroup(), kDeviceConfigStreamPort,
                                               QNetworkInterface::interfaceFromName("lo"));
        QObject::connect(server, &ConfigurationServer::SignalEthernetAnnounceReceived, host_,
                         &Host::EthernetAnnounceReceived);
        announces_ = WorkerThread::Create(server, &ConfigurationServer::Run, &ConfigurationServer::QuitThread,
                                          &ConfigurationServer::Shutdown, QString("ConfigurationServer"));
        announces_.Start();
        host_->SetupHost();
        ASSERT_TRUE(SpinUntil([this] { return host_->IsStarted(); }, std::chrono::seconds(20)));
    }

    void TearDown() override {
        announces_.RequestStop();
        EXPECT_TRUE(announces_.Join(5000));
        host_->Shutdown();
        EXPECT_TRUE(host_->WaitForStoppedThreads(QDeadlineTimer(10000)));
        if (external_)
            external_->ClearSubscriptions();
        if (simulator_)
            simulator_->Stop();
    }

    // Spins this thread's events (the engine's bring-up runs here) until both
    // tags have `count` more positions than when called, or the bound passes.
    bool WaitForMorePositions(size_t count, std::chrono::seconds bound = std::chrono::seconds(60)) {
        const size_t standing = log_.Positions(kStandingTag) + count;
        const size_t circling = log_.Positions(kCirclingTag) + count;
        return SpinUntil(
            [&] {
                return log_.Positions(kStandingTag) >= standing && log_.Positions(kCirclingTag) >= circling;
            },
            bound);
    }
    bool WaitForSolvesWith(uint32_t anchor, int count,
                           std::chrono::seconds bound = std::chrono::seconds(60)) {
        const int target = log_.SolvesWith(anchor) + count;
        return SpinUntil([&] { return log_.SolvesWith(anchor) >= target; }, bound);
    }

    Host* host_ = Host::Instance();
    uint16_t internal_port_ = 0;
    sim_site_t site_;
    std::unique_ptr<DeviceSimulator> simulator_;
    std::unique_ptr<VexConnection> external_;
    PublishedLog log_;
    WorkerThread announces_;
};
