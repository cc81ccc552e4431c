#include "protocol/packets/select_device_addr_packet.h"

#include "protocol/packets/device_protocol.h"

int CmdSelectDeviceAddr_FromBuff(const uint8_t* buffer, cmd_select_device_addr_t* record) {
    record->type = buffer[0];
    record->len = buffer[1];
    return device_protocol::kCmdSelectDeviceAddrSize;
}

int CmdSelectDeviceAddr_ToBuff(uint8_t* buffer, const cmd_select_device_addr_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->len;
    return device_protocol::kCmdSelectDeviceAddrSize;
}

int CmdSelectDeviceAddr_Size() {
    return device_protocol::kCmdSelectDeviceAddrSize;
}
