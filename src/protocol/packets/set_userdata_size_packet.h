#pragma once
// Device command 0x1C: the size of a tag's user data in bytes.

#include <cstdint>

struct cmd_set_userdata_size_t {
    uint8_t type;  // 0x1C
    uint8_t len;   // 4
    uint16_t user_data_size;
};

int CmdSetUserdataSize_FromBuff(const uint8_t* buffer, cmd_set_userdata_size_t* record);
int CmdSetUserdataSize_ToBuff(uint8_t* buffer, const cmd_set_userdata_size_t* record);
int CmdSetUserdataSize_Size();
