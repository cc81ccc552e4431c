#pragma once
// A range difference of arrival between two anchors' receptions.

#include <cstdint>

struct derazud_rdoa_t {
    uint64_t anchor_serial_number;
    uint16_t anchor_network_id;
    uint64_t reference_serial_number;
    uint16_t reference_network_id;
    uint32_t rdoa;
};

constexpr int kDerAzudRdoaSize = 24;

// Fixed size: the caller guarantees 24 bytes. Both return 24.
int DerAzudRdoa_FromBuff(derazud_rdoa_t* record, const uint8_t* buffer);
int DerAzudRdoa_ToBuff(uint8_t* buffer, const derazud_rdoa_t* record);
void DerAzudRdoa_Cleanup(derazud_rdoa_t* record);
