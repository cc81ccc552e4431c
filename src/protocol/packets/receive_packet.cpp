#include "protocol/packets/receive_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int CmdReceive_FromBuff(const uint8_t* buffer, cmd_receive_t* record) {
    record->type = buffer[0];
    record->len = buffer[1];
    record->execution_time = wire::read_be32(buffer + 2);
    record->reception_parameter_1 = wire::read_be32(buffer + 6);
    record->reception_parameter_2 = wire::read_be32(buffer + 10);
    return device_protocol::kCmdReceiveSize;
}

int CmdReceive_ToBuff(uint8_t* buffer, const cmd_receive_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->len;
    wire::write_be32(buffer + 2, record->execution_time);
    wire::write_be32(buffer + 6, record->reception_parameter_1);
    wire::write_be32(buffer + 10, record->reception_parameter_2);
    return device_protocol::kCmdReceiveSize;
}

int CmdReceive_Size() {
    return device_protocol::kCmdReceiveSize;
}
