#pragma once
// The protocol state of one simulated device and what it does with what the
// server sends it: the answers to the bridge query and to every SSP command,
// and the device commands it executes itself or receives in a sync packet.
// No input or output here: the simulator thread owns each SimDevice, feeds
// it and carries out what it asks for (send these payloads, start or stop the
// syncs). Only the simulator thread touches it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/packets/set_mpu_config_packet.h"
#include "protocol/packets/set_rf_settings_packet.h"
#include "protocol/packets/ssp_cmd_start_sync_packet.h"
#include "simulator/sim_clock.h"
#include "simulator/sim_site.h"

// A device command that waits for its execution time (network time).
struct sim_timed_command_t {
    uint32_t execution_time;
    std::vector<uint8_t> bytes;
};

// What one SSP payload from the server asks of the simulator.
struct sim_ssp_outcome_t {
    std::vector<std::vector<uint8_t>> replies;  // SSP payloads to send back, in order
    bool start_sync = false;
    ssp_cmd_start_sync_t start{};
    bool stop_sync = false;
};

// A device's address before the network gives it one.
constexpr uint16_t kSimUnassignedNetworkId = 0xFFFF;
// The most command bytes one sync carries (the server sends at most 1003-byte frames).
constexpr size_t kSimMaxSyncCommandBytes = 1024;
// Transmission types of the transmit command: tag beacons and wireless anchors' reports.
constexpr uint16_t kSimTransmitTagBeacon = 3;
constexpr uint16_t kSimTransmitAnchorReport = 1;

class SimDevice {
  public:
    SimDevice(const sim_device_t& config, const SimClock& clock);

    const sim_device_t& Config() const { return config_; }
    const SimClock& Clock() const { return clock_; }
    uint32_t SerialNumber() const { return config_.serial_number; }
    bool IsMaster() const { return config_.role == SimRole::kMaster; }
    bool IsTag() const { return config_.role == SimRole::kTag; }
    bool HasLink() const { return config_.link != SimLinkKind::kNone; }

    // One SSP payload from the server.
    sim_ssp_outcome_t HandleSspPayload(const uint8_t* payload, size_t length);

    // Device commands, back to back as the server encodes them. `own`: the
    // device executes them itself (execute-sync-commands) rather than hearing
    // them in a sync, where only those after a select of its address concern it.
    void ApplyCommands(const uint8_t* commands, size_t length, bool own);
    // Takes out the timed commands due by `network_time` (inclusive; a time more than
    // half the 32-bit range ahead counts as past), oldest first.
    std::vector<sim_timed_command_t> TakeDueCommands(uint32_t network_time);
    // Carries out one timed command whose time has come.
    void ExecuteTimedCommand(const sim_timed_command_t& command);
    // Power-on state: no address, no schedule, passthroughs off, syncs stopped.
    void Reset();

    // State, read and written by the simulator thread.
    uint16_t network_id = kSimUnassignedNetworkId;
    bool addressed = false;  // has heard its own address set
    bool rx_passthrough = false;
    bool tx_passthrough = false;
    bool receiving = false;  // continuous reception ordered
    bool transmitting = false;
    uint16_t transmission_type = 0;
    uint32_t transmit_time = 0;  // network time of the first transmission
    uint32_t transmit_rate = 0;  // network time between transmissions
    uint16_t anchor_report_payload_size = 0;
    uint16_t user_data_size = 0;
    sensors_config_t sensors{};
    cmd_set_rf_settings_t rf_settings{};
    uint8_t led_operation = 0;
    std::vector<uint8_t> collector_pairs;
    // The master's syncs: the start-sync values and the commands it carries in its next sync.
    bool syncing = false;
    ssp_cmd_start_sync_t sync_parameters{};
    std::vector<uint8_t> sync_commands;
    uint8_t sync_command_count = 0;
    uint32_t commands_received = 0;  // SSP commands from the server
    uint32_t resets = 0;

  private:
    void ApplyCommand(const uint8_t* command, uint8_t size);

    sim_device_t config_;
    SimClock clock_;
    std::vector<sim_timed_command_t> timed_;
};
