#pragma once
// RF packet 17, a device announcing itself; the bridge answer to the
// serial-number query (type 0x10) has the same layout.

#include <cstdint>

struct packet_announce_response_t {
    uint8_t type;  // 17, or 0x10 for the bridge answer
    uint32_t serial_number;
};

int PacketAnnounceResponse_FromBuff(const uint8_t* buffer, packet_announce_response_t* record);
int PacketAnnounceResponse_ToBuff(uint8_t* buffer, const packet_announce_response_t* record);
int PacketAnnounceResponse_Size();
