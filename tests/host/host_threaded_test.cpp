// The Host in this process, on the repository's sample site over loopback:
// starts and stops with their slots, the restart hold-off, the refusals, and
// Ethernet devices attached from their announces.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QStringList>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/thread_annotations.h"
#include "config/config_file_loader.h"
#include "config/config_read.h"
#include "config/flat_settings_interface.h"
#include "config/host_settings.h"
#include "config/settings.h"
#include "host/devices/dw_node.h"
#include "host/devices/node_link.h"
#include "host/dpu/backlink.h"
#include "host/host.h"
#include "support/site_config.h"
#include "support/stdout_capture.h"

namespace {

const uint32_t kMaster = 0x01000001;
const std::vector<uint32_t> kAnchors = {0x01000011, 0x01000012, 0x01000013, 0x01000014};

// The lines of `printed` that begin with `prefix` (the threads of an earlier
// start may still print their last lines meanwhile).
QStringList LinesStartingWith(const std::string& printed, const QString& prefix) {
    QStringList lines;
    for (const QString& line : QString::fromStdString(printed).split('\n')) {
        if (line.startsWith(prefix))
            lines.append(line);
    }
    return lines;
}

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override { host_ = Host::Instance(); }

    void TearDown() override {
        Stop();
        host_->SetEnabled(true);
    }

    // Loads the sample site into the process-wide settings.
    void LoadSite(bool wired_anchors) {
        ASSERT_TRUE(directory_.isValid());
        const std::string path = WriteSiteConfig(directory_, 44240, [wired_anchors](QByteArray& text) {
            if (wired_anchors)
                text.replace("\"backhaul\": \"uwb\"", "\"backhaul\": \"wired\"");
        });
        ASSERT_FALSE(path.empty());
        ConfigFileLoader loader("/nonexistent/vorav/server_uid");
        StdoutCapture capture;
        ASSERT_TRUE(ReadConfig(&loader, path, Settings::GlobalSettings())) << capture.Stop();
    }

    // Asks for a start and waits for it (through the hold-off of an earlier stop).
    void Start() {
        host_->SetupHost();
        ASSERT_TRUE(SpinUntil([this] { return host_->IsStarted(); }, std::chrono::seconds(20)));
    }

    void Stop() {
        if (!host_->IsStarted())
            return;
        host_->Shutdown();
        since_stop_.start();
    }

    // Waits until a start would no longer be held off by the last stop.
    void WaitOutHoldOff() {
        if (since_stop_.isValid()) {
            ASSERT_TRUE(SpinUntil([] { return since_stop_.elapsed() > Host::kRestartHoldOffMs + 100; }));
        }
    }

    // Owners of the reserved windows, in the table's order.
    std::vector<uint32_t> ReservedOwners() {
        std::vector<uint32_t> owners;
        for (const TIME_RESERVATION_T& window : host_->GetRfScheduler()->GetTimeReservations()) {
            if (RfScheduler::TimeIsReserved(window))
                owners.push_back(window.owner);
        }
        return owners;
    }

    // Starts the sample site and makes the announce of its first anchor.
    void StartAndAnnounceFirstAnchor() {
        LoadSite(false);
        WaitOutHoldOff();
        Start();
        anchor_ = host_->GetNodeManager()->FindNodeBySerialNumber(kAnchors[0]);
        ASSERT_TRUE(anchor_ && !anchor_->IsNullNode());
        announce_.type = 0x11;
        announce_.serial_number = kAnchors[0];
    }

    Host* host_ = nullptr;
    std::shared_ptr<DwNode> anchor_;
    ethernet_announce_t announce_ = {};
    QTemporaryDir directory_;
    static QElapsedTimer since_stop_;
};
QElapsedTimer HostTest::since_stop_;

