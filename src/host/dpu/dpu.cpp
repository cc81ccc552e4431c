#include "host/dpu/dpu.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

#include "base/device_time.h"
#include "base/serial_number.h"
#include "base/thread_annotations.h"
#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "config/settings_to_json_converter.h"
#include "host/dpu/print_flushed.h"
#include "host/signal/signal_quality.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/reset_device_packet.h"
#include "protocol/packets/set_device_addr_packet.h"
#include "protocol/packets/ssp_cmd_exec_sync_cmds_packet.h"
#include "protocol/packets/ssp_cmd_set_rx_passthrough_packet.h"
#include "protocol/packets/ssp_cmd_set_tx_passthrough_packet.h"
#include "protocol/packets/ssp_cmd_start_sync_packet.h"
#include "protocol/packets/ssp_cmd_stop_sync_packet.h"
#include "protocol/vex/vex_data_types.h"

namespace dp = device_protocol;

namespace {

// How often a wait that processes events looks at its stop conditions.
constexpr int kWaitPollMs = 2;
// Values of the normal start-sync frame whose meaning the firmware defines.
constexpr uint8_t kNormalStartByte11 = 127;
constexpr uint8_t kNormalStartByte12 = 2;
constexpr uint8_t kFastStartByte12 = 1;
// Receive passthrough frames that switch a wired anchor off at a reset.
constexpr int kAnchorPassthroughOffRepeats = 5;
// Receive passthrough frames that set a wired anchor up.
constexpr int kAnchorPassthroughOnRepeats = 3;
// Internal-stream input may print a burst of lines at once, then about this
// many a second.
constexpr uint32_t kInputMessageBurst = 64;
constexpr uint32_t kInputMessagesPerSecond = 16;
const std::string kWiredBackhaul = "wired";

// Milliseconds of `periods` sync periods, the product taken in 32 bits.
int PeriodsToMs(uint32_t periods, uint32_t syncPeriod) {
    const uint32_t networkTime = periods * syncPeriod;
    return static_cast<int>(networkTime * Dpu::kNetworkTimeUnitMs);
}

bool IsWiredAnchor(const std::shared_ptr<DwNode>& node) {
    const auto anchor = std::dynamic_pointer_cast<DwAnchor>(node);
    return anchor && anchor->GetBackhaulType() == kWiredBackhaul;
}

// A double already known to be finite and within 0 .. 2^63, reduced to the
// low 32 bits as the device's 32-bit network time wraps.
uint32_t WrapToNetworkTime(double value) {
    if (!(value >= 0.0) || value >= 9.2e18) {
        return 0;
    }
    return static_cast<uint32_t>(static_cast<uint64_t>(value));
}

}  // namespace

Dpu::Dpu(QObject* parent)
    : QObject(parent),
      reset_requested_(false),
      master_initialized_(false),
      commands_pending_(false),
      network_time_counter_(0),
      sync_period_(0),
      fast_sync_factor_(1),
      master_stopped_(false),
      host_id_(kVexHostIdLocationEngine),
      input_messages_("DPU", kInputMessageBurst, kInputMessagesPerSecond),
      network_has_reset_(false),
      sync_header_{},
      sync_buffer_{},
      use_occlusion_mitigation_(false),
      master_start_timer_(new QTimer()),
      announcement_reservation_{},
      vm_gain_(1.0),
      vm_min_stop_threshold_(0.0),
      vm_rejection_threshold_(0.0),
      bring_up_depth_(0),
      master_restart_pending_(false),
      config_publication_queued_(false),
      running_solves_(0) {
    LoadDefaultValues();
}

Dpu::~Dpu() {
    master_start_timer_->stop();
    {
        // The tasks hold the engine's address; none may outlive it.
        std::unique_lock<std::mutex> lock(solve_mutex_);
        solves_idle_.wait(lock, [this] { return running_solves_ == 0; });
        // Reports whose solves were never started (none are, once a
        // sync's receptions are mapped) are freed, not solved.
        for (derazud_toa_rpt_t& report : waiting_solves_) {
            DerAzudToaRpt_Cleanup(&report);
        }
        waiting_solves_.clear();
    }
    publisher_.Reset();
}

void Dpu::LoadDefaultValues() {
    master_.reset();
    fast_sync_factor_ = 1;
    sync_period_ = 0;
    {
        AnnotatedMutexLocker lock(&sync_mutex_);
        network_time_counter_ = 0;
        ResetSyncHeaderLocked();
        EncodeSyncHeaderLocked();
    }
    master_initialized_ = false;
    network_has_reset_ = false;
    reset_requested_ = false;
    master_stopped_ = false;
}

bool Dpu::Init(const std::vector<QPointer<NodeLink>>& links, std::shared_ptr<NodeManager> nodeManager,
               std::shared_ptr<RfScheduler> scheduler, const RfSchedulerSettings& budget) {
    LoadDefaultValues();
    node_manager_ = std::move(nodeManager);
    master_ = node_manager_ ? node_manager_->GetPrimaryMaster() : nullptr;
    anchors_ = node_manager_ ? node_manager_->GetAnchors() : DwNodeMap();
    scheduler_ = std::move(scheduler);
    budget_ = budget;
    if (!LoadCfg()) {
        return false;
    }
    for (const QPointer<NodeLink>& link : links) {
        if (link) {
            ConnectLink(link.data());
        }
    }
    return true;
}

void Dpu::ConnectLink(NodeLink* link) {
    if (!link) {
        return;
    }
    const QPointer<NodeLink> guarded(link);
    connect(
        link, &NodeLink::DeviceConnected, this,
        [this, guarded](NodeLink*) {
            if (guarded) {
                InitializeNetwork(guarded.data());
            }
        },
        Qt::QueuedConnection);
}

