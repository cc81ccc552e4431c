#pragma once
// Device command 0x17: reset the device at the given network time.

#include <cstdint>

struct cmd_reset_device_t {
    uint8_t type;  // 0x17
    uint8_t len;   // 6
    uint32_t execution_time;
};

int CmdResetDevice_FromBuff(const uint8_t* buffer, cmd_reset_device_t* record);
int CmdResetDevice_ToBuff(uint8_t* buffer, const cmd_reset_device_t* record);
int CmdResetDevice_Size();
