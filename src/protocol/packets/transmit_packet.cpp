#include "protocol/packets/transmit_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int CmdTransmit_FromBuff(const uint8_t* buffer, cmd_transmit_t* record) {
    record->type = buffer[0];
    record->len = buffer[1];
    record->transmission_type = wire::read_be16(buffer + 2);
    record->execution_time = wire::read_be32(buffer + 4);
    record->repeat_rate = wire::read_be32(buffer + 8);
    return device_protocol::kCmdTransmitSize;
}

int CmdTransmit_ToBuff(uint8_t* buffer, const cmd_transmit_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->len;
    wire::write_be16(buffer + 2, record->transmission_type);
    wire::write_be32(buffer + 4, record->execution_time);
    wire::write_be32(buffer + 8, record->repeat_rate);
    return device_protocol::kCmdTransmitSize;
}

int CmdTransmit_Size() {
    return device_protocol::kCmdTransmitSize;
}