bool Dpu::LoadCfg() {
    FlatSettingsInterface settings(Settings::GlobalSettings());
    use_occlusion_mitigation_ = settings.GetUseOcclusionMitigation();
    vm_min_stop_threshold_ = settings.GetVmMinStopThreshold();
    vm_rejection_threshold_ = settings.GetVmRejectionThreshold();
    vm_gain_ = settings.GetVmVectorGain();
    const double speedOfLight = settings.GetSpeedOfLight();

    PrintFlushed(settings.GetUseRdoaSanityCheck() ? "RDOA Sanity check enabled.\n"
                                                  : "RDOA Sanity check disabled.\n");
    PrintFlushed("Max Tag Velocity: %lf m/s\n", settings.GetMaxTagVelocity());
    PrintFlushed(use_occlusion_mitigation_ ? "Occlusion mitigation is active.\n"
                                           : "Occlusion mitigation disabled.\n");
    PrintFlushed("Min stop threshold: %lf\nVM Rejection Threshold: %lf\nVM Gain %lf\n",
                 vm_min_stop_threshold_, vm_rejection_threshold_, vm_gain_);
    PrintFlushed(settings.GetUseSmoothedPositionGuess() ? "Using smoothed tag pos for location guesses.\n"
                                                        : "Using raw position for location guesses\n");
    PrintFlushed("Speed of light: %lf\n", speedOfLight);
    PrintFlushed("Minimum anchors before calculating a position: %u\n", settings.GetMinimumNumberOfAnchors());

    // The solve divides by the speed of light and scales every step by the
    // gain: with either not a positive finite number it produces no position
    // at all, only not-a-numbers, so such a configuration is refused here.
    if (!(std::isfinite(vm_gain_) && vm_gain_ > 0.0)) {
        PrintFlushed("DPU: VM Gain must be a positive finite number\n");
        return false;
    }
    if (!(std::isfinite(speedOfLight) && speedOfLight > 0.0)) {
        PrintFlushed("DPU: Speed of light must be a positive finite number\n");
        return false;
    }

    std::srand(static_cast<unsigned>(std::time(nullptr)));
    host_id_ = kVexHostIdLocationEngine;
    sync_period_ = scheduler_ ? scheduler_->GetSyncPeriod() : 0;
    if (scheduler_) {
        // The Host reserved this window before; this returns it.
        announcement_reservation_ = scheduler_->GetTimeSlot(
            RfScheduler::kAnnouncementOwner, budget_.GetSlottime(RfSchedulerSettings::kSlotAnnouncement),
            sync_period_);
    }
    return true;
}

void Dpu::AttachPublisher(std::shared_ptr<VexPublisher> publisher) {
    publisher_.Attach(std::move(publisher));
}

void Dpu::DetachPublisher(const VexPublisher* expected) {
    publisher_.Detach(expected);
}

void Dpu::SetEnabledCheck(std::function<bool()> check) {
    enabled_check_ = std::move(check);
}

bool Dpu::IsHostEnabled() const {
    return !enabled_check_ || enabled_check_();
}

void Dpu::Publish(VexPacket& packet, bool output) {
    const std::shared_ptr<VexPublisher> publisher = publisher_.Get();
    if (!publisher) {
        return;
    }
    if (output) {
        publisher->PublishOutputVex(packet);
    } else {
        publisher->PublishInputVex(packet);
    }
}

uint64_t Dpu::GetNetworkTimeCounter() {
    AnnotatedMutexLocker lock(&sync_mutex_);
    return network_time_counter_;
}

// ---------------------------------------------------------------------------
// Master frames

void Dpu::PublishToMaster(const uint8_t* data, uint32_t length) {
    if (master_) {
        master_->Publish(data, length);
    }
}

void Dpu::SendRxPassthrough(uint8_t enable) {
    const ssp_cmd_set_rx_passthrough_t command{dp::kSspTypeCommand, dp::kSspCmdSetRxPassthrough, enable};
    uint8_t frame[dp::kSspCmdSetRxPassthroughSize];
    PublishToMaster(frame, static_cast<uint32_t>(SspCmdSetRxPassthrough_ToBuff(frame, &command)));
}

void Dpu::SendTxPassthrough(uint8_t enable) {
    const ssp_cmd_set_tx_passthrough_t command{dp::kSspTypeCommand, dp::kSspCmdSetTxPassthrough, enable};
    uint8_t frame[dp::kSspCmdSetTxPassthroughSize];
    PublishToMaster(frame, static_cast<uint32_t>(SspCmdSetTxPassthrough_ToBuff(frame, &command)));
}

void Dpu::SendStopSync() {
    const ssp_cmd_stop_sync_t command{dp::kSspTypeCommand, dp::kSspCmdStopSync};
    uint8_t frame[dp::kSspCmdStopSyncSize];
    PublishToMaster(frame, static_cast<uint32_t>(SspCmdStopSync_ToBuff(frame, &command)));
}

void Dpu::SetupFastSync(uint8_t enable) {
    SendTxPassthrough(1);
    const ssp_cmd_start_sync_t command{
        dp::kSspTypeCommand, dp::kSspCmdStartSync, kFastSyncPeriod, enable, 0, 0, kFastStartByte12};
    uint8_t frame[dp::kSspCmdStartSyncSize];
    PublishToMaster(frame, static_cast<uint32_t>(SspCmdStartSync_ToBuff(frame, &command)));
}

