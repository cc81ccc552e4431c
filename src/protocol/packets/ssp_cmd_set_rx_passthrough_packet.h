#pragma once
// SSP command 2: pass the RF packets the device receives on to the server.

#include <cstdint>

struct ssp_cmd_set_rx_passthrough_t {
    uint8_t type;    // 0x11
    uint8_t sub_id;  // 2
    uint8_t enable;  // 0 off, any other value on
};

int SspCmdSetRxPassthrough_FromBuff(const uint8_t* buffer, ssp_cmd_set_rx_passthrough_t* record);
int SspCmdSetRxPassthrough_ToBuff(uint8_t* buffer, const ssp_cmd_set_rx_passthrough_t* record);
int SspCmdSetRxPassthrough_Size();
