// The ranging window publishes each distance as one 0x0101 item of the
// documented layout on the External stream, and shows the pair's last one.
#include "gui/twr_tab.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "base/byte_order.h"
#include "config/settings.h"
#include "gui/data_transport.h"
#include "support/loopback_streams.h"
#include "support/stream_settings.h"

namespace {

TEST(TwrTabTest, PublishesEachDistanceWithItsPairAndCount) {
    Settings settings = StreamSettings(44220, 44221);
    DataTransport transport(&settings);
    TwrTab tab(&transport);
    DatagramReader external(44220);
    ASSERT_TRUE(external.IsReady());

    tab.AddDistance(0x01000005, 0x01000001, 1.2349);
    tab.AddDistance(0x01000005, 0x01000001, -0.5);

    const int32_t expected_mm[] = {1234, -500};
    for (uint16_t count = 0; count < 2; ++count) {
        VexPacket packet(0);
        ASSERT_TRUE(external.Next(&packet));
        EXPECT_EQ(packet.GetSerialNumber(), 0x01000005u);
        const VexDataItemList items = packet.GetDataItems();
        ASSERT_EQ(items.size(), 1u);
        ASSERT_EQ(items[0]->GetType(), VexType::kDistance);
        ASSERT_EQ(items[0]->GetDataSize(), 18);
        const uint8_t* data = items[0]->GetData();
        EXPECT_EQ(wire::read_le32(data + 0), 0x01000005u);
        EXPECT_EQ(wire::read_le32(data + 4), 0x01000001u);
        EXPECT_EQ(static_cast<int32_t>(wire::read_le32(data + 8)), expected_mm[count]);
        EXPECT_EQ(wire::read_le16(data + 16), count);
    }
    ASSERT_EQ(tab.GetTable()->rowCount(), 1);
    EXPECT_EQ(tab.GetTable()->item(0, 0)->text(), "01:00:0005");
    EXPECT_EQ(tab.GetTable()->item(0, 2)->text(), "-0.500");
}

TEST(TwrTabTest, DistanceRecordSaturatesAndTakesNotANumberAsZero) {
    const vex_data_distance_t far = TwrDistance_Create(1, 2, 1e12, 7, 65535);
    EXPECT_EQ(wire::read_le32(far.data + 8), 0x7FFFFFFFu);
    EXPECT_EQ(wire::read_le32(far.data + 12), 7u);
    EXPECT_EQ(wire::read_le16(far.data + 16), 65535);
    const vex_data_distance_t nan = TwrDistance_Create(1, 2, std::nan(""), 0, 0);
    EXPECT_EQ(wire::read_le32(nan.data + 8), 0u);
}

}  // namespace
