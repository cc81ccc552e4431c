#pragma once
// Device command 0x12: give the device with this serial number its network id.

#include <cstdint>

struct cmd_set_device_addr_t {
    uint8_t type;  // 0x12
    uint8_t len;   // 8
    uint32_t serial_number;
    uint16_t network_id;
};

int CmdSetDeviceAddr_FromBuff(const uint8_t* buffer, cmd_set_device_addr_t* record);
int CmdSetDeviceAddr_ToBuff(uint8_t* buffer, const cmd_set_device_addr_t* record);
int CmdSetDeviceAddr_Size();
