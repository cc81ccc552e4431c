// A packet that one thread keeps adding to while another encodes it: every
// encoding is one whole, valid datagram of the length it reports.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "protocol/vex/vex_packet.h"

namespace {

TEST(VexPacketThreadedTest, EncodingWhileItemsAreAddedGivesWholeDatagrams) {
    constexpr int kItems = 2000;
    VexPacket packet(0x01020003);
    std::atomic<bool> adding_done{false};
    std::thread adder([&] {
        const uint8_t payload[7] = {1, 2, 3, 4, 5, 6, 7};
        for (int i = 0; i < kItems; ++i) {
            packet.AddDataItem(static_cast<uint16_t>(i), sizeof(payload), payload);
        }
        adding_done = true;
    });

    int encodings = 0;
    uint16_t last_size = 0;
    while (!adding_done.load() || encodings == 0) {
        uint16_t size = 0;
        const std::unique_ptr<uint8_t[]> buffer(
            packet.CreateBufferWithSequenceNumber(static_cast<uint32_t>(encodings), &size));
        ASSERT_TRUE(VexPacket::IsValidPacketBuffer(buffer.get(), size)) << "encoding " << encodings;
        ASSERT_EQ((size - VexPacket::kHeaderSize) % 11, 0u);
        EXPECT_GE(size, last_size);
        last_size = size;
        ++encodings;
    }
    adder.join();
    EXPECT_EQ(packet.GetPacketSize(), VexPacket::kHeaderSize + kItems * 11u);
}

}  // namespace
