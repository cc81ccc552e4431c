#pragma once
// A tag report as it arrives over a link: the RF location tag report head,
// the tag's serial number and the tag's payload bytes.

#include <cstdint>

#include "protocol/packets/rtls_tag_report_packet.h"

constexpr int kDerAzudTagRptPayloadCapacity = 1018;
constexpr int kDerAzudTagRptHeadSize = 11;

struct derazud_tag_rpt_t {
    packet_rtls_tag_report_t report;  // its payload_length counts the payload bytes
    uint32_t serial_number;
    uint8_t payload[kDerAzudTagRptPayloadCapacity];
};

// Returns 11 + payload length; -1 when length is below 11, the payload is
// longer than length - 11, or the payload length is 1019 or more.
int DerAzudTagRpt_FromBuff(derazud_tag_rpt_t* record, const uint8_t* buffer, int length);
// Returns 11 + payload length; -1 when length is below that or the payload
// length is 1019 or more.
int DerAzudTagRpt_ToBuff(uint8_t* buffer, int length, const derazud_tag_rpt_t* record);
void DerAzudTagRpt_Cleanup(derazud_tag_rpt_t* record);
