#pragma once
// Device command 0x15: receive from a given time on. Both reception
// parameters 0 means receive continuously.

#include <cstdint>

struct cmd_receive_t {
    uint8_t type;  // 0x15
    uint8_t len;   // 14
    uint32_t execution_time;
    uint32_t reception_parameter_1;
    uint32_t reception_parameter_2;
};

int CmdReceive_FromBuff(const uint8_t* buffer, cmd_receive_t* record);
int CmdReceive_ToBuff(uint8_t* buffer, const cmd_receive_t* record);
int CmdReceive_Size();
