// Vuv item framing, packet header, encoder, whole-datagram validation and the
// copy semantics of packets.
#include "protocol/vex/vex_packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "protocol/vex/vex_data_item.h"
#include "support/stdout_capture.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(VexPacket& packet, uint32_t sequence) {
    uint16_t size = 0;
    const std::unique_ptr<uint8_t[]> buffer(packet.CreateBufferWithSequenceNumber(sequence, &size));
    EXPECT_EQ(size, packet.GetPacketSize());
    return Bytes(buffer.get(), buffer.get() + size);
}

// The datagram in a heap block of exactly its length, so the address
// sanitizer catches a read past its end.
bool Decode(const Bytes& datagram, size_t length, VexPacket* packet) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[length == 0 ? 1 : length]);
    if (length != 0) {
        std::memcpy(exact.get(), datagram.data(), length);
    }
    return packet->ConvertPacketBuffer(exact.get(), static_cast<uint16_t>(length));
}

Bytes Payload(const VexDataItem& item) {
    return item.GetData() == nullptr ? Bytes() : Bytes(item.GetData(), item.GetData() + item.GetDataSize());
}

const Bytes kHeaderOnly = {'L', 'C', '0', '2', 7, 0, 0, 0, 'V', 'E', 'X', '0', '0', '0', '2', 0, 3, 0, 2, 1};

class VexPacketTest : public ::testing::Test {
  protected:
    // Three items of sizes 3, 0 and 5 after a serial number of 0x01020003.
    VexPacket MakeSample() {
        VexPacket packet(0x01020003);
        const uint8_t first[] = {0x11, 0x22, 0x33};
        const uint8_t third[] = {1, 2, 3, 4, 5};
        packet.AddDataItem(0x0100, sizeof(first), first);
        packet.AddDataItem(0x8004, 0, nullptr);
        packet.AddDataItem(0x0100, sizeof(third), third);
        return packet;
    }
};

TEST_F(VexPacketTest, EmptyPacketEncodesToExactHeader) {
    VexPacket packet(0x01020003);
    EXPECT_EQ(Encode(packet, 7), kHeaderOnly);
    EXPECT_EQ(packet.GetPacketSize(), 20u);
}

TEST_F(VexPacketTest, HeaderAndItemsAreLittleEndian) {
    VexPacket packet(0xA1B2C3D4);
    const uint8_t payload[] = {0xEE, 0xFF};
    packet.AddDataItem(0x8001, sizeof(payload), payload);
    const Bytes expected = {'L', 'C', '0', '2',  0x04, 0x03, 0x02, 0x01, 'V',  'E',  'X',  '0',  '0',
                            '0', '2', 0,   0xD4, 0xC3, 0xB2, 0xA1, 0x01, 0x80, 0x02, 0x00, 0xEE, 0xFF};
    EXPECT_EQ(Encode(packet, 0x01020304), expected);
}

TEST_F(VexPacketTest, EncodingStampsTheSequenceIntoThePacket) {
    VexPacket packet = MakeSample();
    EXPECT_EQ(packet.GetSequence(), 0u);
    Encode(packet, 7);
    EXPECT_EQ(packet.GetSequence(), 7u);
}

