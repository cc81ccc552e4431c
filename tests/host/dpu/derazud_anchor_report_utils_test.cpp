#include "host/dpu/derazud_anchor_report_utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "base/serial_number.h"
#include "host/dpu/dpu.h"
#include "host/dpu/twr_exchange_generator.h"
#include "host/dpu/twr_site_exchange.h"
#include "host/dpu/twr_snoop_engine.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/rtls_tag_report_packet.h"
#include "protocol/packets/sync_packet.h"
#include "protocol/vex/vex_data_types.h"
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
    EXPECT_EQ(id, 1);             // the sync's broadcast id stands for the master
    EXPECT_EQ(tx, 0x23456789AB);  // the sync's 40 bits as they stand, off the 512-tick grid
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
        EXPECT_EQ(tx, 0xFF00000FFF);
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

// Raw anchor reports as the devices send them, built with the packet codecs.
namespace raw {

namespace dp = device_protocol;
using Bytes = std::vector<uint8_t>;

Bytes Head(uint16_t network_id, uint8_t count) {
    packet_anchor_report_t head{dp::kRfPacketAnchorReport, 9, network_id, 0xABCDE00000, count};
    Bytes bytes(dp::kPacketAnchorReportSize);
    PacketAnchorReport_ToBuff(bytes.data(), &head);
    return bytes;
}

Bytes Item(uint8_t item_type, const Bytes& body, uint64_t rx_time) {
    rf_packet_report_item_header_t header{};
    header.item_type = item_type;
    header.length = static_cast<uint16_t>(dp::kPacketRfReportItemHeaderSize + body.size());
    header.receive_time = rx_time;
    header.signal_strength = signal_strength_t{1, 2, 3, 4, 5, 6};
    Bytes bytes(dp::kPacketRfReportItemHeaderSize);
    PacketRfReportItemHeader_ToBuff(bytes.data(), &header);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

Bytes Compact(uint16_t network_id, uint8_t received_type, uint64_t tx_time) {
    rf_packet_report_item_anchor_compact_t compact{3, network_id, received_type, 0, tx_time};
    Bytes bytes(dp::kPacketRfReportItemAnchorCompactSize);
    PacketRfReportItemAnchorCompact_ToBuff(bytes.data(), &compact);
    return bytes;
}

Bytes Sync(uint16_t network_id, uint64_t tx_time) {
    packet_sync_t sync{};
    sync.type = dp::kRfPacketSync;
    sync.network_id = network_id;
    sync.transmit_time = tx_time;
    Bytes bytes(dp::kPacketSyncSize);
    PacketSync_ToBuff(bytes.data(), &sync);
    return bytes;
}

// An anchor report (19) or a two-way-ranging tag report (20): the same head.
Bytes ReportHead(uint8_t type, uint16_t network_id, uint64_t tx_time) {
    packet_anchor_report_t head{type, 1, network_id, tx_time, 0};
    Bytes bytes(dp::kPacketAnchorReportSize);
    PacketAnchorReport_ToBuff(bytes.data(), &head);
    return bytes;
}

Bytes LocationTagReport(uint16_t network_id) {
    packet_rtls_tag_report_t report{dp::kRfPacketLocationTagReport, 4, network_id, 0, 3};
    Bytes bytes(dp::kPacketRtlsTagReportSize);
    PacketRtlsTagReport_ToBuff(bytes.data(), &report);
    bytes.insert(bytes.end(), {0xA1, 0xA2, 0xA3});
    return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes joined;
    for (const Bytes& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

// Every kind of item a report carries, from the anchor with network id 0x30.
struct Mixed {
    Bytes items[7] = {
        Item(dp::kRfReportItemCompact, Compact(0x21, dp::kRfPacketAnchorReport, 0x1000), 100),
        Item(dp::kRfReportItemFull, Sync(0xFFFF, 0x123456789A), 200),
        Item(dp::kRfReportItemFull, ReportHead(dp::kRfPacketAnchorReport, 0x22, 0x2345), 300),
        Item(dp::kRfReportItemFull, ReportHead(dp::kRfPacketTwrTagReport, 0x23, 0x3456), 400),
        Item(dp::kRfReportItemFull, LocationTagReport(0x24), 500),
        Item(dp::kRfReportItemFull, {dp::kRfPacketAnnounceResponse, 0x01, 0x00, 0x00, 0x77}, 600),
        Item(dp::kRfReportItemCompact, Compact(0x25, dp::kRfPacketAnnounceResponse, 0x5000), 700),
    };
    Bytes Report(uint8_t count = 7) const {
        Bytes report = Head(0x30, count);
        for (const Bytes& item : items) {
            report.insert(report.end(), item.begin(), item.end());
        }
        return report;
    }
};

}  // namespace raw

const ssp_cmd_set_rx_passthrough_data_t kReception{0x13, 0, 0x7700000000AAull, {11, 12, 13, 14, 15, 16}, 0};

int Convert(const raw::Bytes& bytes, derazud_usb_anchor_rpt_t* report,
            const NetworkIdLookup& lookup = kLookup) {
    // A buffer of exactly the report's size, so that a read past it is caught.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    return DerazudUsbAnchorReportUtils::ConvertRawBuffToDerAzudAnchorRpt(
        &kReception, report, exact.get(), static_cast<int>(bytes.size()), lookup);
}

std::vector<derazud_anchor_rpt_item_t> ItemsOf(const derazud_usb_anchor_rpt_t& report) {
    std::vector<derazud_anchor_rpt_item_t> items;
    DerazudUsbAnchorReportUtils::ForEachItem(
        &report, nullptr, [&](const derazud_anchor_rpt_item_t& item) { items.push_back(item); });
    return items;
}

TEST(RawAnchorReport, RebuildsEveryItemKindWithItsTransmittersSerialNumber) {
    const raw::Mixed mixed;
    const raw::Bytes bytes = mixed.Report();
    auto report = std::make_unique<derazud_usb_anchor_rpt_t>();
    StdoutCapture capture;
    ASSERT_EQ(Convert(bytes, report.get()), static_cast<int>(bytes.size()));
    EXPECT_EQ(capture.Stop(), "");

    EXPECT_EQ(report->anchor_rpt.report.type, raw::dp::kRfPacketAnchorReport);
    EXPECT_EQ(report->anchor_rpt.report.sequence, 9);
    EXPECT_EQ(report->anchor_rpt.report.network_id, 0x30);
    EXPECT_EQ(report->anchor_rpt.report.transmit_time, 0xABCDE00000u);
    EXPECT_EQ(report->anchor_rpt.report.number_of_report_items, 7);
    EXPECT_EQ(report->anchor_rpt.serial_number, 0x01000030u);
    EXPECT_EQ(report->receive_time, 0x00000000AAu);
    EXPECT_EQ(report->signal_strength.preamble_accumulation_count, 14);
    EXPECT_EQ(report->network_time, 0u);
    // The lead ahead of the first item stays zero; each item grows by its serial number.
    int expected_length = DerazudUsbAnchorReportUtils::kFirstItemOffset;
    for (const raw::Bytes& item : mixed.items) {
        expected_length += static_cast<int>(item.size()) + 4;
    }
    EXPECT_EQ(report->anchor_rpt.payload_length, expected_length);
    for (int i = 0; i < DerazudUsbAnchorReportUtils::kFirstItemOffset; ++i) {
        EXPECT_EQ(report->anchor_rpt.payload[i], 0) << i;
    }

    // Serial numbers from the transmitters' ids (the sync's broadcast id is
    // the master's; announce responses name no transmitter), bodies as sent,
    // and the ranging data each item gives: id, transmit time, receive time.
    const uint32_t serials[7] = {0x01000021, 0x01000001, 0x01000022, 0x01000023, 0x01000024, 0, 0};
    const std::tuple<uint16_t, int64_t, int64_t> ranging[7] = {
        {0x21, 0x1000, 100}, {1, 0x123456789A, 200}, {0x22, 0x2345, 300}, {0x23, 0x3456, 400},
        {0, -1, 500},        {0, -1, 600},           {0x25, -1, 700}};
    const std::vector<derazud_anchor_rpt_item_t> items = ItemsOf(*report);
    ASSERT_EQ(items.size(), 7u);
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        const raw::Bytes& sent = mixed.items[i];
        EXPECT_EQ(items[i].serial_number, serials[i]);
        EXPECT_EQ(items[i].header.item_type, sent[0]);
        EXPECT_EQ(items[i].header.length, sent.size());
        EXPECT_EQ(items[i].header.signal_strength.first_path_amplitude_3, 3);
        EXPECT_EQ(std::memcmp(items[i].payload, sent.data() + 20, sent.size() - 20), 0);
        uint16_t id = 0;
        int64_t tx = 0, rx = 0;
        StdoutCapture quiet;
        DerazudAnchorReportItemUtils::GetTwrDataFromItem(id, tx, rx, &items[i]);
        EXPECT_EQ(std::make_tuple(id, tx, rx), ranging[i]);
    }

    // The record is one the report codec takes back unchanged.
    std::vector<uint8_t> encoded(4096);
    const int size =
        DerAzudUsbAnchorRpt_ToBuff(encoded.data(), report.get(), static_cast<int>(encoded.size()));
    ASSERT_EQ(size, 16 + expected_length + 21);
    auto decoded = std::make_unique<derazud_usb_anchor_rpt_t>();
    ASSERT_EQ(DerAzudUsbAnchorRpt_FromBuff(decoded.get(), encoded.data(), size), size);
    std::vector<uint8_t> again(4096);
    ASSERT_EQ(DerAzudUsbAnchorRpt_ToBuff(again.data(), decoded.get(), static_cast<int>(again.size())), size);
    EXPECT_EQ(std::memcmp(encoded.data(), again.data(), static_cast<size_t>(size)), 0);
}

TEST(RawAnchorReport, GivesTheRecordsTheExchangeGeneratorBuildsByHand) {
    twr_test::ExchangeSetup setup;
    setup.initiator = twr_test::SimDevice{0x01000002, 2, {1, 2, 1}, 16400, 5e9, 4};
    setup.responder = twr_test::SimDevice{0x01000003, 3, {4, 6, 2}, 16500, twr_test::kWrap - 1e6, -9};
    setup.snoops = {twr_test::SimDevice{0x01000004, 4, {0, 7, 2}, 16450, 2e11, 1},
                    twr_test::SimDevice{0x01000005, 5, {8, 0, 1}, 16460, 7e11, -2}};
    const twr_test::GeneratedExchange exchange = twr_test::Generate(setup);
    ASSERT_EQ(exchange.raw_reports.size(), exchange.reports.size());
    const ssp_cmd_set_rx_passthrough_data_t none{};
    for (size_t i = 0; i < exchange.reports.size(); ++i) {
        SCOPED_TRACE(i);
        auto converted = std::make_unique<derazud_usb_anchor_rpt_t>();
        const raw::Bytes& bytes = exchange.raw_reports[i];
        ASSERT_EQ(DerazudUsbAnchorReportUtils::ConvertRawBuffToDerAzudAnchorRpt(
                      &none, converted.get(), bytes.data(), static_cast<int>(bytes.size()), kLookup),
                  static_cast<int>(bytes.size()));
        std::vector<uint8_t> expected(4096), actual(4096);
        const int expected_size = DerAzudUsbAnchorRpt_ToBuff(expected.data(), &exchange.reports[i],
                                                             static_cast<int>(expected.size()));
        ASSERT_GT(expected_size, 0);
        ASSERT_EQ(DerAzudUsbAnchorRpt_ToBuff(actual.data(), converted.get(), static_cast<int>(actual.size())),
                  expected_size);
        EXPECT_EQ(expected, actual);
    }
}

TEST(RawAnchorReport, ItemCountsThatLieAreReportedAndCorrected) {
    const raw::Bytes two = raw::Join(
        {raw::Item(raw::dp::kRfReportItemCompact, raw::Compact(0x21, raw::dp::kRfPacketSync, 0x1000), 1),
         raw::Item(raw::dp::kRfReportItemCompact, raw::Compact(0x22, raw::dp::kRfPacketSync, 0x2000), 2)});
    for (const uint8_t claimed : {0, 1, 5, 255}) {
        SCOPED_TRACE(static_cast<int>(claimed));
        raw::Bytes bytes = raw::Join({raw::Head(0x31, claimed), two});
        auto report = std::make_unique<derazud_usb_anchor_rpt_t>();
        StdoutCapture capture;
        ASSERT_EQ(Convert(bytes, report.get()), 70);
        EXPECT_EQ(capture.Stop(),
                  "Got an anchor report with a bad item count from device 01:00:0031 (reported " +
                      std::to_string(claimed) + ", actual 2, size 70)\n");
        EXPECT_EQ(report->anchor_rpt.report.number_of_report_items, 2);
        EXPECT_EQ(ItemsOf(*report).size(), 2u);
    }
    // An unknown reporter is named by the invalid serial number 0.
    auto report = std::make_unique<derazud_usb_anchor_rpt_t>();
    StdoutCapture capture;
    Convert(raw::Join({raw::Head(0x0BAD, 3), two}), report.get());
    EXPECT_EQ(capture.Stop(),
              "Got an anchor report with a bad item count from device 00:00:0000 (reported 3, actual 2, size "
              "70)\n");
}

TEST(RawAnchorReport, AnUnknownItemTypeEndsTheItemsWithAMessage) {
    const raw::Mixed mixed;
    for (const uint8_t unknown : {0, 18, 21, 255}) {
        SCOPED_TRACE(static_cast<int>(unknown));
        raw::Bytes bad = mixed.items[1];
        bad[0] = unknown;
        const raw::Bytes bytes = raw::Join({raw::Head(0x30, 3), mixed.items[0], bad, mixed.items[2]});
        auto report = std::make_unique<derazud_usb_anchor_rpt_t>();
        StdoutCapture capture;
        EXPECT_EQ(Convert(bytes, report.get()), static_cast<int>(10 + mixed.items[0].size()));
        EXPECT_EQ(capture.Stop(), "Received Unrecognized Anchor Report Item Type " + std::to_string(unknown) +
                                      "\nGot an anchor report with a bad item count from device 01:00:0030 "
                                      "(reported 3, actual 1, size " +
                                      std::to_string(bytes.size()) + ")\n");
        ASSERT_EQ(ItemsOf(*report).size(), 1u);
        EXPECT_EQ(ItemsOf(*report)[0].serial_number, 0x01000021u);
    }
}

TEST(RawAnchorReport, EveryTruncationKeepsTheWholeItemsBeforeTheCut) {
    const raw::Mixed mixed;
    const raw::Bytes bytes = mixed.Report();
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        const raw::Bytes prefix(bytes.begin(), bytes.begin() + static_cast<long>(cut));
        size_t whole_end = 10;
        size_t whole = 0;
        while (whole < 7 && whole_end + mixed.items[whole].size() <= cut) {
            whole_end += mixed.items[whole++].size();
        }
        auto report = std::make_unique<derazud_usb_anchor_rpt_t>();
        StdoutCapture quiet;
        const int taken = Convert(prefix, report.get());
        if (cut < 10) {
            EXPECT_EQ(taken, -1);
            continue;
        }
        EXPECT_EQ(taken, static_cast<int>(whole_end));
        EXPECT_EQ(report->anchor_rpt.report.number_of_report_items, whole);
        EXPECT_EQ(ItemsOf(*report).size(), whole);
    }
}