TEST_F(HostTest, RefusesADisabledHostABadInterfaceAndABadRfBudget) {
    LoadSite(false);
    WaitOutHoldOff();
    FlatSettingsInterface settings(Settings::GlobalSettings());

    host_->SetEnabled(false);
    StdoutCapture disabled;
    EXPECT_FALSE(host_->StartHost());
    EXPECT_EQ(disabled.Stop(), "");
    host_->SetEnabled(true);

    // Each stream's interface is checked, the others being usable.
    const struct {
        NetworkSocketSettings (FlatSettingsInterface::*get)() const;
        void (FlatSettingsInterface::*set)(const NetworkSocketSettings&);
        const char* stream;
    } streams[] = {
        {&FlatSettingsInterface::GetInputSocketSettings, &FlatSettingsInterface::SetInputSocketSettings,
         "Internal"},
        {&FlatSettingsInterface::GetOutputSocketSettings, &FlatSettingsInterface::SetOutputSocketSettings,
         "External"},
        {&FlatSettingsInterface::GetConfigSocketSettings, &FlatSettingsInterface::SetConfigSocketSettings,
         "Device Configuration"},
    };
    for (const auto& stream : streams) {
        NetworkSocketSettings socket = (settings.*stream.get)();
        socket.SetNetworkIface("vorav-none0");
        (settings.*stream.set)(socket);
        StdoutCapture capture;
        QtMessagesToStdout messages;
        EXPECT_FALSE(host_->StartHost());
        EXPECT_EQ(capture.Stop(),
                  std::string("Host: Invalid ") + stream.stream +
                      " UDP Interface specified. The interface either does not exist or has no "
                      "IP address.\n\n");
        EXPECT_FALSE(host_->IsStarted());
        LoadSite(false);
    }

    settings.SetSyncRate(0.0);
    StdoutCapture budget;
    EXPECT_FALSE(host_->StartHost());
    EXPECT_EQ(budget.Stop(),
              "initializing the host...\napplication v2.0.0\nRF Scheduler ERROR - 1\nAborting host...\n");
    EXPECT_FALSE(host_->IsStarted());
    EXPECT_FALSE(host_->GetBacklink());
    LoadSite(false);
}

TEST_F(HostTest, StartWithWiredAnchorsReservesOnlyTheFixedSlots) {
    LoadSite(true);
    Start();
    ASSERT_TRUE(host_->GetNodeManager());
    EXPECT_TRUE(host_->GetBacklink());
    const RfSchedulerSettings budget(Settings::GlobalSettings());
    std::vector<uint32_t> expected = {kMaster, RfScheduler::kAnnouncementOwner};
    if (budget.GetSlottime(RfSchedulerSettings::kSlotRemainder) != 0)
        expected.push_back(RfScheduler::kRemainderOwner);
    EXPECT_EQ(ReservedOwners(), expected);

    // A started host takes another start request as done and changes nothing.
    const auto registry = host_->GetNodeManager();
    EXPECT_TRUE(host_->StartHost());
    EXPECT_EQ(host_->GetNodeManager(), registry);

    StdoutCapture capture;
    Stop();
    const std::string printed = capture.Stop();
    EXPECT_NE(printed.find("host shutting down...\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Master Deconfigured.\n"), std::string::npos) << printed;
    EXPECT_FALSE(host_->IsStarted());
    EXPECT_FALSE(host_->GetNodeManager());
    EXPECT_FALSE(host_->GetBacklink());
}

TEST_F(HostTest, WirelessAnchorsGetSlotsAtTheEndOfTheCycleInTheirOrder) {
    LoadSite(false);
    Start();
    std::vector<uint32_t> anchors;
    for (uint32_t owner : ReservedOwners()) {
        if (std::find(kAnchors.begin(), kAnchors.end(), owner) != kAnchors.end())
            anchors.push_back(owner);
    }
    EXPECT_EQ(anchors, kAnchors);
    // Nothing but the remainder (reserved later, from the start) follows them.
    const std::vector<uint32_t> owners = ReservedOwners();
    EXPECT_EQ(owners.front(), kMaster);
    const auto windows = host_->GetRfScheduler()->GetTimeReservations();
    EXPECT_EQ(windows.back().owner, kAnchors.back());
    EXPECT_EQ(windows.back().start + windows.back().duration, host_->GetRfScheduler()->GetSyncPeriod());
}

