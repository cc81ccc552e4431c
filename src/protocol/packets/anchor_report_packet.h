#pragma once
// RF packet 19: an anchor's report, followed on the air by its report items
// (each an rf_packet_report_item_header_t and a body).

#include <cstdint>

struct packet_anchor_report_t {
    uint8_t type;  // 19
    uint8_t sequence;
    uint16_t network_id;     // of the reporting anchor
    uint64_t transmit_time;  // 40-bit device time
    uint8_t number_of_report_items;
};

int PacketAnchorReport_FromBuff(const uint8_t* buffer, packet_anchor_report_t* record);
// Writes the low 40 bits of transmit_time.
int PacketAnchorReport_ToBuff(uint8_t* buffer, const packet_anchor_report_t* record);
int PacketAnchorReport_Size();
