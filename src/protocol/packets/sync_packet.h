#pragma once
// RF packet 16, the master's sync. Fields the server only passes on (into
// the tick item) are named by their wire offset.

#include <cstdint>

struct packet_sync_t {
    uint8_t type;  // 16
    uint8_t sequence;
    uint16_t network_id;    // of the sender
    uint32_t network_time;  // network time of the sync
    uint8_t byte_8;
    uint32_t field_9;
    uint8_t byte_13;
    uint8_t byte_14;
    uint32_t field_15;       // added to the network time for the command schedule
    uint64_t transmit_time;  // 40-bit device time
    uint8_t byte_24;
};

int PacketSync_FromBuff(const uint8_t* buffer, packet_sync_t* record);
// Writes the low 40 bits of transmit_time.
int PacketSync_ToBuff(uint8_t* buffer, const packet_sync_t* record);
int PacketSync_Size();
