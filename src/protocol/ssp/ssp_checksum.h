#pragma once
// Checksum closing every SSP frame: the high half is the XOR of the data taken
// as big-endian 16-bit words, the low half the same words folded with a
// one-bit left rotation before each XOR. An odd last byte is the high byte of
// a final word whose low byte is 0.

#include <cstdint>

uint32_t ssp_checksum(const uint8_t* data, uint16_t length);