TEST(RawAnchorReport, ItemLengthsThatLieEndTheItems) {
    const raw::Mixed mixed;
    const raw::Bytes good = mixed.items[0];
    // Header lengths (bytes 1-2 of an item) with no body, reaching one byte
    // past the buffer, and past what a record item holds (in a buffer long
    // enough for it).
    const struct {
        uint16_t length;
        size_t pad;
    } liars[] = {{0, 0}, {20, 0}, {static_cast<uint16_t>(2 * good.size() + 1), 0}, {1049, 1100}};
    for (const auto& lie : liars) {
        SCOPED_TRACE(lie.length);
        raw::Bytes liar = mixed.items[2];
        liar[1] = static_cast<uint8_t>(lie.length >> 8);
        liar[2] = static_cast<uint8_t>(lie.length);
        raw::Bytes bytes = raw::Join({raw::Head(0x30, 3), good, liar, good});
        bytes.resize(bytes.size() + lie.pad);
        auto report = std::make_unique<derazud_usb_anchor_rpt_t>();
        StdoutCapture quiet;
        EXPECT_EQ(Convert(bytes, report.get()), static_cast<int>(10 + good.size()));
        EXPECT_EQ(ItemsOf(*report).size(), 1u);
    }
    // A compact item too short for its body is kept, and gives no transmitter.
    const raw::Bytes bytes =
        raw::Join({raw::Head(0x30, 1), raw::Item(raw::dp::kRfReportItemCompact, {3, 0, 0x21}, 9)});
    auto report = std::make_unique<derazud_usb_anchor_rpt_t>();
    ASSERT_EQ(Convert(bytes, report.get()), 33);
    ASSERT_EQ(ItemsOf(*report).size(), 1u);
    EXPECT_EQ(ItemsOf(*report)[0].serial_number, 0u);
    uint16_t id = 1;
    int64_t tx = 0, rx = 0;
    DerazudAnchorReportItemUtils::GetTwrDataFromItem(id, tx, rx, &ItemsOf(*report)[0]);
    EXPECT_EQ(tx, -1);
}

