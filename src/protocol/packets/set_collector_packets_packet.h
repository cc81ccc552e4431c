#pragma once
// Device command 0x19: which received packets a device collects. Only type
// and len are the record; the command class appends its 2-byte entries and
// raises len by 2 for each.

#include <cstdint>

#include "protocol/packets/select_device_addr_packet.h"

using cmd_set_collector_packets_t = cmd_select_device_addr_t;

int CmdSetCollectorPackets_FromBuff(const uint8_t* buffer, cmd_set_collector_packets_t* record);
int CmdSetCollectorPackets_ToBuff(uint8_t* buffer, const cmd_set_collector_packets_t* record);
int CmdSetCollectorPackets_Size();
