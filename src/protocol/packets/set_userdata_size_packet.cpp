#include "protocol/packets/set_userdata_size_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int CmdSetUserdataSize_FromBuff(const uint8_t* buffer, cmd_set_userdata_size_t* record) {
    record->type = buffer[0];
    record->len = buffer[1];
    record->user_data_size = wire::read_be16(buffer + 2);
    return device_protocol::kCmdSetUserdataSizeSize;
}

int CmdSetUserdataSize_ToBuff(uint8_t* buffer, const cmd_set_userdata_size_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->len;
    wire::write_be16(buffer + 2, record->user_data_size);
    return device_protocol::kCmdSetUserdataSizeSize;
}

int CmdSetUserdataSize_Size() {
    return device_protocol::kCmdSetUserdataSizeSize;
}
