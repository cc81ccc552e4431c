#include "protocol/packets/ssp_cmd_exec_sync_cmds_packet.h"

int SspCmdExecSyncCmds_FromBuff(const uint8_t* buffer, ssp_cmd_exec_sync_cmds_t* record) {
    return SspCmdSetSyncCmds_FromBuff(buffer, record);
}

int SspCmdExecSyncCmds_ToBuff(uint8_t* buffer, const ssp_cmd_exec_sync_cmds_t* record) {
    return SspCmdSetSyncCmds_ToBuff(buffer, record);
}

int SspCmdExecSyncCmds_Size() {
    return SspCmdSetSyncCmds_Size();
}
