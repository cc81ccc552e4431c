#pragma once
// Device command 0x16: switch the RF settings of the network, optionally at
// a given network time. Stored whole in the settings and sent as it is.

#include <cstdint>

struct cmd_set_rf_settings_t {
    uint8_t type;  // 0x16
    uint8_t len;   // 20
    // Network time at which the device switches; 0 as built from the configuration.
    uint32_t execution_time;
    // The ten setting bytes (wire offsets 6 to 15) travel uninterpreted.
    // Offset 6: 0 for this server's own network, 1 in records of known
    // networks; the sync commands reuse it as the timed flag.
    uint8_t timed_flag;
    uint8_t channel_number;
    uint8_t prf_flag;  // 1 for 64 MHz, 0 for 16 MHz pulse repetition frequency
    uint8_t preamble_length_code;
    uint8_t second_preamble_code;  // the PAC code derived from the preamble length
    uint8_t transmit_preamble_code;
    uint8_t receive_preamble_code;
    uint8_t setting_byte_7;  // 1 as built
    uint8_t bit_rate_code;   // 0 for 110 kbps, 1 for 850 kbps, 2 otherwise
    uint8_t setting_byte_9;  // 1 as built
    uint32_t transmit_power_code;
};

int CmdSetRfSettings_FromBuff(const uint8_t* buffer, cmd_set_rf_settings_t* record);
int CmdSetRfSettings_ToBuff(uint8_t* buffer, const cmd_set_rf_settings_t* record);
int CmdSetRfSettings_Size();
