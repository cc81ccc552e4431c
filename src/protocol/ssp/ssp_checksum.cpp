#include "protocol/ssp/ssp_checksum.h"

#include <cstddef>

#include "base/byte_order.h"

namespace {

inline uint16_t Rotl16(uint16_t value, unsigned bits) {
    return static_cast<uint16_t>((value << bits) | (value >> (16u - bits)));
}

}  // namespace

uint32_t ssp_checksum(const uint8_t* data, uint16_t length) {
    uint16_t xor_sum = 0;
    uint16_t rotated_sum = 0;
    size_t index = 0;

    // Four words per step: rotating the running sum by four and each word by
    // its distance to the end of the group gives the same result as four
    // single steps, with a dependency chain a quarter as long.
    for (; index + 8 <= length; index += 8) {
        const uint16_t w1 = wire::read_be16(data + index);
        const uint16_t w2 = wire::read_be16(data + index + 2);
        const uint16_t w3 = wire::read_be16(data + index + 4);
        const uint16_t w4 = wire::read_be16(data + index + 6);
        xor_sum = static_cast<uint16_t>(xor_sum ^ w1 ^ w2 ^ w3 ^ w4);
        rotated_sum = static_cast<uint16_t>(Rotl16(rotated_sum, 4) ^ Rotl16(w1, 3) ^ Rotl16(w2, 2) ^
                                            Rotl16(w3, 1) ^ w4);
    }
    for (; index + 2 <= length; index += 2) {
        const uint16_t word = wire::read_be16(data + index);
        xor_sum = static_cast<uint16_t>(xor_sum ^ word);
        rotated_sum = static_cast<uint16_t>(Rotl16(rotated_sum, 1) ^ word);
    }
    if (index < length) {
        const uint16_t word = static_cast<uint16_t>(data[index] << 8);
        xor_sum = static_cast<uint16_t>(xor_sum ^ word);
        rotated_sum = static_cast<uint16_t>(Rotl16(rotated_sum, 1) ^ word);
    }
    return (static_cast<uint32_t>(xor_sum) << 16) | rotated_sum;
}
