#include "protocol/packets/anchor_report_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int PacketAnchorReport_FromBuff(const uint8_t* buffer, packet_anchor_report_t* record) {
    record->type = buffer[0];
    record->sequence = buffer[1];
    record->network_id = wire::read_be16(buffer + 2);
    record->transmit_time = wire::read_be40(buffer + 4);
    record->number_of_report_items = buffer[9];
    return device_protocol::kPacketAnchorReportSize;
}

int PacketAnchorReport_ToBuff(uint8_t* buffer, const packet_anchor_report_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->sequence;
    wire::write_be16(buffer + 2, record->network_id);
    wire::write_be40(buffer + 4, record->transmit_time);
    buffer[9] = record->number_of_report_items;
    return device_protocol::kPacketAnchorReportSize;
}

int PacketAnchorReport_Size() {
    return device_protocol::kPacketAnchorReportSize;
}
