#include "protocol/packets/time_transfer_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int TimeTransferPkt_FromBuff(const uint8_t* buffer, time_transfer_pkt_t* record) {
    record->type = buffer[0];
    record->byte_1 = buffer[1];
    record->field_2 = wire::read_be16(buffer + 2);
    record->time = wire::read_be40(buffer + 4);
    return device_protocol::kTimeTransferPktSize;
}

int TimeTransferPkt_ToBuff(uint8_t* buffer, const time_transfer_pkt_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->byte_1;
    wire::write_be16(buffer + 2, record->field_2);
    wire::write_be40(buffer + 4, record->time);
    return device_protocol::kTimeTransferPktSize;
}

int TimeTransferPkt_Size() {
    return device_protocol::kTimeTransferPktSize;
}
