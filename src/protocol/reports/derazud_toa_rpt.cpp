#include "protocol/reports/derazud_toa_rpt.h"

#include "base/byte_order.h"
#include "protocol/reports/derazud_codec.h"

int DerAzudToaRpt_FromBuff(derazud_toa_rpt_t* record, const uint8_t* buffer, int length) {
    return derazud_codec::ReadListRecord(
        buffer, length, kDerAzudToaRptHeadSize, &record->count, &record->toas, kDerAzudToaSize,
        [&] {
            record->creation_time = wire::read_be64(buffer);
            record->serial_number = wire::read_be64(buffer + 8);
            record->network_id = wire::read_be16(buffer + 16);
            record->sequence = wire::read_be16(buffer + 20);
            return wire::read_be16s(buffer + 18);
        },
        DerAzudToa_FromBuff);
}

int DerAzudToaRpt_ToBuff(uint8_t* buffer, const derazud_toa_rpt_t* record) {
    return derazud_codec::WriteListRecord(
        buffer, kDerAzudToaRptHeadSize, record->count, record->toas,
        [&](int16_t count) {
            wire::write_be64(buffer, record->creation_time);
            wire::write_be64(buffer + 8, record->serial_number);
            wire::write_be16(buffer + 16, record->network_id);
            wire::write_be16s(buffer + 18, count);
            wire::write_be16(buffer + 20, record->sequence);
        },
        DerAzudToa_ToBuff);
}

int DerAzudToaRpt_EncodedSize(const derazud_toa_rpt_t* record) {
    return kDerAzudToaRptHeadSize +
           kDerAzudToaSize * derazud_codec::ItemsPresent(record->count, record->toas);
}

void DerAzudToaRpt_Cleanup(derazud_toa_rpt_t* record) {
    derazud_codec::FreeList(&record->toas);
    record->count = 0;
}
