#pragma once
// An anchor report as it arrives over a link: the RF anchor report head, the
// reporting anchor's serial number and the report items as raw payload.

#include <cstdint>

#include "protocol/packets/anchor_report_packet.h"

constexpr int kDerAzudAnchorRptPayloadCapacity = 2046;
constexpr int kDerAzudAnchorRptHeadSize = 16;

struct derazud_anchor_rpt_t {
    packet_anchor_report_t report;
    uint32_t serial_number;
    uint16_t payload_length;
    uint8_t payload[kDerAzudAnchorRptPayloadCapacity];  // the report items
};

// Both return 16 + payload length, or -1 when length is below 16, the payload
// length is 0 or above 2046, or it is more than length - 16.
int DerAzudAnchorRpt_FromBuff(derazud_anchor_rpt_t* record, const uint8_t* buffer, int length);
int DerAzudAnchorRpt_ToBuff(uint8_t* buffer, const derazud_anchor_rpt_t* record, int length);
void DerAzudAnchorRpt_Cleanup(derazud_anchor_rpt_t* record);
