#pragma once
// RF packet 21, the location tag report (a tag's beacon). The tag's
// payload_length bytes of trickled user data follow the 7-byte head.

#include <cstdint>

struct packet_rtls_tag_report_t {
    uint8_t type;  // 21
    uint8_t sequence;
    uint16_t network_id;  // of the tag
    uint8_t byte_4;       // passed on unchanged in the ping item
    uint16_t payload_length;
};

int PacketRtlsTagReport_FromBuff(const uint8_t* buffer, packet_rtls_tag_report_t* record);
int PacketRtlsTagReport_ToBuff(uint8_t* buffer, const packet_rtls_tag_report_t* record);
int PacketRtlsTagReport_Size();