TEST(RawAnchorReport, ItemsBeyondTheRecordsCapacityAreLeftOut) {
    // Each item takes 124 bytes of the record: 16 fit after the 22-byte lead.
    const raw::Bytes item = raw::Item(raw::dp::kRfReportItemFull, raw::Bytes(100, 0x16), 5);
    raw::Bytes bytes = raw::Head(0x30, 20);
    for (int i = 0; i < 20; ++i) {
        bytes.insert(bytes.end(), item.begin(), item.end());
    }
    auto report = std::make_unique<derazud_usb_anchor_rpt_t>();
    StdoutCapture capture;
    EXPECT_EQ(Convert(bytes, report.get()), 10 + 16 * 120);
    EXPECT_EQ(capture.Stop(),
              "Got an anchor report with a bad item count from device 01:00:0030 (reported 20, "
              "actual 16, size 2410)\n");
    EXPECT_EQ(report->anchor_rpt.payload_length, 22 + 16 * 124);
    EXPECT_EQ(ItemsOf(*report).size(), 16u);
}

TEST(RawAnchorReport, RefusesWhatIsNotAnAnchorReport) {
    raw::Bytes bytes = raw::Mixed().Report();
    auto report = std::make_unique<derazud_usb_anchor_rpt_t>();
    bytes[0] = raw::dp::kRfPacketSync;
    EXPECT_EQ(Convert(bytes, report.get()), -1);
    bytes[0] = raw::dp::kRfPacketAnchorReport;
    EXPECT_EQ(DerazudUsbAnchorReportUtils::ConvertRawBuffToDerAzudAnchorRpt(
                  nullptr, report.get(), bytes.data(), static_cast<int>(bytes.size()), kLookup),
              -1);
    EXPECT_EQ(DerazudUsbAnchorReportUtils::ConvertRawBuffToDerAzudAnchorRpt(&kReception, report.get(),
                                                                            bytes.data(), -5, kLookup),
              -1);
}

