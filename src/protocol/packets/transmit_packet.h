#pragma once
// Device command 0x14: transmit (beacons, syncs ...) from a given time on,
// repeating at the given rate.

#include <cstdint>

struct cmd_transmit_t {
    uint8_t type;  // 0x14
    uint8_t len;   // 12
    uint16_t transmission_type;
    uint32_t execution_time;
    uint32_t repeat_rate;
};

int CmdTransmit_FromBuff(const uint8_t* buffer, cmd_transmit_t* record);
int CmdTransmit_ToBuff(uint8_t* buffer, const cmd_transmit_t* record);
int CmdTransmit_Size();
