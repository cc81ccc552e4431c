#pragma once
// Head of an RF transmit passthrough payload (SSP type 0x14): the RF packet
// of rf_packet_length bytes the device sent follows.

#include <cstdint>

struct ssp_cmd_set_tx_passthrough_data_t {
    uint8_t type;  // 0x14
    uint8_t byte_1;
    uint16_t rf_packet_length;
};

int SspCmdSetTxPassthrough_Data_FromBuff(const uint8_t* buffer, ssp_cmd_set_tx_passthrough_data_t* record);
int SspCmdSetTxPassthrough_Data_ToBuff(uint8_t* buffer, const ssp_cmd_set_tx_passthrough_data_t* record);
int SspCmdSetTxPassthrough_Data_Size();
