#include "protocol/packets/sync_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int PacketSync_FromBuff(const uint8_t* buffer, packet_sync_t* record) {
    record->type = buffer[0];
    record->sequence = buffer[1];
    record->network_id = wire::read_be16(buffer + 2);
    record->network_time = wire::read_be32(buffer + 4);
    record->byte_8 = buffer[8];
    record->field_9 = wire::read_be32(buffer + 9);
    record->byte_13 = buffer[13];
    record->byte_14 = buffer[14];
    record->field_15 = wire::read_be32(buffer + 15);
    record->transmit_time = wire::read_be40(buffer + 19);
    record->byte_24 = buffer[24];
    return device_protocol::kPacketSyncSize;
}

int PacketSync_ToBuff(uint8_t* buffer, const packet_sync_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->sequence;
    wire::write_be16(buffer + 2, record->network_id);
    wire::write_be32(buffer + 4, record->network_time);
    buffer[8] = record->byte_8;
    wire::write_be32(buffer + 9, record->field_9);
    buffer[13] = record->byte_13;
    buffer[14] = record->byte_14;
    wire::write_be32(buffer + 15, record->field_15);
    wire::write_be40(buffer + 19, record->transmit_time);
    buffer[24] = record->byte_24;
    return device_protocol::kPacketSyncSize;
}

int PacketSync_Size() {
    return device_protocol::kPacketSyncSize;
}
