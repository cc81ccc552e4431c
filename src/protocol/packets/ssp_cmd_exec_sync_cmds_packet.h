#pragma once
// SSP command 5: device commands for the attached device to execute itself.
// Laid out as the set-sync-commands head.

#include <cstdint>

#include "protocol/packets/ssp_cmd_set_sync_cmds_packet.h"

using ssp_cmd_exec_sync_cmds_t = ssp_cmd_set_sync_cmds_t;

int SspCmdExecSyncCmds_FromBuff(const uint8_t* buffer, ssp_cmd_exec_sync_cmds_t* record);
int SspCmdExecSyncCmds_ToBuff(uint8_t* buffer, const ssp_cmd_exec_sync_cmds_t* record);
int SspCmdExecSyncCmds_Size();