TEST_F(HostTest, StartSoonAfterAStopWaitsForTheHoldOffAndAStopCancelsIt) {
    LoadSite(false);
    Start();
    Stop();
    {
        StdoutCapture capture;
        QtMessagesToStdout messages;
        EXPECT_TRUE(host_->SetupHost());
        EXPECT_TRUE(host_->SetupHost());  // the same timer, one start
        // Just after a stop, 1 or 2 whole seconds remain (2 only within the
        // stop's own millisecond), for each request: printed, then logged.
        const QStringList held_off = LinesStartingWith(capture.Stop(), "Starting network");
        ASSERT_EQ(held_off.size(), 4) << held_off.join('|').toStdString();
        for (int request = 0; request < 2; ++request) {
            const QString& line = held_off[2 * request];
            EXPECT_TRUE(line == "Starting network in 1 seconds" || line == "Starting network in 2 seconds")
                << line.toStdString();
            EXPECT_EQ(held_off[2 * request + 1], line + "...");
        }
    }
    EXPECT_FALSE(host_->IsStarted());
    EXPECT_TRUE(host_->IsDelayedStartPending());
    StdoutCapture capture;
    ASSERT_TRUE(SpinUntil([this] { return host_->IsStarted(); }, std::chrono::seconds(20)));
    EXPECT_EQ(LinesStartingWith(capture.Stop(), "initializing the host").size(), 1);

    Stop();
    host_->SetupHost();
    EXPECT_TRUE(host_->IsDelayedStartPending());
    host_->ShutdownHost();  // while stopped: only cancels the pending start
    EXPECT_FALSE(host_->IsDelayedStartPending());
    EXPECT_FALSE(host_->IsStarted());
}

TEST_F(HostTest, AnnouncingDeviceGetsOneLinkPerAddress) {
    LoadSite(false);
    WaitOutHoldOff();
    Start();
    const auto registry = host_->GetNodeManager();
    ASSERT_TRUE(registry);
    const std::shared_ptr<DwNode> anchor = registry->FindNodeBySerialNumber(kAnchors[0]);
    ASSERT_TRUE(anchor && !anchor->IsNullNode());
    ethernet_announce_t announce = {};
    announce.type = 0x11;
    announce.serial_number = kAnchors[0];

    // The device's socket, which the link sends its configuration datagram to.
    QUdpSocket device;
    ASSERT_TRUE(device.bind(QHostAddress::LocalHost, 45201));
    auto next_datagram = [&device] {
        QByteArray datagram;
        if (SpinUntil([&device] { return device.hasPendingDatagrams(); })) {
            datagram.resize(static_cast<int>(device.pendingDatagramSize()));
            device.readDatagram(datagram.data(), datagram.size());
        }
        return datagram;
    };

    host_->EthernetAnnounceReceived(announce, "127.0.0.1", 45201);
    const QPointer<NodeLink> first = anchor->GetNodeLink();
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(first->GetPortName(), "udpm://127.0.0.1:45201");
    const QByteArray configuration = next_datagram();
    ASSERT_EQ(configuration.size(), 9);
    EXPECT_EQ(static_cast<uint8_t>(configuration[0]), 0x13);
    // Announcing again from there: the same link, and the datagram once more.
    host_->EthernetAnnounceReceived(announce, "127.0.0.1", 45201);
    EXPECT_EQ(anchor->GetNodeLink().data(), first.data());
    EXPECT_EQ(next_datagram(), configuration);

    host_->EthernetAnnounceReceived(announce, "127.0.0.1", 45202);
    const QPointer<NodeLink> second = anchor->GetNodeLink();
    ASSERT_FALSE(second.isNull());
    EXPECT_NE(second.data(), first.data());
    EXPECT_EQ(second->GetPortName(), "udpm://127.0.0.1:45202");
    EXPECT_TRUE(SpinUntil([&] { return first.isNull() || first->IsShuttingDown(); }));

    // A device the configuration does not name gets nothing.
    announce.serial_number = 0x0100FFFF;
    host_->EthernetAnnounceReceived(announce, "127.0.0.1", 45203);
    EXPECT_TRUE(registry->FindNodeBySerialNumber(0x0100FFFF)->IsNullNode());
    EXPECT_EQ(anchor->GetNodeLink().data(), second.data());
}

