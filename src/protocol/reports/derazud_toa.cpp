#include "protocol/reports/derazud_toa.h"

#include "base/byte_order.h"

int DerAzudToa_FromBuff(derazud_toa_t* record, const uint8_t* buffer) {
    record->anchor_serial_number = wire::read_be64(buffer);
    record->anchor_network_id = wire::read_be16(buffer + 8);
    record->toa = wire::bit_cast<int64_t>(wire::read_be64(buffer + 10));
    record->first_path_power = wire::bit_cast<double>(wire::read_be64(buffer + 18));
    record->total_power = wire::bit_cast<double>(wire::read_be64(buffer + 26));
    return kDerAzudToaSize;
}

int DerAzudToa_ToBuff(uint8_t* buffer, const derazud_toa_t* record) {
    wire::write_be64(buffer, record->anchor_serial_number);
    wire::write_be16(buffer + 8, record->anchor_network_id);
    wire::write_be64(buffer + 10, wire::bit_cast<uint64_t>(record->toa));
    wire::write_be64(buffer + 18, wire::bit_cast<uint64_t>(record->first_path_power));
    wire::write_be64(buffer + 26, wire::bit_cast<uint64_t>(record->total_power));
    return kDerAzudToaSize;
}

void DerAzudToa_Cleanup(derazud_toa_t*) {}
