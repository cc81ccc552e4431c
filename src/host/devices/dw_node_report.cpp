// Time-of-arrival report assembly and the tag's trickled sensor payload.
//
// Threads: ProcessReportResponse and UpdatePayload run on the Internal
// stream's receiver thread; GetVexPacket, SetCurrentPos3 and the position
// reads run on solver threads of the global thread pool. The report lock
// guards the report and its sequence and check state; the packet lock guards
// the output packet and the payload state. The report lock is taken before
// the packet lock (status items are added while a report is checked), never
// the other way round.

#include <QByteArray>
#include <QDateTime>
#include <cstdio>
#include <cstdlib>

#include "base/thread_annotations.h"
#include "config/settings.h"
#include "host/devices/dw_node.h"
#include "host/devices/tag_sensor_data.h"
#include "host/devices/toa_report_check.h"

namespace {

// A report goes through the checks only with at least this many responses.
constexpr int kMinimumResponsesToCheck = 4;

// Sequence numbers of tag transmissions are the ping's 8 bits and wrap every
// 256 pings, so they are compared modulo 256: a sequence 1 to 9 behind the
// latest belongs to a report (or payload chunk) already passed, 0 behind is
// the same one, anything else is new.
constexpr uint32_t kLateSequenceWindow = 9;

uint32_t SequencesBehind(uint32_t latest, uint32_t sequence) {
    return (latest - sequence) & 0xFFu;
}

Coordinates Millimetres(const derazud_pos3_t& position) {
    return Coordinates(position.x * 1000.0, position.y * 1000.0, position.z * 1000.0);
}

}  // namespace

void DwNode::ProcessReportResponse(ToaReportReceiver* dpu, uint32_t sequence, int16_t anchorNetworkId,
                                   int64_t anchorSerialNumber, int64_t toa, const DwNodeMap& anchors,
                                   double firstPathPower, double totalPower, uint32_t expectedCount) {
    AnnotatedMutexTryLocker lock(&report_mutex_, kReportLockTimeoutMs);
    if (!lock.IsLocked()) {
        std::printf("Unable to lock func process report response!\n");
        std::fflush(stdout);
        return;
    }
    if (!PrepareToaReport()) {
        return;
    }

    const uint32_t behind = SequencesBehind(last_report_sequence_, sequence);
    int index = 0;
    if (toa_report_started_ && behind == 0) {
        index = toa_rpt_.count;
    } else if (toa_report_started_ && behind <= kLateSequenceWindow) {
        return;
    } else {
        const int16_t held = toa_rpt_.count;
        FlatSettingsInterface settings(Settings::GlobalSettings());
        SanityCheckToaRpt(anchors, settings);
        if (held > 0) {
            _PublishToaRpt(dpu);
        }
        last_report_sequence_ = sequence;
        toa_report_started_ = true;
        toa_rpt_.sequence = static_cast<uint16_t>(sequence);
        toa_rpt_.creation_time = static_cast<uint64_t>(QDateTime::currentMSecsSinceEpoch());
        // The newest position's serial number would be the node's own once a
        // solve stored one; _PublishToaRpt writes the node's in any case.
        toa_rpt_.serial_number = GetSerialNumber();
        toa_rpt_.network_id = GetNetworkId();
        toa_rpt_.count = 0;
    }
    if (index >= kMaxToaResponses) {
        return;
    }

    derazud_toa_t& response = toa_rpt_.toas[index];
    response.anchor_serial_number = static_cast<uint64_t>(anchorSerialNumber);
    response.anchor_network_id = static_cast<uint16_t>(anchorNetworkId);
    response.toa = toa;
    response.first_path_power = firstPathPower;
    response.total_power = totalPower;
    toa_rpt_.count = static_cast<int16_t>(index + 1);

    if (expectedCount <= static_cast<uint32_t>(toa_rpt_.count)) {
        toa_rpt_.sequence = static_cast<uint16_t>(last_report_sequence_);
        FlatSettingsInterface settings(Settings::GlobalSettings());
        SanityCheckToaRpt(anchors, settings);
        _PublishToaRpt(dpu);
        toa_rpt_.count = 0;
    }
}