TEST_F(HostTest, ReplacedLinksLeaveTheHostAndTheirThreadsEnd) {
    ASSERT_NO_FATAL_FAILURE(StartAndAnnounceFirstAnchor());
    const int usb_links = host_->LinkCount();

    // Announces from ever new ports: each replaces the link before, which
    // leaves the host's lists at once.
    std::vector<QPointer<NodeLink>> replaced;
    std::vector<QPointer<QThread>> replaced_threads;
    for (quint16 port = 45210; port < 45220; ++port) {
        if (!anchor_->GetNodeLink().isNull()) {
            replaced.push_back(anchor_->GetNodeLink());
            replaced_threads.push_back(anchor_->GetNodeLink()->thread());
        }
        host_->EthernetAnnounceReceived(announce_, "127.0.0.1", port);
        EXPECT_EQ(host_->LinkCount(), usb_links + 1) << port;
    }
    ASSERT_EQ(replaced.size(), 9u);
    EXPECT_TRUE(SpinUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (size_t i = 0; i < replaced.size(); ++i) {
            if (!replaced[i].isNull() || !replaced_threads[i].isNull())
                return false;
        }
        return true;
    }));
    EXPECT_FALSE(anchor_->GetNodeLink().isNull());
}

TEST_F(HostTest, AVlanTheConfigurationDatagramCannotCarryAttachesNothingAndSaysSoOnce) {
    ASSERT_NO_FATAL_FAILURE(StartAndAnnounceFirstAnchor());
    const int usb_links = host_->LinkCount();

    // The highest VLAN that fits: the link opens (the name is not found, so on
    // loopback) and its configuration datagram carries 255.
    QUdpSocket device;
    ASSERT_TRUE(device.bind(QHostAddress::LocalHost, 45204));
    host_->AttachEthernetDevice(announce_, "127.0.0.1", 45204, "lo.255");
    ASSERT_FALSE(anchor_->GetNodeLink().isNull());
    ASSERT_TRUE(SpinUntil([&device] { return device.hasPendingDatagrams(); }));
    QByteArray configuration(static_cast<int>(device.pendingDatagramSize()), '\0');
    device.readDatagram(configuration.data(), configuration.size());
    ASSERT_EQ(configuration.size(), 9);
    EXPECT_EQ(static_cast<uint8_t>(configuration[8]), 255);
    const QPointer<NodeLink> link = anchor_->GetNodeLink();

    // One above: no link, the device keeps the one it has, and one message
    // however often the device announces.
    StdoutCapture capture;
    for (quint16 port = 45205; port < 45208; ++port)
        host_->AttachEthernetDevice(announce_, "127.0.0.1", port, "lo.256");
    EXPECT_EQ(
        LinesStartingWith(capture.Stop(), "Host: "),
        QStringList("Host: interface lo.256 is on VLAN 256, which the configuration datagram of Ethernet "
                    "devices cannot carry (0 to 255); no Ethernet device is attached"));
    EXPECT_EQ(anchor_->GetNodeLink().data(), link.data());
    EXPECT_EQ(host_->LinkCount(), usb_links + 1);
}

TEST_F(HostTest, StartWithoutAMasterReservesNoSyncSlot) {
    LoadSite(false);
    FlatSettingsInterface(Settings::GlobalSettings()).SetMasterList({});
    WaitOutHoldOff();
    Start();
    ASSERT_TRUE(host_->GetNodeManager());
    EXPECT_FALSE(host_->GetNodeManager()->GetPrimaryMaster());
    const std::vector<uint32_t> owners = ReservedOwners();
    EXPECT_EQ(std::find(owners.begin(), owners.end(), kMaster), owners.end());
    EXPECT_NE(std::find(owners.begin(), owners.end(), RfScheduler::kAnnouncementOwner), owners.end());
    Stop();
    EXPECT_FALSE(host_->IsStarted());
}

TEST_F(HostTest, StartThatTheEngineRefusesKeepsNothingAndTheNextStartWorks) {
    LoadSite(false);
    // The sample site names a serial port, so the start makes a USB link first.
    ASSERT_FALSE(host_->GetListOfSerialPorts().isEmpty());
    Settings::GlobalSettings()->GetHostSettingsReference()->SetVmVectorGain(0.0);
    WaitOutHoldOff();
    {
        StdoutCapture capture;
        EXPECT_FALSE(host_->StartHost());
        const std::string printed = capture.Stop();
        EXPECT_NE(printed.find("DPU: error in config file\n"), std::string::npos) << printed;
    }
    EXPECT_FALSE(host_->IsStarted());
    EXPECT_FALSE(host_->GetBacklink());
    // The queued stop request finds nothing to stop. The link made for the
    // port is gone already (the sanitizer build reports it otherwise).
    StdoutCapture capture;
    QCoreApplication::processEvents();
    EXPECT_EQ(LinesStartingWith(capture.Stop(), "host shutting down").size(), 0);

    Settings::GlobalSettings()->GetHostSettingsReference()->SetVmVectorGain(1.0);
    Start();
    EXPECT_TRUE(host_->GetBacklink());
}

