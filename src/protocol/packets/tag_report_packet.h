#pragma once
// RF packet 20, the two-way-ranging tag report: laid out as an anchor report.

#include <cstdint>

#include "protocol/packets/anchor_report_packet.h"

using packet_tag_report_t = packet_anchor_report_t;

int PacketTagReport_FromBuff(const uint8_t* buffer, packet_tag_report_t* record);
int PacketTagReport_ToBuff(uint8_t* buffer, const packet_tag_report_t* record);
int PacketTagReport_Size();
