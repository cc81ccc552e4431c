#include "protocol/ssp/ssp_checksum.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

// The checksum written out word by word, one rotation per word, as it is
// defined; the unit's grouped loop must agree with it everywhere.
uint32_t DefinitionChecksum(const std::vector<uint8_t>& data) {
    uint16_t high = 0;
    uint16_t low = 0;
    for (size_t i = 0; i < data.size(); i += 2) {
        const uint16_t word = static_cast<uint16_t>((data[i] << 8) | (i + 1 < data.size() ? data[i + 1] : 0));
        high = static_cast<uint16_t>(high ^ word);
        low = static_cast<uint16_t>(((low << 1) | (low >> 15)) ^ word);
    }
    return (static_cast<uint32_t>(high) << 16) | low;
}

}  // namespace

TEST(SspChecksum, GivesTheWorkedValues) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(ssp_checksum(abc, 3), 0x0262A1C4u);
    EXPECT_EQ(ssp_checksum(abc, 0), 0u);
    const uint8_t single = 0x5A;
    EXPECT_EQ(ssp_checksum(&single, 1), 0x5A005A00u);
}

TEST(SspChecksum, LastOddByteIsTheHighByteOfAFinalWord) {
    const uint8_t odd[] = {0x12, 0x34, 0x56};
    const uint8_t padded[] = {0x12, 0x34, 0x56, 0x00};
    EXPECT_EQ(ssp_checksum(odd, 3), ssp_checksum(padded, 4));
}

TEST(SspChecksum, RotationCarriesTheTopBitAround) {
    // 0x8000 rotated once is 0x0001; XOR with the second word 0x0000.
    const uint8_t data[] = {0x80, 0x00, 0x00, 0x00};
    EXPECT_EQ(ssp_checksum(data, 4), 0x80000001u);
}

TEST(SspChecksum, MatchesTheWordByWordDefinitionForEveryLengthAndAlignment) {
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> byte(0, 255);
    for (size_t length = 0; length <= 80; ++length) {
        for (size_t offset = 0; offset < 4; ++offset) {
            // Exactly sized heap buffers, so a read past the end is caught by
            // AddressSanitizer.
            std::vector<uint8_t> buffer(offset + length);
            for (auto& b : buffer) {
                b = static_cast<uint8_t>(byte(random));
            }
            const std::vector<uint8_t> data(buffer.begin() + static_cast<long>(offset), buffer.end());
            EXPECT_EQ(ssp_checksum(buffer.data() + offset, static_cast<uint16_t>(length)),
                      DefinitionChecksum(data))
                << "length " << length << " offset " << offset;
        }
    }
}

TEST(SspChecksum, MatchesTheDefinitionOnLongBuffers) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (size_t length : {1531u, 1532u, 4095u, 65535u}) {
        std::vector<uint8_t> data(length);
        for (auto& b : data) {
            b = static_cast<uint8_t>(byte(random));
        }
        EXPECT_EQ(ssp_checksum(data.data(), static_cast<uint16_t>(length)), DefinitionChecksum(data));
    }
}
