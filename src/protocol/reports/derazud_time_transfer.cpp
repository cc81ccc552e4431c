#include "protocol/reports/derazud_time_transfer.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

static_assert(kDerAzudTimeTransferSize == device_protocol::kPacketRtlsTagReportSize + 4, "head and u32");

int DerAzudTimeTransfer_FromBuff(derazud_time_transfer_t* record, const uint8_t* buffer) {
    const int head = PacketRtlsTagReport_FromBuff(buffer, &record->report);
    record->serial_number = wire::read_be32(buffer + head);
    return kDerAzudTimeTransferSize;
}

int DerAzudTimeTransfer_ToBuff(uint8_t* buffer, const derazud_time_transfer_t* record) {
    const int head = PacketRtlsTagReport_ToBuff(buffer, &record->report);
    wire::write_be32(buffer + head, record->serial_number);
    return kDerAzudTimeTransferSize;
}

void DerAzudTimeTransfer_Cleanup(derazud_time_transfer_t*) {}
