#include "host/host.h"

#include <libudev.h>

#include <QDateTime>
#include <QMutexLocker>
#include <QNetworkInterface>
#include <QSet>
#include <QtDebug>
#include <cstdio>

#include "config/flat_settings_interface.h"
#include "config/settings.h"

Host* Host::__instance = nullptr;

static const char* const application_version_ = "2.0.0";

static qint64 NowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

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
    if (started_.load())
        return true;
    QMutexLocker locker(&mutex_);
    const qint64 since_stop_ms = NowMs() - last_stop_time_.load();
    // Compared as unsigned: a stop time that lies ahead (the clock was set back)
    // does not hold the start off.
    if (stopping_.load() || static_cast<quint64>(since_stop_ms / 1000) <= 1)
        return DelayedStartHost();

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
    // The node registry, the location engine, the device links, the Backlink
    // and the configuration server are built here once they exist; until then
    // the host does not count as started.
    return false;
}

bool Host::DelayedStartHost() {
    restart_timer_.stop();
    const qint64 remaining_ms = kRestartHoldOffMs - (NowMs() - last_stop_time_.load());
    connect(&restart_timer_, &QTimer::timeout, this, &Host::StartHost, Qt::UniqueConnection);
    restart_timer_.blockSignals(false);
    restart_timer_.setSingleShot(true);
    if (remaining_ms < 0) {
        // A stop is in progress and the last completed one lies further back:
        // try again from the event loop.
        restart_timer_.start(0);
        return true;
    }
    restart_timer_.start(static_cast<int>(remaining_ms));
    if (remaining_ms >= 1000) {
        const long seconds = static_cast<long>(remaining_ms / 1000);
        printf("Starting network in %ld seconds\n", seconds);
        fflush(stdout);
        qDebug().nospace() << "Starting network in " << seconds << " seconds...";
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
    rf_scheduler_ = std::make_shared<RfScheduler>(20.0);
    rf_scheduler_->UpdateSyncPeriod(budget.GetLocationCycle());
    const uint cycle = budget.GetLocationCycle();
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

void Host::Shutdown() {
    QMutexLocker locker(&mutex_);
    if (stopping_.load() || !started_.load()) {
        CancelDelayedStart();
        return;
    }
    CancelDelayedStart();
    restart_timer_.blockSignals(false);
    stopping_.store(true);
    printf("host shutting down...\n");
    fflush(stdout);
    last_stop_time_.store(NowMs());
    started_.store(false);
    stopping_.store(false);
}

bool Host::WaitForStoppedThreads(QDeadlineTimer deadline) {
    QVector<QPointer<QThread>> threads;
    {
        QMutexLocker locker(&mutex_);
        threads = stopped_threads_;
    }
    for (const QPointer<QThread>& thread : threads) {
        if (!thread.isNull() && !thread->wait(deadline))
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
    if (name.contains("vlan", Qt::CaseInsensitive))
        return name.mid(4).toInt();
    return 0;
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