// Runs calls in another thread's event loop, after the events queued there
// before, and waits for each (bounded). Made before that thread starts. The
// hand-overs are annotated: ThreadSanitizer does not see the ordering of Qt's
// event queue.
class ThreadCaller {
  public:
    explicit ThreadCaller(QThread* thread) {
        QObject::connect(&trigger_, &QObject::objectNameChanged, &receiver_, [this] {
            AnnotateTakeOver(this);
            call_();
            AnnotateHandOver(this);
            ++calls_done_;
        });
        receiver_.moveToThread(thread);
    }

    bool Call(std::function<void()> call) {
        call_ = std::move(call);
        const int before = calls_done_.load();
        AnnotateHandOver(this);
        trigger_.setObjectName(QString::number(before));
        const bool done = SpinUntil([&] { return calls_done_.load() > before; }, std::chrono::seconds(20));
        AnnotateTakeOver(this);
        return done;
    }

  private:
    QObject trigger_;
    QObject receiver_;
    std::function<void()> call_;
    std::atomic<int> calls_done_{0};
};

TEST_F(HostTest, StopFromAnotherThreadRunsInTheHostsThreadAndItsThreadsEnd) {
    LoadSite(false);
    WaitOutHoldOff();
    Start();  // here, like the first start at start-up
    QThread host_thread;
    ThreadCaller host_thread_caller(&host_thread);
    host_->moveToThread(&host_thread);
    host_thread.start();

    const QPointer<Backlink> backlink = host_->GetBacklink();
    ASSERT_TRUE(backlink);
    StdoutCapture capture;
    QtMessagesToStdout messages;
    host_->Shutdown();  // the quit-time stop, from this thread
    since_stop_.start();
    EXPECT_FALSE(host_->IsStarted());
    // Every thread the stop ended is waited for, and its worker is gone.
    EXPECT_TRUE(host_->WaitForStoppedThreads(QDeadlineTimer(20000)));
    EXPECT_TRUE(backlink.isNull());

    // A start request within the hold-off arms the restart timer in the Host's
    // thread; the quit-time stop cancels it there, not from this thread.
    host_->SetupHost();
    bool pending = false;
    ASSERT_TRUE(host_thread_caller.Call([&] { pending = host_->IsDelayedStartPending(); }));
    EXPECT_TRUE(pending);
    host_->Shutdown();
    ASSERT_TRUE(host_thread_caller.Call([&] { pending = host_->IsDelayedStartPending(); }));
    EXPECT_FALSE(pending);
    const std::string printed = capture.Stop();
    EXPECT_EQ(LinesStartingWith(printed, "host shutting down").size(), 1) << printed;
    EXPECT_EQ(printed.find("another thread"), std::string::npos) << printed;

    ASSERT_TRUE(
        host_thread_caller.Call([this] { host_->moveToThread(QCoreApplication::instance()->thread()); }));
    host_thread.quit();
    ASSERT_TRUE(host_thread.wait(20000));
}

