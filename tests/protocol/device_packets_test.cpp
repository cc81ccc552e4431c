#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "protocol/anchor_report_packet.h"
#include "protocol/device_protocol.h"
#include "protocol/rf_report_item_anchor_compact_packet.h"
#include "protocol/rf_report_item_header_packet.h"
#include "protocol/rtls_tag_report_packet.h"
#include "protocol/set_mpu_config_packet.h"
#include "protocol/set_rf_settings_packet.h"
#include "protocol/signal_strength_packet.h"
#include "protocol/tag_report_packet.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kGuard = 0xA5;
constexpr size_t kGuardBytes = 8;

template <typename Record>
using FromBuffFn = int (*)(const uint8_t*, Record*);
template <typename Record>
using ToBuffFn = int (*)(uint8_t*, const Record*);

// Encodes into a buffer followed by guard bytes; fails the test when the
// encoder reports another size than expected or writes past the record.
template <typename Record>
Bytes Encode(ToBuffFn<Record> to_buff, const Record& record, int size) {
    Bytes buffer(static_cast<size_t>(size) + kGuardBytes, kGuard);
    EXPECT_EQ(to_buff(buffer.data(), &record), size);
    for (size_t i = static_cast<size_t>(size); i < buffer.size(); ++i) {
        EXPECT_EQ(buffer[i], kGuard) << "encoder wrote past the record at offset " << i;
    }
    buffer.resize(static_cast<size_t>(size));
    return buffer;
}

// Decodes exactly `bytes` (copied to a heap buffer of that size, so that the
// sanitizers catch a read past the record) and checks the returned size.
template <typename Record>
Record Decode(FromBuffFn<Record> from_buff, const Bytes& bytes) {
    Record record{};
    std::vector<uint8_t> exact(bytes);
    EXPECT_EQ(from_buff(exact.data(), &record), static_cast<int>(bytes.size()));
    return record;
}

// Decoding then encoding gives the same bytes back.
template <typename Record>
Record ExpectByteExact(FromBuffFn<Record> from_buff, ToBuffFn<Record> to_buff, const Bytes& bytes) {
    const Record record = Decode(from_buff, bytes);
    EXPECT_EQ(Encode(to_buff, record, static_cast<int>(bytes.size())), bytes);
    return record;
}

Bytes Sequence(size_t size, uint8_t first) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(first + 0x11 * i);
    return bytes;
}

}  // namespace

// ---------------------------------------------------------------- RF settings

TEST(CmdSetRfSettings, EncodesTransmitPowerBigEndianAndSettingBytesUnchanged) {
    cmd_set_rf_settings_t record{};
    record.type = device_protocol::kCmdSetRfSettings;
    record.len = device_protocol::kCmdSetRfSettingsLen;
    record.execution_time = 0x00682539;
    record.timed_flag = 0xF0;
    record.channel_number = 0xF1;
    record.prf_flag = 0xF2;
    record.preamble_length_code = 0xF3;
    record.second_preamble_code = 0xF4;
    record.transmit_preamble_code = 0xF5;
    record.receive_preamble_code = 0xF6;
    record.setting_byte_7 = 0xF7;
    record.bit_rate_code = 0xF8;
    record.setting_byte_9 = 0xF9;
    record.transmit_power_code = 0x1F1F1F1F;

    const Bytes expected{0x16, 0x14, 0x00, 0x68, 0x25, 0x39, 0xF0, 0xF1, 0xF2, 0xF3,
                         0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x1F, 0x1F, 0x1F, 0x1F};
    EXPECT_EQ(Encode(CmdSetRfSettings_ToBuff, record, 20), expected);
    EXPECT_EQ(CmdSetRfSettings_Size(), 20);
}

TEST(CmdSetRfSettings, DecodesEveryFieldAtItsOffset) {
    const Bytes bytes = Sequence(20, 0x01);
    const cmd_set_rf_settings_t record =
        ExpectByteExact(CmdSetRfSettings_FromBuff, CmdSetRfSettings_ToBuff, bytes);
    EXPECT_EQ(record.type, 0x01);
    EXPECT_EQ(record.len, 0x12);
    EXPECT_EQ(record.execution_time, 0x23344556u);
    EXPECT_EQ(record.timed_flag, 0x67);
    EXPECT_EQ(record.channel_number, 0x78);
    EXPECT_EQ(record.prf_flag, 0x89);
    EXPECT_EQ(record.preamble_length_code, 0x9A);
    EXPECT_EQ(record.second_preamble_code, 0xAB);
    EXPECT_EQ(record.transmit_preamble_code, 0xBC);
    EXPECT_EQ(record.receive_preamble_code, 0xCD);
    EXPECT_EQ(record.setting_byte_7, 0xDE);
    EXPECT_EQ(record.bit_rate_code, 0xEF);
    EXPECT_EQ(record.setting_byte_9, 0x00);
    EXPECT_EQ(record.transmit_power_code, 0x11223344u);
}

