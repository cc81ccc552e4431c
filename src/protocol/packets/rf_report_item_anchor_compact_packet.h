#pragma once
// Body of a compact anchor report item (item type 16): a sync or anchor
// report the reporting anchor received from another device.

#include <cstdint>

struct rf_packet_report_item_anchor_compact_t {
    uint8_t sequence;
    uint16_t network_id;           // of the transmitter
    uint8_t received_packet_type;  // 16 sync or 19 anchor report
    uint8_t byte_4;
    uint64_t transmit_time;  // 40-bit device time
};

int PacketRfReportItemAnchorCompact_FromBuff(const uint8_t* buffer,
                                             rf_packet_report_item_anchor_compact_t* record);
// Writes the low 40 bits of transmit_time.
int PacketRfReportItemAnchorCompact_ToBuff(uint8_t* buffer,
                                           const rf_packet_report_item_anchor_compact_t* record);
int PacketRfReportItemAnchorCompact_Size();
