#include "protocol/reports/derazud_pos3_rpt.h"

#include "base/byte_order.h"
#include "protocol/reports/derazud_codec.h"

int DerAzudPos3Rpt_FromBuff(derazud_pos3_rpt_t* record, const uint8_t* buffer, int length) {
    return derazud_codec::ReadListRecord(
        buffer, length, kDerAzudPos3RptHeadSize, &record->count, &record->positions, kDerAzudPos3Size,
        [&] {
            record->creation_time = wire::read_be64(buffer);
            record->sequence = wire::read_be16(buffer + 8);
            return wire::read_be16s(buffer + 10);
        },
        DerAzudPos3_FromBuff);
}

int DerAzudPos3Rpt_ToBuff(uint8_t* buffer, const derazud_pos3_rpt_t* record) {
    return derazud_codec::WriteListRecord(
        buffer, kDerAzudPos3RptHeadSize, record->count, record->positions,
        [&](int16_t count) {
            wire::write_be64(buffer, record->creation_time);
            wire::write_be16(buffer + 8, record->sequence);
            wire::write_be16s(buffer + 10, count);
        },
        DerAzudPos3_ToBuff);
}

int DerAzudPos3Rpt_EncodedSize(const derazud_pos3_rpt_t* record) {
    return kDerAzudPos3RptHeadSize +
           kDerAzudPos3Size * derazud_codec::ItemsPresent(record->count, record->positions);
}

void DerAzudPos3Rpt_Cleanup(derazud_pos3_rpt_t* record) {
    derazud_codec::FreeList(&record->positions);
    record->count = 0;
}