// ---------------------------------------------------------------- MPU config

TEST(CmdSetMpuConfig, PacksScaleAndFilterCodesIntoOneByte) {
    cmd_set_mpu_config_t record{};
    record.type = device_protocol::kCmdSetMpuConfig;
    record.len = device_protocol::kCmdSetMpuConfigLen;
    record.sensors_config.enable_flags = 0x3F;
    record.sensors_config.gyroscope_scale_code = 5;
    record.sensors_config.gyroscope_filter_code = 9;
    record.sensors_config.accelerometer_scale_code = 3;
    record.sensors_config.accelerometer_filter_code = 6;
    record.sensors_config.sample_rate_divisor = 19;
    record.sensors_config.subsample_rate_divisor = 4;
    record.sensors_config.payload_headroom = 200;

    const Bytes bytes = Encode(CmdSetMpuConfig_ToBuff, record, 7);
    EXPECT_EQ(bytes, (Bytes{0x1B, 0x07, 0x3F, 0x09, 0x1E, 0x13, 0x04}));
    EXPECT_EQ(CmdSetMpuConfig_Size(), 7);

    const cmd_set_mpu_config_t decoded = Decode(CmdSetMpuConfig_FromBuff, bytes);
    EXPECT_EQ(decoded.type, 0x1B);
    EXPECT_EQ(decoded.len, 7);
    EXPECT_EQ(decoded.sensors_config.enable_flags, 0x3F);
    EXPECT_EQ(decoded.sensors_config.gyroscope_scale_code, 1u);
    EXPECT_EQ(decoded.sensors_config.gyroscope_filter_code, 1u);
    EXPECT_EQ(decoded.sensors_config.accelerometer_scale_code, 3u);
    EXPECT_EQ(decoded.sensors_config.accelerometer_filter_code, 6u);
    EXPECT_EQ(decoded.sensors_config.sample_rate_divisor, 19);
    EXPECT_EQ(decoded.sensors_config.subsample_rate_divisor, 4);
    EXPECT_EQ(decoded.sensors_config.payload_headroom, 0);
}

TEST(CmdSetMpuConfig, DecodingIgnoresTheUnusedTopBitsOfTheCodeBytes) {
    const Bytes bytes{0x1B, 0x07, 0x01, 0xFF, 0xE2, 0x00, 0xFF};
    const cmd_set_mpu_config_t decoded = Decode(CmdSetMpuConfig_FromBuff, bytes);
    EXPECT_EQ(decoded.sensors_config.gyroscope_scale_code, 3u);
    EXPECT_EQ(decoded.sensors_config.gyroscope_filter_code, 7u);
    EXPECT_EQ(decoded.sensors_config.accelerometer_scale_code, 0u);
    EXPECT_EQ(decoded.sensors_config.accelerometer_filter_code, 2u);
    // The three top bits are not part of the command: they come back cleared.
    EXPECT_EQ(Encode(CmdSetMpuConfig_ToBuff, decoded, 7), (Bytes{0x1B, 0x07, 0x01, 0x1F, 0x02, 0x00, 0xFF}));
}

TEST(CmdSetMpuConfig, RoundTripsEveryValidCodeCombination) {
    for (uint8_t gyro = 0; gyro < 32; ++gyro) {
        for (uint8_t accel = 0; accel < 32; ++accel) {
            const Bytes bytes{0x1B, 0x07, 0x15, gyro, accel, 0x07, 0x01};
            ExpectByteExact(CmdSetMpuConfig_FromBuff, CmdSetMpuConfig_ToBuff, bytes);
        }
    }
}

// ---------------------------------------------------------------- Reports

TEST(PacketAnchorReport, DecodesFieldsAndFortyBitTransmitTime) {
    const Bytes bytes{0x13, 0x2A, 0x00, 0x05, 0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x03};
    const packet_anchor_report_t record =
        ExpectByteExact(PacketAnchorReport_FromBuff, PacketAnchorReport_ToBuff, bytes);
    EXPECT_EQ(record.type, device_protocol::kRfPacketAnchorReport);
    EXPECT_EQ(record.sequence, 0x2A);
    EXPECT_EQ(record.network_id, 5);
    EXPECT_EQ(record.transmit_time, 0xFEDCBA9876ull);
    EXPECT_EQ(record.number_of_report_items, 3);
    EXPECT_EQ(PacketAnchorReport_Size(), 10);
}

