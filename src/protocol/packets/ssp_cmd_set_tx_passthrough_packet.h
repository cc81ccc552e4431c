#pragma once
// SSP command 3: pass the RF packets the device transmits on to the server.
// Laid out as the receive passthrough command.

#include <cstdint>

#include "protocol/packets/ssp_cmd_set_rx_passthrough_packet.h"

using ssp_cmd_set_tx_passthrough_t = ssp_cmd_set_rx_passthrough_t;

int SspCmdSetTxPassthrough_FromBuff(const uint8_t* buffer, ssp_cmd_set_tx_passthrough_t* record);
int SspCmdSetTxPassthrough_ToBuff(uint8_t* buffer, const ssp_cmd_set_tx_passthrough_t* record);
int SspCmdSetTxPassthrough_Size();
