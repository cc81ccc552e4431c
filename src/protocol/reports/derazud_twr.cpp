#include "protocol/reports/derazud_twr.h"

#include "base/byte_order.h"

int DerAzudTwr_FromBuff(derazud_twr_t* record, const uint8_t* buffer) {
    record->initiator_serial_number = wire::read_be64(buffer);
    record->responder_serial_number = wire::read_be64(buffer + 8);
    record->sequence = wire::read_be32(buffer + 16);
    record->distance = wire::read_be32(buffer + 20);
    record->network_time = wire::read_be32(buffer + 24);
    return kDerAzudTwrSize;
}

int DerAzudTwr_ToBuff(uint8_t* buffer, const derazud_twr_t* record) {
    wire::write_be64(buffer, record->initiator_serial_number);
    wire::write_be64(buffer + 8, record->responder_serial_number);
    wire::write_be32(buffer + 16, record->sequence);
    wire::write_be32(buffer + 20, record->distance);
    wire::write_be32(buffer + 24, record->network_time);
    return kDerAzudTwrSize;
}

void DerAzudTwr_Cleanup(derazud_twr_t*) {}
