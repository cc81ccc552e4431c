#pragma once
// Head of an RF receive passthrough payload (SSP type 0x13): when and how
// the device received the RF packet of rf_packet_length bytes that follows.

#include <cstdint>

#include "protocol/packets/signal_strength.h"

struct ssp_cmd_set_rx_passthrough_data_t {
    uint8_t type;  // 0x13
    uint8_t byte_1;
    uint64_t receive_time;  // 40-bit device time
    signal_strength_t signal_strength;
    uint16_t rf_packet_length;
};

int SspCmdSetRxPassthrough_Data_FromBuff(const uint8_t* buffer, ssp_cmd_set_rx_passthrough_data_t* record);
// Writes the low 40 bits of receive_time.
int SspCmdSetRxPassthrough_Data_ToBuff(uint8_t* buffer, const ssp_cmd_set_rx_passthrough_data_t* record);
int SspCmdSetRxPassthrough_Data_Size();