void Dpu::SendNormalStartSync() {
    const ssp_cmd_start_sync_t command{dp::kSspTypeCommand,
                                       dp::kSspCmdStartSync,
                                       sync_period_,
                                       fast_sync_factor_,
                                       announcement_reservation_.start,
                                       kNormalStartByte11,
                                       kNormalStartByte12};
    uint8_t frame[dp::kSspCmdStartSyncSize];
    PublishToMaster(frame, static_cast<uint32_t>(SspCmdStartSync_ToBuff(frame, &command)));
}

void Dpu::SendExecuteOne(uint8_t size, const std::function<int(uint8_t*)>& encode) {
    uint8_t frame[dp::kSspCmdExecSyncCmdsSize + 255];
    const ssp_cmd_exec_sync_cmds_t head{dp::kSspTypeCommand, dp::kSspCmdExecSyncCmds, size, 1};
    const int headSize = SspCmdExecSyncCmds_ToBuff(frame, &head);
    const int commandSize = encode(frame + headSize);
    PublishToMaster(frame, static_cast<uint32_t>(headSize + commandSize));
}

void Dpu::SendMasterGoToRfSettingsCommand() {
    const cmd_set_rf_settings_t rf = GenerateRfSettingsPacket(kRfSwitchNetworkTime);
    SendExecuteOne(dp::kCmdSetRfSettingsLen, [&rf](uint8_t* at) { return CmdSetRfSettings_ToBuff(at, &rf); });
}

void Dpu::SetMasterAddress() {
    if (!master_) {
        return;
    }
    const cmd_set_device_addr_t address{dp::kCmdSetDeviceAddr, dp::kCmdSetDeviceAddrLen,
                                        master_->GetSerialNumber(), master_->GetNetworkId()};
    SendExecuteOne(dp::kCmdSetDeviceAddrLen,
                   [&address](uint8_t* at) { return CmdSetDeviceAddr_ToBuff(at, &address); });
}

void Dpu::ResetMaster(uint32_t time) {
    const cmd_reset_device_t reset{dp::kCmdResetDevice, dp::kCmdResetDeviceLen, time};
    SendExecuteOne(dp::kCmdResetDeviceLen,
                   [&reset](uint8_t* at) { return CmdResetDevice_ToBuff(at, &reset); });
}

void Dpu::ResetSyncHeaderLocked() {
    sync_header_ = ssp_cmd_set_sync_cmds_t{dp::kSspTypeCommand, dp::kSspCmdSetSyncCmds, 0, 0};
}

void Dpu::EncodeSyncHeaderLocked() {
    SspCmdSetSyncCmds_ToBuff(sync_buffer_, &sync_header_);
}

std::vector<uint8_t> Dpu::TakeSyncCommandFrameLocked() {
    const uint32_t length =
        std::min<uint32_t>(sync_header_.byte_count + dp::kSspCmdSetSyncCmdsSize, kMaxSyncCommandFrame);
    std::vector<uint8_t> frame(sync_buffer_, sync_buffer_ + length);
    ResetSyncHeaderLocked();
    return frame;
}

std::vector<uint8_t> Dpu::SingleSyncCommandFrameLocked(const uint8_t* command, uint8_t length) {
    sync_header_ = ssp_cmd_set_sync_cmds_t{dp::kSspTypeCommand, dp::kSspCmdSetSyncCmds, length, 1};
    EncodeSyncHeaderLocked();
    std::copy(command, command + length, sync_buffer_ + dp::kSspCmdSetSyncCmdsSize);
    return TakeSyncCommandFrameLocked();
}

void Dpu::_SendNetworkReset() {
    const cmd_reset_device_t reset{dp::kCmdResetDevice, dp::kCmdResetDeviceLen, kNetworkResetTime};
    uint8_t command[dp::kCmdResetDeviceSize];
    CmdResetDevice_ToBuff(command, &reset);
    std::vector<uint8_t> frame;
    {
        AnnotatedMutexLocker lock(&sync_mutex_);
        frame = SingleSyncCommandFrameLocked(command, dp::kCmdResetDeviceLen);
    }
    PublishToMaster(frame.data(), static_cast<uint32_t>(frame.size()));
}

void Dpu::_InitializeNetworkRfSettings() {
    const cmd_set_rf_settings_t rf = GenerateRfSettingsPacket(-1);
    uint8_t command[dp::kCmdSetRfSettingsSize];
    CmdSetRfSettings_ToBuff(command, &rf);
    std::vector<uint8_t> frame;
    {
        AnnotatedMutexLocker lock(&sync_mutex_);
        frame = SingleSyncCommandFrameLocked(command, dp::kCmdSetRfSettingsLen);
    }
    PublishToMaster(frame.data(), static_cast<uint32_t>(frame.size()));
}

cmd_set_rf_settings_t Dpu::GenerateRfSettingsPacket(int64_t time) {
    cmd_set_rf_settings_t rf = FlatSettingsInterface(Settings::GlobalSettings()).GetRfSettings();
    if (time < 0) {
        const double at = static_cast<double>(GetNetworkTimeCounter()) + 5.5 * sync_period_;
        rf.execution_time = WrapToNetworkTime(std::trunc(at));
        rf.timed_flag = 1;
    } else {
        rf.execution_time = static_cast<uint32_t>(time);
        rf.timed_flag = 0;
    }
    return rf;
}

// ---------------------------------------------------------------------------
// Bring-up

