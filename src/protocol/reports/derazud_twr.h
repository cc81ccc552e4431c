#pragma once
// A two-way-ranging result between two devices.

#include <cstdint>

struct derazud_twr_t {
    uint64_t initiator_serial_number;
    uint64_t responder_serial_number;
    uint32_t sequence;
    uint32_t distance;
    uint32_t network_time;
};

constexpr int kDerAzudTwrSize = 28;

// Fixed size: the caller guarantees 28 bytes. Both return 28.
int DerAzudTwr_FromBuff(derazud_twr_t* record, const uint8_t* buffer);
int DerAzudTwr_ToBuff(uint8_t* buffer, const derazud_twr_t* record);
void DerAzudTwr_Cleanup(derazud_twr_t* record);
