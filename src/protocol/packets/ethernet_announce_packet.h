#pragma once
// Datagram 0x11: an Ethernet device announcing itself on the device
// configuration stream.
//
// The device sends host address and port least significant byte first, but
// they are read big-endian like every other field: the decoded values are
// byte-swapped (an address field of 0x0A01A8C0 is host 192.168.1.10, a port
// field of 0x8A1D is port 7562) and users swap them back. The serial number
// is ordinary big-endian.

#include <cstdint>

struct ethernet_announce_t {
    uint8_t type;  // 0x11
    uint32_t serial_number;
    uint32_t host_ipv4_address;  // byte-swapped, see above
    uint16_t host_port;          // byte-swapped, see above
    uint8_t vlan_id;
};

int EthernetAnnouncePacket_FromBuff(const uint8_t* buffer, ethernet_announce_t* record);
int EthernetAnnouncePacket_ToBuff(uint8_t* buffer, const ethernet_announce_t* record);
int EthernetAnnouncePacket_Size();