TEST_F(VexPacketTest, RoundTripKeepsOrderAndRepeatedTypes) {
    VexPacket packet = MakeSample();
    const Bytes datagram = Encode(packet, 0xFFFFFFFE);
    ASSERT_EQ(datagram.size(), 20u + 7u + 4u + 9u);

    VexPacket decoded(0);
    ASSERT_TRUE(Decode(datagram, datagram.size(), &decoded));
    EXPECT_EQ(decoded.GetSerialNumber(), 0x01020003u);
    EXPECT_EQ(decoded.GetSequence(), 0xFFFFFFFEu);
    const VexDataItemList items = decoded.GetDataItems();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0]->GetType(), 0x0100);
    EXPECT_EQ(Payload(*items[0]), (Bytes{0x11, 0x22, 0x33}));
    EXPECT_EQ(items[1]->GetType(), 0x8004);
    EXPECT_EQ(items[1]->GetDataSize(), 0);
    EXPECT_EQ(items[1]->GetData(), nullptr);
    EXPECT_EQ(items[2]->GetType(), 0x0100);
    EXPECT_EQ(Payload(*items[2]), (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(Encode(decoded, decoded.GetSequence()), datagram);
}

TEST_F(VexPacketTest, DecodingAppendsToItemsAlreadyHeld) {
    VexPacket packet = MakeSample();
    const Bytes datagram = Encode(packet, 1);
    VexPacket decoded(0);
    decoded.AddDataItem(0x0005, 0, nullptr);
    ASSERT_TRUE(Decode(datagram, datagram.size(), &decoded));
    ASSERT_EQ(decoded.GetDataItems().size(), 4u);
    EXPECT_EQ(decoded.GetDataItems()[0]->GetType(), 0x0005);
    EXPECT_EQ(decoded.GetPacketSize(), datagram.size() + 4u);
}

// Every truncation of a valid datagram is refused, except those that end
// exactly after the header or after an item, which are smaller valid packets.
TEST_F(VexPacketTest, EveryTruncationIsRefusedWholeOrIsAnItemPrefix) {
    VexPacket packet = MakeSample();
    const Bytes datagram = Encode(packet, 3);
    const std::set<size_t> boundaries = {20, 27, 31};
    for (size_t length = 0; length < datagram.size(); ++length) {
        VexPacket decoded(0x55);
        const bool accepted = Decode(datagram, length, &decoded);
        EXPECT_EQ(accepted, boundaries.count(length) == 1) << "length " << length;
        if (!accepted) {
            EXPECT_TRUE(decoded.GetDataItems().empty()) << "length " << length;
            EXPECT_EQ(decoded.GetSerialNumber(), 0x55u) << "length " << length;
            EXPECT_EQ(decoded.GetSequence(), 0u) << "length " << length;
        } else {
            EXPECT_EQ(decoded.GetPacketSize(), length);
        }
    }
}

TEST_F(VexPacketTest, TrailingBytesShorterThanAnItemHeaderAreRefused) {
    VexPacket packet = MakeSample();
    Bytes datagram = Encode(packet, 3);
    for (int extra = 1; extra <= 3; ++extra) {
        datagram.push_back(0);
        VexPacket decoded(0);
        EXPECT_FALSE(Decode(datagram, datagram.size(), &decoded)) << extra << " trailing bytes";
        EXPECT_TRUE(decoded.GetDataItems().empty());
    }
}

TEST_F(VexPacketTest, LastItemRunningPastTheEndDropsTheWholeDatagram) {
    VexPacket packet = MakeSample();
    Bytes datagram = Encode(packet, 3);
    datagram[31 + 2] = 6;  // the last item claims 6 bytes, 5 are there
    VexPacket decoded(0);
    EXPECT_FALSE(Decode(datagram, datagram.size(), &decoded));
    EXPECT_TRUE(decoded.GetDataItems().empty());
    // A size so large that adding it to the offset would overflow a 16-bit count.
    datagram[31 + 2] = 0xFF;
    datagram[31 + 3] = 0xFF;
    EXPECT_FALSE(Decode(datagram, datagram.size(), &decoded));
    EXPECT_TRUE(decoded.GetDataItems().empty());
}

TEST_F(VexPacketTest, HeaderChecksMagicAndTagWithItsZeroByte) {
    EXPECT_TRUE(VexPacket::HasValidHeader(kHeaderOnly.data()));
    for (size_t offset : {0u, 3u, 8u, 14u, 15u}) {
        Bytes bad = kHeaderOnly;
        bad[offset] ^= 0x01;
        EXPECT_FALSE(VexPacket::HasValidHeader(bad.data())) << "offset " << offset;
        VexPacket decoded(0);
        EXPECT_FALSE(Decode(bad, bad.size(), &decoded)) << "offset " << offset;
    }
    // Sequence and serial number are not examined.
    Bytes other = kHeaderOnly;
    other[4] = 0xAA;
    other[19] = 0xBB;
    EXPECT_TRUE(VexPacket::HasValidHeader(other.data()));
}

TEST_F(VexPacketTest, NineteenBytesAreRefused) {
    VexPacket decoded(0);
    EXPECT_FALSE(Decode(kHeaderOnly, 19, &decoded));
    EXPECT_FALSE(VexPacket::IsValidPacketBuffer(nullptr, 20));
}

TEST_F(VexPacketTest, CopiesShareItemsAndClearingACopyLeavesTheSource) {
    VexPacket source = MakeSample();
    Encode(source, 9);
    VexPacket copy(source);
    EXPECT_EQ(copy.GetSerialNumber(), source.GetSerialNumber());
    EXPECT_EQ(copy.GetSequence(), 9u);
    EXPECT_EQ(copy.GetDataItems()[0].get(), source.GetDataItems()[0].get());

    VexPacket assigned(1);
    assigned.AddDataItem(0x0005, 0, nullptr);
    assigned = source;
    EXPECT_EQ(assigned.GetDataItems().size(), 3u);
    EXPECT_EQ(assigned.GetPacketSize(), source.GetPacketSize());

    copy.ClearDataItems();
    EXPECT_TRUE(copy.GetDataItems().empty());
    EXPECT_EQ(copy.GetPacketSize(), 20u);
    EXPECT_EQ(source.GetDataItems().size(), 3u);
    EXPECT_EQ(Payload(*source.GetDataItems()[2]), (Bytes{1, 2, 3, 4, 5}));
}

TEST_F(VexPacketTest, SelfAssignmentKeepsTheItems) {
    VexPacket packet = MakeSample();
    VexPacket& same = packet;
    packet = same;
    EXPECT_EQ(packet.GetDataItems().size(), 3u);
    EXPECT_EQ(packet.GetPacketSize(), 40u);
}

TEST_F(VexPacketTest, ItemWriteStaysInsideItsSize) {
    const uint8_t payload[] = {9, 8, 7};
    const VexDataItem item(0x1234, sizeof(payload), payload);
    EXPECT_EQ(item.GetSize(), 7u);
    Bytes out(item.GetSize() + 1, 0xA5);
    EXPECT_EQ(item.WriteToBuffer(out.data()), 7u);
    EXPECT_EQ(out, (Bytes{0x34, 0x12, 3, 0, 9, 8, 7, 0xA5}));

    const VexDataItem from_wire(out.data());
    EXPECT_EQ(from_wire.GetType(), 0x1234);
    EXPECT_EQ(Payload(from_wire), (Bytes{9, 8, 7}));
    const VexDataItem copy(from_wire);
    EXPECT_EQ(Payload(copy), (Bytes{9, 8, 7}));
}

TEST_F(VexPacketTest, DefaultAndEmptyItems) {
    const VexDataItem empty;
    EXPECT_EQ(empty.GetType(), 0xFFFF);
    EXPECT_EQ(empty.GetDataSize(), 0);
    EXPECT_EQ(empty.GetSize(), 4u);
    EXPECT_EQ(empty.GetData(), nullptr);
    Bytes out(5, 0xA5);
    EXPECT_EQ(VexDataItem(0x0042, 0, nullptr).WriteToBuffer(out.data()), 4u);
    EXPECT_EQ(out, (Bytes{0x42, 0, 0, 0, 0xA5}));
}

TEST_F(VexPacketTest, NullDataWithASizeGivesZeroBytes) {
    const VexDataItem item(0x0001, 3, nullptr);
    EXPECT_EQ(Payload(item), (Bytes{0, 0, 0}));
}

TEST_F(VexPacketTest, PacketFilledToExactly65535BytesEncodesAndDecodes) {
    VexPacket packet(5);
    const Bytes big(0xFFFF - 20 - 4, 0x5A);
    ASSERT_TRUE(packet.AddDataItem(0x0001, static_cast<uint16_t>(big.size()), big.data()));
    EXPECT_EQ(packet.GetPacketSize(), 0xFFFFu);
    const Bytes datagram = Encode(packet, 2);
    ASSERT_EQ(datagram.size(), 0xFFFFu);
    VexPacket decoded(0);
    ASSERT_TRUE(Decode(datagram, datagram.size(), &decoded));
    EXPECT_EQ(Payload(*decoded.GetDataItems()[0]), big);
}

TEST_F(VexPacketTest, ItemThatWouldPassTheLimitIsRefusedAndThePacketStaysIntact) {
    VexPacket packet(5);
    const Bytes big(0xFFFF - 20 - 4 - 4, 0x5A);
    ASSERT_TRUE(packet.AddDataItem(0x0001, static_cast<uint16_t>(big.size()), big.data()));
    ASSERT_TRUE(packet.AddDataItem(0x0002, 0, nullptr));
    EXPECT_EQ(packet.GetPacketSize(), 0xFFFFu);

    StdoutCapture capture;
    const uint8_t one = 1;
    EXPECT_FALSE(packet.AddDataItem(0x0003, 1, &one));
    EXPECT_FALSE(packet.AddDataItem(new VexDataItem(0x0004, 0, nullptr)));
    EXPECT_FALSE(packet.AddDataItem(nullptr));
    const std::string printed = capture.Stop();
    EXPECT_NE(printed.find("0x0003"), std::string::npos) << printed;

    EXPECT_EQ(packet.GetPacketSize(), 0xFFFFu);
    ASSERT_EQ(packet.GetDataItems().size(), 2u);
    const Bytes datagram = Encode(packet, 0);
    VexPacket decoded(0);
    ASSERT_TRUE(Decode(datagram, datagram.size(), &decoded));
    EXPECT_EQ(decoded.GetDataItems().size(), 2u);
    EXPECT_EQ(decoded.GetDataItems()[1]->GetType(), 0x0002);
}

TEST_F(VexPacketTest, DecodingThatWouldPassTheLimitChangesNothing) {
    VexPacket packet(5);
    const Bytes big(40000, 1);
    packet.AddDataItem(0x0001, static_cast<uint16_t>(big.size()), big.data());
    const Bytes datagram = Encode(packet, 4);
    VexPacket decoded(0x77);
    ASSERT_TRUE(Decode(datagram, datagram.size(), &decoded));
    EXPECT_FALSE(Decode(datagram, datagram.size(), &decoded));
    EXPECT_EQ(decoded.GetDataItems().size(), 1u);
    EXPECT_EQ(decoded.GetPacketSize(), datagram.size());
}

}  // namespace