// Ends the process when `done` is not set within the bound: a deadlock would
// otherwise only show as the test runner's time-out.
class Watchdog {
  public:
    explicit Watchdog(const char* what)
        : thread_([this, what] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!changed_.wait_for(lock, std::chrono::seconds(60), [this] { return done_; })) {
                  fprintf(stderr, "Watchdog: %s did not return\n", what);
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    std::thread thread_;
};

TEST_F(HostTest, RequestsHandledWhileAStopWaitsDoNotDeadlockTheStop) {
    LoadSite(false);
    WaitOutHoldOff();
    Start();
    const std::shared_ptr<DwNode> anchor = host_->GetNodeManager()->FindNodeBySerialNumber(kAnchors[0]);
    ASSERT_TRUE(anchor && !anchor->IsNullNode());
    ethernet_announce_t announce = {};
    announce.type = 0x11;
    announce.serial_number = kAnchors[0];
    // Waiting in the queue of the Host's thread; the engine's reset processes
    // that thread's events while the stop holds the host mutex.
    QMetaObject::invokeMethod(
        host_, [this, announce] { host_->EthernetAnnounceReceived(announce, "127.0.0.1", 45200); },
        Qt::QueuedConnection);
    QMetaObject::invokeMethod(host_, &Host::Shutdown, Qt::QueuedConnection);
    QMetaObject::invokeMethod(host_, &Host::StartHost, Qt::QueuedConnection);

    StdoutCapture capture;
    {
        Watchdog watchdog("a stop with requests in its thread's queue");
        host_->Shutdown();
    }
    since_stop_.start();
    const std::string printed = capture.Stop();
    EXPECT_EQ(LinesStartingWith(printed, "host shutting down").size(), 1) << printed;
    EXPECT_FALSE(host_->IsStarted());
    // The announce came during the stop: dropped.
    EXPECT_TRUE(anchor->GetNodeLink().isNull());
    // The start came during the stop, after the stop request: put off, as a
    // start during a stop is.
    EXPECT_TRUE(host_->IsDelayedStartPending());
    host_->ShutdownHost();
    EXPECT_FALSE(host_->IsDelayedStartPending());
}

TEST(HostNamesTest, VlanNumberOfAnInterfaceName) {
    EXPECT_EQ(Host::VlanForInterface("eth0.100"), 100);
    EXPECT_EQ(Host::VlanForInterface("vlan7"), 7);
    EXPECT_EQ(Host::VlanForInterface("VLAN12"), 12);
    EXPECT_EQ(Host::VlanForInterface("vlan300"), 300);
    // The rest after "vlan", wherever it stands in the name, when that rest
    // is a number.
    EXPECT_EQ(Host::VlanForInterface("br-vlan42"), 42);
    EXPECT_EQ(Host::VlanForInterface("enp3s0Vlan9"), 9);
    EXPECT_EQ(Host::VlanForInterface("vlan7-uplink"), 0);
    EXPECT_EQ(Host::VlanForInterface("br-vlan42a"), 0);
    EXPECT_EQ(Host::VlanForInterface("vlan"), 0);
    EXPECT_EQ(Host::VlanForInterface("vlanx3"), 0);
    EXPECT_EQ(Host::VlanForInterface("eth0"), 0);
    EXPECT_EQ(Host::VlanForInterface("eth0.x"), 0);
    EXPECT_EQ(Host::VlanForInterface("a.b.3"), 0);
}

TEST(HostNamesTest, HoldOffLastsTwoWholeSecondsAndAnnouncesWholeSecondsLeft) {
    const struct {
        qint64 since_stop_ms;
        bool held_off;
        qint64 remaining_ms;
        long announced_seconds;
    } cases[] = {
        {0, true, 2000, 2},   {999, true, 1001, 1},   {1000, true, 1000, 1},
        {1001, true, 999, 0}, {1999, true, 1, 0},     {2000, false, 0, 0},
        {2001, false, -1, 0}, {2999, false, -999, 0}, {3000, false, -1000, 0},
    };
    for (const auto& c : cases) {
        const Host::hold_off_t hold_off = Host::HoldOffAt(c.since_stop_ms);
        EXPECT_EQ(hold_off.held_off, c.held_off) << c.since_stop_ms;
        EXPECT_EQ(hold_off.remaining_ms, c.remaining_ms) << c.since_stop_ms;
        EXPECT_EQ(hold_off.announced_seconds, c.announced_seconds) << c.since_stop_ms;
    }
}

TEST(HostNamesTest, ConfiguredSerialPortsEachOnceWithoutEmptyNames) {
    FlatSettingsInterface settings(Settings::GlobalSettings());
    const std::vector<std::string> saved = settings.GetSerialPorts();
    settings.SetSerialPorts({"ttyUSB1", "", "ttyUSB0", "ttyUSB1"});
    QStringList ports = Host::Instance()->GetListOfSerialPorts();
    ports.sort();
    EXPECT_EQ(ports, (QStringList{"ttyUSB0", "ttyUSB1"}));
    settings.SetSerialPorts(saved);
}

TEST(HostNamesTest, UsbSerialDevicesAreTtyDevicesOfTheSystem) {
    for (const std::string& name : GetListOfSerialPorts()) {
        EXPECT_EQ(name.find('/'), std::string::npos) << name;
        EXPECT_EQ(access(("/sys/class/tty/" + name).c_str(), F_OK), 0) << name;
    }
}

}  // namespace