TEST(PacketAnchorReport, EncodesOnlyTheLowFortyBitsOfTheTransmitTime) {
    packet_anchor_report_t record{};
    record.type = 19;
    record.transmit_time = 0xFFFF0102030405ull;
    EXPECT_EQ(Encode(PacketAnchorReport_ToBuff, record, 10),
              (Bytes{0x13, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x00}));
}

TEST(PacketTagReport, SharesTheAnchorReportLayout) {
    const Bytes bytes = Sequence(10, 0x14);
    const packet_tag_report_t tag = ExpectByteExact(PacketTagReport_FromBuff, PacketTagReport_ToBuff, bytes);
    const packet_anchor_report_t anchor = Decode(PacketAnchorReport_FromBuff, bytes);
    EXPECT_EQ(tag.network_id, anchor.network_id);
    EXPECT_EQ(tag.transmit_time, anchor.transmit_time);
    EXPECT_EQ(tag.number_of_report_items, anchor.number_of_report_items);
    EXPECT_EQ(PacketTagReport_Size(), 10);
}

TEST(PacketRtlsTagReport, DecodesHeadWithPayloadLength) {
    const Bytes bytes{0x15, 0x07, 0x12, 0x34, 0x9C, 0x01, 0x02};
    const packet_rtls_tag_report_t record =
        ExpectByteExact(PacketRtlsTagReport_FromBuff, PacketRtlsTagReport_ToBuff, bytes);
    EXPECT_EQ(record.type, device_protocol::kRfPacketLocationTagReport);
    EXPECT_EQ(record.sequence, 7);
    EXPECT_EQ(record.network_id, 0x1234);
    EXPECT_EQ(record.byte_4, 0x9C);
    EXPECT_EQ(record.payload_length, 0x0102);
    EXPECT_EQ(PacketRtlsTagReport_Size(), 7);
}

TEST(PacketRfReportItemHeader, DecodesReceiveTimeAndSixSignalValuesInOrder) {
    const Bytes bytes{0x11, 0x00, 0x1E, 0x01, 0x23, 0x45, 0x67, 0x89, 0x10, 0x01,
                      0x20, 0x02, 0x30, 0x03, 0x40, 0x04, 0x50, 0x05, 0x60, 0x06};
    const rf_packet_report_item_header_t record =
        ExpectByteExact(PacketRfReportItemHeader_FromBuff, PacketRfReportItemHeader_ToBuff, bytes);
    EXPECT_EQ(record.item_type, device_protocol::kRfReportItemFull);
    EXPECT_EQ(record.length, 30);
    EXPECT_EQ(record.receive_time, 0x0123456789ull);
    EXPECT_EQ(record.signal_strength.first_path_amplitude_1, 0x1001);
    EXPECT_EQ(record.signal_strength.first_path_amplitude_2, 0x2002);
    EXPECT_EQ(record.signal_strength.first_path_amplitude_3, 0x3003);
    EXPECT_EQ(record.signal_strength.preamble_accumulation_count, 0x4004);
    EXPECT_EQ(record.signal_strength.channel_impulse_response_power, 0x5005);
    EXPECT_EQ(record.signal_strength.reserved, 0x6006);
    EXPECT_EQ(PacketRfReportItemHeader_Size(), 20);
}

TEST(PacketRfReportItemHeader, SignalValuesMatchTheStandaloneCodec) {
    const Bytes bytes = Sequence(20, 0x10);
    const rf_packet_report_item_header_t header = Decode(PacketRfReportItemHeader_FromBuff, bytes);
    const signal_strength_t signal = Decode(SignalStrength_FromBuff, Bytes(bytes.begin() + 8, bytes.end()));
    EXPECT_EQ(header.signal_strength.first_path_amplitude_1, signal.first_path_amplitude_1);
    EXPECT_EQ(header.signal_strength.reserved, signal.reserved);
    EXPECT_EQ(SignalStrength_Size(), 12);
    EXPECT_EQ(Encode(SignalStrength_ToBuff, signal, 12), Bytes(bytes.begin() + 8, bytes.end()));
}

TEST(PacketRfReportItemAnchorCompact, DecodesTransmitterAndTransmitTime) {
    const Bytes bytes{0x42, 0xFF, 0xFF, 0x10, 0x77, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};
    const rf_packet_report_item_anchor_compact_t record = ExpectByteExact(
        PacketRfReportItemAnchorCompact_FromBuff, PacketRfReportItemAnchorCompact_ToBuff, bytes);
    EXPECT_EQ(record.sequence, 0x42);
    EXPECT_EQ(record.network_id, 0xFFFF);
    EXPECT_EQ(record.received_packet_type, device_protocol::kRfPacketSync);
    EXPECT_EQ(record.byte_4, 0x77);
    EXPECT_EQ(record.transmit_time, 0xAABBCCDDEEull);
    EXPECT_EQ(PacketRfReportItemAnchorCompact_Size(), 10);
}
