#pragma once
// Data tag: the type and length that lead a report record. On the wire the
// length comes first.

#include <cstdint>

struct derazud_data_tag_t {
    uint16_t type;
    uint16_t length;
};

constexpr int kDerAzudDataTagSize = 4;

// Both return 4, or -1 when length is below 4.
int DerAzudDataTag_FromBuff(derazud_data_tag_t* record, const uint8_t* buffer, int length);
int DerAzudDataTag_ToBuff(uint8_t* buffer, int length, const derazud_data_tag_t* record);
void DerAzudDataTag_Cleanup(derazud_data_tag_t* record);
