#pragma once
// The location engine. Its control side brings the UWB network up through
// the master, follows the master's sync ticks, admits devices that announce
// themselves and stops the network; its measuring side turns timed
// receptions and pings into anchor clock models and time-of-arrival reports
// and solves tag positions on the global thread pool.
//
// Threads:
// - The engine's own thread (the one that created it): Init, the bring-up
//   (InitializeNetwork both forms, InitializeMasterNode, the 7000 ms timer)
//   and the coalesced configuration publications. The bring-up blocks this
//   thread; its longer waits process the thread's events.
// - The host's thread: ResetNetwork, which may run while a bring-up waits in
//   the engine's thread (after the first start the two differ).
// - The Internal stream's receiver thread: every RxVex* handler, the
//   admission path, _ProcessAnchors and ToaRxCallback, one item at a time.
// - The Backlink's thread: PublishInfrastructure and PublishConfigs.
// - Pool threads: one solve task per tag at a time (TOA_thread_function),
//   so the solves of one tag are published in report order.
//
// Locks:
// - sync_mutex_ guards the network-time counter, the commands-pending flag
//   and the sync-command buffer (receiver thread; the bring-up reads the
//   counter for its RF-settings time).
// - publisher_ has a lock of its own (taken briefly by every publication to
//   copy the pointer, and to attach or detach).
// - bring_up_mutex_ guards the count of running bring-up and reset scopes
//   and the writes of the master-restart flag (engine's and host's threads).
// - solve_mutex_ guards the per-tag solve queues and the count of running
//   solve tasks; the destructor waits on it until no task runs.
// - The flags polled across threads are atomics. The registry, the
//   scheduler and the budget are set by Init before any handler runs and only
//   read afterwards (the scheduler is written by admissions alone, on the
//   receiver thread).

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVector>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "host/devices/deca_tick_to_gnt_converter.h"
#include "host/devices/dw_command.h"
#include "host/devices/dw_node.h"
#include "host/devices/message_throttle.h"
#include "host/devices/node_link.h"
#include "host/devices/node_manager.h"
#include "host/devices/toa_report_receiver.h"
#include "host/dpu/vex_publisher.h"
#include "host/scheduling/rf_scheduler.h"
#include "host/scheduling/rf_scheduler_settings.h"
#include "protocol/packets/set_rf_settings_packet.h"
#include "protocol/packets/ssp_cmd_set_sync_cmds_packet.h"
#include "protocol/reports/derazud_rdoa_rpt.h"
#include "protocol/reports/derazud_toa_rpt.h"
#include "protocol/vex/vex_data_item.h"
#include "protocol/vex/vex_packet.h"

class Dpu : public QObject, public ToaReportReceiver {
    Q_OBJECT

  public:
    using CommandList = std::vector<std::shared_ptr<DwCommand>>;

    // Sync periods slept per stop attempt and before the normal start.
    static constexpr uint32_t kStopAttemptSyncPeriods = 2;
    static constexpr uint32_t kMasterStartSyncPeriods = 20;

    // Durations of the bring-up and the reset. The program uses the defaults;
    // tests shorten them. A negative sync-period sleep means "from the sync
    // period" (kStopAttemptSyncPeriods per stop attempt,
    // kMasterStartSyncPeriods before the normal start).
    struct BringUpTimings {
        int connect_wait_ms = 5050;
        int rf_switch_delay_ms = 500;
        int master_start_delay_ms = 7000;
        int stop_attempt_sleep_ms = -1;
        int master_start_sleep_ms = -1;
        int reset_master_sleep_ms = 4;
        int reset_deconfigure_sleep_ms = 100;
        int reset_wait_ms = 5000;
    };

    // Fast sync period: 50 ms of network time.
    static constexpr uint32_t kFastSyncPeriod = 48751;
    // Network time 7.0 s: the master switches to the configured RF settings.
    static constexpr uint32_t kRfSwitchNetworkTime = 6825273;
    // Network time 2.0 s: the network reset sent on every tick once reset.
    static constexpr uint32_t kNetworkResetTime = 1950078;
    // The byte area of the sync-command buffer.
    static constexpr uint32_t kSyncCommandBufferSize = 1021;
    // The largest set-sync-commands frame the master takes.
    static constexpr uint32_t kMaxSyncCommandFrame = 1003;
    // Stop-sync frames sent before the master is given up on.
    static constexpr int kMaxStopSyncAttempts = 100;
    // One network-time unit in milliseconds.
    static constexpr double kNetworkTimeUnitMs = 0.0010256;

