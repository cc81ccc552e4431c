#pragma once
// A time-of-arrival report: every anchor's reception of one tag transmission,
// gathered by the tag's node and handed to the position solver.

#include <cstdint>

#include "protocol/reports/derazud_toa.h"

struct derazud_toa_rpt_t {
    uint64_t creation_time;  // ms since the epoch
    uint64_t serial_number;  // of the node that collected the report
    uint16_t network_id;     // of that node
    int16_t count;           // below 1: no entries
    uint16_t sequence;       // of the tag transmission
    derazud_toa_t* toas;     // heap array of count records, owned
};

constexpr int kDerAzudToaRptHeadSize = 22;

// Returns the bytes read; -1 when the head or the entries would run past
// length (the record is then left with count 0 and no array); 0 with count 0
// when the array cannot be allocated. Decode into a clean or cleaned record.
int DerAzudToaRpt_FromBuff(derazud_toa_rpt_t* record, const uint8_t* buffer, int length);
// The buffer must hold DerAzudToaRpt_EncodedSize(record) bytes.
int DerAzudToaRpt_ToBuff(uint8_t* buffer, const derazud_toa_rpt_t* record);
int DerAzudToaRpt_EncodedSize(const derazud_toa_rpt_t* record);
// Frees the array; count becomes 0.
void DerAzudToaRpt_Cleanup(derazud_toa_rpt_t* record);