void Dpu::InitializeNetwork(NodeLink* link) {
    if (!link) {
        return;
    }
    const uint32_t serial = link->GetSerialNumber();
    if (master_ && master_->GetSerialNumber() == serial) {
        AttachMasterLink(link);
        // A running scope (a wait of the bring-up processing this event, or
        // the reset) stops early and the bring-up starts over when it ends;
        // else it starts now. After a reset it stops once the master is
        // deconfigured.
        if (EnterBringUp(BringUpEntry::kRestart)) {
            LeaveBringUp();
        }
        return;
    }

    if (!node_manager_) {
        PrintFlushed("Unrecognized device %s connected to %s\n", SerialNumber_ToString(serial).c_str(),
                     link->GetPortName().c_str());
        return;
    }
    const std::shared_ptr<DwNode> anchor = node_manager_->FindAnchorBySerialNumber(serial);
    if (anchor && anchor->IsAnchorNode()) {
        // The node is moved before the old link is shut down: see
        // DwNode::SetNodeLink.
        const QPointer<NodeLink> old = anchor->GetNodeLink();
        anchor->SetNodeLink(link);
        if (old && old.data() != link) {
            old->Shutdown();
        }
        if (IsWiredAnchor(anchor)) {
            anchor->SetupAsWiredBackhaulAnchor(GenerateRfSettingsPacket(-1));
        }
        return;
    }
    const std::shared_ptr<DwNode> tag = node_manager_->FindTagBySerialNumber(serial);
    if (tag && tag->IsTagNode()) {
        PrintFlushed("Tag %s is connected to %s\n", SerialNumber_ToString(serial).c_str(),
                     link->GetPortName().c_str());
        tag->SetNodeLink(link);
    } else {
        PrintFlushed("Unrecognized device %s connected to %s\n", SerialNumber_ToString(serial).c_str(),
                     link->GetPortName().c_str());
    }
}

void Dpu::AttachMasterLink(NodeLink* link) {
    // The node is moved before the old link is shut down: see
    // DwNode::SetNodeLink.
    const QPointer<NodeLink> old = master_->GetNodeLink();
    master_->SetNodeLink(link);
    if (old && old.data() != link) {
        old->Shutdown();
    }
}

bool Dpu::EnterBringUp(BringUpEntry entry) {
    std::lock_guard<std::mutex> lock(bring_up_mutex_);
    if (entry == BringUpEntry::kRestart) {
        master_restart_pending_ = true;
    }
    if (entry != BringUpEntry::kAlways && bring_up_depth_ > 0) {
        return false;
    }
    ++bring_up_depth_;
    return true;
}

bool Dpu::LeaveBringUp() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(bring_up_mutex_);
            // An outer scope of this thread (or a scope of another) takes the
            // restart when it ends: starting it here would nest.
            if (bring_up_depth_ > 1 || !master_restart_pending_) {
                --bring_up_depth_;
                return true;
            }
            master_restart_pending_ = false;
        }
        if (!BringUpMaster()) {
            return false;
        }
    }
}

bool Dpu::BringUpMaster() {
    // A bring-up that starts over must not have the previous one's timer
    // start the master in the middle of it.
    StopMasterStartTimer();
    // The link that asked for the restart is gone already: nothing to bring up.
    if (!master_ || !master_->GetNodeLink()) {
        return true;
    }
    if (!DeconfigureMasterSteps()) {
        return false;
    }
    if (!WaitProcessingEvents(timings_.connect_wait_ms)) {
        return false;
    }
    if (BringUpShouldStop() || !master_) {
        return true;
    }
    master_->SetupAsWiredBackhaulAnchor(GenerateRfSettingsPacket(-1));
    if (!Settings::GlobalSettings()->GetAlienNodeList().empty()) {
        return InitializeMasterNodeSteps();
    }
    return InitializeNetworkSteps();
}

void Dpu::InitializeNetwork() {
    if (EnterBringUp(BringUpEntry::kUnlessRunning) && InitializeNetworkSteps()) {
        LeaveBringUp();
    }
}

bool Dpu::InitializeNetworkSteps() {
    SetupFastSync(1);
    master_start_timer_->setSingleShot(true);
    master_start_timer_->setTimerType(Qt::PreciseTimer);
    master_start_timer_->setInterval(timings_.master_start_delay_ms);
    connect(master_start_timer_.get(), &QTimer::timeout, this, &Dpu::InitializeMasterNode,
            Qt::UniqueConnection);
    master_start_timer_->blockSignals(false);
    master_start_timer_->start();
    QThread::msleep(static_cast<unsigned long>(std::max(0, timings_.rf_switch_delay_ms)));
    if (!reset_requested_ && !network_has_reset_) {
        SendMasterGoToRfSettingsCommand();
    }
    return true;
}

void Dpu::InitializeMasterNode() {
    // Inside a running bring-up (its waits process events) the timer cannot
    // be the one that bring-up armed: it stopped it and arms its own. A
    // master connection during this start has it start over when it ends.
    if (EnterBringUp(BringUpEntry::kUnlessRunning) && InitializeMasterNodeSteps()) {
        LeaveBringUp();
    }
}

bool Dpu::InitializeMasterNodeSteps() {
    master_initialized_ = true;
    if (reset_requested_ || network_has_reset_) {
        return true;
    }
    if (!DeconfigureMasterSteps()) {
        return false;
    }
    if (BringUpShouldStop()) {
        return true;
    }
    const int sleepMs = timings_.master_start_sleep_ms >= 0
                            ? timings_.master_start_sleep_ms
                            : PeriodsToMs(kMasterStartSyncPeriods, sync_period_);
    QThread::msleep(static_cast<unsigned long>(sleepMs));
    if (BringUpShouldStop()) {
        return true;
    }
    SendRxPassthrough(1);
    SendTxPassthrough(1);
    SetMasterAddress();
    SendNormalStartSync();
    return true;
}

