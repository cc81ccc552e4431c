#include "protocol/packets/reset_device_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int CmdResetDevice_FromBuff(const uint8_t* buffer, cmd_reset_device_t* record) {
    record->type = buffer[0];
    record->len = buffer[1];
    record->execution_time = wire::read_be32(buffer + 2);
    return device_protocol::kCmdResetDeviceSize;
}

int CmdResetDevice_ToBuff(uint8_t* buffer, const cmd_reset_device_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->len;
    wire::write_be32(buffer + 2, record->execution_time);
    return device_protocol::kCmdResetDeviceSize;
}

int CmdResetDevice_Size() {
    return device_protocol::kCmdResetDeviceSize;
}
