#pragma once
// A position: the solver's result for a tag, or a node's configured position.
// Coordinates are metres in memory and whole millimetres on the wire.

#include <cstddef>
#include <cstdint>

#include "protocol/reports/derazud_data_tag.h"

struct derazud_pos3_t {
    derazud_data_tag_t data_tag;  // type 0x0100, length 32 for a position
    uint32_t serial_number;
    float x;
    float y;
    float z;
    // The solve's quality figure; a configured position holds its kind
    // marker instead (-2 master, -4 anchor, -1 tag).
    float quality;
    uint16_t smoothing_count;
    uint16_t sequence;
    uint32_t network_time;
    // Milliseconds since the epoch; kept in memory only, not on the wire.
    int64_t creation_time;
};

// The device model reads the record by these offsets.
static_assert(offsetof(derazud_pos3_t, quality) == 20, "kind marker at offset 20");
static_assert(offsetof(derazud_pos3_t, smoothing_count) == 24, "u16 at offset 24");
static_assert(offsetof(derazud_pos3_t, sequence) == 26, "u16 at offset 26");
static_assert(offsetof(derazud_pos3_t, network_time) == 28, "u32 at offset 28");
static_assert(offsetof(derazud_pos3_t, creation_time) == 32, "time at offset 32");

constexpr int kDerAzudPos3Size = 32;

// Fixed size: the caller guarantees 32 bytes. Both return 32.
int DerAzudPos3_FromBuff(derazud_pos3_t* record, const uint8_t* buffer);
// x, y, z times 1000, truncated toward zero (and held to the i32 range);
// a coordinate that decoding made of whole millimetres gives them back exactly.
int DerAzudPos3_ToBuff(uint8_t* buffer, const derazud_pos3_t* record);
void DerAzudPos3_Cleanup(derazud_pos3_t* record);
