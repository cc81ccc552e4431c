#pragma once
// The server core object: a process-wide singleton that builds the location
// server from the current settings when it starts (RF schedule, node
// registry, location engine, device links, Backlink, configuration server,
// each worker in a thread of its own) and tears it down again when it stops. A start is refused while the
// host is disabled or a configured network interface is unusable, and put off until 2 s after the last stop.
//
// Ownership: the Host creates and deletes the location engine; it creates the
// links, the Backlink and the configuration server but keeps only guarded
// pointers and thread handles: each of these and its thread are deleted when
// the thread finishes. The registry and the RF scheduler are shared with the
// engine.
//
// Threads: the first start runs in the main thread (start-up calls
// SetupHost() while the Host still lives there); start-up then moves the Host
// and its restart timer into the host thread, where later starts, stop
// requests and Ethernet announces run. The quit-time Shutdown() is called in
// the main thread (a direct connection from aboutToQuit()) and, while the
// host thread runs, carried out there with the main thread waiting for it.
// StartHost() and Shutdown() hold mutex_ for their whole run; the main thread
// never takes it after start-up, so it never waits for a start or stop.

#include <QDeadlineTimer>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <QVector>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/devices/node_manager.h"
#include "host/devices/worker_thread.h"
#include "host/scheduling/rf_scheduler.h"
#include "host/scheduling/rf_scheduler_settings.h"
#include "protocol/packets/ethernet_announce_packet.h"

class Backlink;
class BacklinkStreams;
class ConfigurationServer;
class Dpu;
class NodeLink;

class Host : public QObject {
    Q_OBJECT

  public:
    // Hold-off between a stop and the next start.
    static constexpr qint64 kRestartHoldOffMs = 2000;

    // The restart hold-off as it stands `since_stop_ms` after the last stop.
    struct hold_off_t {
        // A start now is put off: fewer than 2 whole seconds have passed.
        bool held_off;
        // Until the hold-off ends; negative once it has.
        qint64 remaining_ms;
        // The whole seconds announced ("Starting network in %ld seconds");
        // 0 when less than a second remains and nothing is announced.
        long announced_seconds;
    };
    static hold_off_t HoldOffAt(qint64 since_stop_ms);

    // Created without a parent on the first call (in the main thread, during
    // start-up); never deleted.
    static Host* Instance();
    ~Host() override;

    void SetEnabled(bool enabled) { enabled_.store(enabled); }
    bool IsEnabled() const { return enabled_.load(); }
    bool IsStarted() const { return started_.load(); }
    // A start put off by the hold-off is waiting on the restart timer. In the
    // Host's thread only.
    bool IsDelayedStartPending() const {
        return restart_timer_.isActive() && !restart_timer_.signalsBlocked();
    }

    // Emits the start request; always true.
    bool SetupHost();

    // Moves the Host and its restart timer.
    void moveToThread(QThread* thread);

    // The configured serial port names, each once (a set: not in the
    // configuration's order); empty names skipped.
    QStringList GetListOfSerialPorts();

    // The VLAN number in an interface name: "eth0.100" gives 100; in a name
    // with "vlan" in it (any case), the rest of the name after that word read
    // as a number: "vlan7" and "br-vlan7" give 7, "vlan7-uplink" 0; anything
    // else 0.
    static int VlanForInterface(QString name);

    // The links the host holds now, USB and Ethernet, each with its thread: a
    // replaced link is no longer counted, nor, from the next announce or
    // stop on, one that has ended.
    int LinkCount();

    // Waits until every thread the host started and then asked to end has
    // ended, or the deadline passes. False at the deadline. Called by main()
    // after the host thread has ended.
    bool WaitForStoppedThreads(QDeadlineTimer deadline);

    // Empty while the host is stopped; callers test it.
    std::shared_ptr<NodeManager> GetNodeManager();
    // Null while the host is stopped.
    QPointer<Backlink> GetBacklink();
    std::shared_ptr<RfScheduler> GetRfScheduler();

  public slots:
    void ShutdownHost();
    void Shutdown();
    bool StartHost();
    void EthernetAnnounceReceived(ethernet_announce_t announce, QString src_addr, quint16 src_port);

  public:
    // The work of EthernetAnnounceReceived, with the link on the interface
    // `interfaceName` (the slot passes the Internal stream's): a configured
    // device gets a link from that address and port, on the interface's VLAN.
    // A VLAN the devices' configuration datagram cannot carry attaches no
    // device and is reported once per start.
    void AttachEthernetDevice(const ethernet_announce_t& announce, const QString& src_addr, quint16 src_port,
                              const QString& interfaceName);

