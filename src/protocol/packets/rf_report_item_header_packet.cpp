#include "protocol/packets/rf_report_item_header_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/signal_strength_packet.h"

int PacketRfReportItemHeader_FromBuff(const uint8_t* buffer, rf_packet_report_item_header_t* record) {
    record->item_type = buffer[0];
    record->length = wire::read_be16(buffer + 1);
    record->receive_time = wire::read_be40(buffer + 3);
    SignalStrength_FromBuff(buffer + 8, &record->signal_strength);
    return device_protocol::kPacketRfReportItemHeaderSize;
}

int PacketRfReportItemHeader_ToBuff(uint8_t* buffer, const rf_packet_report_item_header_t* record) {
    buffer[0] = record->item_type;
    wire::write_be16(buffer + 1, record->length);
    wire::write_be40(buffer + 3, record->receive_time);
    SignalStrength_ToBuff(buffer + 8, &record->signal_strength);
    return device_protocol::kPacketRfReportItemHeaderSize;
}

int PacketRfReportItemHeader_Size() {
    return device_protocol::kPacketRfReportItemHeaderSize;
}
