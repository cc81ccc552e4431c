#include "host/dpu/derazud_anchor_report_utils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/dpu/twr_exchange_generator.h"
#include "host/dpu/twr_snoop_engine.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/sync_packet.h"
#include "support/stdout_capture.h"

namespace {

uint32_t SerialOf(uint16_t id) {
    return id == 0x0BAD ? 0 : 0x01000000u | id;
}

const NetworkIdLookup kLookup = SerialOf;

derazud_anchor_rpt_item_t FullItem(const uint8_t* packet, int packet_size, uint32_t serial = 0) {
    derazud_anchor_rpt_item_t item{};
    item.header.item_type = device_protocol::kRfReportItemFull;
    item.header.length = static_cast<uint16_t>(device_protocol::kPacketRfReportItemHeaderSize + packet_size);
    item.header.receive_time = 0x12345678ABCDull;  // beyond 40 bits: only the low 40 count
    item.serial_number = serial;
    std::memcpy(item.payload, packet, static_cast<size_t>(packet_size));
    return item;
}

derazud_anchor_rpt_item_t SyncItem(uint16_t network_id, uint64_t transmit_time, int keep_bytes = 25) {
    packet_sync_t sync{};
    sync.type = device_protocol::kRfPacketSync;
    sync.network_id = network_id;
    sync.transmit_time = transmit_time;
    uint8_t bytes[25];
    PacketSync_ToBuff(bytes, &sync);
    return FullItem(bytes, keep_bytes);
}

derazud_anchor_rpt_item_t CompactItem(uint16_t network_id, uint8_t packet_type, uint64_t transmit_time) {
    derazud_anchor_rpt_item_t item{};
    item.header.item_type = device_protocol::kRfReportItemCompact;
    item.header.length = 30;
    item.header.receive_time = 777;
    rf_packet_report_item_anchor_compact_t compact{};
    compact.network_id = network_id;
    compact.received_packet_type = packet_type;
    compact.transmit_time = transmit_time;
    PacketRfReportItemAnchorCompact_ToBuff(item.payload, &compact);
    return item;
}

TEST(TwrItemData, FullItemsGiveTheEmbeddedPacketsSenderAndTime) {
    uint16_t id = 99;
    int64_t tx = 0, rx = 0;
    derazud_anchor_rpt_item_t item = SyncItem(0xFFFF, 0x00123456789AB);
    DerazudAnchorReportItemUtils::GetTwrDataFromItem(id, tx, rx, &item);
    EXPECT_EQ(id, 1);  // the sync's broadcast id stands for the master
    EXPECT_EQ(tx, 0x123456789AB & 0xFFFFFFFE00);
    EXPECT_EQ(rx, 0x345678ABCDll);

    item = SyncItem(7, 0x200, 24);  // one byte short of a sync
    DerazudAnchorReportItemUtils::GetTwrDataFromItem(id, tx, rx, &item);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(tx, -1);

    for (uint8_t type : {device_protocol::kRfPacketAnchorReport, device_protocol::kRfPacketTwrTagReport}) {
        packet_anchor_report_t report{type, 1, 0x0042, 0xFF00000FFF, 0};
        uint8_t bytes[10];
        PacketAnchorReport_ToBuff(bytes, &report);
        item = FullItem(bytes, 10);
        DerazudAnchorReportItemUtils::GetTwrDataFromItem(id, tx, rx, &item);
        EXPECT_EQ(id, 0x42);
        EXPECT_EQ(tx, 0xFF00000E00);
        item = FullItem(bytes, 9);
        DerazudAnchorReportItemUtils::GetTwrDataFromItem(id, tx, rx, &item);
        EXPECT_EQ(tx, -1);
    }
    const uint8_t announce[5] = {device_protocol::kRfPacketAnnounceResponse, 1, 0, 0, 9};
    item = FullItem(announce, 5);
    DerazudAnchorReportItemUtils::GetTwrDataFromItem(id, tx, rx, &item);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(tx, -1);
}

TEST(TwrItemData, CompactItemsOfAnnounceResponsesHaveNoTransmitTime) {
    uint16_t id = 0;
    int64_t tx = 0, rx = 0;
    derazud_anchor_rpt_item_t item = CompactItem(5, device_protocol::kRfPacketAnchorReport, 0x1FF);
    EXPECT_TRUE(DerazudAnchorReportItemUtils::CompactItemHasTxTimestamp(&item));
    DerazudAnchorReportItemUtils::GetTwrDataFromItem(id, tx, rx, &item);
    EXPECT_EQ(id, 5);
    EXPECT_EQ(tx, 0);
    EXPECT_EQ(rx, 777);

    item = CompactItem(5, device_protocol::kRfPacketAnnounceResponse, 0x4000);
    EXPECT_FALSE(DerazudAnchorReportItemUtils::CompactItemHasTxTimestamp(&item));
    DerazudAnchorReportItemUtils::GetTwrDataFromItem(id, tx, rx, &item);
    EXPECT_EQ(tx, -1);

    // An item announcing less than a compact body has none.
    item = CompactItem(5, device_protocol::kRfPacketAnchorReport, 0x4000);
    item.header.length = 29;
    EXPECT_FALSE(DerazudAnchorReportItemUtils::CompactItemHasTxTimestamp(&item));
}

TEST(TwrItemData, UnknownItemTypesAreReported) {
    derazud_anchor_rpt_item_t item = CompactItem(5, device_protocol::kRfPacketAnchorReport, 0x4000);
    item.header.item_type = 21;
    uint16_t id = 3;
    int64_t tx = 0, rx = 0;
    StdoutCapture capture;
    DerazudAnchorReportItemUtils::GetTwrDataFromItem(id, tx, rx, &item);
    EXPECT_EQ(capture.Stop(), "Received unrecognized anchor report item type\n");
    EXPECT_EQ(id, 0);
    EXPECT_EQ(tx, -1);
}

TEST(TwrItemData, InvalidSerialNumbersAreTakenFromTheRegistry) {
    derazud_anchor_rpt_item_t item = CompactItem(0x21, device_protocol::kRfPacketAnchorReport, 0);
    DerazudAnchorReportItemUtils::UpdateSerialNumber(&item, kLookup);
    EXPECT_EQ(item.serial_number, 0x01000021u);

    item.serial_number = 0x02000002;  // a valid one stays
    DerazudAnchorReportItemUtils::UpdateSerialNumber(&item, kLookup);
    EXPECT_EQ(item.serial_number, 0x02000002u);

    item = SyncItem(0xFFFF, 0);
    item.serial_number = 0xFFFFFFFF;
    DerazudAnchorReportItemUtils::UpdateSerialNumber(&item, kLookup);
    EXPECT_EQ(item.serial_number, 0x01000001u);

    item = CompactItem(0x21, device_protocol::kRfPacketAnnounceResponse, 0);
    DerazudAnchorReportItemUtils::UpdateSerialNumber(&item, kLookup);
    EXPECT_EQ(item.serial_number, 0u);

    derazud_usb_anchor_rpt_t report{};
    report.anchor_rpt.report.network_id = 0x33;
    DerazudUsbAnchorReportUtils::UpdateSerialNumber(&report, kLookup);
    EXPECT_EQ(report.anchor_rpt.serial_number, 0x01000033u);
}

class FindPacket : public ::testing::Test {
  protected:
    FindPacket() {
        device_ = twr_test::SimDevice{0x01000009, 9, {0, 0, 0}, 0, 0, 0};
        report_ = twr_test::MakeReport(device_, 0x1000,
                                       {{0x11, 0, 1000, 2000}, {0x12, 0, 3000, 4000}, {0x11, 0, 5000, 6000}});
    }
    derazud_anchor_rpt_item_t Find(uint32_t serial) {
        return DerazudUsbAnchorReportUtils::FindPacketInAnchorRptForSerialNum(&report_, serial, kLookup);
    }
    twr_test::SimDevice device_;
    derazud_usb_anchor_rpt_t report_;
};

TEST_F(FindPacket, FindsTheFirstItemOfTheDevice) {
    derazud_anchor_rpt_item_t item = Find(0x01000011);
    EXPECT_EQ(item.serial_number, 0x01000011u);
    EXPECT_EQ(item.header.receive_time, 2000u);
    item = Find(0x01000012);
    EXPECT_EQ(item.header.receive_time, 4000u);
    EXPECT_EQ(Find(0x01000013).serial_number, 0u);
}

TEST_F(FindPacket, StopsAtTheEndOfTheReportsPayload) {
    // Each compact item takes 34 bytes after the 22-byte lead.
    report_.anchor_rpt.payload_length = 22 + 34 + 33;
    EXPECT_EQ(Find(0x01000012).serial_number, 0u) << "the cut item lies partly past the payload";
    EXPECT_EQ(Find(0x01000011).header.receive_time, 2000u);
    report_.anchor_rpt.payload_length = 22;
    EXPECT_EQ(Find(0x01000011).serial_number, 0u);
    // A length beyond the record is held to it.
    report_.anchor_rpt.payload_length = 0xFFFF;
    EXPECT_EQ(Find(0x01000012).header.receive_time, 4000u);
}

TEST(TwrSnoopItems, ItemsWithoutTransmitTimeAreSkippedWithAMessage) {
    TwrSnoopEngine engine;
    engine.SetNetworkIdLookup(kLookup);
    engine.AddTwrSnoopDevices(0x01000002, 0, 0x01000003, 0);
    const twr_test::SimDevice snoop{0x01000004, 4, {0, 0, 0}, 0, 0, 0};
    derazud_usb_anchor_rpt_t report =
        twr_test::MakeReport(snoop, 0x1000, {{2, 0, 1000, 2000}, {3, 0x01000003, 3000, 4000}});
    // The second item, with its serial number, becomes a received announce
    // response.
    report.anchor_rpt.payload[22 + 34 + 24 + 3] = device_protocol::kRfPacketAnnounceResponse;
    StdoutCapture capture;
    engine.AddData(&report, 1, 1);
    EXPECT_EQ(capture.Stop(), "Invalid Tx Time in Snoop Report for 01:00:0003\n");
    const TWR_DATA_T* pair = engine.GetPairs().front();
    int heard = 0;
    for (int i = 0; i < pair->messages_at_a.size(); ++i) {
        heard += pair->messages_at_a[i].listeners.size() + pair->messages_at_b[i].listeners.size();
        if (!pair->messages_at_a[i].listeners.isEmpty()) {
            EXPECT_EQ(pair->messages_at_a[i].timestamp, 512);  // 1000 on the transmit grid
            EXPECT_EQ(pair->messages_at_a[i].listeners.value(0x01000004).receive_time, 2000);
        }
    }
    EXPECT_EQ(heard, 1);
}

}  // namespace
