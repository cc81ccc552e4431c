#include "host/host.h"

#include <libudev.h>

#include <QNetworkInterface>
#include <QSet>
#include <QtDebug>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>

#include "base/thread_annotations.h"
#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "host/devices/configuration_server.h"
#include "host/devices/dw_node.h"
#include "host/devices/ethernet_link.h"
#include "host/devices/node_link.h"
#include "host/devices/usb_link.h"
#include "host/dpu/backlink.h"
#include "host/dpu/dpu.h"

Host* Host::__instance = nullptr;

static const char* const application_version_ = "2.0.0";
// The device configuration stream: fixed group and port, only the interface
// comes from the settings.
static const char* const configuration_group_ = "239.255.76.67";
static const quint16 configuration_port_ = 7670;

// The hold-off is measured on the monotonic clock: with the wall clock, setting
// it back by an hour would hold every start off for that hour, and setting it
// forward would skip the hold-off.
static qint64 NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Holds mutex_ and marks this thread as its holder for as long.
class Host::HostLock {
  public:
    explicit HostLock(Host* host) : host_(host), locker_(&host->mutex_) {
        host_->mutex_holder_.store(QThread::currentThread());
    }
    ~HostLock() { host_->mutex_holder_.store(nullptr); }
    HostLock(const HostLock&) = delete;
    HostLock& operator=(const HostLock&) = delete;

  private:
    Host* host_;
    AnnotatedMutexLocker locker_;
};

Host* Host::Instance() {
    if (__instance == nullptr)
        __instance = new Host();
    return __instance;
}

Host::Host(QObject* parent)
    : QObject(parent),
      last_stop_time_(NowMs() - kRestartHoldOffMs),
      started_(false),
      enabled_(true),
      stopping_(false) {
    restart_timer_.setSingleShot(true);
    connect(this, &Host::SignalHostShutdown, this, &Host::Shutdown);
    connect(this, &Host::SignalRunHost, this, &Host::StartHost);
}

Host::~Host() {
    if (__instance == this)
        __instance = nullptr;
    fflush(stdout);
    Shutdown();
}

bool Host::SetupHost() {
    emit SignalRunHost();
    return true;
}

void Host::ShutdownHost() {
    emit SignalHostShutdown();
}

void Host::moveToThread(QThread* thread) {
    QObject::moveToThread(thread);
    restart_timer_.moveToThread(thread);
}

bool Host::StartHost() {
    if (!IsEnabled() || AnyNetworkInterfaceIsInvalid())
        return false;
    if (HoldsMutexInThisThread()) {
        // Called from within a stop's waits: like any start during a stop, it
        // is put off to the restart timer.
        return stopping_.load() ? DelayedStartHost() : started_.load();
    }
    if (started_.load())
        return true;
    HostLock lock(this);
    if (stopping_.load() || HoldOffAt(NowMs() - last_stop_time_.load()).held_off)
        return DelayedStartHost();
    vlan_refusal_reported_ = false;

    printf("initializing the host...\n");
    printf("application v%s\n", application_version_);
    fflush(stdout);
    const RfSchedulerSettings budget(Settings::GlobalSettings());
    if (budget.GetStatus() != RfSchedulerSettings::kStatusOk) {
        printf("RF Scheduler ERROR - %u\n", static_cast<unsigned>(budget.GetStatus()));
        printf("Aborting host...\n");
        fflush(stdout);
        return false;
    }
    InitializeRfScheduler(budget);

    if (dpu_.isNull()) {
        dpu_ = new Dpu(nullptr);
        dpu_->SetEnabledCheck([] { return Host::Instance()->IsEnabled(); });
    }
    // The USB links first exist without their threads: should the engine
    // refuse its configuration, they are deleted again here (no thread of
    // theirs ever ran), instead of piling up beside the next start's.
    const QStringList ports = GetListOfSerialPorts();
    std::vector<QPointer<NodeLink>> usb_links;
    for (int i = 0; i < ports.size(); ++i)
        usb_links.push_back(new UsbLink());
    if (!dpu_->Init(usb_links, node_manager_, rf_scheduler_, budget)) {
        for (const QPointer<NodeLink>& link : usb_links)
            delete link.data();
        printf("DPU: error in config file\n");
        fflush(stdout);
        // Queued: the stop request runs once this start has released the mutex.
        QMetaObject::invokeMethod(this, &Host::SignalHostShutdown, Qt::QueuedConnection);
        return false;
    }

    backlink_thread_ = WorkerThread();
    {
        AnnotatedMutexLocker getters(&getters_mutex_);
        backlink_ = new Backlink(dpu_, nullptr);
    }
    streams_ = backlink_->GetStreams();
    backlink_thread_ = WorkerThread::Create(backlink_.data(), &Backlink::Run, &Backlink::QuitThreadSignal,
                                            &Backlink::Shutdown, "Backlink");
    backlink_thread_.Start();

    for (size_t i = 0; i < usb_links.size(); ++i) {
        WorkerThread thread;
        if (PrepareLink(usb_links[i].data(), ports.at(static_cast<int>(i)), &thread)) {
            links_.append(usb_links[i]);
            link_threads_.append(thread);
        }
    }
    InitializeConfigurationServer();
    for (const WorkerThread& thread : link_threads_)
        thread.Start();
    connect(configuration_server_.data(), &ConfigurationServer::SignalEthernetAnnounceReceived, this,
            &Host::EthernetAnnounceReceived);
    configuration_server_thread_.Start();

    started_.store(true);
    qDebug("host started");
    restart_timer_.stop();
    return true;
}

