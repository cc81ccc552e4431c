#pragma once
// Device command 0x13: address the commands that follow to one device.
// Only type and len are the record; len says 4 because the command class
// appends the selected network id (u16) after it.

#include <cstdint>

struct cmd_select_device_addr_t {
    uint8_t type;  // 0x13
    uint8_t len;   // 4
};

int CmdSelectDeviceAddr_FromBuff(const uint8_t* buffer, cmd_select_device_addr_t* record);
int CmdSelectDeviceAddr_ToBuff(uint8_t* buffer, const cmd_select_device_addr_t* record);
// 2: the appended network id is not counted.
int CmdSelectDeviceAddr_Size();
