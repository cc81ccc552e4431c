#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "protocol/packets/anchor_report_packet.h"
#include "protocol/packets/announce_request_packet.h"
#include "protocol/packets/announce_response_packet.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/ethernet_announce_packet.h"
#include "protocol/packets/ethernet_config2_packet.h"
#include "protocol/packets/ethernet_config_packet.h"
#include "protocol/packets/led_control_packet.h"
#include "protocol/packets/receive_packet.h"
#include "protocol/packets/reset_device_packet.h"
#include "protocol/packets/rf_report_item_anchor_compact_packet.h"
#include "protocol/packets/rf_report_item_header_packet.h"
#include "protocol/packets/rtls_tag_report_packet.h"
#include "protocol/packets/rx_passthrough_data_packet.h"
#include "protocol/packets/select_device_addr_packet.h"
#include "protocol/packets/sensor_data_accel_packet.h"
#include "protocol/packets/sensor_data_bar_packet.h"
#include "protocol/packets/sensor_data_gyro_packet.h"
#include "protocol/packets/sensor_data_header_packet.h"
#include "protocol/packets/sensor_data_mag_packet.h"
#include "protocol/packets/sensor_data_quaternion_packet.h"
#include "protocol/packets/sensor_data_temp_packet.h"
#include "protocol/packets/set_anchor_report_size_packet.h"
#include "protocol/packets/set_collector_packets_packet.h"
#include "protocol/packets/set_device_addr_packet.h"
#include "protocol/packets/set_mpu_config_packet.h"
#include "protocol/packets/set_rf_settings_packet.h"
#include "protocol/packets/set_userdata_size_packet.h"
#include "protocol/packets/signal_strength_packet.h"
#include "protocol/packets/split_sync_packet.h"
#include "protocol/packets/ssp_cmd_exec_sync_cmds_packet.h"
#include "protocol/packets/ssp_cmd_get_gnt_packet.h"
#include "protocol/packets/ssp_cmd_packet.h"
#include "protocol/packets/ssp_cmd_set_rx_passthrough_packet.h"
#include "protocol/packets/ssp_cmd_set_sync_cmds_packet.h"
#include "protocol/packets/ssp_cmd_set_tx_passthrough_packet.h"
#include "protocol/packets/ssp_cmd_start_sync_packet.h"
#include "protocol/packets/ssp_cmd_stop_sync_packet.h"
#include "protocol/packets/sync_packet.h"
#include "protocol/packets/tag_report_packet.h"
#include "protocol/packets/time_transfer_packet.h"
#include "protocol/packets/transmit_packet.h"
#include "protocol/packets/tx_passthrough_data_packet.h"

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

// ---------------------------------------------------------------- Every record

