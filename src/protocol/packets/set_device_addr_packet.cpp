#include "protocol/packets/set_device_addr_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int CmdSetDeviceAddr_FromBuff(const uint8_t* buffer, cmd_set_device_addr_t* record) {
    record->type = buffer[0];
    record->len = buffer[1];
    record->serial_number = wire::read_be32(buffer + 2);
    record->network_id = wire::read_be16(buffer + 6);
    return device_protocol::kCmdSetDeviceAddrSize;
}

int CmdSetDeviceAddr_ToBuff(uint8_t* buffer, const cmd_set_device_addr_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->len;
    wire::write_be32(buffer + 2, record->serial_number);
    wire::write_be16(buffer + 6, record->network_id);
    return device_protocol::kCmdSetDeviceAddrSize;
}

int CmdSetDeviceAddr_Size() {
    return device_protocol::kCmdSetDeviceAddrSize;
}
