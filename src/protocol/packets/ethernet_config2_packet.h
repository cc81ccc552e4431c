#pragma once
// Datagram 0x13, version 2: tells an Ethernet device where to send its data.
//
// Host address and port are written big-endian like every other field, yet
// must leave least significant byte first: the sender swaps them before
// encoding, and a decoded address or port is byte-swapped.

#include <cstdint>

struct ethernet_config_packet2_t {
    uint8_t type;                // 0x13
    uint8_t version;             // 2
    uint32_t host_ipv4_address;  // byte-swapped, see above
    uint16_t host_port;          // byte-swapped, see above
    uint8_t vlan_id;
};

int EthernetConfigPacket2_FromBuff(const uint8_t* buffer, ethernet_config_packet2_t* record);
int EthernetConfigPacket2_ToBuff(uint8_t* buffer, const ethernet_config_packet2_t* record);
int EthernetConfigPacket2_Size();
