#include "protocol/reports/derazud_rdoa.h"

#include "base/byte_order.h"

int DerAzudRdoa_FromBuff(derazud_rdoa_t* record, const uint8_t* buffer) {
    record->anchor_serial_number = wire::read_be64(buffer);
    record->anchor_network_id = wire::read_be16(buffer + 8);
    record->reference_serial_number = wire::read_be64(buffer + 10);
    record->reference_network_id = wire::read_be16(buffer + 18);
    record->rdoa = wire::read_be32(buffer + 20);
    return kDerAzudRdoaSize;
}

int DerAzudRdoa_ToBuff(uint8_t* buffer, const derazud_rdoa_t* record) {
    wire::write_be64(buffer, record->anchor_serial_number);
    wire::write_be16(buffer + 8, record->anchor_network_id);
    wire::write_be64(buffer + 10, record->reference_serial_number);
    wire::write_be16(buffer + 18, record->reference_network_id);
    wire::write_be32(buffer + 20, record->rdoa);
    return kDerAzudRdoaSize;
}

void DerAzudRdoa_Cleanup(derazud_rdoa_t*) {}
