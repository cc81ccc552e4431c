#include "protocol/reports/derazud_rdoa_rpt.h"

#include "base/byte_order.h"
#include "protocol/reports/derazud_codec.h"

int DerAzudRdoaRpt_FromBuff(derazud_rdoa_rpt_t* record, const uint8_t* buffer, int length) {
    return derazud_codec::ReadListRecord(
        buffer, length, kDerAzudRdoaRptHeadSize, &record->count, &record->rdoas, kDerAzudRdoaSize,
        [&] {
            record->creation_time = wire::read_be64(buffer);
            record->serial_number = wire::read_be64(buffer + 8);
            record->network_id = wire::read_be16(buffer + 16);
            return wire::read_be16s(buffer + 18);
        },
        DerAzudRdoa_FromBuff);
}

int DerAzudRdoaRpt_ToBuff(uint8_t* buffer, const derazud_rdoa_rpt_t* record) {
    return derazud_codec::WriteListRecord(
        buffer, kDerAzudRdoaRptHeadSize, record->count, record->rdoas,
        [&](int16_t count) {
            wire::write_be64(buffer, record->creation_time);
            wire::write_be64(buffer + 8, record->serial_number);
            wire::write_be16(buffer + 16, record->network_id);
            wire::write_be16s(buffer + 18, count);
        },
        DerAzudRdoa_ToBuff);
}

int DerAzudRdoaRpt_EncodedSize(const derazud_rdoa_rpt_t* record) {
    return kDerAzudRdoaRptHeadSize +
           kDerAzudRdoaSize * derazud_codec::ItemsPresent(record->count, record->rdoas);
}

void DerAzudRdoaRpt_Cleanup(derazud_rdoa_rpt_t* record) {
    derazud_codec::FreeList(&record->rdoas);
    record->count = 0;
}