    explicit Dpu(QObject* parent = nullptr);
    // Waits for the running solve tasks and drops the publisher. The
    // Backlink serving this engine must have been shut down (or detached with
    // Backlink::DetachEngine) before: only that stops its callbacks.
    ~Dpu() override;

    bool Init(const std::vector<QPointer<NodeLink>>& links, std::shared_ptr<NodeManager> nodeManager,
              std::shared_ptr<RfScheduler> scheduler, const RfSchedulerSettings& budget);
    // Has the link's DeviceConnected run InitializeNetwork(link) in the
    // engine's thread, always queued. The link is deleted in its own thread
    // when that thread ends, which may be before the queued call is
    // delivered: the call carries a guarded pointer and is dropped when the
    // link is gone by then.
    void ConnectLink(NodeLink* link);
    void LoadDefaultValues();
    // Reads the localisation values and prints them; refuses a gain or a speed
    // of light that is not a positive finite number.
    bool LoadCfg();

    // The publisher gets every packet the engine sends until it is detached.
    // DetachPublisher only detaches `expected`, so an old Backlink cannot
    // detach a newer one. A publication in flight keeps its own reference.
    void AttachPublisher(std::shared_ptr<VexPublisher> publisher);
    void DetachPublisher(const VexPublisher* expected);
    // Whether the host is enabled, asked on every tick; true when unset.
    void SetEnabledCheck(std::function<bool()> check);
    void SetBringUpTimingsForTesting(const BringUpTimings& timings) { timings_ = timings; }

    // Internal-stream handlers: packet serial number and item.
    void RxVexTick(uint32_t serial, const VexDataItem& item);
    void RxVexTimedRx(uint32_t serial, const VexDataItem& item);
    void RxVexPing(uint32_t serial, const VexDataItem& item);
    void RxVexDiscovery(uint32_t serial, const VexDataItem& item);
    void RxVexSsp(uint32_t serial, const VexDataItem& item);
    void RxVexConfig(uint32_t serial, const VexDataItem& item);
    void RxVexSmoothingFactor(uint32_t serial, const VexDataItem& item);

    // Admission: decides the node's time slot, publishes the 0x0104 item and
    // may replace the command list by the unconfigured device's.
    TIME_RESERVATION_T _GetTimeReservationForNode(std::shared_ptr<DwNode> node, CommandList& commands);
    // Sends the commands to the master for its next sync packets; at most one
    // admission per sync tick.
    void _QueueCommandsForSyncPacket(CommandList commands, TIME_RESERVATION_T reservation);
    // Execute-sync-commands frame of the commands from byte 0; the frame length,
    // or -1 when the capacity is below the 5-byte head.
    int _WrapRfCommandsForWiredBackhaul(uint8_t* buffer, uint32_t capacity, const CommandList& commands);

    // Passthroughs off, then stop sync until the master acknowledges.
    void DeconfigureMaster();
    // Resets the master and the wired anchors; blocks about 5.1 s.
    void ResetNetwork();

    std::shared_ptr<NodeManager> GetNodeManager() const { return node_manager_; }
    static int CalculateSignalQualityWeightingIndex(double totalPathDb, double firstPathDb);
    // Occlusion weight of the anchor's response in a solve: the table weights
    // of its clock's two sync receptions and of the entry's tag reception.
    static double CalculateAnchorWeight(const std::shared_ptr<DwNode>& anchor, const derazud_toa_t& entry);

    // The network's RF settings timed at `time`, or (negative `time`) at the
    // network-time counter plus 5.5 sync periods with the timed flag set.
    cmd_set_rf_settings_t GenerateRfSettingsPacket(int64_t time);

    // Decoded report of one tag; solved on the pool, in report order per tag.
    static void TOA_thread_function(Dpu* dpu, derazud_toa_rpt_t report);
    // Runs the solve on the report and adds its diagnostics to the packet;
    // stores the position and returns true when it was accepted.
    bool RunLocalizationAlgorithmOnTOA(VexPacket& packet, const derazud_toa_rpt_t& report,
                                       std::shared_ptr<DwNode> tag);

