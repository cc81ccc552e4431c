#pragma once
// Split-sync device command: type, len and four values. The server never
// sends it.

#include <cstdint>

struct cmd_split_sync_t {
    uint8_t type;
    uint8_t len;
    uint32_t field_2;
    uint32_t field_6;
    uint8_t byte_10;
    uint8_t byte_11;
};

int CmdSplitSync_FromBuff(const uint8_t* buffer, cmd_split_sync_t* record);
int CmdSplitSync_ToBuff(uint8_t* buffer, const cmd_split_sync_t* record);
int CmdSplitSync_Size();
