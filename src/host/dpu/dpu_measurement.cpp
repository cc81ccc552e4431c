// The measuring side of the location engine: anchor clocks from timed
// receptions, tag receptions into time-of-arrival reports, and one position
// solve per report on the global thread pool.

#include <QDateTime>
#include <QDebug>
#include <QThreadPool>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "base/device_time.h"
#include "base/serial_number.h"
#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "host/dpu/anchor_weight.h"
#include "host/dpu/dpu.h"
#include "host/dpu/print_flushed.h"
#include "host/dpu/toa_solver.h"
#include "host/signal/signal_strength_data.h"
#include "protocol/vex/vex_data_types.h"

namespace {

// Reports that named an anchor the registry does not know; the message about
// them is printed once per 256. Process-wide, written by concurrent solves.
std::atomic<uint8_t> number_bad_ids_{0};

constexpr uint16_t kPositionDataTagType = 0x0100;
constexpr uint16_t kPositionDataTagLength = 32;

}  // namespace

void Dpu::RxVexTimedRx(uint32_t serial, const VexDataItem& item) {
    vex_data_timed_rx_t rx;
    if (item.GetDataSize() < sizeof(rx) || !node_manager_) {
        return;
    }
    if (!master_ || serial == master_->GetSerialNumber()) {
        return;
    }
    std::memcpy(&rx, item.GetData(), sizeof(rx));
    if (!SerialNumber_IsValid(rx.serial_number)) {
        rx.serial_number = node_manager_->GetNodeSerialNumberFromId(rx.network_id);
    }
    // Receptions of anchor reports do not feed the clock; only syncs do.
    if (rx.packet_type == kVexRxPacketAnchorReport) {
        return;
    }
    const std::shared_ptr<DwNode> anchor = node_manager_->FindAnchorBySerialNumber(serial);
    if (!anchor || !anchor->IsAnchorNode()) {
        input_messages_.Print("TimedRx: Could not find Anchor with serial number %s\n",
                              SerialNumber_ToString(serial).c_str());
        return;
    }
    SignalStrengthData signal;
    signal.UpdateData(rx.signal_strength);
    if (!anchor->GetClock().Update(static_cast<int64_t>(DeviceTimeMask(rx.tx_time)),
                                   static_cast<int64_t>(DeviceTimeMask(rx.rx_time)),
                                   signal.CalculateFirstPathDb(), signal.CalculateTotalPathDb())) {
        return;
    }
    // Tag receptions queued since the previous sync can now be mapped onto the
    // master's time, by interpolation between the two syncs around them.
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    std::deque<anchor_report_item_queue_t>& queue = anchor->GetAnchorReportItemQueue();
    solve_start_deferred_ = true;
    for (const anchor_report_item_queue_t& queued : queue) {
        _ProcessAnchors(queued, anchor, now);
    }
    queue.clear();
    solve_start_deferred_ = false;
    StartWaitingSolves(std::numeric_limits<int>::max());
}

void Dpu::RxVexPing(uint32_t serial, const VexDataItem& item) {
    vex_data_ping_t ping;
    const uint8_t* userData = nullptr;
    uint16_t userDataSize = 0;
    if (!VexDataPing_Read(item, &ping, &userData, &userDataSize) || !node_manager_) {
        return;
    }
    if (!SerialNumber_IsValid(ping.serial_number)) {
        ping.serial_number = node_manager_->GetNodeSerialNumberFromId(ping.network_id);
    }
    const std::shared_ptr<DwNode> tag = node_manager_->FindTagBySerialNumber(ping.serial_number);
    if (!tag || !tag->IsTagNode()) {
        input_messages_.Print("DPU: Could not find Tag with serial num %s\n",
                              SerialNumber_ToString(ping.serial_number).c_str());
        return;
    }
    if (!master_ || serial == master_->GetSerialNumber()) {
        return;
    }
    const std::shared_ptr<DwNode> anchor = node_manager_->FindAnchorBySerialNumber(serial);
    if (!anchor) {
        input_messages_.Print("Ping: Could not find Anchor with serial number %s\n",
                              SerialNumber_ToString(serial).c_str());
        return;
    }
    if (anchor->IsNullNode()) {
        return;
    }
    ping.rx_time = DeviceTimeMask(ping.rx_time);
    const int64_t masterTime = anchor->GetClock().ToGlobalInterp(static_cast<int64_t>(ping.rx_time));
    const uint32_t networkTime = static_cast<uint32_t>(gnt_converter_.DecaTicksToGnt(masterTime));
    const std::shared_ptr<VexPacket> sensorItems =
        tag->UpdatePayload(&ping, userData, userDataSize, networkTime);
    if (sensorItems) {
        Publish(*sensorItems, true);
    }
    if (!reset_requested_) {
        uint32_t limit = 2 * node_manager_->GetNumberOfTags();
        const auto wirelessAnchor = std::dynamic_pointer_cast<DwAnchor>(anchor);
        if (wirelessAnchor && wirelessAnchor->IsWireless()) {
            limit += node_manager_->GetNumberOfWiredAnchors() * limit;
        }
        anchor->QueueUsbBackhaulPing(ping, limit);
    }
}