// Through the location engine's registry: the reports of a ranging exchange
// on the test site, converted from what the devices send, locate the tag.
TEST(RawAnchorReport, ReportsConvertedThroughTheEngineLocateTheTag) {
    const dpu_test_site::site_t site = dpu_test_site::Install();
    Dpu dpu;
    {
        StdoutCapture quiet;
        ASSERT_TRUE(dpu.Init({}, site.node_manager, site.scheduler, site.budget));
    }
    const twr_test::ExchangeSetup setup = twr_test::SiteExchange();
    const twr_test::GeneratedExchange exchange = twr_test::Generate(setup);

    TwrSnoopEngine engine;
    engine.SetNodeManager(site.node_manager);
    std::vector<vex_data_position_t> published;
    engine.AttachPublisher(std::make_shared<twr_test::OutputCallbackPublisher>([&](const VexPacket& packet) {
        EXPECT_EQ(packet.GetSerialNumber(), dpu_test_site::kTag);
        vex_data_position_t position;
        ASSERT_EQ(packet.GetDataItems().size(), 1u);
        std::memcpy(&position, packet.GetDataItems()[0]->GetData(), sizeof(position));
        published.push_back(position);
    }));
    engine.AddTwrSnoopDevices(dpu_test_site::kTag, 16442, dpu_test_site::kMaster, 16450);
    for (const raw::Bytes& bytes : exchange.raw_reports) {
        auto report = std::make_unique<derazud_usb_anchor_rpt_t>();
        ASSERT_EQ(DerazudUsbAnchorReportUtils::ConvertRawBuffToDerAzudAnchorRpt(
                      &kReception, report.get(), bytes.data(), static_cast<int>(bytes.size()), &dpu),
                  static_cast<int>(bytes.size()));
        ASSERT_TRUE(SerialNumber_IsValid(report->anchor_rpt.serial_number));
        for (const derazud_anchor_rpt_item_t& item : ItemsOf(*report)) {
            EXPECT_TRUE(SerialNumber_IsValid(item.serial_number));
        }
        engine.AddData(report.get(), 1, 1);
    }
    engine.RunTwrSnoop(true);
    ASSERT_EQ(published.size(), 1u);
    const twr_test::Point found{published[0].x / 1000.0, published[0].y / 1000.0, published[0].z / 1000.0};
    EXPECT_LT(twr_test::Distance(found, twr_test::kSiteTagPosition), 0.02);

    // Without an engine no network id is resolved; the items are kept.
    auto report = std::make_unique<derazud_usb_anchor_rpt_t>();
    const raw::Bytes& bytes = exchange.raw_reports[1];
    ASSERT_EQ(DerazudUsbAnchorReportUtils::ConvertRawBuffToDerAzudAnchorRpt(
                  &kReception, report.get(), bytes.data(), static_cast<int>(bytes.size()),
                  static_cast<Dpu*>(nullptr)),
              static_cast<int>(bytes.size()));
    EXPECT_EQ(report->anchor_rpt.serial_number, 0u);
    ASSERT_EQ(ItemsOf(*report).size(), 1u);
    EXPECT_EQ(ItemsOf(*report)[0].serial_number, 0u);
}