namespace {

struct CodecCase {
    std::string name;
    int wire_size;  // as the format defines it, independent of the constants
    int (*size)();
    // Decodes `input`, encodes the record into `output`; returns both results.
    std::function<std::pair<int, int>(const uint8_t* input, uint8_t* output)> decode_encode;
    // False where the encoder drops bits that the decoder read.
    bool byte_exact;
};

// Keeps the test names readable and stable: the default printer dumps the
// object's bytes, pointers included.
void PrintTo(const CodecCase& codec, std::ostream* out) {
    *out << codec.name;
}

template <typename Record>
CodecCase Case(std::string name, int wire_size, FromBuffFn<Record> from_buff, ToBuffFn<Record> to_buff,
               int (*size)(), bool byte_exact = true) {
    auto decode_encode = [from_buff, to_buff](const uint8_t* input, uint8_t* output) {
        Record record{};
        const int read = from_buff(input, &record);
        return std::make_pair(read, to_buff(output, &record));
    };
    return CodecCase{std::move(name), wire_size, size, decode_encode, byte_exact};
}

std::vector<CodecCase> AllCodecs() {
    return {
        Case("SspCmd", 2, SspCmd_FromBuff, SspCmd_ToBuff, SspCmd_Size),
        Case("SspCmdStartSync", 13, SspCmdStartSync_FromBuff, SspCmdStartSync_ToBuff, SspCmdStartSync_Size),
        Case("SspCmdGetGnt", 6, SspCmdGetGnt_FromBuff, SspCmdGetGnt_ToBuff, SspCmdGetGnt_Size),
        Case("SspCmdSetRxPassthrough", 3, SspCmdSetRxPassthrough_FromBuff, SspCmdSetRxPassthrough_ToBuff,
             SspCmdSetRxPassthrough_Size),
        Case("SspCmdSetTxPassthrough", 3, SspCmdSetTxPassthrough_FromBuff, SspCmdSetTxPassthrough_ToBuff,
             SspCmdSetTxPassthrough_Size),
        Case("SspCmdSetSyncCmds", 5, SspCmdSetSyncCmds_FromBuff, SspCmdSetSyncCmds_ToBuff,
             SspCmdSetSyncCmds_Size),
        Case("SspCmdExecSyncCmds", 5, SspCmdExecSyncCmds_FromBuff, SspCmdExecSyncCmds_ToBuff,
             SspCmdExecSyncCmds_Size),
        Case("SspCmdStopSync", 2, SspCmdStopSync_FromBuff, SspCmdStopSync_ToBuff, SspCmdStopSync_Size),
        Case("CmdLedControl", 11, CmdLedControl_FromBuff, CmdLedControl_ToBuff, CmdLedControl_Size),
        Case("CmdSetDeviceAddr", 8, CmdSetDeviceAddr_FromBuff, CmdSetDeviceAddr_ToBuff,
             CmdSetDeviceAddr_Size),
        Case("CmdSelectDeviceAddr", 2, CmdSelectDeviceAddr_FromBuff, CmdSelectDeviceAddr_ToBuff,
             CmdSelectDeviceAddr_Size),
        Case("CmdTransmit", 12, CmdTransmit_FromBuff, CmdTransmit_ToBuff, CmdTransmit_Size),
        Case("CmdReceive", 14, CmdReceive_FromBuff, CmdReceive_ToBuff, CmdReceive_Size),
        Case("CmdSetRfSettings", 20, CmdSetRfSettings_FromBuff, CmdSetRfSettings_ToBuff,
             CmdSetRfSettings_Size),
        Case("CmdResetDevice", 6, CmdResetDevice_FromBuff, CmdResetDevice_ToBuff, CmdResetDevice_Size),
        Case("CmdSetCollectorPackets", 2, CmdSetCollectorPackets_FromBuff, CmdSetCollectorPackets_ToBuff,
             CmdSetCollectorPackets_Size),
        Case("CmdSetAnchorReportSize", 4, CmdSetAnchorReportSize_FromBuff, CmdSetAnchorReportSize_ToBuff,
             CmdSetAnchorReportSize_Size),
        Case("CmdSetMpuConfig", 7, CmdSetMpuConfig_FromBuff, CmdSetMpuConfig_ToBuff, CmdSetMpuConfig_Size,
             /*byte_exact=*/false),
        Case("CmdSetUserdataSize", 4, CmdSetUserdataSize_FromBuff, CmdSetUserdataSize_ToBuff,
             CmdSetUserdataSize_Size),
        Case("CmdAnnounceRequest", 7, CmdAnnounceRequest_FromBuff, CmdAnnounceRequest_ToBuff,
             CmdAnnounceRequest_Size),
        Case("CmdSplitSync", 12, CmdSplitSync_FromBuff, CmdSplitSync_ToBuff, CmdSplitSync_Size),
        Case("PacketAnnounceResponse", 5, PacketAnnounceResponse_FromBuff, PacketAnnounceResponse_ToBuff,
             PacketAnnounceResponse_Size),
        Case("PacketSync", 25, PacketSync_FromBuff, PacketSync_ToBuff, PacketSync_Size),
        Case("PacketAnchorReport", 10, PacketAnchorReport_FromBuff, PacketAnchorReport_ToBuff,
             PacketAnchorReport_Size),
        Case("PacketTagReport", 10, PacketTagReport_FromBuff, PacketTagReport_ToBuff, PacketTagReport_Size),
        Case("PacketRtlsTagReport", 7, PacketRtlsTagReport_FromBuff, PacketRtlsTagReport_ToBuff,
             PacketRtlsTagReport_Size),
        Case("PacketRfReportItemHeader", 20, PacketRfReportItemHeader_FromBuff,
             PacketRfReportItemHeader_ToBuff, PacketRfReportItemHeader_Size),
        Case("PacketRfReportItemAnchorCompact", 10, PacketRfReportItemAnchorCompact_FromBuff,
             PacketRfReportItemAnchorCompact_ToBuff, PacketRfReportItemAnchorCompact_Size),
        Case("SspCmdSetRxPassthroughData", 21, SspCmdSetRxPassthrough_Data_FromBuff,
             SspCmdSetRxPassthrough_Data_ToBuff, SspCmdSetRxPassthrough_Data_Size),
        Case("SspCmdSetTxPassthroughData", 4, SspCmdSetTxPassthrough_Data_FromBuff,
             SspCmdSetTxPassthrough_Data_ToBuff, SspCmdSetTxPassthrough_Data_Size),
        Case("TimeTransferPkt", 9, TimeTransferPkt_FromBuff, TimeTransferPkt_ToBuff, TimeTransferPkt_Size),
        Case("SignalStrength", 12, SignalStrength_FromBuff, SignalStrength_ToBuff, SignalStrength_Size),
        Case("SensorDataHeader", 2, SensorDataHeader_FromBuff, SensorDataHeader_ToBuff,
             SensorDataHeader_Size),
        Case("SensorDataBar", 8, SensorDataBar_FromBuff, SensorDataBar_ToBuff, SensorDataBar_Size),
        Case("SensorDataTemp", 6, SensorDataTemp_FromBuff, SensorDataTemp_ToBuff, SensorDataTemp_Size),
        Case("SensorDataAccel", 10, SensorDataAccel_FromBuff, SensorDataAccel_ToBuff, SensorDataAccel_Size),
        Case("SensorDataGyro", 10, SensorDataGyro_FromBuff, SensorDataGyro_ToBuff, SensorDataGyro_Size),
        Case("SensorDataMag", 10, SensorDataMag_FromBuff, SensorDataMag_ToBuff, SensorDataMag_Size),
        Case("SensorDataQuaternion", 20, SensorDataQuaternion_FromBuff, SensorDataQuaternion_ToBuff,
             SensorDataQuaternion_Size),
        Case("EthernetAnnouncePacket", 12, EthernetAnnouncePacket_FromBuff, EthernetAnnouncePacket_ToBuff,
             EthernetAnnouncePacket_Size),
        Case("EthernetConfigPacket2", 9, EthernetConfigPacket2_FromBuff, EthernetConfigPacket2_ToBuff,
             EthernetConfigPacket2_Size),
        Case("EthernetConfigPacket", 8, EthernetConfigPacket_FromBuff, EthernetConfigPacket_ToBuff,
             EthernetConfigPacket_Size),
    };
}

class EveryRecordCodec : public ::testing::TestWithParam<CodecCase> {
  protected:
    // Decodes `input` from a heap buffer of exactly the record's size and
    // encodes into a guarded buffer; returns the encoded bytes.
    Bytes DecodeEncode(const Bytes& input) {
        const CodecCase& codec = GetParam();
        Bytes exact(input);
        Bytes output(input.size() + kGuardBytes, kGuard);
        const std::pair<int, int> results = codec.decode_encode(exact.data(), output.data());
        EXPECT_EQ(results.first, codec.wire_size);
        EXPECT_EQ(results.second, codec.wire_size);
        for (size_t i = input.size(); i < output.size(); ++i) {
            EXPECT_EQ(output[i], kGuard) << "encoder wrote past the record at offset " << i;
        }
        output.resize(input.size());
        return output;
    }