bool Host::PrepareLink(NodeLink* link, const QString& portName, WorkerThread* thread) {
    if (!link->Init(node_manager_, streams_, portName)) {
        delete link;
        return false;
    }
    *thread =
        WorkerThread::Create(link, &NodeLink::Run, &NodeLink::QuitThread, &NodeLink::Shutdown, portName);
    if (thread->IsEmpty()) {
        delete link;
        return false;
    }
    return true;
}

Host::hold_off_t Host::HoldOffAt(qint64 since_stop_ms) {
    hold_off_t hold_off;
    // Whole seconds, compared unsigned: a start is put off while 0 or 1 whole
    // seconds have passed.
    hold_off.held_off = static_cast<quint64>(since_stop_ms / 1000) <= 1;
    hold_off.remaining_ms = kRestartHoldOffMs - since_stop_ms;
    hold_off.announced_seconds =
        hold_off.remaining_ms >= 1000 ? static_cast<long>(hold_off.remaining_ms / 1000) : 0;
    return hold_off;
}

bool Host::DelayedStartHost() {
    restart_timer_.stop();
    const hold_off_t hold_off = HoldOffAt(NowMs() - last_stop_time_.load());
    connect(&restart_timer_, &QTimer::timeout, this, &Host::StartHost, Qt::UniqueConnection);
    restart_timer_.blockSignals(false);
    restart_timer_.setSingleShot(true);
    if (hold_off.remaining_ms < 0) {
        // A stop is in progress and the last completed one lies further back:
        // try again from the event loop.
        restart_timer_.start(0);
        return true;
    }
    restart_timer_.start(static_cast<int>(hold_off.remaining_ms));
    if (hold_off.announced_seconds > 0) {
        printf("Starting network in %ld seconds\n", hold_off.announced_seconds);
        fflush(stdout);
        qDebug().nospace() << "Starting network in " << hold_off.announced_seconds << " seconds...";
    }
    return true;
}

static bool InterfaceIsUsable(const std::string& name) {
    const QNetworkInterface iface = QNetworkInterface::interfaceFromName(QString::fromStdString(name));
    const QNetworkInterface::InterfaceFlags needed = QNetworkInterface::IsUp | QNetworkInterface::IsRunning;
    return iface.isValid() && (iface.flags() & needed) == needed && !iface.addressEntries().isEmpty();
}

bool Host::AnyNetworkInterfaceIsInvalid() {
    const FlatSettingsInterface settings(Settings::GlobalSettings());
    if (!InterfaceIsUsable(settings.GetInputNetworkInterface())) {
        qDebug(
            "Host: Invalid Internal UDP Interface specified. The interface either does not exist or has "
            "no IP address.\n");
        return true;
    }
    if (!InterfaceIsUsable(settings.GetOutputNetworkInterface())) {
        qDebug(
            "Host: Invalid External UDP Interface specified. The interface either does not exist or has "
            "no IP address.\n");
        return true;
    }
    if (!InterfaceIsUsable(settings.GetConfigSocketSettings().GetNetworkIface())) {
        qDebug(
            "Host: Invalid Device Configuration UDP Interface specified. The interface either does not "
            "exist or has no IP address.\n");
        return true;
    }
    return false;
}

