#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "protocol/device_protocol.h"
#include "protocol/set_mpu_config_packet.h"
#include "protocol/set_rf_settings_packet.h"

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
