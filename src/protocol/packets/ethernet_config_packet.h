#pragma once
// The older, unversioned configuration datagram; nothing sends it. Address
// and port travel least significant byte first and are read big-endian, so
// they come out byte-swapped, as in the version 2 datagram.

#include <cstdint>

struct ethernet_config_packet_t {
    uint8_t type;
    uint32_t ipv4_address;  // byte-swapped
    uint16_t port;          // byte-swapped
    uint8_t byte_7;
};

int EthernetConfigPacket_FromBuff(const uint8_t* buffer, ethernet_config_packet_t* record);
int EthernetConfigPacket_ToBuff(uint8_t* buffer, const ethernet_config_packet_t* record);
int EthernetConfigPacket_Size();
