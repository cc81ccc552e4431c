#pragma once
// One item of an anchor report as it arrives over a link: the report item
// header, the serial number of the device concerned and the item's payload.

#include <cstdint>

#include "protocol/packets/rf_report_item_header_packet.h"

constexpr int kDerAzudAnchorRptItemPayloadCapacity = 1028;
constexpr int kDerAzudAnchorRptItemHeadSize = 24;  // item header and serial number

struct derazud_anchor_rpt_item_t {
    // Its length counts the 20-byte item header and the payload, not the
    // serial number.
    rf_packet_report_item_header_t header;
    uint32_t serial_number;
    uint8_t payload[kDerAzudAnchorRptItemPayloadCapacity];
};

// Both return header length + 4, or -1 when length is below 24, the header
// length is below 21, or the payload (header length - 20) is longer than
// length - 24 or than the 1028 bytes the record holds.
int DerAzudAnchorRptItem_FromBuff(derazud_anchor_rpt_item_t* record, const uint8_t* buffer, int length);
int DerAzudAnchorRptItem_ToBuff(uint8_t* buffer, int length, const derazud_anchor_rpt_item_t* record);
void DerAzudAnchorRptItem_Cleanup(derazud_anchor_rpt_item_t* record);
