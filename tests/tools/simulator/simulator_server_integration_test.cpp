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
#include <vector>

#include "config/flat_settings_interface.h"
#include "config/settings.h"
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
    host->SetInputSocketSettings(NetworkSocketSettings(ProcessGroup(), kInternalPort, 1, "lo"));
    host->SetOutputSocketSettings(NetworkSocketSettings(ProcessGroup(), kExternalPort, 1, "lo"));
    return site;
}

// The scheduler with the host's fixed reservations: the master's sync, the
// announcements, each wireless anchor's report from the end, the rest.
std::shared_ptr<RfScheduler> Scheduler(const RfSchedulerSettings& budget, uint32_t master) {
    auto scheduler = std::make_shared<RfScheduler>(20.0);
    const uint32_t cycle = budget.GetLocationCycle();
    scheduler->UpdateSyncPeriod(cycle);
    scheduler->RequestTimeSlot(master, budget.GetSlottime(RfSchedulerSettings::kSlotSync), cycle);
    scheduler->RequestTimeSlot(RfScheduler::kAnnouncementOwner,
                               budget.GetSlottime(RfSchedulerSettings::kSlotAnnouncement), cycle);
    const auto anchors = FlatSettingsInterface(Settings::GlobalSettings()).GetAnchorList();
    for (auto anchor = anchors.rbegin(); anchor != anchors.rend(); ++anchor) {
        if (anchor->GetEnabled() && anchor->IsWireless())
            scheduler->RequestTimeSlot_FromEnd(
                anchor->GetSerialNumber(), budget.GetSlottime(RfSchedulerSettings::kSlotAnchorReport), cycle);
    }
    if (budget.GetSlottime(RfSchedulerSettings::kSlotRemainder) != 0)
        scheduler->RequestTimeSlot(RfScheduler::kRemainderOwner,
                                   budget.GetSlottime(RfSchedulerSettings::kSlotRemainder), cycle);
    return scheduler;
}

size_t PositionCount(uint32_t serial) {
    std::lock_guard<std::mutex> lock(positions_mutex_);
    return static_cast<size_t>(
        std::count_if(positions_.begin(), positions_.end(),
                      [serial](const published_position_t& p) { return p.serial == serial; }));
}

// Distances (mm) of a tag's published positions from its true positions at
// the network time each carries, leaving out the first ones (the smoothing
// starts from the tag's initial position).
std::vector<double> Errors(uint32_t serial, const std::vector<sim_truth_t>& truth, size_t skip) {
    std::map<uint32_t, Coordinates> at;
    for (const auto& record : truth) {
        if (record.serial_number == serial)
            at[record.network_time] = record.position * 1000.0;
    }
    std::vector<double> errors;
    std::lock_guard<std::mutex> lock(positions_mutex_);
    size_t seen = 0;
    for (const auto& published : positions_) {
        if (published.serial != serial || seen++ < skip)
            continue;
        // The solve's network time lies within a unit or two of the transmission's.
        auto found = at.lower_bound(published.position.network_time - 2);
        if (found == at.end() || found->first > published.position.network_time + 2)
            continue;
        const Coordinates solved(published.position.x, published.position.y, published.position.z);
        errors.push_back(solved.CalculateDistanceBetween(found->second));
    }
    return errors;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 1e9 : values[values.size() / 2];
}

