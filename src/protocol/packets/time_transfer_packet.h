#pragma once
// RF packet 22, time transfer. Received ones are dropped; nothing sends it.

#include <cstdint>

struct time_transfer_pkt_t {
    uint8_t type;  // 22
    uint8_t byte_1;
    uint16_t field_2;
    uint64_t time;  // 40-bit device time
};

int TimeTransferPkt_FromBuff(const uint8_t* buffer, time_transfer_pkt_t* record);
// Writes the low 40 bits of time.
int TimeTransferPkt_ToBuff(uint8_t* buffer, const time_transfer_pkt_t* record);
int TimeTransferPkt_Size();