// Writes the libFuzzer seeds of raw_anchor_report_fuzz (a flags byte, then
// the raw report; the layout is described in fuzz/raw_anchor_report_fuzz.cpp):
//   VORAV_RAW_REPORT_SEED_DIR=fuzz/corpus/raw_anchor_report dpu_derazud_anchor_report_utils_test
//   --gtest_also_run_disabled_tests --gtest_filter='*WriteFuzzSeeds'
TEST(RawAnchorReportCorpus, DISABLED_WriteFuzzSeeds) {
    const char* directory = std::getenv("VORAV_RAW_REPORT_SEED_DIR");
    ASSERT_NE(directory, nullptr);
    const raw::Mixed mixed;
    raw::Bytes unknown_type = mixed.Report();
    unknown_type[10 + mixed.items[0].size()] = 18;
    const twr_test::GeneratedExchange exchange = twr_test::Generate(twr_test::SiteExchange());
    const struct {
        const char* name;
        uint8_t flags;
        raw::Bytes bytes;
    } seeds[] = {
        {"every_item_kind", 1, mixed.Report()},           {"count_too_high", 3, mixed.Report(9)},
        {"unknown_item_type", 0, unknown_type},           {"responder_report", 5, exchange.raw_reports[1]},
        {"snoop_report", 5, exchange.raw_reports.back()},
    };
    for (const auto& seed : seeds) {
        std::ofstream out(std::string(directory) + "/" + seed.name, std::ios::binary);
        out.put(static_cast<char>(seed.flags));
        out.write(reinterpret_cast<const char*>(seed.bytes.data()),
                  static_cast<std::streamsize>(seed.bytes.size()));
        ASSERT_TRUE(out.good());
    }
}

}  // namespace