TEST(SimulatorServerTest, EngineTracksTheSimulatedTagsWithinAFewDecimetres) {
    Settings settings;
    const sim_site_t site = Site(&settings);
    Settings::GlobalSettings()->CopyFromOtherSettings(&settings);
    uint32_t master = 0;
    for (const auto& device : site.devices) {
        if (device.role == SimRole::kMaster)
            master = device.serial_number;
    }

    DeviceSimulator simulator(site);
    std::string error;
    ASSERT_TRUE(simulator.Start(&error)) << error;
    VexConnection external(NetworkSocketSettings(ProcessGroup(), kExternalPort, 1, "lo"));
    external.Subscribe(VexType::kToaAnchor, [](uint32_t, uint32_t, const VexDataItem& item) {
        vex_data_toa_anchor_t anchor;
        if (VexData_Read(item, &anchor)) {
            std::lock_guard<std::mutex> lock(positions_mutex_);
            ++solve_anchors_[anchor.anchor_serial_number];
        }
    });
    external.Subscribe(VexType::kPosition, [](uint32_t serial, uint32_t, const VexDataItem& item) {
        published_position_t published{serial, {}};
        if (VexData_Read(item, &published.position)) {
            std::lock_guard<std::mutex> lock(positions_mutex_);
            positions_.push_back(published);
        }
    });

    const RfSchedulerSettings budget(Settings::GlobalSettings());
    ASSERT_EQ(budget.GetStatus(), 0);
    auto scheduler = Scheduler(budget, master);
    auto nodes = std::make_shared<NodeManager>();
    nodes->Init(Settings::GlobalSettings(), static_cast<uint32_t>(budget.GetLocationCycle() * 0.0010256));
    auto* dpu = new Dpu();
    auto* backlink = new Backlink(dpu);
    const WorkerThread backlink_thread = WorkerThread::Create(
        backlink, &Backlink::Run, &Backlink::QuitThreadSignal, &Backlink::Shutdown, QString("Backlink"));
    auto* link = new UsbLink();
    const std::string port = site.Find(master)->usb_path;
    ASSERT_TRUE(link->Init(nodes, backlink->GetStreams(), QString::fromStdString(port)));
    ASSERT_TRUE(dpu->Init({QPointer<NodeLink>(link)}, nodes, scheduler, budget));
    const WorkerThread link_thread = WorkerThread::Create<NodeLink>(
        link, &NodeLink::Run, &NodeLink::QuitThread, &NodeLink::Shutdown, QString("UsbLink"));
    // The host's part for Ethernet devices: a link for the configured device that
    // announces itself, bound to the Internal stream, brought into the network.
    auto* configuration_server = new ConfigurationServer(QString::fromStdString(ProcessGroup()), kConfigPort,
                                                         QNetworkInterface::interfaceFromName("lo"));
    const WorkerThread server_thread = WorkerThread::Create(
        configuration_server, &ConfigurationServer::Run, &ConfigurationServer::QuitThread,
        &ConfigurationServer::Shutdown, QString("ConfigurationServer"));
    WorkerThread ethernet_thread;
    QObject host;
    QObject::connect(
        configuration_server, &ConfigurationServer::SignalEthernetAnnounceReceived, &host,
        [&](ethernet_announce_t announce, QString address, quint16 port) {
            if (announce.serial_number != kEthernetAnchor || !ethernet_thread.IsEmpty())
                return;
            auto* ethernet = new EthernetLink();
            ethernet->SetSerialNumber(announce.serial_number);
            ethernet->SetLocalAddress(QHostAddress(QString::fromStdString(ProcessGroup())));
            ethernet->SetLocalPort(kInternalPort);
            ethernet->SetNetworkInterface("lo", announce.vlan_id);
            ethernet->Init(nodes, backlink->GetStreams(), QString("udpm://%1:%2").arg(address).arg(port));
            QObject::connect(ethernet, &NodeLink::DeviceConnected, dpu,
                             qOverload<NodeLink*>(&Dpu::InitializeNetwork));
            ethernet_thread = WorkerThread::Create<NodeLink>(ethernet, &NodeLink::Run, &NodeLink::QuitThread,
                                                             &NodeLink::Shutdown, QString("EthernetLink"));
            ethernet_thread.Start();
        });
    backlink_thread.Start();
    link_thread.Start();
    server_thread.Start();

    // The bring-up alone takes some 13 s (5 s with the master stopped, 7 s of fast sync).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while ((PositionCount(kStandingTag) < 80 || PositionCount(kCirclingTag) < 80) &&
           std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    server_thread.RequestStop();
    EXPECT_TRUE(server_thread.Join(5000));
    ethernet_thread.RequestStop();
    EXPECT_TRUE(ethernet_thread.Join(5000));
    link_thread.RequestStop();
    EXPECT_TRUE(link_thread.Join(5000));
    backlink_thread.RequestStop();
    EXPECT_TRUE(backlink_thread.Join(5000));
    delete dpu;
    external.ClearSubscriptions();
    simulator.Stop();

    const std::vector<sim_truth_t> truth = simulator.TakeTruth();
    const sim_device_status_t master_status = simulator.GetStatus(master);
    EXPECT_GT(master_status.syncs_sent, 100u);
    EXPECT_NE(simulator.GetStatus(kEthernetAnchor).host_address, 0u)
        << "the Ethernet link configured the device";
    {
        std::lock_guard<std::mutex> lock(positions_mutex_);
        EXPECT_GT(solve_anchors_[kEthernetAnchor], 20)
            << "the Ethernet anchor's receptions reached the solver";
    }
    for (const uint32_t tag : {kStandingTag, kCirclingTag}) {
        const std::vector<double> errors = Errors(tag, truth, 20);
        ASSERT_GE(errors.size(), 50u) << std::hex << tag;
        printf("tag %08X: %zu positions, median distance from the truth %.0f mm\n", tag, errors.size(),
               Median(errors));
        fflush(stdout);
        EXPECT_LT(Median(errors), 300.0) << std::hex << tag;
    }
}

}  // namespace