  signals:
    void SignalHostShutdown();
    void SignalRunHost();

  private slots:
    // The quit-time stop asked for from the main thread, run in the host's
    // thread; says it has finished through quit_stop_done_.
    void RunQuitStop();

  private:
    explicit Host(QObject* parent = nullptr);

    // The main thread waits on these (standard, so ThreadSanitizer sees the
    // order) for RunQuitStop to finish in the host's thread. quit_stop_finished_
    // is guarded by quit_stop_mutex_.
    std::mutex quit_stop_mutex_;
    std::condition_variable quit_stop_done_;
    bool quit_stop_finished_ = false;

    class HostLock;
    // True while this thread holds mutex_. A slot then runs inside a stop's
    // waits (the engine's reset processes this thread's events) and must not
    // take the non-recursive mutex again.
    bool HoldsMutexInThisThread() const { return mutex_holder_.load() == QThread::currentThread(); }

    bool DelayedStartHost();
    bool AnyNetworkInterfaceIsInvalid();
    void InitializeRfScheduler(RfSchedulerSettings budget);
    void ReserveAnchorSlots(uint slotLength, uint cycle);
    void InitializeConfigurationServer();
    // Gives a link made for this start its registry, the streams it publishes
    // on and its thread (not started).
    bool PrepareLink(NodeLink* link, const QString& portName, WorkerThread* thread);
    // Stops the restart timer and blocks its signals, in the timer's own
    // thread (a Qt timer cannot be stopped from another thread).
    void CancelDelayedStart();
    // Asks the link's thread to end and moves the thread from the link lists
    // to the stopped threads. Under mutex_.
    void RetireLink(NodeLink* link);
    // Drops the links whose thread has ended, and the stopped threads that
    // have ended, so that neither list grows with each announce. Under mutex_.
    void ForgetEndedThreads();

    static Host* __instance;

    // The fields up to mutex_, and rf_scheduler_, are written under mutex_;
    // node_manager_, backlink_ and rf_scheduler_ also under getters_mutex_, so
    // that the getters (GUI thread, any thread) need not wait for a whole
    // start or stop.
    std::shared_ptr<NodeManager> node_manager_;
    QPointer<Backlink> backlink_;
    // The Backlink's streams, which the links of this start publish on.
    std::shared_ptr<BacklinkStreams> streams_;
    // Every link made since the last stop, USB and Ethernet, and its thread.
    QVector<QPointer<NodeLink>> links_;
    QVector<WorkerThread> link_threads_;
    QPointer<ConfigurationServer> configuration_server_;
    WorkerThread configuration_server_thread_;
    QPointer<Dpu> dpu_;
    WorkerThread backlink_thread_;
    // Threads asked to end by a stop or by the replacement of a link, kept so
    // that main() can wait for them at exit; the finished ones are dropped at
    // each stop and each announce.
    std::vector<WorkerThread> stopped_threads_;
    // The VLAN refusal has been printed since the last start.
    bool vlan_refusal_reported_ = false;
    // Single-shot timer of the restart hold-off; lives in the Host's thread.
    QTimer restart_timer_;
    // Monotonic clock, in ms, of the last completed stop.
    std::atomic<qint64> last_stop_time_;
    // Read without the mutex by StartHost's first checks and by the GUI.
    std::atomic<bool> started_;
    std::atomic<bool> enabled_;
    std::atomic<bool> stopping_;
    // Held by StartHost and Shutdown for their whole run; guards everything
    // they build and tear down. Not recursive: nothing they call may request a
    // start or a stop synchronously, and the slots that the engine's reset lets
    // run inside a stop (its waits process events) see mutex_holder_ and leave
    // the mutex alone.
    QMutex mutex_;
    // The thread that holds mutex_ (through HostLock), null while none does.
    std::atomic<QThread*> mutex_holder_{nullptr};
    std::shared_ptr<RfScheduler> rf_scheduler_;
    // Taken by the getters and, briefly, by StartHost and Shutdown while they
    // replace the three pointers; never held while taking mutex_.
    QMutex getters_mutex_;
};

// The kernel names of the USB serial devices present (ttyUSB0, ttyACM1 ...),
// in libudev's enumeration order.
std::vector<std::string> GetListOfSerialPorts();
