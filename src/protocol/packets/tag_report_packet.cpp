#include "protocol/packets/tag_report_packet.h"

int PacketTagReport_FromBuff(const uint8_t* buffer, packet_tag_report_t* record) {
    return PacketAnchorReport_FromBuff(buffer, record);
}

int PacketTagReport_ToBuff(uint8_t* buffer, const packet_tag_report_t* record) {
    return PacketAnchorReport_ToBuff(buffer, record);
}

int PacketTagReport_Size() {
    return PacketAnchorReport_Size();
}
