#pragma once
// A list of range differences of arrival with the collecting node's head.

#include <cstdint>

#include "protocol/reports/derazud_rdoa.h"

struct derazud_rdoa_rpt_t {
    uint64_t creation_time;
    uint64_t serial_number;
    uint16_t network_id;
    int16_t count;          // below 1: no entries
    derazud_rdoa_t* rdoas;  // heap array of count records, owned
};

constexpr int kDerAzudRdoaRptHeadSize = 20;

// Returns the bytes read; -1 when the head or the entries would run past
// length (the record is then left with count 0 and no array); 0 with count 0
// when the array cannot be allocated. Decode into a clean or cleaned record.
int DerAzudRdoaRpt_FromBuff(derazud_rdoa_rpt_t* record, const uint8_t* buffer, int length);
// The buffer must hold DerAzudRdoaRpt_EncodedSize(record) bytes.
int DerAzudRdoaRpt_ToBuff(uint8_t* buffer, const derazud_rdoa_rpt_t* record);
int DerAzudRdoaRpt_EncodedSize(const derazud_rdoa_rpt_t* record);
// Frees the array; count becomes 0.
void DerAzudRdoaRpt_Cleanup(derazud_rdoa_rpt_t* record);