void Dpu::DeconfigureMaster() {
    if (EnterBringUp(BringUpEntry::kAlways) && DeconfigureMasterSteps()) {
        LeaveBringUp();
    }
}

int Dpu::StopAttemptSleepMs() const {
    return timings_.stop_attempt_sleep_ms >= 0 ? timings_.stop_attempt_sleep_ms
                                               : PeriodsToMs(kStopAttemptSyncPeriods, sync_period_);
}

bool Dpu::DeconfigureMasterSteps() {
    if (!master_) {
        return true;
    }
    PrintFlushed("DPU: de-configuring master node...\n");
    SendRxPassthrough(0);
    SendTxPassthrough(0);
    master_stopped_ = false;
    const QPointer<Dpu> self(this);
    int attempts = 0;
    for (;;) {
        SendStopSync();
        QThread::msleep(static_cast<unsigned long>(StopAttemptSleepMs()));
        ++attempts;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (!self) {
            return false;
        }
        if (master_stopped_ || !master_ || !master_->GetNodeLink() || attempts >= kMaxStopSyncAttempts ||
            master_restart_pending_) {
            break;
        }
    }
    if (attempts >= kMaxStopSyncAttempts && !master_stopped_) {
        PrintFlushed("DPU: Timed out trying to deconfigure the Master!!\n");
    }
    return true;
}

bool Dpu::BringUpShouldStop() const {
    return reset_requested_ || network_has_reset_ || master_restart_pending_;
}

bool Dpu::WaitProcessingEvents(int ms) {
    const QPointer<Dpu> self(this);
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (!self) {
            return false;
        }
        if (BringUpShouldStop()) {
            break;
        }
        const qint64 left = ms - elapsed.elapsed();
        if (left > 0) {
            QThread::msleep(static_cast<unsigned long>(std::min<qint64>(kWaitPollMs, left)));
        }
    }
    return true;
}

void Dpu::NetworkHasReset() {
    network_has_reset_ = true;
}

void Dpu::StopMasterStartTimer() {
    if (master_start_timer_->thread() == QThread::currentThread()) {
        master_start_timer_->stop();
    } else {
        // Runs in the engine's thread before the engine's own deletion there;
        // meanwhile a timeout finds the reset requested and does nothing.
        QMetaObject::invokeMethod(master_start_timer_.get(), "stop", Qt::QueuedConnection);
    }
}

void Dpu::ResetNetwork() {
    EnterBringUp(BringUpEntry::kAlways);
    reset_requested_ = true;
    StopMasterStartTimer();
    ResetMaster(static_cast<uint32_t>(GetNetworkTimeCounter() + kNetworkResetTime));
    QThread::msleep(static_cast<unsigned long>(timings_.reset_master_sleep_ms));
    if (!DeconfigureMasterSteps()) {
        return;
    }
    QThread::msleep(static_cast<unsigned long>(timings_.reset_deconfigure_sleep_ms));
    const ssp_cmd_set_rx_passthrough_t off{dp::kSspTypeCommand, dp::kSspCmdSetRxPassthrough, 0};
    uint8_t frame[dp::kSspCmdSetRxPassthroughSize];
    const int size = SspCmdSetRxPassthrough_ToBuff(frame, &off);
    for (const auto& entry : anchors_) {
        if (IsWiredAnchor(entry.second)) {
            for (int i = 0; i < kAnchorPassthroughOffRepeats; ++i) {
                entry.second->Publish(frame, static_cast<uint32_t>(size));
            }
        }
    }
    QThread::msleep(static_cast<unsigned long>(timings_.reset_wait_ms));
    network_has_reset_ = true;
    LeaveBringUp();
}

// ---------------------------------------------------------------------------
// Ticks, responses and admission (receiver thread)

void Dpu::RxVexTick(uint32_t serial, const VexDataItem& item) {
    // The whole record is read below, so an item shorter than the record is
    // as bad as one below the 25 bytes a sync needs.
    vex_data_tick_t tick;
    if (item.GetDataSize() < sizeof(tick)) {
        input_messages_.Print("DPU: Received Bad Sync...\n");
        return;
    }
    // Only the master's syncs set the network time.
    if (!master_ || serial != master_->GetSerialNumber()) {
        return;
    }
    if (!IsHostEnabled()) {
        return;
    }
    std::memcpy(&tick, item.GetData(), sizeof(tick));
    gnt_converter_.Update(static_cast<int64_t>(DeviceTimeMask(tick.transmit_time)), tick.network_time);
    if (reset_requested_) {
        _SendNetworkReset();
        return;
    }
    if (!master_initialized_) {
        _InitializeNetworkRfSettings();
        return;
    }
    uint64_t counter;
    {
        AnnotatedMutexLocker lock(&sync_mutex_);
        const uint32_t networkTime = tick.network_time + tick.field_15;
        network_time_counter_ = (network_time_counter_ & 0xFFFFFFFF00000000ull) | networkTime;
        commands_pending_ = false;
        counter = network_time_counter_;
    }
    const uint32_t commandTime = 5u * sync_period_ * fast_sync_factor_;
    if (counter != commandTime || !node_manager_) {
        return;
    }
    const CommandList commands =
        node_manager_->GetCommandsForNodeWithSerialNumber(master_->GetSerialNumber(), budget_);
    uint8_t frame[kSyncCommandBufferSize];
    const int length = _WrapRfCommandsForWiredBackhaul(frame, sizeof(frame), commands);
    if (length > 0) {
        PublishToMaster(frame, static_cast<uint32_t>(length));
    } else {
        PrintFlushed("Could not send commands to Master!\n");
    }
}

