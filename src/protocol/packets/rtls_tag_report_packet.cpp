#include "protocol/packets/rtls_tag_report_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int PacketRtlsTagReport_FromBuff(const uint8_t* buffer, packet_rtls_tag_report_t* record) {
    record->type = buffer[0];
    record->sequence = buffer[1];
    record->network_id = wire::read_be16(buffer + 2);
    record->byte_4 = buffer[4];
    record->payload_length = wire::read_be16(buffer + 5);
    return device_protocol::kPacketRtlsTagReportSize;
}

int PacketRtlsTagReport_ToBuff(uint8_t* buffer, const packet_rtls_tag_report_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->sequence;
    wire::write_be16(buffer + 2, record->network_id);
    buffer[4] = record->byte_4;
    wire::write_be16(buffer + 5, record->payload_length);
    return device_protocol::kPacketRtlsTagReportSize;
}

int PacketRtlsTagReport_Size() {
    return device_protocol::kPacketRtlsTagReportSize;
}
