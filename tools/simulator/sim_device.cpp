#include "simulator/sim_device.h"

#include <algorithm>

#include "base/byte_order.h"
#include "protocol/packets/announce_response_packet.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/led_control_packet.h"
#include "protocol/packets/receive_packet.h"
#include "protocol/packets/set_anchor_report_size_packet.h"
#include "protocol/packets/set_device_addr_packet.h"
#include "protocol/packets/set_userdata_size_packet.h"
#include "protocol/packets/transmit_packet.h"

namespace dp = device_protocol;

namespace {

// The response to a command has the command's own layout with 0x12 in front,
// so it is as long as the command's fixed part (the device commands that may
// follow a set or execute command are not echoed).
size_t ResponseLength(uint8_t sub_id, size_t command_length) {
    switch (sub_id) {
        case dp::kSspCmdStartSync:
            return dp::kSspCmdStartSyncSize;
        case dp::kSspCmdSetRxPassthrough:
            return dp::kSspCmdSetRxPassthroughSize;
        case dp::kSspCmdSetTxPassthrough:
            return dp::kSspCmdSetTxPassthroughSize;
        case dp::kSspCmdSetSyncCmds:
            return dp::kSspCmdSetSyncCmdsSize;
        case dp::kSspCmdExecSyncCmds:
            return dp::kSspCmdExecSyncCmdsSize;
        case dp::kSspCmdStopSync:
            return dp::kSspCmdStopSyncSize;
        default:
            return command_length;
    }
}

// Commands whose effect waits for a network time, with the offset of that time.
bool IsTimedCommand(uint8_t type) {
    return type == dp::kCmdSetRfSettings || type == dp::kCmdResetDevice || type == dp::kCmdLedControl;
}

}  // namespace

SimDevice::SimDevice(const sim_device_t& config, const SimClock& clock) : config_(config), clock_(clock) {}

sim_ssp_outcome_t SimDevice::HandleSspPayload(const uint8_t* payload, size_t length) {
    sim_ssp_outcome_t outcome;
    if (length < 2)
        return outcome;
    if (payload[0] == dp::kSspTypeBridge) {
        if (payload[1] == dp::kBridgeSerialNumberQuery) {
            packet_announce_response_t answer{dp::kSspTypeBridge, config_.serial_number};
            std::vector<uint8_t> reply(dp::kBridgeSerialNumberAnswerSize);
            PacketAnnounceResponse_ToBuff(reply.data(), &answer);
            outcome.replies.push_back(reply);
        }
        return outcome;
    }
    if (payload[0] != dp::kSspTypeCommand)
        return outcome;
    ++commands_received;
    const uint8_t sub_id = payload[1];
    // A command too short for its fields is answered all the same (with what
    // came): the server then reports the bad response length itself.
    std::vector<uint8_t> reply(payload, payload + std::min(length, ResponseLength(sub_id, length)));
    reply[0] = dp::kSspTypeResponse;
    switch (sub_id) {
        case dp::kSspCmdStartSync:
            if (length >= static_cast<size_t>(dp::kSspCmdStartSyncSize) && IsMaster()) {
                SspCmdStartSync_FromBuff(payload, &outcome.start);
                outcome.start_sync = outcome.start.sync_period > 0;
            }
            break;
        case dp::kSspCmdSetRxPassthrough:
            if (length >= 3)
                rx_passthrough = payload[2] != 0;
            break;
        case dp::kSspCmdSetTxPassthrough:
            if (length >= 3)
                tx_passthrough = payload[2] != 0;
            break;
        case dp::kSspCmdSetSyncCmds:
            if (length >= static_cast<size_t>(dp::kSspCmdSetSyncCmdsSize) && IsMaster()) {
                // Sets that come between two syncs all ride in the next one, in order;
                // beyond what one packet can take the oldest wait no longer and are lost.
                const size_t count = std::min<size_t>(wire::read_be16(payload + 2), length - 5);
                if (sync_commands.size() + count > kSimMaxSyncCommandBytes) {
                    sync_commands.clear();
                    sync_command_count = 0;
                }
                sync_commands.insert(sync_commands.end(), payload + 5, payload + 5 + count);
                sync_command_count = static_cast<uint8_t>(sync_command_count + payload[4]);
            }
            break;
        case dp::kSspCmdExecSyncCmds:
            if (length >= static_cast<size_t>(dp::kSspCmdExecSyncCmdsSize)) {
                const size_t count = std::min<size_t>(wire::read_be16(payload + 2), length - 5);
                ApplyCommands(payload + 5, count, true);
            }
            break;
        case dp::kSspCmdStopSync:
            // Commands meant for the syncs of this run go with it.
            outcome.stop_sync = IsMaster();
            sync_commands.clear();
            sync_command_count = 0;
            break;
        default:
            break;
    }
    outcome.replies.push_back(reply);
    return outcome;
}