    // Operations nothing in the server calls.
    int ResetSyncCommands();
    void SendSspCmdDisableTxPassthrough();
    void SetupWiredBackhaulAnchor(std::shared_ptr<DwNode> node);
    uint64_t CalculateNextExecutableGnt(uint64_t now, uint32_t offset, uint32_t period) const;
    uint64_t _CalculateIdealTagTransmissionTime(std::shared_ptr<DwNode> tag);
    float GetTxPowerInDb() const;
    static bool NodeIsActive(const QJsonObject& node);
    static int GetNumberOfActiveNodes(const QJsonArray& nodes);
    static int GetNumberOfActiveUwbBackhaulNodes(const QJsonArray& nodes);
    static bool CheckForSerialNumberDuplication(const QVector<QJsonArray>& lists);
    // Enters the range difference between the anchors ids[i] and ids[j] of the
    // report's first entry naming that pair (either way round) into
    // matrix[i][j], its negation into matrix[j][i]; 1 when found, else 0
    // (also for an index outside the matrix's four columns).
    static int FindRDOABetweenAnchors(const derazud_rdoa_rpt_t& report, double matrix[][4],
                                      const uint16_t* ids, int i, int j);

    // State for tests and the host.
    bool IsMasterInitialized() const { return master_initialized_.load(); }
    bool IsMasterStopped() const { return master_stopped_.load(); }
    bool HasNetworkReset() const { return network_has_reset_.load(); }
    // Whether the timer that starts the master after the fast sync runs; in
    // the engine's thread.
    bool IsMasterStartPending() const { return master_start_timer_->isActive(); }
    uint64_t GetNetworkTimeCounter();
    uint32_t GetSyncPeriod() const { return sync_period_; }
    std::shared_ptr<DwNode> GetMaster() const { return master_; }

  public slots:
    void PublishInfrastructure();
    void PublishConfigs();
    void ToaRxCallback(QByteArray toa_rpt) override;
    void InitializeMasterNode();
    void InitializeNetwork(NodeLink* link);
    void InitializeNetwork();
    void NetworkHasReset();

  private slots:
    // Runs the configuration publication that RxVexSmoothingFactor asked for.
    void PublishRequestedConfigs();

  private:
    // How a step of the bring-up enters its scope. The scopes keep the
    // bring-up from nesting: the waits process events, and a link that
    // connects or a timer that fires meanwhile must not start a second
    // bring-up inside the first.
    enum class BringUpEntry {
        kAlways,         // the reset and a lone deconfiguration
        kUnlessRunning,  // the timer's start and the fast sync
        kRestart,        // a master connection: starts over at once or when the running scopes end
    };
    // False when a scope runs and `entry` leaves it be.
    bool EnterBringUp(BringUpEntry entry);
    // Leaves the scope. The last scope to end brings the master up again on
    // its newest link first, for as long as connections asked for it
    // meanwhile. False when the engine was deleted while events were
    // processed. Not called after a step reported the engine deleted.
    bool LeaveBringUp();
    // The newest link becomes the master's at once and the one it replaces is
    // shut down, even while a bring-up or a reset runs: every frame sent to
    // the master from then on, the reset of every tick among them, goes to
    // the device that is there.
    void AttachMasterLink(NodeLink* link);

    void _ProcessAnchors(const anchor_report_item_queue_t& item, const std::shared_ptr<DwNode>& anchor,
                         int64_t now);
    // Tests hand _ProcessAnchors a host time of their choosing.
    friend class DpuTestPeer;

    // Each returns false when the engine was deleted while events were processed.
    // The master's whole bring-up on the link it has now.
    bool BringUpMaster();
    bool InitializeNetworkSteps();
    bool InitializeMasterNodeSteps();
    bool DeconfigureMasterSteps();
    // Processes the thread's events for up to `ms` milliseconds, leaving early
    // when the bring-up should stop.
    bool WaitProcessingEvents(int ms);
    bool BringUpShouldStop() const;
    // A timer is stopped only in its own thread; from another it is asked to.
    void StopMasterStartTimer();
    int StopAttemptSleepMs() const;

    // Master frames; nothing is sent without a master.
    void PublishToMaster(const uint8_t* data, uint32_t length);
    void SendRxPassthrough(uint8_t enable);
    void SendTxPassthrough(uint8_t enable);
    void SendStopSync();
    void SetupFastSync(uint8_t enable);
    void SendNormalStartSync();
    void SendMasterGoToRfSettingsCommand();
    void SetMasterAddress();
    void ResetMaster(uint32_t time);
    void _SendNetworkReset();
    void _InitializeNetworkRfSettings();
    // An execute-sync-commands frame of one device command of `size` bytes,
    // which `encode` writes after the head.
    void SendExecuteOne(uint8_t size, const std::function<int(uint8_t*)>& encode);
    // The rest take sync_mutex_ held. The frame of the header and the commands
    // in the buffer (the master takes at most 1003 bytes); resets the header.
    std::vector<uint8_t> TakeSyncCommandFrameLocked();
    // A set-sync-commands frame of one device command.
    std::vector<uint8_t> SingleSyncCommandFrameLocked(const uint8_t* command, uint8_t length);
    void ResetSyncHeaderLocked();
    void EncodeSyncHeaderLocked();

