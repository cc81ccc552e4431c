// Command, configuration, SSP response and output stream records.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "derazud_codec_test_support.h"
#include "protocol/reports/derazud_cfg_backlink_rpt.h"
#include "protocol/reports/derazud_cfg_dpu_rpt.h"
#include "protocol/reports/derazud_cfg_network_rpt.h"
#include "protocol/reports/derazud_cfg_node_rpt.h"
#include "protocol/reports/derazud_cfg_rpt.h"
#include "protocol/reports/derazud_cfg_serial_rpt.h"
#include "protocol/reports/derazud_command.h"
#include "protocol/reports/derazud_output_data_stream.h"
#include "protocol/reports/derazud_ssp_response.h"

namespace {

using derazud_test::Bytes;
using derazud_test::ExactCopy;
using derazud_test::ExpectEveryTruncationRefused;
using derazud_test::ExpectListTruncationsLeaveRecordClean;
using derazud_test::FromHex;
using derazud_test::GuardedBuffer;

// ---- serial and backlink configuration reports (texts) ----

TEST(DerAzudCfgSerialRpt, TextAbcTakesTwelveBytesAndTrailingBytesAreNotWritten) {
    char text[] = "abc";
    const derazud_cfg_serial_rpt_t report{1, text, 115200};
    ASSERT_EQ(DerAzudCfgSerialRpt_EncodedSize(&report), 12);
    GuardedBuffer out(12);
    EXPECT_EQ(DerAzudCfgSerialRpt_ToBuff(out.data(), &report), 12);
    EXPECT_TRUE(out.GuardIntact());
    EXPECT_EQ(out.Contents(), FromHex("01 616263 00 CDCDCD 0001C200"));

    derazud_cfg_serial_rpt_t decoded{};
    const Bytes wire = out.Contents();
    ExactCopy copy(wire, wire.size());
    EXPECT_EQ(DerAzudCfgSerialRpt_FromBuff(&decoded, copy.data(), copy.length()), 12);
    EXPECT_EQ(decoded.enabled, 1);
    ASSERT_NE(decoded.port_name, nullptr);
    EXPECT_STREQ(decoded.port_name, "abc");
    EXPECT_EQ(decoded.baud_rate, 115200u);
    DerAzudCfgSerialRpt_Cleanup(&decoded);
    EXPECT_EQ(decoded.port_name, nullptr);

    ExpectEveryTruncationRefused(wire, [](const uint8_t* buffer, int length) {
        derazud_cfg_serial_rpt_t truncated{};
        const int result = DerAzudCfgSerialRpt_FromBuff(&truncated, buffer, length);
        EXPECT_EQ(truncated.port_name, nullptr);
        return result;
    });
}

TEST(DerAzudCfgSerialRpt, TextWithoutZeroIsRefused) {
    const Bytes wire = FromHex("01 6162636465666768696A6B6C");
    derazud_cfg_serial_rpt_t decoded{};
    ExactCopy copy(wire, wire.size());
    EXPECT_EQ(DerAzudCfgSerialRpt_FromBuff(&decoded, copy.data(), copy.length()), -1);
    EXPECT_EQ(decoded.port_name, nullptr);
}

TEST(DerAzudCfgSerialRpt, ZeroInTheLastThreeBytesIsNotATerminatedText) {
    // The zero is there, but its three trailing bytes would lie past the end.
    const Bytes wire = FromHex("01 6162 00 0000");
    derazud_cfg_serial_rpt_t decoded{};
    ExactCopy copy(wire, wire.size());
    EXPECT_EQ(DerAzudCfgSerialRpt_FromBuff(&decoded, copy.data(), copy.length()), -1);
}

TEST(DerAzudCfgSerialRpt, NullTextEncodesAsEmpty) {
    const derazud_cfg_serial_rpt_t report{0, nullptr, 9600};
    ASSERT_EQ(DerAzudCfgSerialRpt_EncodedSize(&report), 9);
    GuardedBuffer out(9);
    EXPECT_EQ(DerAzudCfgSerialRpt_ToBuff(out.data(), &report), 9);
    EXPECT_TRUE(out.GuardIntact());
    derazud_cfg_serial_rpt_t decoded{};
    EXPECT_EQ(DerAzudCfgSerialRpt_FromBuff(&decoded, out.data(), 9), 9);
    EXPECT_STREQ(decoded.port_name, "");
    DerAzudCfgSerialRpt_Cleanup(&decoded);
}

TEST(DerAzudCfgBacklinkRpt, TextThenSevenBytes) {
    char text[] = "eth0";
    derazud_cfg_backlink_rpt_t report{text, {1, 2, 3, 4, 5, 6, 7}};
    ASSERT_EQ(DerAzudCfgBacklinkRpt_EncodedSize(&report), 15);
    GuardedBuffer out(15);
    EXPECT_EQ(DerAzudCfgBacklinkRpt_ToBuff(out.data(), &report), 15);
    EXPECT_TRUE(out.GuardIntact());
    EXPECT_EQ(out.Contents(), FromHex("65746830 00 CDCDCD 01020304050607"));
    const Bytes wire = out.Contents();
    derazud_cfg_backlink_rpt_t decoded{};
    EXPECT_EQ(DerAzudCfgBacklinkRpt_FromBuff(&decoded, wire.data(), 15), 15);
    EXPECT_STREQ(decoded.interface_name, "eth0");
    EXPECT_EQ(decoded.values[6], 7);
    DerAzudCfgBacklinkRpt_Cleanup(&decoded);
    ExpectEveryTruncationRefused(wire, [](const uint8_t* buffer, int length) {
        derazud_cfg_backlink_rpt_t truncated{};
        const int result = DerAzudCfgBacklinkRpt_FromBuff(&truncated, buffer, length);
        EXPECT_EQ(truncated.interface_name, nullptr);
        return result;
    });
}

// ---- fixed configuration parts ----

TEST(DerAzudCfgDpuRpt, FiveBytesThenSixWords) {
    derazud_cfg_dpu_rpt_t report{{1, 2, 3, 4, 5}, {0x10, 0x20, 0x30, 0x40, 0x50, 0x60}};
    GuardedBuffer out(kDerAzudCfgDpuRptSize);
    EXPECT_EQ(DerAzudCfgDpuRpt_ToBuff(out.data(), &report), 29);
    EXPECT_TRUE(out.GuardIntact());
    EXPECT_EQ(out.Contents(), FromHex("0102030405 00000010 00000020 00000030 00000040 00000050 00000060"));
    derazud_cfg_dpu_rpt_t decoded{};
    EXPECT_EQ(DerAzudCfgDpuRpt_FromBuff(&decoded, out.data()), 29);
    EXPECT_EQ(decoded.flags[4], 5);
    EXPECT_EQ(decoded.values[5], 0x60u);
}

derazud_cfg_node_rpt_t SampleNode(uint32_t serial_number) {
    return derazud_cfg_node_rpt_t{1, 2, 0x0304, 5, serial_number, 0x0A0B0C0D, 0x11121314, {1, 2, 3, 4, 5}};
}

TEST(DerAzudCfgNodeRpt, WireLayout) {
    const derazud_cfg_node_rpt_t node = SampleNode(0x06070809);
    GuardedBuffer out(kDerAzudCfgNodeRptSize);
    EXPECT_EQ(DerAzudCfgNodeRpt_ToBuff(out.data(), &node), 27);
    EXPECT_TRUE(out.GuardIntact());
    EXPECT_EQ(out.Contents(), FromHex("01 02 0304 05 06070809 0A0B0C0D 11121314 0001 0002 0003 0004 0005"));
    derazud_cfg_node_rpt_t decoded{};
    EXPECT_EQ(DerAzudCfgNodeRpt_FromBuff(&decoded, out.data()), 27);
    EXPECT_EQ(decoded.serial_number, 0x06070809u);
    EXPECT_EQ(decoded.values[4], 5);
}

TEST(DerAzudCfgNetworkRpt, CountThenNodes) {
    derazud_cfg_node_rpt_t nodes[2] = {SampleNode(1), SampleNode(2)};
    const derazud_cfg_network_rpt_t report{2, nodes};
    ASSERT_EQ(DerAzudCfgNetworkRpt_EncodedSize(&report), 56);
    GuardedBuffer out(56);
    EXPECT_EQ(DerAzudCfgNetworkRpt_ToBuff(out.data(), &report), 56);
    EXPECT_TRUE(out.GuardIntact());
    const Bytes wire = out.Contents();
    derazud_cfg_network_rpt_t decoded{};
    ASSERT_EQ(DerAzudCfgNetworkRpt_FromBuff(&decoded, wire.data(), 56), 56);
    ASSERT_EQ(decoded.count, 2);
    EXPECT_EQ(decoded.nodes[1].serial_number, 2u);
    DerAzudCfgNetworkRpt_Cleanup(&decoded);
    EXPECT_EQ(decoded.nodes, nullptr);
    ExpectListTruncationsLeaveRecordClean(wire, DerAzudCfgNetworkRpt_FromBuff,
                                          &derazud_cfg_network_rpt_t::nodes,
                                          &derazud_cfg_network_rpt_t::count);
}

// ---- whole configuration report ----

TEST(DerAzudCfgRpt, RoundTripsAllParts) {
    char port[] = "/dev/ttyACM0";
    char interface[] = "lo";
    derazud_cfg_node_rpt_t nodes[3] = {SampleNode(1), SampleNode(2), SampleNode(3)};
    derazud_cfg_rpt_t report{};
    report.creation_time = 0x0102030405060708ull;
    report.version = 3;
    report.flags = 0x81;
    report.mode = 2;
    report.serial = {1, port, 921600};
    report.backlink = {interface, {9, 8, 7, 6, 5, 4, 3}};
    report.dpu = {{1, 0, 1, 0, 1}, {1, 2, 3, 4, 5, 6}};
    report.network = {3, nodes};
    const int size = DerAzudCfgRpt_EncodedSize(&report);
    ASSERT_EQ(size, 12 + (12 + 9) + (2 + 11) + 29 + (2 + 81));
    GuardedBuffer out(static_cast<size_t>(size));
    EXPECT_EQ(DerAzudCfgRpt_ToBuff(out.data(), &report), size);
    EXPECT_TRUE(out.GuardIntact());
    EXPECT_EQ(Bytes(out.data(), out.data() + 13), FromHex("0102030405060708 0003 81 02 01"));

    const Bytes wire = out.Contents();
    derazud_cfg_rpt_t decoded{};
    ExactCopy copy(wire, wire.size());
    ASSERT_EQ(DerAzudCfgRpt_FromBuff(&decoded, copy.data(), copy.length()), size);
    EXPECT_EQ(decoded.creation_time, report.creation_time);
    EXPECT_EQ(decoded.mode, 2);
    EXPECT_STREQ(decoded.serial.port_name, port);
    EXPECT_EQ(decoded.serial.baud_rate, 921600u);
    EXPECT_STREQ(decoded.backlink.interface_name, interface);
    EXPECT_EQ(decoded.backlink.values[0], 9);
    EXPECT_EQ(decoded.dpu.values[5], 6u);
    ASSERT_EQ(decoded.network.count, 3);
    EXPECT_EQ(decoded.network.nodes[2].serial_number, 3u);
    DerAzudCfgRpt_Cleanup(&decoded);
    EXPECT_EQ(decoded.serial.port_name, nullptr);
    EXPECT_EQ(decoded.backlink.interface_name, nullptr);
    EXPECT_EQ(decoded.network.nodes, nullptr);

    // Every refusal must free what was already decoded (checked by the leak sanitizer).
    ExpectEveryTruncationRefused(wire, [](const uint8_t* buffer, int length) {
        derazud_cfg_rpt_t truncated{};
        const int result = DerAzudCfgRpt_FromBuff(&truncated, buffer, length);
        EXPECT_EQ(truncated.serial.port_name, nullptr);
        EXPECT_EQ(truncated.backlink.interface_name, nullptr);
        EXPECT_EQ(truncated.network.nodes, nullptr);
        return result;
    });
}

// ---- command ----

TEST(DerAzudCommand, ArgumentsAndTextsRoundTrip) {
    uint64_t arguments[2] = {0x0102030405060708ull, 42};
    char first[] = "start";
    char second[] = "";
    char* texts[2] = {first, second};
    const derazud_command_t command{1, 2, 3, 4, 2, arguments, 2, texts};
    const int size = DerAzudCommand_EncodedSize(&command);
    ASSERT_EQ(size, 10 + 16 + 9 + 4);
    GuardedBuffer out(static_cast<size_t>(size));
    EXPECT_EQ(DerAzudCommand_ToBuff(out.data(), &command), size);
    EXPECT_TRUE(out.GuardIntact());
    EXPECT_EQ(out.Contents(), FromHex("0001 0002 0003 0004 02 0102030405060708 000000000000002A 02"
                                      "7374617274 00 CDCDCD 00 CDCDCD"));

    const Bytes wire = out.Contents();
    derazud_command_t decoded{};
    ExactCopy copy(wire, wire.size());
    ASSERT_EQ(DerAzudCommand_FromBuff(&decoded, copy.data(), copy.length()), size);
    EXPECT_EQ(decoded.target_id, 4);
    ASSERT_EQ(decoded.argument_count, 2);
    EXPECT_EQ(decoded.arguments[1], 42u);
    ASSERT_EQ(decoded.text_count, 2);
    EXPECT_STREQ(decoded.texts[0], "start");
    EXPECT_STREQ(decoded.texts[1], "");
    DerAzudCommand_Cleanup(&decoded);
    EXPECT_EQ(decoded.arguments, nullptr);
    EXPECT_EQ(decoded.texts, nullptr);
    EXPECT_EQ(decoded.text_count, 0);

    ExpectEveryTruncationRefused(wire, [](const uint8_t* buffer, int length) {
        derazud_command_t truncated{};
        const int result = DerAzudCommand_FromBuff(&truncated, buffer, length);
        EXPECT_EQ(truncated.arguments, nullptr);
        EXPECT_EQ(truncated.texts, nullptr);
        EXPECT_EQ(truncated.argument_count, 0);
        EXPECT_EQ(truncated.text_count, 0);
        return result;
    });
}

TEST(DerAzudCommand, CountsPastTheBufferAreRefused) {
    // 127 arguments announced, one present.
    const Bytes many_arguments = FromHex("0001000200030004 7F 0000000000000001 00");
    derazud_command_t decoded{};
    EXPECT_EQ(
        DerAzudCommand_FromBuff(&decoded, many_arguments.data(), static_cast<int>(many_arguments.size())),
        -1);
    EXPECT_EQ(decoded.arguments, nullptr);
    // Three texts announced, one present.
    const Bytes many_texts = FromHex("0001000200030004 00 03 6100000000");
    EXPECT_EQ(DerAzudCommand_FromBuff(&decoded, many_texts.data(), static_cast<int>(many_texts.size())), -1);
    EXPECT_EQ(decoded.texts, nullptr);
    EXPECT_EQ(decoded.text_count, 0);
}

TEST(DerAzudCommand, NegativeCountsMeanNone) {
    const Bytes wire = FromHex("0001000200030004 80 FF");
    derazud_command_t decoded{};
    EXPECT_EQ(DerAzudCommand_FromBuff(&decoded, wire.data(), static_cast<int>(wire.size())), 10);
    EXPECT_EQ(decoded.arguments, nullptr);
    EXPECT_EQ(decoded.texts, nullptr);
    EXPECT_EQ(DerAzudCommand_EncodedSize(&decoded), 10);
    DerAzudCommand_Cleanup(&decoded);
}

// ---- SSP response and output stream ----

TEST(DerAzudSspResponse, ByteThenWord) {
    const derazud_ssp_response_t response{0x05, 0xA1B2C3D4};
    GuardedBuffer out(kDerAzudSspResponseSize);
    EXPECT_EQ(DerAzudSspResponse_ToBuff(out.data(), &response), 5);
    EXPECT_TRUE(out.GuardIntact());
    EXPECT_EQ(out.Contents(), FromHex("05 A1B2C3D4"));
    derazud_ssp_response_t decoded{};
    EXPECT_EQ(DerAzudSspResponse_FromBuff(&decoded, out.data()), 5);
    EXPECT_EQ(decoded.sub_id, 5);
    EXPECT_EQ(decoded.result, 0xA1B2C3D4u);
}

TEST(DerAzudOutputDataStream, CopiesUpToFourteenHundredBytes) {
    Bytes data(1400);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i);
    }
    derazud_output_data_stream_t stream{};
    EXPECT_EQ(DerAzudOutputDataStream_FromBuff(&stream, data.data(), 1400), 1400);
    EXPECT_EQ(stream.length, 1400);
    EXPECT_EQ(std::memcmp(stream.data, data.data(), 1400), 0);
    EXPECT_EQ(DerAzudOutputDataStream_FromBuff(&stream, data.data(), 1401), -1);
    EXPECT_EQ(DerAzudOutputDataStream_FromBuff(&stream, data.data(), -1), -1);

    EXPECT_EQ(DerAzudOutputDataStream_FromBuff(&stream, data.data(), 10), 10);
    GuardedBuffer too_small(9);
    EXPECT_EQ(DerAzudOutputDataStream_ToBuff(too_small.data(), too_small.size(), &stream), -1);
    EXPECT_TRUE(too_small.Untouched());
    GuardedBuffer exact(10);
    EXPECT_EQ(DerAzudOutputDataStream_ToBuff(exact.data(), exact.size(), &stream), 10);
    EXPECT_TRUE(exact.GuardIntact());
    EXPECT_EQ(exact.Contents(), Bytes(data.begin(), data.begin() + 10));
}

TEST(DerAzudOutputDataStream, RecordLengthPastItsArrayIsRefused) {
    derazud_output_data_stream_t stream{};
    stream.length = 1401;
    GuardedBuffer out(2000);
    EXPECT_EQ(DerAzudOutputDataStream_ToBuff(out.data(), out.size(), &stream), -1);
    EXPECT_TRUE(out.Untouched());
}

}  // namespace
