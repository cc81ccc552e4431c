#include "protocol/packets/ssp_cmd_set_sync_cmds_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int SspCmdSetSyncCmds_FromBuff(const uint8_t* buffer, ssp_cmd_set_sync_cmds_t* record) {
    record->type = buffer[0];
    record->sub_id = buffer[1];
    record->byte_count = wire::read_be16(buffer + 2);
    record->number_of_commands = buffer[4];
    return device_protocol::kSspCmdSetSyncCmdsSize;
}

int SspCmdSetSyncCmds_ToBuff(uint8_t* buffer, const ssp_cmd_set_sync_cmds_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->sub_id;
    wire::write_be16(buffer + 2, record->byte_count);
    buffer[4] = record->number_of_commands;
    return device_protocol::kSspCmdSetSyncCmdsSize;
}

int SspCmdSetSyncCmds_Size() {
    return device_protocol::kSspCmdSetSyncCmdsSize;
}
