#include "protocol/reports/derazud_ssp_response.h"

#include "base/byte_order.h"

int DerAzudSspResponse_FromBuff(derazud_ssp_response_t* record, const uint8_t* buffer) {
    record->sub_id = buffer[0];
    record->result = wire::read_be32(buffer + 1);
    return kDerAzudSspResponseSize;
}

int DerAzudSspResponse_ToBuff(uint8_t* buffer, const derazud_ssp_response_t* record) {
    buffer[0] = record->sub_id;
    wire::write_be32(buffer + 1, record->result);
    return kDerAzudSspResponseSize;
}

void DerAzudSspResponse_Cleanup(derazud_ssp_response_t*) {}