int Dpu::_WrapRfCommandsForWiredBackhaul(uint8_t* buffer, uint32_t capacity, const CommandList& commands) {
    if (capacity < static_cast<uint32_t>(dp::kSspCmdExecSyncCmdsSize)) {
        return -1;
    }
    const uint64_t counter = GetNetworkTimeCounter();
    ssp_cmd_exec_sync_cmds_t head{dp::kSspTypeCommand, dp::kSspCmdExecSyncCmds, 0, 0};
    uint32_t offset = dp::kSspCmdExecSyncCmdsSize;
    for (const auto& command : commands) {
        command->UpdateTiming(static_cast<uint32_t>(counter) + sync_period_ / 2,
                              static_cast<int64_t>(counter), sync_period_);
        const int32_t written = static_cast<int32_t>(command->ToBuff(buffer + offset, capacity - offset));
        if (written < 1) {
            break;
        }
        offset += static_cast<uint32_t>(written);
        head.byte_count = static_cast<uint16_t>(head.byte_count + command->GetSize());
        ++head.number_of_commands;
    }
    SspCmdExecSyncCmds_ToBuff(buffer, &head);
    return head.byte_count + dp::kSspCmdExecSyncCmdsSize;
}

void Dpu::RxVexSsp(uint32_t serial, const VexDataItem& item) {
    vex_data_ssp_response_t response;
    if (item.GetDataSize() < sizeof(response)) {
        return;
    }
    std::memcpy(&response, item.GetData(), sizeof(response));
    if (response.command_id == dp::kSspCmdStopSync && master_ && serial == master_->GetSerialNumber()) {
        master_stopped_ = true;
    }
}

void Dpu::RxVexConfig(uint32_t, const VexDataItem&) {}

void Dpu::RxVexDiscovery(uint32_t, const VexDataItem& item) {
    {
        AnnotatedMutexLocker lock(&sync_mutex_);
        if (commands_pending_) {
            return;
        }
    }
    vex_data_discovery_t discovery;
    if (item.GetDataSize() < sizeof(discovery) || !node_manager_) {
        return;
    }
    std::memcpy(&discovery, item.GetData(), sizeof(discovery));
    if (!SerialNumber_IsValid(discovery.serial_number)) {
        return;
    }
    const std::shared_ptr<DwNode> node = node_manager_->FindNodeBySerialNumber(discovery.serial_number);
    CommandList commands =
        node_manager_->GetCommandsForNodeWithSerialNumber(discovery.serial_number, budget_);
    const TIME_RESERVATION_T reservation = _GetTimeReservationForNode(node, commands);
    _QueueCommandsForSyncPacket(commands, reservation);
}

TIME_RESERVATION_T Dpu::_GetTimeReservationForNode(std::shared_ptr<DwNode> node, CommandList& commands) {
    TIME_RESERVATION_T reservation{};
    if (!node) {
        return reservation;
    }
    const uint32_t serial = node->GetSerialNumber();
    const std::string text = SerialNumber_ToString(serial);
    const uint32_t half = sync_period_ / 2;
    uint8_t code = kVexAdmissionUnknownSerialNumber;

    if (node->IsNullNode()) {
        reservation.start = half;
        reservation.duration = 1;
        input_messages_.Print(
            "DPU: received usb announcement packet from node with unrecognized serial number: %s. Setting "
            "address to "
            "%hu.\n",
            text.c_str(), node->GetNetworkId());
        PublishAdmission(serial, code);
        return reservation;
    }

    const auto anchor = std::dynamic_pointer_cast<DwAnchor>(node);
    const uint32_t beaconSlot = budget_.GetSlottime(RfSchedulerSettings::kSlotTagBeacon);
    const uint32_t reportSlot = budget_.GetSlottime(RfSchedulerSettings::kSlotAnchorReport);
    uint32_t requested = 0;
    if (!node->IsEnabled()) {
        code = kVexAdmissionNodeDisabled;
    } else if (anchor && anchor->GetBackhaulType() == kWiredBackhaul) {
        code = kVexAdmissionWiredAnchor;
        reservation.start = half;
        reservation.duration = 1;
    } else if (anchor) {
        code = kVexAdmissionWirelessAnchor;
        requested = reportSlot;
        if (scheduler_) {
            reservation = scheduler_->GetTimeSlot_FromEnd(serial, reportSlot, sync_period_);
        }
    } else {
        code = kVexAdmissionTag;
        requested = beaconSlot;
        if (scheduler_) {
            reservation = scheduler_->GetTimeSlot(serial, beaconSlot, sync_period_);
        }
    }
    PrintFlushed("DPU: received announcement packet from node with serial number: %s\n", text.c_str());

    if (reservation.start != 0 && reservation.duration != 0) {
        PrintFlushed("DPU: sending config data to node %d to add it to the network\n", node->GetNetworkId());
    } else if (node->IsAlienNode()) {
        code = kVexAdmissionAlienNode;
        const auto alien = std::dynamic_pointer_cast<DwAlienNode>(node);
        const cmd_set_rf_settings_t rf = alien ? alien->GetRfSettings() : cmd_set_rf_settings_t{};
        PrintFlushed(
            "DPU: Node %s belongs to a different network. Sending to channel %hhu, preamble code %hhu, prf "
            "%hhu "
            "MHz.\n",
            text.c_str(), rf.channel_number, rf.transmit_preamble_code,
            static_cast<unsigned char>(rf.prf_flag == 0 ? 16 : 64));
    } else if (!node->IsEnabled()) {
        code = kVexAdmissionNodeDisabled;
        PrintFlushed("DPU: Node %s is not enabled. Treating it as an unconfigured device.\n", text.c_str());
    } else {
        if (requested > budget_.GetSlottime(RfSchedulerSettings::kSlotRemainder)) {
            code = kVexAdmissionNoFreeTimeSlot;
            PrintFlushed(
                "DPU: Not enough time slots to schedule node %s. Treating it as an unconfigured device.\n",
                text.c_str());
        } else {
            code = kVexAdmissionNoRoomInAnchorReport;
            PrintFlushed(
                "DPU: Not enough space in the UWB Anchor report to schedule node %s, and there is at least 1 "
                "UWB "
                "Anchor. Treating the node as an unconfigured device.\n",
                text.c_str());
        }
        const auto unconfigured = std::make_shared<DwNullNode>(serial);
        unconfigured->SetNetworkId(DwNode::kNullNodeNetworkId);
        commands = node_manager_ ? node_manager_->GetCommandsForNode(unconfigured, budget_) : CommandList();
        reservation = TIME_RESERVATION_T{};
        reservation.start = half;
        reservation.duration = 1;
    }
    PublishAdmission(serial, code);
    return reservation;
}