void SimDevice::ApplyCommands(const uint8_t* commands, size_t length, bool own) {
    // Commands heard in a sync concern every device until a select names one.
    bool selected = true;
    size_t offset = 0;
    while (offset + 2 <= length) {
        const uint8_t type = commands[offset];
        const uint8_t size = commands[offset + 1];
        if (size < 2 || offset + size > length)
            return;  // a broken list: the rest cannot be framed
        const uint8_t* command = commands + offset;
        offset += size;
        if (type == dp::kCmdSetDeviceAddr) {
            if (size >= dp::kCmdSetDeviceAddrSize) {
                cmd_set_device_addr_t address;
                CmdSetDeviceAddr_FromBuff(command, &address);
                if (address.serial_number == config_.serial_number) {
                    network_id = address.network_id;
                    addressed = true;
                }
            }
            continue;
        }
        if (type == dp::kCmdSelectDeviceAddr) {
            if (size >= dp::kCmdSelectDeviceAddrLen)
                selected = wire::read_be16(command + 2) == network_id && (own || addressed);
            continue;
        }
        if (selected)
            ApplyCommand(command, size);
    }
}

void SimDevice::ApplyCommand(const uint8_t* command, uint8_t size) {
    const uint8_t type = command[0];
    if (IsTimedCommand(type)) {
        if (size >= 6)
            timed_.push_back({wire::read_be32(command + 2), std::vector<uint8_t>(command, command + size)});
        return;
    }
    switch (type) {
        case dp::kCmdTransmit:
            if (size >= dp::kCmdTransmitSize) {
                cmd_transmit_t transmit;
                CmdTransmit_FromBuff(command, &transmit);
                transmitting = transmit.repeat_rate > 0;
                transmission_type = transmit.transmission_type;
                transmit_time = transmit.execution_time;
                transmit_rate = transmit.repeat_rate;
            }
            break;
        case dp::kCmdReceive:
            if (size >= dp::kCmdReceiveSize)
                receiving = true;
            break;
        case dp::kCmdSetCollectorPackets:
            collector_pairs.assign(command + 2, command + size);
            break;
        case dp::kCmdSetAnchorReportSize:
            if (size >= dp::kCmdSetAnchorReportSizeSize) {
                cmd_set_anchor_report_size_t report;
                CmdSetAnchorReportSize_FromBuff(command, &report);
                anchor_report_payload_size = report.report_size;
            }
            break;
        case dp::kCmdSetMpuConfig:
            if (size >= dp::kCmdSetMpuConfigSize) {
                cmd_set_mpu_config_t mpu;
                CmdSetMpuConfig_FromBuff(command, &mpu);
                sensors = mpu.sensors_config;
            }
            break;
        case dp::kCmdSetUserdataSize:
            if (size >= dp::kCmdSetUserdataSizeSize) {
                cmd_set_userdata_size_t user_data;
                CmdSetUserdataSize_FromBuff(command, &user_data);
                user_data_size = user_data.user_data_size;
            }
            break;
        default:
            break;  // unknown to this device: skipped by its size
    }
}

std::vector<sim_timed_command_t> SimDevice::TakeDueCommands(uint32_t network_time) {
    std::vector<sim_timed_command_t> due;
    auto it = timed_.begin();
    while (it != timed_.end()) {
        // Network time wraps at 2^32: due when the time is not ahead by more than half the range.
        if (static_cast<int32_t>(network_time - it->execution_time) >= 0) {
            due.push_back(*it);
            it = timed_.erase(it);
        } else {
            ++it;
        }
    }
    return due;
}

void SimDevice::ExecuteTimedCommand(const sim_timed_command_t& command) {
    const uint8_t* bytes = command.bytes.data();
    switch (bytes[0]) {
        case dp::kCmdSetRfSettings:
            if (command.bytes.size() >= static_cast<size_t>(dp::kCmdSetRfSettingsSize))
                CmdSetRfSettings_FromBuff(bytes, &rf_settings);
            break;
        case dp::kCmdLedControl:
            if (command.bytes.size() >= static_cast<size_t>(dp::kCmdLedControlSize)) {
                cmd_led_control_t led;
                CmdLedControl_FromBuff(bytes, &led);
                led_operation = led.led_operation;
            }
            break;
        case dp::kCmdResetDevice:
            Reset();
            break;
        default:
            break;
    }
}

void SimDevice::Reset() {
    const uint32_t received = commands_received;
    const uint32_t reset_count = resets + 1;
    const cmd_set_rf_settings_t rf = rf_settings;
    *this = SimDevice(config_, clock_);
    // The radio keeps the channel it was last told: a reset does not lose the network.
    rf_settings = rf;
    commands_received = received;
    resets = reset_count;
}
