#pragma once
// Receive-quality values of one reception as the receiving device reports
// them. The same six values, in this order, travel in RX passthrough headers,
// anchor report item headers and several Vuv items.

#include <cstdint>

struct signal_strength_t {
    uint16_t first_path_amplitude_1;
    uint16_t first_path_amplitude_2;
    uint16_t first_path_amplitude_3;
    uint16_t preamble_accumulation_count;
    uint16_t channel_impulse_response_power;
    // Reported by the device but not read by the server.
    uint16_t reserved;
};

// Vuv payloads embed the record as 12 bytes with no padding.
static_assert(sizeof(signal_strength_t) == 12, "signal_strength_t is six u16 values");