void Host::InitializeRfScheduler(RfSchedulerSettings budget) {
    auto scheduler = std::make_shared<RfScheduler>(20.0);
    scheduler->UpdateSyncPeriod(budget.GetLocationCycle());
    auto registry = std::make_shared<NodeManager>();
    // Network time units to whole milliseconds.
    const uint32_t sync_period_ms = static_cast<uint32_t>(scheduler->GetSyncPeriod() * 0.0010256);
    registry->Init(Settings::GlobalSettings(), sync_period_ms);
    {
        AnnotatedMutexLocker getters(&getters_mutex_);
        rf_scheduler_ = scheduler;
        node_manager_ = registry;
    }

    const uint cycle = budget.GetLocationCycle();
    const std::shared_ptr<DwNode> master = node_manager_->GetPrimaryMaster();
    if (master)
        rf_scheduler_->RequestTimeSlot(master->GetSerialNumber(),
                                       budget.GetSlottime(RfSchedulerSettings::kSlotSync), cycle);
    rf_scheduler_->RequestTimeSlot(RfScheduler::kAnnouncementOwner,
                                   budget.GetSlottime(RfSchedulerSettings::kSlotAnnouncement), cycle);
    ReserveAnchorSlots(budget.GetSlottime(RfSchedulerSettings::kSlotAnchorReport), cycle);
    const uint32_t remainder = budget.GetSlottime(RfSchedulerSettings::kSlotRemainder);
    if (remainder != 0)
        rf_scheduler_->RequestTimeSlot(RfScheduler::kRemainderOwner, remainder, cycle);
}

void Host::ReserveAnchorSlots(uint slotLength, uint cycle) {
    const std::vector<AnchorSettings> anchors =
        Settings::GlobalSettings()->GetRfNetworkSettingsReference()->GetAnchors();
    for (auto anchor = anchors.rbegin(); anchor != anchors.rend(); ++anchor) {
        if (anchor->GetEnabled() && anchor->IsWireless())
            rf_scheduler_->RequestTimeSlot_FromEnd(anchor->GetSerialNumber(), slotLength, cycle);
    }
}

void Host::InitializeConfigurationServer() {
    const std::string name =
        FlatSettingsInterface(Settings::GlobalSettings()).GetConfigSocketSettings().GetNetworkIface();
    configuration_server_ =
        new ConfigurationServer(configuration_group_, configuration_port_,
                                QNetworkInterface::interfaceFromName(QString::fromStdString(name)), nullptr);
    configuration_server_thread_ = WorkerThread::Create(
        configuration_server_.data(), &ConfigurationServer::Run, &ConfigurationServer::QuitThread,
        &ConfigurationServer::Shutdown, "ConfigurationServer");
}

void Host::CancelDelayedStart() {
    if (QThread::currentThread() == restart_timer_.thread()) {
        restart_timer_.stop();
        restart_timer_.blockSignals(true);
        return;
    }
    QMetaObject::invokeMethod(
        &restart_timer_,
        [this] {
            restart_timer_.stop();
            restart_timer_.blockSignals(true);
        },
        Qt::QueuedConnection);
}

void Host::RunQuitStop() {
    Shutdown();
    std::lock_guard<std::mutex> lock(quit_stop_mutex_);
    quit_stop_finished_ = true;
    quit_stop_done_.notify_all();
}