    void Publish(VexPacket& packet, bool output);
    void PublishAdmission(uint32_t serial, uint8_t code);
    bool IsHostEnabled() const;
    // Queues one configuration publication to the engine's thread unless one
    // is queued already.
    void RequestConfigPublication();

    // Queues the report and starts a solving task for it when fewer run than
    // allowed.
    void ScheduleSolve(derazud_toa_rpt_t report);
    // Starts solving tasks for the waiting reports while fewer than `limit`
    // (and than the pool has threads) run.
    void StartWaitingSolves(int limit);
    // A solving task: solves the queued reports until none is left that it
    // may take, and then ends.
    void RunSolves();
    // The oldest waiting report whose tag no task is solving, or the end.
    std::deque<derazud_toa_rpt_t>::iterator NextSolvableLocked();

    std::atomic<bool> reset_requested_;
    std::atomic<bool> master_initialized_;
    QMutex sync_mutex_;
    bool commands_pending_;
    uint64_t network_time_counter_;
    DecaTickToGntConverter gnt_converter_;
    uint32_t sync_period_;
    uint8_t fast_sync_factor_;
    std::shared_ptr<DwNode> master_;
    std::shared_ptr<NodeManager> node_manager_;
    std::atomic<bool> master_stopped_;
    uint16_t host_id_;
    // The lines that Internal-stream input triggers (unknown devices, bad
    // items): anyone on the network can send thousands of such items a
    // second. Receiver thread only.
    MessageThrottle input_messages_;
    RfSchedulerSettings budget_;
    std::atomic<bool> network_has_reset_;
    ssp_cmd_set_sync_cmds_t sync_header_;
    uint8_t sync_buffer_[kSyncCommandBufferSize];
    bool use_occlusion_mitigation_;
    std::unique_ptr<QTimer> master_start_timer_;
    std::shared_ptr<RfScheduler> scheduler_;
    TIME_RESERVATION_T announcement_reservation_;

    // Solver tuning, loaded by LoadCfg.
    double vm_gain_;
    double vm_min_stop_threshold_;
    double vm_rejection_threshold_;

    // The registry's anchors, copied once by Init: the registry does not
    // change after it is built, and every response needs the map.
    DwNodeMap anchors_;

    VexPublisherSlot publisher_;
    std::function<bool()> enabled_check_;
    BringUpTimings timings_;

    // The bring-up runs in the engine's thread and the reset in the host's,
    // which may be another one: both count their scopes in bring_up_depth_.
    // bring_up_mutex_ guards the count and the writes of the restart flag
    // together, so that a master connection either finds a scope that will
    // take its restart or runs the restart itself. Taken briefly by the
    // engine's thread and the host's, never across a wait.
    std::mutex bring_up_mutex_;
    int bring_up_depth_;
    // Polled by the waits without the lock.
    std::atomic<bool> master_restart_pending_;

    std::atomic<bool> config_publication_queued_;

    std::mutex solve_mutex_;
    std::condition_variable solves_idle_;
    // Reports waiting for a solve, oldest first. A task takes the oldest
    // report whose tag no other task is solving, so a tag's reports are
    // solved one after another in order, and different tags in parallel.
    // Guarded by solve_mutex_, as are the tags being solved and the count of
    // running solving tasks.
    std::deque<derazud_toa_rpt_t> waiting_solves_;
    std::vector<uint32_t> solving_tags_;
    // Set while a sync maps an anchor's queued receptions onto the master's
    // time, which completes the reports of a whole period one after another:
    // meanwhile at most kSolversWhileMapping tasks solve them, and the others
    // start when it is done. Starting a pool task as each report completes
    // wakes a pool thread per report, and many solves running meanwhile take
    // the processors the receiver thread needs, so the last report of the
    // period would come later. Receiver thread only.
    static constexpr int kSolversWhileMapping = 2;
    bool solve_start_deferred_ = false;
    int running_solves_;
};
