#include "protocol/packets/rf_report_item_anchor_compact_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int PacketRfReportItemAnchorCompact_FromBuff(const uint8_t* buffer,
                                             rf_packet_report_item_anchor_compact_t* record) {
    record->sequence = buffer[0];
    record->network_id = wire::read_be16(buffer + 1);
    record->received_packet_type = buffer[3];
    record->byte_4 = buffer[4];
    record->transmit_time = wire::read_be40(buffer + 5);
    return device_protocol::kPacketRfReportItemAnchorCompactSize;
}

int PacketRfReportItemAnchorCompact_ToBuff(uint8_t* buffer,
                                           const rf_packet_report_item_anchor_compact_t* record) {
    buffer[0] = record->sequence;
    wire::write_be16(buffer + 1, record->network_id);
    buffer[3] = record->received_packet_type;
    buffer[4] = record->byte_4;
    wire::write_be40(buffer + 5, record->transmit_time);
    return device_protocol::kPacketRfReportItemAnchorCompactSize;
}

int PacketRfReportItemAnchorCompact_Size() {
    return device_protocol::kPacketRfReportItemAnchorCompactSize;
}