    std::vector<Bytes> Patterns() const {
        const size_t size = static_cast<size_t>(GetParam().wire_size);
        return {Bytes(size, 0x00), Bytes(size, 0xFF), Bytes(size, 0x80), Sequence(size, 0x01),
                Sequence(size, 0xF7)};
    }
};

TEST_P(EveryRecordCodec, SizeIsTheWireSize) {
    EXPECT_EQ(GetParam().size(), GetParam().wire_size);
}

TEST_P(EveryRecordCodec, DecodeThenEncodeGivesTheBytesBack) {
    for (const Bytes& input : Patterns()) {
        const Bytes encoded = DecodeEncode(input);
        if (GetParam().byte_exact) {
            EXPECT_EQ(encoded, input);
        }
        // Whatever the encoder drops, its output is a fixed point.
        EXPECT_EQ(DecodeEncode(encoded), encoded);
    }
}

INSTANTIATE_TEST_SUITE_P(DevicePackets, EveryRecordCodec, ::testing::ValuesIn(AllCodecs()),
                         [](const ::testing::TestParamInfo<CodecCase>& info) { return info.param.name; });

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
    // The headroom is a 16-bit configuration value and stays out of the command.
    record.sensors_config.payload_headroom = 1000;

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

static_assert(std::is_same<decltype(sensors_config_t::payload_headroom), uint16_t>::value,
              "the payload headroom is a 16-bit configuration value");

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

TEST(PacketAnnounceResponse, DecodesTheBridgeAnswer) {
    const packet_announce_response_t record =
        Decode(PacketAnnounceResponse_FromBuff, Bytes{0x10, 0x01, 0x00, 0x00, 0x07});
    EXPECT_EQ(record.type, device_protocol::kSspTypeBridge);
    EXPECT_EQ(record.serial_number, 0x01000007u);
}

// ---------------------------------------------------------------- Sync and RF packets

TEST(PacketSync, WritesOnlyTheLowFortyBitsOfTheTransmitTime) {
    packet_sync_t record{};
    record.type = device_protocol::kRfPacketSync;
    record.sequence = 0x99;
    record.network_id = 0x0001;
    record.network_time = 0x000A0B0C;
    record.byte_8 = 0x08;
    record.field_9 = 0x09090909;
    record.byte_13 = 0x13;
    record.byte_14 = 0x14;
    record.field_15 = 0x15151515;
    record.transmit_time = 0x123456789ABull;
    record.byte_24 = 0x24;
    const Bytes bytes = Encode(PacketSync_ToBuff, record, 25);
    EXPECT_EQ(bytes, (Bytes{0x10, 0x99, 0x00, 0x01, 0x00, 0x0A, 0x0B, 0x0C, 0x08, 0x09, 0x09, 0x09, 0x09,
                            0x13, 0x14, 0x15, 0x15, 0x15, 0x15, 0x23, 0x45, 0x67, 0x89, 0xAB, 0x24}));
    const packet_sync_t decoded = Decode(PacketSync_FromBuff, bytes);
    EXPECT_EQ(decoded.transmit_time, 0x23456789ABull);
    EXPECT_EQ(decoded.network_time, 0x000A0B0Cu);
    EXPECT_EQ(decoded.field_15, 0x15151515u);
    EXPECT_EQ(decoded.byte_24, 0x24);
}

TEST(FortyBitTimes, EveryEncoderDropsTheBitsAboveForty) {
    const uint64_t time = 0xABCDEF0102030405ull;
    const uint64_t low_forty = 0x0102030405ull;

    rf_packet_report_item_header_t header{};
    header.receive_time = time;
    EXPECT_EQ(Decode(PacketRfReportItemHeader_FromBuff, Encode(PacketRfReportItemHeader_ToBuff, header, 20))
                  .receive_time,
              low_forty);

    rf_packet_report_item_anchor_compact_t compact{};
    compact.transmit_time = time;
    EXPECT_EQ(Decode(PacketRfReportItemAnchorCompact_FromBuff,
                     Encode(PacketRfReportItemAnchorCompact_ToBuff, compact, 10))
                  .transmit_time,
              low_forty);

    ssp_cmd_set_rx_passthrough_data_t rx{};
    rx.receive_time = time;
    EXPECT_EQ(Decode(SspCmdSetRxPassthrough_Data_FromBuff, Encode(SspCmdSetRxPassthrough_Data_ToBuff, rx, 21))
                  .receive_time,
              low_forty);

    time_transfer_pkt_t transfer{};
    transfer.time = time;
    EXPECT_EQ(Decode(TimeTransferPkt_FromBuff, Encode(TimeTransferPkt_ToBuff, transfer, 9)).time, low_forty);
}

TEST(SspCmdSetRxPassthroughData, DecodesReceiveHeader) {
    const Bytes bytes{0x13, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x00, 0x11, 0x00, 0x22,
                      0x00, 0x33, 0x00, 0x44, 0x00, 0x55, 0x00, 0x66, 0x00, 0x19};
    const ssp_cmd_set_rx_passthrough_data_t record =
        ExpectByteExact(SspCmdSetRxPassthrough_Data_FromBuff, SspCmdSetRxPassthrough_Data_ToBuff, bytes);
    EXPECT_EQ(record.type, device_protocol::kSspTypeRxPassthrough);
    EXPECT_EQ(record.receive_time, 0x0102030405ull);
    EXPECT_EQ(record.signal_strength.first_path_amplitude_1, 0x11);
    EXPECT_EQ(record.signal_strength.channel_impulse_response_power, 0x55);
    EXPECT_EQ(record.signal_strength.reserved, 0x66);
    EXPECT_EQ(record.rf_packet_length, 25);
}

TEST(SspCmdSetTxPassthroughData, DecodesTypeAndRfPacketLength) {
    const ssp_cmd_set_tx_passthrough_data_t record =
        ExpectByteExact(SspCmdSetTxPassthrough_Data_FromBuff, SspCmdSetTxPassthrough_Data_ToBuff,
                        Bytes{0x14, 0x10, 0x01, 0x19});
    EXPECT_EQ(record.type, device_protocol::kSspTypeTxPassthrough);
    EXPECT_EQ(record.byte_1, 0x10);
    EXPECT_EQ(record.rf_packet_length, 0x0119);
}

TEST(TimeTransferPkt, DecodesFields) {
    const time_transfer_pkt_t record =
        ExpectByteExact(TimeTransferPkt_FromBuff, TimeTransferPkt_ToBuff,
                        Bytes{0x16, 0x01, 0x02, 0x03, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5});
    EXPECT_EQ(record.type, device_protocol::kRfPacketTimeTransfer);
    EXPECT_EQ(record.byte_1, 0x01);
    EXPECT_EQ(record.field_2, 0x0203);
    EXPECT_EQ(record.time, 0xF1F2F3F4F5ull);
}

// ---------------------------------------------------------------- SSP commands

TEST(SspCmdStartSync, EncodesTheNormalStart) {
    ssp_cmd_start_sync_t record{};
    record.type = device_protocol::kSspTypeCommand;
    record.sub_id = device_protocol::kSspCmdStartSync;
    record.sync_period = 0x0001E848;
    record.fast_sync_factor = 1;
    record.announcement_slot_start = 0x00012345;
    record.byte_11 = 127;
    record.byte_12 = 2;
    const Bytes bytes = Encode(SspCmdStartSync_ToBuff, record, 13);
    EXPECT_EQ(bytes, (Bytes{0x11, 0x00, 0x00, 0x01, 0xE8, 0x48, 0x01, 0x00, 0x01, 0x23, 0x45, 0x7F, 0x02}));
    const ssp_cmd_start_sync_t decoded = Decode(SspCmdStartSync_FromBuff, bytes);
    EXPECT_EQ(decoded.sync_period, 0x0001E848u);
    EXPECT_EQ(decoded.announcement_slot_start, 0x00012345u);
    EXPECT_EQ(decoded.byte_11, 127);
    EXPECT_EQ(decoded.byte_12, 2);
}

TEST(SspCmdSyncCmds, SetAndExecShareTheHeadLayout) {
    ssp_cmd_exec_sync_cmds_t exec{};
    exec.type = device_protocol::kSspTypeCommand;
    exec.sub_id = device_protocol::kSspCmdExecSyncCmds;
    exec.byte_count = 20;
    exec.number_of_commands = 1;
    EXPECT_EQ(Encode(SspCmdExecSyncCmds_ToBuff, exec, 5), (Bytes{0x11, 0x05, 0x00, 0x14, 0x01}));

    const ssp_cmd_set_sync_cmds_t set =
        Decode(SspCmdSetSyncCmds_FromBuff, Bytes{0x11, 0x04, 0x03, 0xF5, 0x7E});
    EXPECT_EQ(set.sub_id, device_protocol::kSspCmdSetSyncCmds);
    EXPECT_EQ(set.byte_count, 0x03F5);
    EXPECT_EQ(set.number_of_commands, 0x7E);
}

TEST(SspCmdPassthrough, EncodesEnableByteAsGiven) {
    ssp_cmd_set_rx_passthrough_t rx{device_protocol::kSspTypeCommand,
                                    device_protocol::kSspCmdSetRxPassthrough, 1};
    EXPECT_EQ(Encode(SspCmdSetRxPassthrough_ToBuff, rx, 3), (Bytes{0x11, 0x02, 0x01}));
    ssp_cmd_set_tx_passthrough_t tx{device_protocol::kSspTypeCommand,
                                    device_protocol::kSspCmdSetTxPassthrough, 0xC3};
    EXPECT_EQ(Encode(SspCmdSetTxPassthrough_ToBuff, tx, 3), (Bytes{0x11, 0x03, 0xC3}));
}

TEST(SspCmd, StopSyncIsTheBareHead) {
    const ssp_cmd_stop_sync_t stop{device_protocol::kSspTypeCommand, device_protocol::kSspCmdStopSync};
    EXPECT_EQ(Encode(SspCmdStopSync_ToBuff, stop, 2), (Bytes{0x11, 0x06}));
    const ssp_cmd_t response = Decode(SspCmd_FromBuff, Bytes{0x12, 0x06});
    EXPECT_EQ(response.type, device_protocol::kSspTypeResponse);
    EXPECT_EQ(response.sub_id, device_protocol::kSspCmdStopSync);
}

TEST(SspCmdGetGnt, CarriesABigEndianNetworkTime) {
    const ssp_cmd_get_gnt_t record = ExpectByteExact(SspCmdGetGnt_FromBuff, SspCmdGetGnt_ToBuff,
                                                     Bytes{0x11, 0x01, 0xDE, 0xAD, 0xBE, 0xEF});
    EXPECT_EQ(record.network_time, 0xDEADBEEFu);
}

// ---------------------------------------------------------------- Device commands

TEST(CmdTransmit, DecodesTheScheduledTransmitCommand) {
    const cmd_transmit_t record =
        ExpectByteExact(CmdTransmit_FromBuff, CmdTransmit_ToBuff,
                        Bytes{0x14, 0x0C, 0x00, 0x03, 0x00, 0x00, 0x15, 0x18, 0x00, 0x00, 0x00, 0x64});
    EXPECT_EQ(record.type, device_protocol::kCmdTransmit);
    EXPECT_EQ(record.len, device_protocol::kCmdTransmitLen);
    EXPECT_EQ(record.transmission_type, 3);
    EXPECT_EQ(record.execution_time, 5400u);
    EXPECT_EQ(record.repeat_rate, 100u);
}

TEST(CmdReceive, DecodesContinuousReception) {
    const cmd_receive_t record = ExpectByteExact(
        CmdReceive_FromBuff, CmdReceive_ToBuff,
        Bytes{0x15, 0x0E, 0x00, 0x00, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(record.execution_time, 1025u);
    EXPECT_EQ(record.reception_parameter_1, 0u);
    EXPECT_EQ(record.reception_parameter_2, 0u);
}

TEST(CmdLedControl, EncodesTimeDurationAndOperation) {
    const cmd_led_control_t record{device_protocol::kCmdLedControl, device_protocol::kCmdLedControlLen, 1170,
                                   500, 0x0F};
    EXPECT_EQ(Encode(CmdLedControl_ToBuff, record, 11),
              (Bytes{0x10, 0x0B, 0x00, 0x00, 0x04, 0x92, 0x00, 0x00, 0x01, 0xF4, 0x0F}));
}

TEST(CmdSetDeviceAddr, EncodesSerialNumberAndNetworkId) {
    const cmd_set_device_addr_t record{device_protocol::kCmdSetDeviceAddr,
                                       device_protocol::kCmdSetDeviceAddrLen, 0x0100002A, 0x0003};
    EXPECT_EQ(Encode(CmdSetDeviceAddr_ToBuff, record, 8),
              (Bytes{0x12, 0x08, 0x01, 0x00, 0x00, 0x2A, 0x00, 0x03}));
}

TEST(CmdHeadOnlyCommands, WriteTypeAndLenOnly) {
    // len counts what the command classes append; the codecs leave it to them.
    const cmd_select_device_addr_t select{device_protocol::kCmdSelectDeviceAddr,
                                          device_protocol::kCmdSelectDeviceAddrLen};
    EXPECT_EQ(Encode(CmdSelectDeviceAddr_ToBuff, select, 2), (Bytes{0x13, 0x04}));
    const cmd_set_collector_packets_t collector{device_protocol::kCmdSetCollectorPackets, 6};
    EXPECT_EQ(Encode(CmdSetCollectorPackets_ToBuff, collector, 2), (Bytes{0x19, 0x06}));
}

TEST(CmdSizeCommands, EncodeTheirSixteenBitValue) {
    const cmd_set_anchor_report_size_t report{device_protocol::kCmdSetAnchorReportSize,
                                              device_protocol::kCmdSetAnchorReportSizeLen, 0x03F5};
    EXPECT_EQ(Encode(CmdSetAnchorReportSize_ToBuff, report, 4), (Bytes{0x1A, 0x04, 0x03, 0xF5}));
    const cmd_set_userdata_size_t user{device_protocol::kCmdSetUserdataSize,
                                       device_protocol::kCmdSetUserdataSizeLen, 40};
    EXPECT_EQ(Encode(CmdSetUserdataSize_ToBuff, user, 4), (Bytes{0x1C, 0x04, 0x00, 0x28}));
}

TEST(CmdResetDevice, EncodesExecutionTime) {
    const cmd_reset_device_t record{device_protocol::kCmdResetDevice, device_protocol::kCmdResetDeviceLen,
                                    1950078};
    EXPECT_EQ(Encode(CmdResetDevice_ToBuff, record, 6), (Bytes{0x17, 0x06, 0x00, 0x1D, 0xC1, 0x7E}));
}

TEST(CmdUncalledRecords, DecodeTheirFieldsAtTheirOffsets) {
    const cmd_announce_request_t announce =
        ExpectByteExact(CmdAnnounceRequest_FromBuff, CmdAnnounceRequest_ToBuff,
                        Bytes{0x20, 0x01, 0x02, 0xA0, 0xB0, 0xC0, 0xD0});
    EXPECT_EQ(announce.type, 0x20);
    EXPECT_EQ(announce.byte_1, 1);
    EXPECT_EQ(announce.byte_2, 2);
    EXPECT_EQ(announce.field_3, 0xA0B0C0D0u);

    const cmd_split_sync_t split =
        ExpectByteExact(CmdSplitSync_FromBuff, CmdSplitSync_ToBuff,
                        Bytes{0x21, 0x0C, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A});
    EXPECT_EQ(split.len, 12);
    EXPECT_EQ(split.field_2, 0x01020304u);
    EXPECT_EQ(split.field_6, 0x05060708u);
    EXPECT_EQ(split.byte_10, 9);
    EXPECT_EQ(split.byte_11, 10);
}

// ---------------------------------------------------------------- Sensor data

namespace {
bool HostIsLittleEndian() {
    const uint16_t probe = 1;
    uint8_t first = 0;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}
}  // namespace

TEST(SensorDataTemp, DecodesBigEndianPartialTimeAndTemperature) {
    const sensor_data_temp_t record = ExpectByteExact(SensorDataTemp_FromBuff, SensorDataTemp_ToBuff,
                                                      Bytes{0x00, 0x06, 0x12, 0x34, 0x01, 0x02});
    EXPECT_EQ(record.header.record_length, 0);
    EXPECT_EQ(record.header.sensor_kind, device_protocol::kSensorTemperature);
    EXPECT_EQ(record.partial_time, 0x1234);
    EXPECT_EQ(record.temperature, 0x0102);
}

TEST(SensorDataBar, DecodesBigEndianPressure) {
    const sensor_data_bar_t record = ExpectByteExact(SensorDataBar_FromBuff, SensorDataBar_ToBuff,
                                                     Bytes{0x08, 0x05, 0xAB, 0xCD, 0x00, 0x3F, 0x80, 0x01});
    EXPECT_EQ(record.header.record_length, 8);
    EXPECT_EQ(record.header.sensor_kind, device_protocol::kSensorPressure);
    EXPECT_EQ(record.partial_time, 0xABCD);
    EXPECT_EQ(record.pressure, 0x003F8001u);
}

TEST(SensorDataAccel, DecodesLittleEndianAxesAndKeepsTheBytes) {
    const Bytes bytes{0x0A, 0x01, 0x34, 0x12, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x7F};
    const sensor_data_accel_t record =
        ExpectByteExact(SensorDataAccel_FromBuff, SensorDataAccel_ToBuff, bytes);
    EXPECT_EQ(record.header.record_length, 10);
    EXPECT_EQ(record.header.sensor_kind, device_protocol::kSensorAccelerometer);
    EXPECT_EQ(record.partial_time, 0x1234);
    EXPECT_EQ(record.x, -1);
    EXPECT_EQ(record.y, -32768);
    EXPECT_EQ(record.z, 32767);
    if (HostIsLittleEndian()) {
        EXPECT_EQ(std::memcmp(&record, bytes.data(), bytes.size()), 0);
    }
}

TEST(SensorDataAccel, GyroscopeAndMagnetometerShareTheLayout) {
    const Bytes gyro_bytes{0x0A, 0x02, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0xFC, 0xFF};
    const sensor_data_gyro_t gyro =
        ExpectByteExact(SensorDataGyro_FromBuff, SensorDataGyro_ToBuff, gyro_bytes);
    EXPECT_EQ(gyro.header.sensor_kind, device_protocol::kSensorGyroscope);
    EXPECT_EQ(gyro.partial_time, 1);
    EXPECT_EQ(gyro.z, -4);
    const Bytes mag_bytes{0x0A, 0x03, 0x00, 0x01, 0x10, 0x00, 0x20, 0x00, 0x30, 0x00};
    const sensor_data_mag_t mag = ExpectByteExact(SensorDataMag_FromBuff, SensorDataMag_ToBuff, mag_bytes);
    EXPECT_EQ(mag.header.sensor_kind, device_protocol::kSensorMagnetometer);
    EXPECT_EQ(mag.partial_time, 0x0100);
    EXPECT_EQ(mag.x, 0x10);
    EXPECT_EQ(mag.y, 0x20);
}

TEST(SensorDataQuaternion, DecodesFourLittleEndianComponents) {
    const Bytes bytes{0x14, 0x04, 0x02, 0x01, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00,
                      0x00, 0xC0, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    const sensor_data_quaternion_t record =
        ExpectByteExact(SensorDataQuaternion_FromBuff, SensorDataQuaternion_ToBuff, bytes);
    EXPECT_EQ(record.header.record_length, 20);
    EXPECT_EQ(record.header.sensor_kind, device_protocol::kSensorQuaternion);
    EXPECT_EQ(record.partial_time, 0x0102);
    EXPECT_EQ(record.components[0], 1 << 30);
    EXPECT_EQ(record.components[1], -(1 << 30));
    EXPECT_EQ(record.components[2], 1);
    EXPECT_EQ(record.components[3], -1);
    if (HostIsLittleEndian()) {
        EXPECT_EQ(std::memcmp(&record, bytes.data(), bytes.size()), 0);
    }
}

// ---------------------------------------------------------------- Ethernet datagrams

TEST(EthernetAnnouncePacket, AddressAndPortComeOutByteSwapped) {
    const Bytes bytes{0x11, 0x01, 0x00, 0x00, 0x2A, 0x0A, 0x01, 0xA8, 0xC0, 0x8A, 0x1D, 0x07};
    const ethernet_announce_t record =
        ExpectByteExact(EthernetAnnouncePacket_FromBuff, EthernetAnnouncePacket_ToBuff, bytes);
    EXPECT_EQ(record.type, device_protocol::kEthernetAnnounce);
    EXPECT_EQ(record.serial_number, 0x0100002Au);
    EXPECT_EQ(record.host_ipv4_address, 0x0A01A8C0u);
    EXPECT_EQ(__builtin_bswap32(record.host_ipv4_address), 0xC0A8010Au);  // 192.168.1.10
    EXPECT_EQ(record.host_port, 0x8A1D);
    EXPECT_EQ(__builtin_bswap16(record.host_port), 7562);
    EXPECT_EQ(record.vlan_id, 7);
}

TEST(EthernetConfigPacket2, SwappedAddressAndPortLeaveLeastSignificantByteFirst) {
    ethernet_config_packet2_t record{};
    record.type = device_protocol::kEthernetConfig;
    record.version = device_protocol::kEthernetConfigVersion;
    record.host_ipv4_address = __builtin_bswap32(0xC0A8010Au);  // 192.168.1.10
    record.host_port = __builtin_bswap16(7562);
    record.vlan_id = 7;
    const Bytes bytes = Encode(EthernetConfigPacket2_ToBuff, record, 9);
    EXPECT_EQ(bytes, (Bytes{0x13, 0x02, 0x0A, 0x01, 0xA8, 0xC0, 0x8A, 0x1D, 0x07}));
    const ethernet_config_packet2_t decoded = Decode(EthernetConfigPacket2_FromBuff, bytes);
    EXPECT_EQ(decoded.host_ipv4_address, record.host_ipv4_address);
    EXPECT_EQ(decoded.host_port, record.host_port);
}

TEST(EthernetConfigPacket, DecodesAddressPortAndLastByte) {
    const ethernet_config_packet_t record =
        ExpectByteExact(EthernetConfigPacket_FromBuff, EthernetConfigPacket_ToBuff,
                        Bytes{0x13, 0x0A, 0x01, 0xA8, 0xC0, 0x8A, 0x1D, 0x05});
    EXPECT_EQ(record.ipv4_address, 0x0A01A8C0u);
    EXPECT_EQ(record.port, 0x8A1D);
    EXPECT_EQ(record.byte_7, 5);
}
