#include "protocol/reports/derazud_data_tag.h"

#include "base/byte_order.h"

int DerAzudDataTag_FromBuff(derazud_data_tag_t* record, const uint8_t* buffer, int length) {
    if (length < kDerAzudDataTagSize) {
        return -1;
    }
    record->length = wire::read_be16(buffer);
    record->type = wire::read_be16(buffer + 2);
    return kDerAzudDataTagSize;
}

int DerAzudDataTag_ToBuff(uint8_t* buffer, int length, const derazud_data_tag_t* record) {
    if (length < kDerAzudDataTagSize) {
        return -1;
    }
    wire::write_be16(buffer, record->length);
    wire::write_be16(buffer + 2, record->type);
    return kDerAzudDataTagSize;
}

void DerAzudDataTag_Cleanup(derazud_data_tag_t*) {}