void Dpu::_ProcessAnchors(const anchor_report_item_queue_t& item, const std::shared_ptr<DwNode>& anchor,
                          int64_t now) {
    const uint32_t twoPeriods = 2u * sync_period_;
    if (static_cast<double>(now) - twoPeriods * kNetworkTimeUnitMs >
        static_cast<double>(item.reception_time)) {
        return;
    }
    const std::shared_ptr<DwNode> tag = node_manager_->FindTagBySerialNumber(item.item.serial_number);
    if (!tag || !tag->IsTagNode()) {
        input_messages_.Print(
            "DPU: unable to process report from tag %s (it's missing from our config data)\n",
            SerialNumber_ToString(item.item.serial_number).c_str());
        return;
    }
    const uint64_t age = anchor->GetClock().LastUpdateAgeMs();
    const uint32_t twentyPeriods = 5u * sync_period_ * 4u;
    if (static_cast<double>(age) > twentyPeriods * kNetworkTimeUnitMs) {
        input_messages_.Print("DPU: %d skipping response from %d - LastUpdateAge:%lums\n",
                              tag->GetNetworkId(), anchor->GetNetworkId(), static_cast<unsigned long>(age));
        return;
    }
    SignalStrengthData signal;
    signal.UpdateData(&item.item);
    const uint32_t expected =
        node_manager_->GetNumberOfAnchors() +
        node_manager_->GetNumberOfWirelessAnchors() * node_manager_->GetNumberOfWiredAnchors();
    const int64_t toa = anchor->GetClock().ToGlobalInterp(
        static_cast<int64_t>(DeviceTimeMask(item.item.header.receive_time)));
    tag->ProcessReportResponse(this, item.sequence, static_cast<int16_t>(anchor->GetNetworkId()),
                               static_cast<int64_t>(anchor->GetSerialNumber()), toa, anchors_,
                               signal.CalculateFirstPathDb(), signal.CalculateTotalPathDb(), expected);
}

void Dpu::ToaRxCallback(QByteArray toa_rpt) {
    derazud_toa_rpt_t report{};
    if (DerAzudToaRpt_FromBuff(&report, reinterpret_cast<const uint8_t*>(toa_rpt.constData()),
                               toa_rpt.size()) < 0) {
        return;
    }
    ScheduleSolve(report);
}

void Dpu::ScheduleSolve(derazud_toa_rpt_t report) {
    {
        std::lock_guard<std::mutex> lock(solve_mutex_);
        waiting_solves_.push_back(report);
    }
    StartWaitingSolves(solve_start_deferred_ ? kSolversWhileMapping : std::numeric_limits<int>::max());
}

void Dpu::StartWaitingSolves(int limit) {
    QThreadPool* pool = QThreadPool::globalInstance();
    int starting = 0;
    {
        // A running task takes every report it may, so another starts only
        // while fewer run than allowed.
        std::lock_guard<std::mutex> lock(solve_mutex_);
        const int allowed = std::min(limit, std::max(1, pool->maxThreadCount()));
        const int free_threads = std::max(0, allowed - running_solves_);
        starting = static_cast<int>(std::min(static_cast<size_t>(free_threads), waiting_solves_.size()));
        running_solves_ += starting;
    }
    for (int i = 0; i < starting; ++i) {
        pool->start([this] { RunSolves(); });
    }
}

std::deque<derazud_toa_rpt_t>::iterator Dpu::NextSolvableLocked() {
    return std::find_if(waiting_solves_.begin(), waiting_solves_.end(), [this](const derazud_toa_rpt_t& report) {
        return std::find(solving_tags_.begin(), solving_tags_.end(),
                         static_cast<uint32_t>(report.serial_number)) == solving_tags_.end();
    });
}

void Dpu::RunSolves() {
    std::unique_lock<std::mutex> lock(solve_mutex_);
    for (;;) {
        const auto next = NextSolvableLocked();
        if (next == waiting_solves_.end()) {
            // What is left, if anything, belongs to tags other tasks are
            // solving; they take it when they are done.
            break;
        }
        const derazud_toa_rpt_t report = *next;
        const uint32_t tag = static_cast<uint32_t>(report.serial_number);
        waiting_solves_.erase(next);
        solving_tags_.push_back(tag);
        lock.unlock();
        TOA_thread_function(this, report);
        lock.lock();
        solving_tags_.erase(std::find(solving_tags_.begin(), solving_tags_.end(), tag));
    }
    --running_solves_;
    solves_idle_.notify_all();
}

