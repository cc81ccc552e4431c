#pragma once
// SSP command 4: device commands to carry in the master's sync packets.
// byte_count bytes of device commands follow this head.

#include <cstdint>

struct ssp_cmd_set_sync_cmds_t {
    uint8_t type;    // 0x11
    uint8_t sub_id;  // 4
    uint16_t byte_count;
    uint8_t number_of_commands;
};

int SspCmdSetSyncCmds_FromBuff(const uint8_t* buffer, ssp_cmd_set_sync_cmds_t* record);
int SspCmdSetSyncCmds_ToBuff(uint8_t* buffer, const ssp_cmd_set_sync_cmds_t* record);
int SspCmdSetSyncCmds_Size();
