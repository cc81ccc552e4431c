#include "protocol/packets/split_sync_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int CmdSplitSync_FromBuff(const uint8_t* buffer, cmd_split_sync_t* record) {
    record->type = buffer[0];
    record->len = buffer[1];
    record->field_2 = wire::read_be32(buffer + 2);
    record->field_6 = wire::read_be32(buffer + 6);
    record->byte_10 = buffer[10];
    record->byte_11 = buffer[11];
    return device_protocol::kCmdSplitSyncSize;
}

int CmdSplitSync_ToBuff(uint8_t* buffer, const cmd_split_sync_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->len;
    wire::write_be32(buffer + 2, record->field_2);
    wire::write_be32(buffer + 6, record->field_6);
    buffer[10] = record->byte_10;
    buffer[11] = record->byte_11;
    return device_protocol::kCmdSplitSyncSize;
}

int CmdSplitSync_Size() {
    return device_protocol::kCmdSplitSyncSize;
}
