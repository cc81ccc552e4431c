#pragma once
// A block of output stream bytes: on the wire the data bytes alone.

#include <cstdint>

constexpr int kDerAzudOutputDataStreamCapacity = 1400;

struct derazud_output_data_stream_t {
    uint16_t length;
    uint8_t data[kDerAzudOutputDataStreamCapacity];
};

// Copies length bytes and returns length; -1 when length is negative or
// above 1400.
int DerAzudOutputDataStream_FromBuff(derazud_output_data_stream_t* record, const uint8_t* buffer, int length);
// Returns the record's length; -1 when it is above the capacity given or
// above the 1400 bytes the record holds.
int DerAzudOutputDataStream_ToBuff(uint8_t* buffer, int capacity, const derazud_output_data_stream_t* record);
void DerAzudOutputDataStream_Cleanup(derazud_output_data_stream_t* record);
