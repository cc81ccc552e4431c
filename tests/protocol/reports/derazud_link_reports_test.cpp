// Anchor report items, anchor and tag reports as they arrive over a link, and
// time transfers.
#include <gtest/gtest.h>

#include <cstring>

#include "derazud_codec_test_support.h"
#include "protocol/reports/derazud_anchor_rpt.h"
#include "protocol/reports/derazud_anchor_rpt_item.h"
#include "protocol/reports/derazud_atwr_snoop_tag_rpt.h"
#include "protocol/reports/derazud_compact_anchor_item.h"
#include "protocol/reports/derazud_tag_rpt.h"
#include "protocol/reports/derazud_time_transfer.h"
#include "protocol/reports/derazud_usb_anchor_rpt.h"
#include "protocol/reports/derazud_usb_tag_rpt.h"
#include "protocol/reports/derazud_usb_time_transfer.h"

namespace {

using derazud_test::Bytes;
using derazud_test::ExactCopy;
using derazud_test::ExpectEveryTruncationRefused;
using derazud_test::FromHex;
using derazud_test::GuardedBuffer;

const signal_strength_t kSignal{0x0101, 0x0202, 0x0303, 0x0404, 0x0505, 0x0606};
const char kSignalHex[] = "0101 0202 0303 0404 0505 0606";

// ---- anchor report item ----

Bytes ItemWire(uint16_t header_length, size_t payload_bytes) {
    Bytes wire = FromHex("10");
    wire.push_back(static_cast<uint8_t>(header_length >> 8));
    wire.push_back(static_cast<uint8_t>(header_length));
    const Bytes rest = FromHex(std::string("123456789A") + kSignalHex + "0100002A");
    wire.insert(wire.end(), rest.begin(), rest.end());
    for (size_t i = 0; i < payload_bytes; ++i) {
        wire.push_back(static_cast<uint8_t>(0x40 + i));
    }
    return wire;
}

int DecodeItem(const Bytes& wire, size_t length, derazud_anchor_rpt_item_t* item) {
    ExactCopy copy(wire, length);
    return DerAzudAnchorRptItem_FromBuff(item, copy.data(), copy.length());
}

TEST(DerAzudAnchorRptItem, HeaderSerialNumberAndPayload) {
    const Bytes wire = ItemWire(24, 4);
    derazud_anchor_rpt_item_t item{};
    ASSERT_EQ(DecodeItem(wire, wire.size(), &item), 28);
    EXPECT_EQ(item.header.item_type, 16);
    EXPECT_EQ(item.header.length, 24);
    EXPECT_EQ(item.header.receive_time, 0x123456789Aull);
    EXPECT_EQ(item.header.signal_strength.channel_impulse_response_power, 0x0505);
    EXPECT_EQ(item.serial_number, 0x0100002Au);
    EXPECT_EQ(Bytes(item.payload, item.payload + 4), FromHex("40414243"));

    GuardedBuffer out(28);
    EXPECT_EQ(DerAzudAnchorRptItem_ToBuff(out.data(), out.size(), &item), 28);
    EXPECT_TRUE(out.GuardIntact());
    EXPECT_EQ(out.Contents(), wire);
    ExpectEveryTruncationRefused(wire, [](const uint8_t* buffer, int length) {
        derazud_anchor_rpt_item_t truncated{};
        return DerAzudAnchorRptItem_FromBuff(&truncated, buffer, length);
    });
}

TEST(DerAzudAnchorRptItem, HeaderLengthMustAnnounceAPayload) {
    derazud_anchor_rpt_item_t item{};
    const Bytes no_payload = ItemWire(20, 8);
    EXPECT_EQ(DecodeItem(no_payload, no_payload.size(), &item), -1);
    const Bytes shorter = ItemWire(3, 8);
    EXPECT_EQ(DecodeItem(shorter, shorter.size(), &item), -1);
}

TEST(DerAzudAnchorRptItem, PayloadLimits) {
    derazud_anchor_rpt_item_t item{};
    const Bytes largest = ItemWire(20 + 1028, 1028);
    EXPECT_EQ(DecodeItem(largest, largest.size(), &item), 1052);
    const Bytes too_large = ItemWire(20 + 1029, 1029);
    EXPECT_EQ(DecodeItem(too_large, too_large.size(), &item), -1);
    const Bytes past_buffer = ItemWire(20 + 10, 9);
    EXPECT_EQ(DecodeItem(past_buffer, past_buffer.size(), &item), -1);
}

TEST(DerAzudAnchorRptItem, EncoderChecksTheSameConditions) {
    derazud_anchor_rpt_item_t item{};
    item.header.length = 30;
    GuardedBuffer short_buffer(33);
    EXPECT_EQ(DerAzudAnchorRptItem_ToBuff(short_buffer.data(), short_buffer.size(), &item), -1);
    EXPECT_TRUE(short_buffer.Untouched());
    item.header.length = 20;
    GuardedBuffer no_payload(64);
    EXPECT_EQ(DerAzudAnchorRptItem_ToBuff(no_payload.data(), no_payload.size(), &item), -1);
    EXPECT_TRUE(no_payload.Untouched());
    item.header.length = 20 + 1029;
    GuardedBuffer too_large(2000);
    EXPECT_EQ(DerAzudAnchorRptItem_ToBuff(too_large.data(), too_large.size(), &item), -1);
    EXPECT_TRUE(too_large.Untouched());
}

TEST(DerAzudCompactAnchorItem, DecodesTheFirstTenPayloadBytes) {
    Bytes wire = ItemWire(30, 0);
    const Bytes body = FromHex("07 0203 13 55 0102030405");
    wire.insert(wire.end(), body.begin(), body.end());
    derazud_anchor_rpt_item_t item{};
    ASSERT_EQ(DecodeItem(wire, wire.size(), &item), 34);
    derazud_compact_anchor_item_t compact{};
    EXPECT_EQ(DerAzudCompactAnchorItem_FromDerAzudAnchorRptItem(&compact, &item), 10);
    EXPECT_EQ(compact.serial_number, 0x0100002Au);
    EXPECT_EQ(compact.header.receive_time, 0x123456789Aull);
    EXPECT_EQ(compact.compact.sequence, 7);
    EXPECT_EQ(compact.compact.network_id, 0x0203);
    EXPECT_EQ(compact.compact.received_packet_type, 19);
    EXPECT_EQ(compact.compact.transmit_time, 0x0102030405ull);
}

TEST(DerAzudCompactAnchorItem, ItemWithFewerThanTenPayloadBytesIsRefused) {
    const Bytes wire = ItemWire(29, 9);
    derazud_anchor_rpt_item_t item{};
    ASSERT_EQ(DecodeItem(wire, wire.size(), &item), 33);
    derazud_compact_anchor_item_t compact{};
    EXPECT_EQ(DerAzudCompactAnchorItem_FromDerAzudAnchorRptItem(&compact, &item), -1);
}

// ---- anchor report ----

Bytes AnchorReportWire(uint16_t payload_length, size_t payload_bytes) {
    Bytes wire = FromHex("13 05 0042 0A0B0C0D0E 02 0100002A");
    wire.push_back(static_cast<uint8_t>(payload_length >> 8));
    wire.push_back(static_cast<uint8_t>(payload_length));
    for (size_t i = 0; i < payload_bytes; ++i) {
        wire.push_back(static_cast<uint8_t>(i));
    }
    return wire;
}

int DecodeAnchorReport(const Bytes& wire, derazud_anchor_rpt_t* report) {
    ExactCopy copy(wire, wire.size());
    return DerAzudAnchorRpt_FromBuff(report, copy.data(), copy.length());
}

TEST(DerAzudAnchorRpt, RoundTrip) {
    const Bytes wire = AnchorReportWire(5, 5);
    derazud_anchor_rpt_t report{};
    ASSERT_EQ(DecodeAnchorReport(wire, &report), 21);
    EXPECT_EQ(report.report.type, 19);
    EXPECT_EQ(report.report.network_id, 0x0042);
    EXPECT_EQ(report.report.transmit_time, 0x0A0B0C0D0Eull);
    EXPECT_EQ(report.report.number_of_report_items, 2);
    EXPECT_EQ(report.serial_number, 0x0100002Au);
    EXPECT_EQ(report.payload_length, 5);
    GuardedBuffer out(21);
    EXPECT_EQ(DerAzudAnchorRpt_ToBuff(out.data(), &report, out.size()), 21);
    EXPECT_TRUE(out.GuardIntact());
    EXPECT_EQ(out.Contents(), wire);
    ExpectEveryTruncationRefused(wire, [](const uint8_t* buffer, int length) {
        derazud_anchor_rpt_t truncated{};
        return DerAzudAnchorRpt_FromBuff(&truncated, buffer, length);
    });
}

TEST(DerAzudAnchorRpt, PayloadLengthLimits) {
    derazud_anchor_rpt_t report{};
    EXPECT_EQ(DecodeAnchorReport(AnchorReportWire(2046, 2046), &report), 2062);
    EXPECT_EQ(DecodeAnchorReport(AnchorReportWire(2047, 2047), &report), -1);
    EXPECT_EQ(DecodeAnchorReport(AnchorReportWire(0, 4), &report), -1);
    EXPECT_EQ(DecodeAnchorReport(AnchorReportWire(5, 4), &report), -1);

    report.payload_length = 2047;
    GuardedBuffer out(3000);
    EXPECT_EQ(DerAzudAnchorRpt_ToBuff(out.data(), &report, out.size()), -1);
    report.payload_length = 0;
    EXPECT_EQ(DerAzudAnchorRpt_ToBuff(out.data(), &report, out.size()), -1);
    report.payload_length = 10;
    EXPECT_EQ(DerAzudAnchorRpt_ToBuff(out.data(), &report, 25), -1);
    EXPECT_TRUE(out.Untouched());
}

TEST(DerAzudUsbAnchorRpt, ReceptionFollowsTheReport) {
    Bytes wire = AnchorReportWire(3, 3);
    const Bytes reception = FromHex(std::string("1122334455") + kSignalHex + "DEADBEEF");
    wire.insert(wire.end(), reception.begin(), reception.end());
    derazud_usb_anchor_rpt_t report{};
    ExactCopy copy(wire, wire.size());
    ASSERT_EQ(DerAzudUsbAnchorRpt_FromBuff(&report, copy.data(), copy.length()), 19 + 21);
    EXPECT_EQ(report.anchor_rpt.payload_length, 3);
    EXPECT_EQ(report.receive_time, 0x1122334455ull);
    EXPECT_EQ(std::memcmp(&report.signal_strength, &kSignal, sizeof(kSignal)), 0);
    EXPECT_EQ(report.network_time, 0xDEADBEEFu);

    GuardedBuffer out(40);
    EXPECT_EQ(DerAzudUsbAnchorRpt_ToBuff(out.data(), &report, out.size()), 40);
    EXPECT_TRUE(out.GuardIntact());
    EXPECT_EQ(out.Contents(), wire);
    GuardedBuffer short_out(39);
    EXPECT_EQ(DerAzudUsbAnchorRpt_ToBuff(short_out.data(), &report, short_out.size()), -1);
    EXPECT_TRUE(short_out.Untouched());

    ExpectEveryTruncationRefused(wire, [](const uint8_t* buffer, int length) {
        derazud_usb_anchor_rpt_t truncated{};
        return DerAzudUsbAnchorRpt_FromBuff(&truncated, buffer, length);
    });
    // The snoop tag report is the same record and codec.
    derazud_atwr_snoop_tag_rpt_t snoop{};
    EXPECT_EQ(DerazudAtwrSnoopTagRpt_FromBuff(&snoop, copy.data(), copy.length()), 40);
    EXPECT_EQ(snoop.network_time, 0xDEADBEEFu);
    GuardedBuffer snoop_out(40);
    EXPECT_EQ(DerazudAtwrSnoopTagRpt_ToBuff(snoop_out.data(), &snoop, snoop_out.size()), 40);
    EXPECT_EQ(snoop_out.Contents(), wire);
    DerAzudUsbAnchorRpt_Cleanup(&snoop);
}

// ---- tag report ----

Bytes TagReportWire(uint16_t payload_length, size_t payload_bytes) {
    Bytes wire = FromHex("15 09 0077 03");
    wire.push_back(static_cast<uint8_t>(payload_length >> 8));
    wire.push_back(static_cast<uint8_t>(payload_length));
    const Bytes serial = FromHex("01000005");
    wire.insert(wire.end(), serial.begin(), serial.end());
    for (size_t i = 0; i < payload_bytes; ++i) {
        wire.push_back(static_cast<uint8_t>(0x80 + i));
    }
    return wire;
}

int DecodeTagReport(const Bytes& wire, derazud_tag_rpt_t* report) {
    ExactCopy copy(wire, wire.size());
    return DerAzudTagRpt_FromBuff(report, copy.data(), copy.length());
}

TEST(DerAzudTagRpt, RoundTripIncludingEmptyPayload) {
    for (uint16_t payload_length : {0, 6}) {
        const Bytes wire = TagReportWire(payload_length, payload_length);
        derazud_tag_rpt_t report{};
        ASSERT_EQ(DecodeTagReport(wire, &report), 11 + payload_length);
        EXPECT_EQ(report.report.type, 21);
        EXPECT_EQ(report.report.network_id, 0x0077);
        EXPECT_EQ(report.serial_number, 0x01000005u);
        GuardedBuffer out(wire.size());
        EXPECT_EQ(DerAzudTagRpt_ToBuff(out.data(), out.size(), &report), static_cast<int>(wire.size()));
        EXPECT_TRUE(out.GuardIntact());
        EXPECT_EQ(out.Contents(), wire);
        ExpectEveryTruncationRefused(wire, [](const uint8_t* buffer, int length) {
            derazud_tag_rpt_t truncated{};
            return DerAzudTagRpt_FromBuff(&truncated, buffer, length);
        });
    }
}

TEST(DerAzudTagRpt, PayloadOf1019IsRefusedEvenInALargeBuffer) {
    derazud_tag_rpt_t report{};
    EXPECT_EQ(DecodeTagReport(TagReportWire(1018, 1018), &report), 1029);
    EXPECT_EQ(DecodeTagReport(TagReportWire(1019, 1100), &report), -1);
    report.report.payload_length = 1019;
    GuardedBuffer out(2000);
    EXPECT_EQ(DerAzudTagRpt_ToBuff(out.data(), out.size(), &report), -1);
    report.report.payload_length = 10;
    EXPECT_EQ(DerAzudTagRpt_ToBuff(out.data(), 20, &report), -1);
    EXPECT_TRUE(out.Untouched());
}

TEST(DerAzudUsbTagRpt, ThreeBytesAfterTheReceiveTimeAreSkipped) {
    Bytes wire = TagReportWire(2, 2);
    const Bytes reception = FromHex(std::string("A1A2A3A4A5 EEEEEE") + kSignalHex + "00000102");
    wire.insert(wire.end(), reception.begin(), reception.end());
    derazud_usb_tag_rpt_t report{};
    ExactCopy copy(wire, wire.size());
    ASSERT_EQ(DerAzudUsbTagRpt_FromBuff(&report, copy.data(), copy.length()), 13 + 24);
    EXPECT_EQ(report.receive_time, 0xA1A2A3A4A5ull);
    EXPECT_EQ(report.signal_strength.first_path_amplitude_1, 0x0101);
    EXPECT_EQ(report.network_time, 0x102u);

    GuardedBuffer out(37);
    EXPECT_EQ(DerAzudUsbTagRpt_ToBuff(out.data(), out.size(), &report), 37);
    EXPECT_TRUE(out.GuardIntact());
    Bytes expected = wire;
    expected[18] = expected[19] = expected[20] = GuardedBuffer::kFill;
    EXPECT_EQ(out.Contents(), expected);
    GuardedBuffer short_out(36);
    EXPECT_EQ(DerAzudUsbTagRpt_ToBuff(short_out.data(), short_out.size(), &report), -1);
    EXPECT_TRUE(short_out.Untouched());
    ExpectEveryTruncationRefused(wire, [](const uint8_t* buffer, int length) {
        derazud_usb_tag_rpt_t truncated{};
        return DerAzudUsbTagRpt_FromBuff(&truncated, buffer, length);
    });
    DerAzudUsbTagRpt_Cleanup(&report);
}

// ---- time transfers ----

TEST(DerAzudUsbTimeTransfer, LayoutWithSkippedBytes) {
    const Bytes wire =
        FromHex(std::string("16 01 0203 04 0506 0708090A 0B0C0D0E0F 777777") + kSignalHex + "10111213");
    ASSERT_EQ(wire.size(), 35u);
    derazud_usb_time_transfer_t transfer{};
    EXPECT_EQ(DerAzudUsbTimeTransfer_FromBuff(&transfer, wire.data()), 35);
    EXPECT_EQ(transfer.time_transfer.report.type, 22);
    EXPECT_EQ(transfer.time_transfer.report.payload_length, 0x0506);
    EXPECT_EQ(transfer.time_transfer.serial_number, 0x0708090Au);
    EXPECT_EQ(transfer.receive_time, 0x0B0C0D0E0Full);
    EXPECT_EQ(transfer.signal_strength.preamble_accumulation_count, 0x0404);
    EXPECT_EQ(transfer.network_time, 0x10111213u);
    GuardedBuffer out(35);
    EXPECT_EQ(DerAzudUsbTimeTransfer_ToBuff(out.data(), &transfer), 35);
    EXPECT_TRUE(out.GuardIntact());
    Bytes expected = wire;
    expected[16] = expected[17] = expected[18] = GuardedBuffer::kFill;
    EXPECT_EQ(out.Contents(), expected);

    derazud_time_transfer_t plain{};
    EXPECT_EQ(DerAzudTimeTransfer_FromBuff(&plain, wire.data()), 11);
    GuardedBuffer plain_out(11);
    EXPECT_EQ(DerAzudTimeTransfer_ToBuff(plain_out.data(), &plain), 11);
    EXPECT_TRUE(plain_out.GuardIntact());
    EXPECT_EQ(plain_out.Contents(), Bytes(wire.begin(), wire.begin() + 11));
}

}  // namespace
