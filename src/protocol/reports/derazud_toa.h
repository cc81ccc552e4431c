#pragma once
// One anchor's reception of a tag transmission, as handed to the solver.

#include <cstdint>

struct derazud_toa_t {
    uint64_t anchor_serial_number;  // low 32 bits used
    uint16_t anchor_network_id;
    int64_t toa;              // master device ticks; a 40-bit value
    double first_path_power;  // dB
    double total_power;       // dB
};

constexpr int kDerAzudToaSize = 34;

// Fixed size: the caller guarantees 34 bytes. Both return 34. The TOA and the
// two powers travel as the 64 bits of their values.
int DerAzudToa_FromBuff(derazud_toa_t* record, const uint8_t* buffer);
int DerAzudToa_ToBuff(uint8_t* buffer, const derazud_toa_t* record);
void DerAzudToa_Cleanup(derazud_toa_t* record);