void Dpu::PublishAdmission(uint32_t serial, uint8_t code) {
    VexPacket packet(0);
    VexData_Add(packet, vex_data_time_reservation_t{serial, code});
    Publish(packet, true);
}

void Dpu::_QueueCommandsForSyncPacket(CommandList commands, TIME_RESERVATION_T reservation) {
    std::vector<uint8_t> frame;
    {
        AnnotatedMutexLocker lock(&sync_mutex_);
        if (commands_pending_) {
            return;
        }
        ResetSyncHeaderLocked();
        commands_pending_ = true;
        sync_header_.number_of_commands = static_cast<uint8_t>(commands.size());
        uint32_t offset = dp::kSspCmdSetSyncCmdsSize;
        for (const auto& command : commands) {
            const uint32_t size = command->GetSize();
            // The master takes frames of at most 1003 bytes; a list that does
            // not fit is not sent at all rather than cut short.
            if (offset + size > kMaxSyncCommandFrame) {
                PrintFlushed(
                    "DPU: commands for node do not fit in one sync command frame (%u bytes); not sent\n",
                    kMaxSyncCommandFrame);
                ResetSyncHeaderLocked();
                EncodeSyncHeaderLocked();
                commands_pending_ = false;
                return;
            }
            sync_header_.byte_count = static_cast<uint16_t>(sync_header_.byte_count + size);
            command->UpdateTiming(reservation.start, static_cast<int64_t>(network_time_counter_),
                                  sync_period_);
            command->ToBuff(sync_buffer_ + offset, kSyncCommandBufferSize - offset);
            offset += size;
        }
        EncodeSyncHeaderLocked();
        frame = TakeSyncCommandFrameLocked();
    }
    PublishToMaster(frame.data(), static_cast<uint32_t>(frame.size()));
}

void Dpu::RxVexSmoothingFactor(uint32_t, const VexDataItem& item) {
    vex_data_smoothing_factor_t request;
    if (item.GetDataSize() < sizeof(request)) {
        return;
    }
    std::memcpy(&request, item.GetData(), sizeof(request));
    if (request.source_host_id == host_id_) {
        input_messages_.Print("DPU: Ignoring smoothing factor sent out by this host...\n");
        return;
    }
    if (request.destination_host_id != host_id_ && request.destination_host_id != kVexHostIdEveryHost) {
        input_messages_.Print("DPU: Ignoring command sent to some destination other than this host...\n");
        return;
    }
    // The history keeps factor + 1 positions, bounded by the device model.
    const uint32_t factor =
        static_cast<uint32_t>(std::min<uint64_t>(request.smoothing_factor, DwNode::kMaxPositionHistory - 1));
    HostSettings* host = Settings::GlobalSettings()->GetHostSettingsReference();
    host->SetSmoothingFactor(factor);
    input_messages_.Print("DPU: Setting smoothing factor to %u...\n", host->GetSmoothingFactor());
    RequestConfigPublication();
}

void Dpu::RequestConfigPublication() {
    // A burst of requests on the receiver thread makes one publication, done
    // in the engine's thread so that the receiver is not held up converting
    // the whole configuration.
    if (!config_publication_queued_.exchange(true)) {
        QMetaObject::invokeMethod(this, "PublishRequestedConfigs", Qt::QueuedConnection);
    }
}

void Dpu::PublishRequestedConfigs() {
    config_publication_queued_ = false;
    PublishConfigs();
}

// ---------------------------------------------------------------------------
// Publications

void Dpu::PublishConfigs() {
    PrintFlushed("DPU: publishing configurations...\n");
    const QJsonObject config = SettingsToJsonConverter().ConvertSettingsToJson(Settings::GlobalSettings());
    VexPacket packet(0);
    // A configuration too large for one packet is refused there with a message.
    if (!VexDataConfig_Add(packet, config)) {
        return;
    }
    Publish(packet, false);
}

void Dpu::PublishInfrastructure() {
    VexPacket packet(0);
    auto add = [&packet](uint8_t kind, const DwNode& node) {
        VexData_Add(packet, vex_data_infrastructure_t{kind, node.GetSerialNumber(),
                                                      VexData_MetresToMillimetres(node.GetX()),
                                                      VexData_MetresToMillimetres(node.GetY()),
                                                      VexData_MetresToMillimetres(node.GetZ())});
    };
    if (master_) {
        add(kVexInfrastructureMaster, *master_);
    }
    for (const auto& entry : anchors_) {
        add(kVexInfrastructureAnchor, *entry.second);
    }
    Publish(packet, true);
}

// ---------------------------------------------------------------------------
// Operations without a caller in the server

