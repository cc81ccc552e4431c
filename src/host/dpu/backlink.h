#pragma once
// Ties the location engine to the server's two Vuv streams: subscribes to the
// Internal stream's item types and hands each item to the engine, publishes
// for the engine and the device links, and republishes the infrastructure and
// the configuration on timers.
//
// Threads: constructed in the host's thread (the streams send from a thread
// of their own, see BacklinkStreams);
// Run, the timer slots and the effective Shutdown run in the Backlink's own
// thread; the subscriber callbacks run on the Internal stream's receiver
// thread and call the engine directly; the publish operations are called
// from any thread.

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <memory>

#include "host/dpu/backlink_streams.h"
#include "protocol/vex/vex_data_item.h"
#include "protocol/vex/vex_packet.h"

class Dpu;

// When the Backlink republishes, from its Run; the program uses the defaults.
struct backlink_timings_t {
    int infrastructure_first_ms = 1000;
    int infrastructure_interval_ms = 7013;
    int config_first_ms = 1500;
    int config_interval_ms = 20131;
};

class Backlink : public QObject {
    Q_OBJECT

  public:
    // Opens the streams from the global settings and, with an engine,
    // subscribes it and attaches it to the streams: items reach the engine
    // from here on. The process's two-way-ranging engine
    // (TwrSnoopEngine::Instance) publishes through the streams as well.
    Backlink(QPointer<Dpu> dpu, QObject* parent = nullptr,
             const backlink_timings_t& timings = backlink_timings_t());
    ~Backlink() override;

    // Any thread, no lock of the Backlink; nothing is sent once shut down.
    void PublishOutputVex(VexPacket& packet);
    void PublishInputVex(VexPacket& packet);
    // What the device links publish through; stays valid after the Backlink.
    std::shared_ptr<BacklinkStreams> GetStreams() const { return streams_; }

    void ClearSubscriptions();
    void _SendQuitThreadSignal();
    // Hands one Internal-stream item to the engine operation of its type, as
    // the subscriber callbacks do; an item of another type is ignored.
    static void HandItemToEngine(Dpu* dpu, uint32_t serial, const VexDataItem& item);
    // Stops every path from the streams and the timers to the engine before
    // returning: clears the subscriptions (waiting for a running callback),
    // forgets the engine (waiting for a running timer slot) and detaches the
    // streams from it and from the two-way-ranging engine. Any thread; Shutdown starts with it, so the host
    // may delete the engine as soon as Shutdown returns.
    void DetachEngine();

  public slots:
    void Run();
    // From another thread: detaches the engine at once, the rest runs later
    // in the Backlink's thread.
    void Shutdown();
    void _PublishInfrastructure();
    void _PublishConfig();

  signals:
    void QuitThreadSignal();
    void SignalShutdown();

  private:
    // Set by Shutdown (any thread); the timer slots do nothing once set.
    std::atomic<bool> shutting_down_;
    std::shared_ptr<BacklinkStreams> streams_;
    // Children, so that they move with the Backlink into its thread and are
    // deleted there.
    QTimer* infrastructure_timer_;
    QTimer* config_timer_;
    // Non-recursive. Serialises Run and Shutdown, and guards dpu_: held by the
    // timer slots (Backlink thread) while they call the engine and by
    // DetachEngine (any thread) while it forgets it.
    QMutex mutex_;
    Dpu* dpu_;
    const backlink_timings_t timings_;
};
