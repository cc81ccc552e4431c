#include "protocol/packets/ssp_cmd_start_sync_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int SspCmdStartSync_FromBuff(const uint8_t* buffer, ssp_cmd_start_sync_t* record) {
    record->type = buffer[0];
    record->sub_id = buffer[1];
    record->sync_period = wire::read_be32(buffer + 2);
    record->fast_sync_factor = buffer[6];
    record->announcement_slot_start = wire::read_be32(buffer + 7);
    record->byte_11 = buffer[11];
    record->byte_12 = buffer[12];
    return device_protocol::kSspCmdStartSyncSize;
}

int SspCmdStartSync_ToBuff(uint8_t* buffer, const ssp_cmd_start_sync_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->sub_id;
    wire::write_be32(buffer + 2, record->sync_period);
    buffer[6] = record->fast_sync_factor;
    wire::write_be32(buffer + 7, record->announcement_slot_start);
    buffer[11] = record->byte_11;
    buffer[12] = record->byte_12;
    return device_protocol::kSspCmdStartSyncSize;
}

int SspCmdStartSync_Size() {
    return device_protocol::kSspCmdStartSyncSize;
}
