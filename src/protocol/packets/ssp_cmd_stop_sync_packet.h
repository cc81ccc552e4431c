#pragma once
// SSP command 6: stop sending syncs. Nothing follows type and sub-id.

#include <cstdint>

#include "protocol/packets/ssp_cmd_packet.h"

using ssp_cmd_stop_sync_t = ssp_cmd_t;

int SspCmdStopSync_FromBuff(const uint8_t* buffer, ssp_cmd_stop_sync_t* record);
int SspCmdStopSync_ToBuff(uint8_t* buffer, const ssp_cmd_stop_sync_t* record);
int SspCmdStopSync_Size();