void DwNode::SanityCheckToaRpt(const DwNodeMap& anchors, FlatSettingsInterface& settings) {
    if (toa_rpt_.toas == nullptr || toa_rpt_.count < kMinimumResponsesToCheck) {
        return;
    }
    // Wall-clock time: before the first good check (time 0) the move allowed
    // is the tag's velocity over all the time since the epoch.
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    const double allowed_move_mm =
        ToaReportCheck_AllowedMoveMm(settings.GetMaxTagVelocity(), now, last_sanity_check_time_);
    const Coordinates guess_mm =
        Millimetres(settings.GetUseSmoothedPositionGuess() ? GetSmoothedPos3() : GetCurrentPos3());

    // Anchor positions in millimetres, parallel to the responses.
    Coordinates positions[kMaxToaResponses];
    derazud_toa_t* toas = toa_rpt_.toas;
    int i = 0;
    while (i < toa_rpt_.count) {
        const uint32_t serial_number = static_cast<uint32_t>(toas[i].anchor_serial_number);
        const auto found = anchors.find(serial_number);
        if (found == anchors.end() || !found->second) {
            _AddAnchorStatus(static_cast<uint16_t>(i), kAnchorStatusNotRegistered);
            _RemoveResponseFromToaRpt_NoStatusMsg(static_cast<uint16_t>(i), positions);
            continue;
        }
        // The responses before i are exactly the anchors seen so far.
        bool repeated = false;
        for (int k = 0; k < i && !repeated; ++k) {
            repeated = static_cast<uint32_t>(toas[k].anchor_serial_number) == serial_number;
        }
        if (repeated) {
            _RemoveResponseFromToaRpt_NoStatusMsg(static_cast<uint16_t>(i), positions);
            continue;
        }
        positions[i] = Millimetres(found->second->GetCurrentPos3());
        ++i;
    }

    const ToaResponseRemoval removal = [this](int index, uint8_t code) {
        _AddAnchorStatus(static_cast<uint16_t>(index), code);
    };
    const double speed_of_light = settings.GetSpeedOfLight();
    if (settings.GetUseRdoaSanityCheck()) {
        ToaReportCheck_RangeDifferenceVote(toas, positions, &toa_rpt_.count, speed_of_light, removal);
    }
    ToaReportCheck_RemoveOutliers(toas, positions, &toa_rpt_.count, guess_mm, speed_of_light, allowed_move_mm,
                                  removal);
    if (toa_rpt_.count >= kMinimumResponsesToCheck) {
        last_sanity_check_time_ = now;
    }
}

void DwNode::_PublishToaRpt(ToaReportReceiver* dpu) {
    for (int i = 0; i < toa_rpt_.count; ++i) {
        _AddAnchorStatus(static_cast<uint16_t>(i), kVexAnchorStatusUsed);
    }
    toa_rpt_.serial_number = GetSerialNumber();
    toa_rpt_.network_id = GetNetworkId();
    QByteArray encoded(DerAzudToaRpt_EncodedSize(&toa_rpt_), Qt::Uninitialized);
    DerAzudToaRpt_ToBuff(reinterpret_cast<uint8_t*>(encoded.data()), &toa_rpt_);
    if (dpu != nullptr) {
        dpu->ToaRxCallback(encoded);
    }
}

void DwNode::_AddAnchorStatus(uint16_t index, uint8_t code) {
    if (toa_rpt_.toas == nullptr || index >= toa_rpt_.count) {
        return;
    }
    const vex_data_anchor_status_t status{static_cast<uint32_t>(toa_rpt_.toas[index].anchor_serial_number),
                                          code};
    AnnotatedMutexLocker lock(&packet_mutex_);
    VexData_Add(vex_packet_, status);
}

void DwNode::_RemoveResponseFromToaRpt_NoStatusMsg(uint16_t index, Coordinates* positions) {
    if (toa_rpt_.toas == nullptr) {
        return;
    }
    ToaReportCheck_RemoveResponse(toa_rpt_.toas, positions, &toa_rpt_.count, index);
}

std::shared_ptr<VexPacket> DwNode::UpdatePayload(const vex_data_ping_t* ping, const uint8_t* userData,
                                                 uint16_t dataLength, uint32_t now) {
    AnnotatedMutexTryLocker lock(&packet_mutex_, HalfSyncPeriodMs());
    if (!lock.IsLocked()) {
        std::printf("DwNode: Could not lock user data!\n");
        std::fflush(stdout);
        return nullptr;
    }
    if (ping == nullptr || userData == nullptr || dataLength == 0) {
        return nullptr;
    }
    const uint8_t sequence = ping->sequence;
    if (payload_sequence_seen_ && SequencesBehind(last_payload_sequence_, sequence) <= kLateSequenceWindow) {
        return nullptr;  // a repeat, or a ping older than the last one taken
    }
    if (sequence != static_cast<uint8_t>(last_payload_sequence_ + 1)) {
        TrickleBuffer_MissedPacket(&trickle_state_);
    }
    last_payload_sequence_ = sequence;
    payload_sequence_seen_ = true;

    uint16_t total_length = 0;
    uint8_t* messages = TrickleBuffer_Consume(&trickle_state_, userData, dataLength, &total_length);
    if (messages == nullptr) {
        return nullptr;
    }
    _HandleSensorData(messages, total_length, now);
    std::free(messages);
    return TakeOutputPacket();
}

void DwNode::_HandleSensorData(const uint8_t* bytes, uint16_t length, uint32_t now) {
    int offset = 0;
    int remaining = length;
    while (remaining > 0) {
        if (!_ProcessSensorDataPacket(bytes, offset, remaining, now)) {
            std::printf("Received Bad Sensor Data\n");
            std::fflush(stdout);
            return;
        }
    }
}

bool DwNode::_ProcessSensorDataPacket(const uint8_t* bytes, int& offset, int& remaining, uint32_t now) {
    const sensors_config_t sensors = FlatSettingsInterface(Settings::GlobalSettings()).GetSensorSettings();
    return TagSensorData_AddRecordItem(bytes, offset, remaining, now, sensors, vex_packet_);
}
