#pragma once
// A list of positions with a small head.

#include <cstdint>

#include "protocol/reports/derazud_pos3.h"

struct derazud_pos3_rpt_t {
    uint64_t creation_time;
    uint16_t sequence;
    int16_t count;              // below 1: no positions
    derazud_pos3_t* positions;  // heap array of count records, owned
};

constexpr int kDerAzudPos3RptHeadSize = 12;

// Returns the bytes read; -1 when the head or the positions would run past
// length (the record is then left with count 0 and no array); 0 with count 0
// when the array cannot be allocated. Decode into a clean or cleaned record.
int DerAzudPos3Rpt_FromBuff(derazud_pos3_rpt_t* record, const uint8_t* buffer, int length);
// The buffer must hold DerAzudPos3Rpt_EncodedSize(record) bytes.
int DerAzudPos3Rpt_ToBuff(uint8_t* buffer, const derazud_pos3_rpt_t* record);
int DerAzudPos3Rpt_EncodedSize(const derazud_pos3_rpt_t* record);
// Frees the array; count becomes 0.
void DerAzudPos3Rpt_Cleanup(derazud_pos3_rpt_t* record);
