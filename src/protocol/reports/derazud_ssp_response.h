#pragma once
// A device's response to an SSP command as a report record.

#include <cstdint>

struct derazud_ssp_response_t {
    uint8_t sub_id;
    uint32_t result;
};

constexpr int kDerAzudSspResponseSize = 5;

// Fixed size: the caller guarantees 5 bytes. Both return 5.
int DerAzudSspResponse_FromBuff(derazud_ssp_response_t* record, const uint8_t* buffer);
int DerAzudSspResponse_ToBuff(uint8_t* buffer, const derazud_ssp_response_t* record);
void DerAzudSspResponse_Cleanup(derazud_ssp_response_t* record);
