#pragma once
// The server core object: a process-wide singleton that builds the location
// server from the current settings when it starts (RF schedule, ...) and
// tears it down again when it stops. A start is refused while the host is
// disabled or a configured network interface is unusable, and put off until
// 2 s after the last stop.
//
// Threads: the first start runs in the main thread (start-up calls
// SetupHost() while the Host still lives there); start-up then moves the Host
// and its restart timer into the host thread, where later starts, stop
// requests and Ethernet announces run. The quit-time Shutdown() runs in the
// main thread (a direct connection from aboutToQuit()). StartHost() and
// Shutdown() hold mutex_ for their whole run.

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
#include <memory>
#include <string>
#include <vector>

#include "host/scheduling/rf_scheduler.h"
#include "host/scheduling/rf_scheduler_settings.h"

class Host : public QObject {
    Q_OBJECT

  public:
    // Hold-off between a stop and the next start.
    static constexpr qint64 kRestartHoldOffMs = 2000;

    // Created without a parent on the first call (in the main thread, during
    // start-up); never deleted.
    static Host* Instance();
    ~Host() override;

    void SetEnabled(bool enabled) { enabled_.store(enabled); }
    bool IsEnabled() const { return enabled_.load(); }
    bool IsStarted() const { return started_.load(); }

    // Emits the start request; always true.
    bool SetupHost();

    // Moves the Host and its restart timer.
    void moveToThread(QThread* thread);

    // The configured serial port names, each once (a set: not in the
    // configuration's order); empty names skipped.
    QStringList GetListOfSerialPorts();

    // The VLAN number in an interface name: "eth0.100" gives 100, "vlan7"
    // gives 7, anything else 0.
    static int VlanForInterface(QString name);

    // Waits until every thread the host started and then asked to end has
    // ended, or the deadline passes. False at the deadline. Called by main()
    // after the host thread has ended.
    bool WaitForStoppedThreads(QDeadlineTimer deadline);

    std::shared_ptr<RfScheduler> GetRfScheduler() const { return rf_scheduler_; }

  public slots:
    void ShutdownHost();
    void Shutdown();
    bool StartHost();

  signals:
    void SignalHostShutdown();
    void SignalRunHost();

  private:
    explicit Host(QObject* parent = nullptr);

    bool DelayedStartHost();
    bool AnyNetworkInterfaceIsInvalid();
    void InitializeRfScheduler(RfSchedulerSettings budget);
    void ReserveAnchorSlots(uint slotLength, uint cycle);
    // Stops the restart timer and blocks its signals, in the timer's own
    // thread (a Qt timer cannot be stopped from another thread).
    void CancelDelayedStart();

    static Host* __instance;

    // Threads asked to end by a stop; kept (guarded) so that main() can wait
    // for them at exit. Touched under mutex_.
    QVector<QPointer<QThread>> stopped_threads_;
    // Single-shot timer of the restart hold-off; lives in the Host's thread.
    QTimer restart_timer_;
    // System clock, ms since the epoch, of the last completed stop.
    std::atomic<qint64> last_stop_time_;
    // Read without the mutex by StartHost's first checks and by the GUI.
    std::atomic<bool> started_;
    std::atomic<bool> enabled_;
    std::atomic<bool> stopping_;
    // Held by StartHost and Shutdown for their whole run; guards everything
    // they build and tear down. Not recursive: nothing they call may request a
    // start or a stop synchronously.
    QMutex mutex_;
    std::shared_ptr<RfScheduler> rf_scheduler_;
};

// The kernel names of the USB serial devices present (ttyUSB0, ttyACM1 ...),
// in libudev's enumeration order.
std::vector<std::string> GetListOfSerialPorts();
