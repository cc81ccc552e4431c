#pragma once
// Device command 0x10: run an LED operation for a while.

#include <cstdint>

struct cmd_led_control_t {
    uint8_t type;  // 0x10
    uint8_t len;   // 11
    uint32_t execution_time;
    uint32_t duration;
    uint8_t led_operation;
};

int CmdLedControl_FromBuff(const uint8_t* buffer, cmd_led_control_t* record);
int CmdLedControl_ToBuff(uint8_t* buffer, const cmd_led_control_t* record);
int CmdLedControl_Size();