int Dpu::ResetSyncCommands() {
    AnnotatedMutexLocker lock(&sync_mutex_);
    ResetSyncHeaderLocked();
    return 0;
}

void Dpu::SendSspCmdDisableTxPassthrough() {
    SendTxPassthrough(0);
}

void Dpu::SetupWiredBackhaulAnchor(std::shared_ptr<DwNode> node) {
    if (!node) {
        return;
    }
    const ssp_cmd_set_rx_passthrough_t on{dp::kSspTypeCommand, dp::kSspCmdSetRxPassthrough, 1};
    uint8_t frame[dp::kSspCmdSetRxPassthroughSize];
    const int size = SspCmdSetRxPassthrough_ToBuff(frame, &on);
    for (int i = 0; i < kAnchorPassthroughOnRepeats; ++i) {
        node->Publish(frame, static_cast<uint32_t>(size));
    }
}

namespace {

// trunc(offset + ceil(numerator / period) x period); a period of 0 leaves the
// offset, a result outside 0 .. 2^64 saturates.
uint64_t NextMultiple(double numerator, uint32_t offset, uint32_t period) {
    if (period == 0) {
        return offset;
    }
    const double result = std::trunc(offset + std::ceil(numerator / period) * period);
    if (!(result > 0.0)) {
        return 0;
    }
    if (result >= 1.8446744073709552e19) {
        return std::numeric_limits<uint64_t>::max();
    }
    return static_cast<uint64_t>(result);
}

}  // namespace

uint64_t Dpu::CalculateNextExecutableGnt(uint64_t now, uint32_t offset, uint32_t period) const {
    return NextMultiple(static_cast<double>(now) + sync_period_, offset, period);
}

uint64_t Dpu::_CalculateIdealTagTransmissionTime(std::shared_ptr<DwNode> tag) {
    if (!tag || !scheduler_) {
        return 0;
    }
    const TIME_RESERVATION_T reservation = scheduler_->GetTimeSlot(
        tag->GetSerialNumber(), budget_.GetSlottime(RfSchedulerSettings::kSlotTagBeacon), sync_period_);
    const double counter = static_cast<double>(GetNetworkTimeCounter());
    return NextMultiple(counter - sync_period_, reservation.start, sync_period_);
}

float Dpu::GetTxPowerInDb() const {
    const cmd_set_rf_settings_t rf = FlatSettingsInterface(Settings::GlobalSettings()).GetRfSettings();
    const uint8_t gain = static_cast<uint8_t>(rf.transmit_power_code >> 16);
    const int coarse = (gain >> 5) & 0x7;
    const int fine = gain & 0x1F;
    return static_cast<float>(3.0 * (6 - coarse) + 0.5 * fine);
}

bool Dpu::NodeIsActive(const QJsonObject& node) {
    return node.value("enabled").toBool(true);
}

int Dpu::GetNumberOfActiveNodes(const QJsonArray& nodes) {
    int count = 0;
    for (const QJsonValue& node : nodes) {
        if (NodeIsActive(node.toObject())) {
            ++count;
        }
    }
    return count;
}

int Dpu::GetNumberOfActiveUwbBackhaulNodes(const QJsonArray& nodes) {
    int count = 0;
    for (const QJsonValue& value : nodes) {
        const QJsonObject node = value.toObject();
        if (NodeIsActive(node) && node.value("backhaul").toString("uwb") == "uwb") {
            ++count;
        }
    }
    return count;
}

bool Dpu::CheckForSerialNumberDuplication(const QVector<QJsonArray>& lists) {
    std::map<uint32_t, int> counts;
    for (const QJsonArray& list : lists) {
        for (const QJsonValue& node : list) {
            ++counts[SerialNumber_Create(node.toObject().value("serial number"))];
        }
    }
    bool duplicated = false;
    for (const auto& entry : counts) {
        if (entry.second >= 2) {
            duplicated = true;
            qDebug().noquote().nospace()
                << "Err: Device " << QString::fromStdString(SerialNumber_ToString(entry.first)) << " appears "
                << entry.second << " times in the config file!";
        }
    }
    if (duplicated) {
        qDebug().noquote() << "Host aborting.";
    }
    return duplicated;
}

int Dpu::FindRDOABetweenAnchors(const derazud_rdoa_rpt_t& report, double matrix[][4], const uint16_t* ids,
                                int i, int j) {
    constexpr int kColumns = 4;
    if (matrix == nullptr || ids == nullptr || i < 0 || j < 0 || i >= kColumns || j >= kColumns ||
        report.count < 1 || report.rdoas == nullptr) {
        return 0;
    }
    for (int k = 0; k < report.count; ++k) {
        const derazud_rdoa_t& entry = report.rdoas[k];
        const bool forward = entry.anchor_network_id == ids[i] && entry.reference_network_id == ids[j];
        const bool reversed = entry.anchor_network_id == ids[j] && entry.reference_network_id == ids[i];
        if (!forward && !reversed) {
            continue;
        }
        // The 32-bit field holds the range difference as a float, bit for bit.
        float difference;
        static_assert(sizeof(difference) == sizeof(entry.rdoa), "float range difference in the u32 field");
        std::memcpy(&difference, &entry.rdoa, sizeof(difference));
        const double value = forward ? difference : -static_cast<double>(difference);
        matrix[i][j] = value;
        matrix[j][i] = -value;
        return 1;
    }
    return 0;
}

int Dpu::CalculateSignalQualityWeightingIndex(double totalPathDb, double firstPathDb) {
    return ::CalculateSignalQualityWeightingIndex(totalPathDb, firstPathDb);
}