void Host::Shutdown() {
    QThread* own_thread = thread();
    if (own_thread != QThread::currentThread() && own_thread->isRunning()) {
        // The quit-time stop, from the main thread: it runs in the Host's thread,
        // like every stop after start-up, so that what the Host made there
        // (the location engine of a restart with its timers) is not torn down
        // under that thread's running event loop. Blocking, so the host is
        // stopped when aboutToQuit() returns. The call is queued by name and
        // waited for on a standard mutex rather than made as a blocking queued
        // call: ThreadSanitizer cannot see the order Qt's semaphore gives the
        // blocking call, nor the event queue that carries a functor.
        {
            std::lock_guard<std::mutex> lock(quit_stop_mutex_);
            quit_stop_finished_ = false;
        }
        QMetaObject::invokeMethod(this, "RunQuitStop", Qt::QueuedConnection);
        std::unique_lock<std::mutex> lock(quit_stop_mutex_);
        // A host thread that ends without running the stop cannot finish it:
        // stop waiting then instead of waiting for ever.
        while (!quit_stop_finished_ && own_thread->isRunning())
            quit_stop_done_.wait_for(lock, std::chrono::milliseconds(100));
        return;
    }
    if (HoldsMutexInThisThread()) {
        // Called from within a stop's waits: the stop in progress covers it.
        CancelDelayedStart();
        return;
    }
    HostLock lock(this);
    if (stopping_.load() || !started_.load()) {
        CancelDelayedStart();
        return;
    }
    CancelDelayedStart();
    stopping_.store(true);
    printf("host shutting down...\n");
    fflush(stdout);

    // Threads that ended since the last stop need no waiting at exit.
    ForgetEndedThreads();
    if (!configuration_server_.isNull()) {
        configuration_server_thread_.RequestStop();
        stopped_threads_.push_back(configuration_server_thread_);
        configuration_server_ = nullptr;
        configuration_server_thread_ = WorkerThread();
    }
    if (!dpu_.isNull()) {
        dpu_->ResetNetwork();
        printf("Master Deconfigured.\n");
        fflush(stdout);
    }
    if (!backlink_.isNull()) {
        // Detaches the engine before it returns, so the engine can go below.
        backlink_thread_.RequestStop();
        AnnotatedMutexLocker getters(&getters_mutex_);
        backlink_ = nullptr;
    }
    if (!backlink_thread_.IsEmpty())
        stopped_threads_.push_back(backlink_thread_);
    streams_.reset();
    for (const WorkerThread& thread : link_threads_) {
        thread.RequestStop();
        stopped_threads_.push_back(thread);
    }
    links_.clear();
    link_threads_.clear();
    backlink_thread_ = WorkerThread();
    {
        AnnotatedMutexLocker getters(&getters_mutex_);
        node_manager_.reset();
    }
    if (!dpu_.isNull()) {
        // An engine of another thread (the first start's, made in the main
        // thread) is deleted by that thread's event loop, never under it.
        if (dpu_->thread() == QThread::currentThread())
            delete dpu_.data();
        else
            dpu_->deleteLater();
        dpu_ = nullptr;
    }
    last_stop_time_.store(NowMs());
    started_.store(false);
    stopping_.store(false);
}

void Host::EthernetAnnounceReceived(ethernet_announce_t announce, QString src_addr, quint16 src_port) {
    const FlatSettingsInterface settings(Settings::GlobalSettings());
    AttachEthernetDevice(announce, src_addr, src_port,
                         QString::fromStdString(settings.GetInputNetworkInterface()));
}

void Host::AttachEthernetDevice(const ethernet_announce_t& announce, const QString& src_addr,
                                quint16 src_port, const QString& interfaceName) {
    // Called from within a stop's waits: an announce during a stop is dropped.
    if (HoldsMutexInThisThread())
        return;
    HostLock lock(this);
    if (stopping_.load() || dpu_.isNull() || !node_manager_ || !streams_)
        return;
    // Every announce may replace a link: what the replaced ones left behind
    // goes first, so a flood of announces from new ports keeps the lists flat.
    ForgetEndedThreads();
    const std::shared_ptr<DwNode> node = node_manager_->FindNodeBySerialNumber(announce.serial_number);
    if (!node || node->IsNullNode() || node->IsAlienNode())
        return;
    const QString port_name = QString("udpm://%1:%2").arg(src_addr).arg(src_port);
    const QPointer<NodeLink> old_link = node->GetNodeLink();
    if (!old_link.isNull() && QString::fromStdString(old_link->GetPortName()) == port_name) {
        // Already linked at that address: the device announces again because it
        // has not got (or has lost) where to send its data.
        if (auto* ethernet = qobject_cast<EthernetLink*>(old_link.data()))
            ethernet->ResendConfiguration();
        return;
    }

    const FlatSettingsInterface settings(Settings::GlobalSettings());
    auto* link = new EthernetLink();
    const int vlan = VlanForInterface(interfaceName);
    if (!link->SetNetworkInterface(interfaceName, vlan)) {
        delete link;
        // Devices announce about once a second until they are configured:
        // one message, not one per announce.
        if (!vlan_refusal_reported_) {
            printf(
                "Host: interface %s is on VLAN %d, which the configuration datagram of Ethernet "
                "devices cannot carry (0 to %d); no Ethernet device is attached\n",
                qPrintable(interfaceName), vlan, EthernetLink::kMaxVlanId);
            fflush(stdout);
            vlan_refusal_reported_ = true;
        }
        return;
    }
    link->SetLocalPort(settings.GetInputUdpPort());
    link->SetLocalAddress(QHostAddress(QString::fromStdString(settings.GetInputUdpAddress())));
    link->SetSerialNumber(announce.serial_number);
    WorkerThread thread;
    if (!PrepareLink(link, port_name, &thread))
        return;
    links_.append(link);
    link_threads_.append(thread);
    dpu_->ConnectLink(link);
    // The node is moved first: once SetNodeLink returns, no publish through
    // the node is still inside the old link, which may be deleted as soon as
    // it is shut down.
    node->SetNodeLink(link);
    if (!old_link.isNull())
        RetireLink(old_link.data());
    thread.Start();
}