void Dpu::TOA_thread_function(Dpu* dpu, derazud_toa_rpt_t report) {
    const std::shared_ptr<DwNode> tag =
        dpu->node_manager_
            ? dpu->node_manager_->FindTagBySerialNumber(static_cast<uint32_t>(report.serial_number))
            : nullptr;
    if (!tag || !tag->IsTagNode()) {
        PrintFlushed("DPU: received TOA report with unrecognized init node %d\n",
                     static_cast<int16_t>(report.network_id));
    } else {
        const std::shared_ptr<VexPacket> packet = tag->GetVexPacket();
        dpu->RunLocalizationAlgorithmOnTOA(*packet, report, tag);
        // Every report of a known tag yields one packet that ends with the
        // tag's smoothed position, new or not.
        VexData_Add(*packet, tag->GetSmoothedPositionData());
        dpu->Publish(*packet, true);
    }
    DerAzudToaRpt_Cleanup(&report);
}

double Dpu::CalculateAnchorWeight(const std::shared_ptr<DwNode>& anchor, const derazud_toa_t& entry) {
    return ::CalculateAnchorWeight(anchor->GetClock(), entry);
}

bool Dpu::RunLocalizationAlgorithmOnTOA(VexPacket& packet, const derazud_toa_rpt_t& report,
                                        std::shared_ptr<DwNode> tag) {
    FlatSettingsInterface settings(Settings::GlobalSettings());
    const int count = report.count > 0 ? report.count : 0;
    const toa_solver_parameters_t parameters{vm_gain_,
                                             vm_min_stop_threshold_,
                                             vm_rejection_threshold_,
                                             settings.GetSpeedOfLight(),
                                             settings.GetTagBounds(),
                                             settings.GetMinimumNumberOfAnchors()};
    if (static_cast<uint32_t>(count) < parameters.minimum_anchors || count > kToaSolverMaxAnchors) {
        return false;
    }
    toa_measurement_t measurements[kToaSolverMaxAnchors];
    for (int i = 0; i < count; ++i) {
        const derazud_toa_t& entry = report.toas[i];
        const std::shared_ptr<DwNode> anchor =
            node_manager_ ? node_manager_->FindAnchorById(entry.anchor_network_id) : nullptr;
        if (!anchor || !anchor->IsAnchorNode()) {
            if (number_bad_ids_.fetch_add(1) == 0) {
                qDebug().noquote().nospace() << "DPU: received TOA report with unrecognized member node "
                                             << entry.anchor_network_id << ". Is another host running?";
            }
            return false;
        }
        const derazud_pos3_t position = anchor->GetCurrentPos3();
        measurements[i].anchor_position =
            Coordinates(position.x * 1000.0, position.y * 1000.0, position.z * 1000.0);
        measurements[i].time_of_arrival = entry.toa;
        measurements[i].weight = use_occlusion_mitigation_ ? CalculateAnchorWeight(anchor, entry) : 1.0;
    }
    const derazud_pos3_t guess =
        settings.GetUseSmoothedPositionGuess() ? tag->GetSmoothedPos3() : tag->GetCurrentPos3();
    const Coordinates start(guess.x * 1000.0, guess.y * 1000.0, guess.z * 1000.0);

    toa_solution_t solution{};
    toa_anchor_diagnostic_t diagnostics[kToaSolverMaxAnchors];
    const ToaSolveStatus status =
        SolveToaPosition(measurements, count, start, parameters, &solution, diagnostics);
    if (ToaSolveRan(status)) {
        for (int i = 0; i < count; ++i) {
            const derazud_toa_t& entry = report.toas[i];
            VexData_Add(packet, vex_data_toa_anchor_t{static_cast<uint32_t>(entry.anchor_serial_number),
                                                      DeviceTimeMask(static_cast<uint64_t>(entry.toa)),
                                                      diagnostics[i].weight_millionths,
                                                      diagnostics[i].correction_mm});
        }
        VexData_Add(packet, vex_data_toa_solution_t{solution.start_guess.x, solution.start_guess.y,
                                                    solution.start_guess.z, solution.iteration_count});
    }
    if (status != ToaSolveStatus::kAccepted) {
        return false;
    }
    derazud_pos3_t position{};
    position.data_tag.type = kPositionDataTagType;
    position.data_tag.length = kPositionDataTagLength;
    position.serial_number = tag->GetSerialNumber();
    position.x = static_cast<float>(solution.position.GetX() / 1000.0);
    position.y = static_cast<float>(solution.position.GetY() / 1000.0);
    position.z = static_cast<float>(solution.position.GetZ() / 1000.0);
    position.quality = static_cast<float>(solution.quality);
    position.smoothing_count = 0;
    position.sequence = report.sequence;
    position.network_time =
        static_cast<uint32_t>(gnt_converter_.DecaTicksToGnt(static_cast<int64_t>(solution.transmit_time)));
    position.creation_time = static_cast<int64_t>(report.creation_time);
    tag->SetCurrentPos3(position);
    return true;
}
