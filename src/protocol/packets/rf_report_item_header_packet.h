#pragma once
// Head of one anchor report item: how and when the reporting anchor received
// the packet the item's body describes.

#include <cstdint>

#include "protocol/packets/signal_strength.h"

struct rf_packet_report_item_header_t {
    uint8_t item_type;  // 16 compact, 17 full
    uint16_t length;
    uint64_t receive_time;  // 40-bit device time
    signal_strength_t signal_strength;
};

int PacketRfReportItemHeader_FromBuff(const uint8_t* buffer, rf_packet_report_item_header_t* record);
// Writes the low 40 bits of receive_time.
int PacketRfReportItemHeader_ToBuff(uint8_t* buffer, const rf_packet_report_item_header_t* record);
int PacketRfReportItemHeader_Size();