void Host::RetireLink(NodeLink* link) {
    // Every link the host makes is in the list until its thread has ended and
    // it is gone, so a live link is always found here.
    for (int i = 0; i < links_.size(); ++i) {
        if (links_[i].data() != link)
            continue;
        // Through the thread's handle: the link may end on its own meanwhile,
        // and the handle reaches it only while it exists.
        link_threads_[i].RequestStop();
        stopped_threads_.push_back(link_threads_[i]);
        links_.remove(i);
        link_threads_.remove(i);
        return;
    }
}

void Host::ForgetEndedThreads() {
    for (int i = links_.size() - 1; i >= 0; --i) {
        if (link_threads_[i].IsFinished()) {
            links_.remove(i);
            link_threads_.remove(i);
        }
    }
    stopped_threads_.erase(std::remove_if(stopped_threads_.begin(), stopped_threads_.end(),
                                          [](const WorkerThread& thread) { return thread.IsFinished(); }),
                           stopped_threads_.end());
}

int Host::LinkCount() {
    AnnotatedMutexLocker locker(&mutex_);
    return links_.size();
}

std::shared_ptr<NodeManager> Host::GetNodeManager() {
    AnnotatedMutexLocker getters(&getters_mutex_);
    return node_manager_;
}

QPointer<Backlink> Host::GetBacklink() {
    AnnotatedMutexLocker getters(&getters_mutex_);
    return backlink_;
}

std::shared_ptr<RfScheduler> Host::GetRfScheduler() {
    AnnotatedMutexLocker getters(&getters_mutex_);
    return rf_scheduler_;
}

bool Host::WaitForStoppedThreads(QDeadlineTimer deadline) {
    std::vector<WorkerThread> threads;
    {
        AnnotatedMutexLocker locker(&mutex_);
        threads = stopped_threads_;
    }
    for (const WorkerThread& thread : threads) {
        const qint64 left = std::max<qint64>(deadline.remainingTime(), 0);
        if (!thread.Join(static_cast<unsigned long>(left)))
            return false;
    }
    return true;
}

QStringList Host::GetListOfSerialPorts() {
    QSet<QString> names;
    for (const std::string& port : FlatSettingsInterface(Settings::GlobalSettings()).GetSerialPorts()) {
        if (!port.empty())
            names.insert(QString::fromStdString(port));
    }
    return names.values();
}

int Host::VlanForInterface(QString name) {
    const QStringList parts = name.split('.');
    if (parts.size() == 2)
        return parts.at(1).toInt();
    // The rest after "vlan", wherever the word stands ("br-vlan42"): counting
    // characters from the start of the name would read "lan42" there. A rest
    // that is more than a number ("vlan7-uplink") gives 0, as any text that is
    // not a number does.
    const int word = name.indexOf("vlan", 0, Qt::CaseInsensitive);
    return word < 0 ? 0 : name.mid(word + 4).toInt();
}

std::vector<std::string> GetListOfSerialPorts() {
    std::vector<std::string> ports;
    udev* context = udev_new();
    if (context == nullptr) {
        printf("ERR: Can't initialize udev object.\n");
        fflush(stdout);
        return ports;
    }
    udev_enumerate* enumerate = udev_enumerate_new(context);
    udev_enumerate_add_match_subsystem(enumerate, "tty");
    udev_enumerate_scan_devices(enumerate);
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
        const char* path = udev_list_entry_get_name(entry);
        udev_device* device = udev_device_new_from_syspath(context, path);
        if (device == nullptr)
            continue;
        // The parent belongs to the device and is freed with it.
        if (udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device") != nullptr) {
            const std::string sys_path(path);
            ports.push_back(sys_path.substr(sys_path.rfind('/') + 1));
        }
        udev_device_unref(device);
    }
    udev_enumerate_unref(enumerate);
    udev_unref(context);
    return ports;
}
