#include "host/devices/dw_command.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kGuard = 0xA5;

// Encodes into a buffer of exactly GetSize() bytes followed by guard bytes
// and checks the result, the guards and the size byte.
Bytes Encode(const DwCommand& command) {
    const uint32_t size = command.GetSize();
    Bytes buffer(size + 8, kGuard);
    EXPECT_EQ(command.ToBuff(buffer.data(), size), size);
    for (uint32_t i = size; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], kGuard) << "byte " << i << " written past the command";
    buffer.resize(size);
    if (size >= 2) {
        EXPECT_EQ(buffer[1], size) << "size byte";
    }
    return buffer;
}

// Every length below the size is refused and leaves the buffer untouched.
void ExpectShortBuffersRefused(const DwCommand& command) {
    const uint32_t size = command.GetSize();
    for (uint32_t length = 0; length < size; ++length) {
        Bytes buffer(size + 4, kGuard);
        EXPECT_EQ(command.ToBuff(buffer.data(), length), 0xFFFFFFFFu) << "length " << length;
        EXPECT_EQ(buffer, Bytes(size + 4, kGuard)) << "length " << length;
    }
}

TEST(DwTransmitCommand, EncodesTimingOfTheWorkedExample) {
    DwTransmitCommand command;
    command.SetTransmissionType(3);
    command.SetRepeatRate(1000);
    command.UpdateTiming(5000, 200, 100);
    EXPECT_EQ(Encode(command),
              (Bytes{0x14, 0x0C, 0x00, 0x03, 0x00, 0x00, 0x15, 0x18, 0x00, 0x00, 0x00, 0x64}));
}

TEST(DwTransmitCommand, FreshCommandIsAllZeroAfterTypeAndSize) {
    DwTransmitCommand command;
    EXPECT_EQ(command.GetSize(), 12u);
    EXPECT_EQ(Encode(command), (Bytes{0x14, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    command.SetTransmissionType(0xFF);
    command.SetRepeatRate(0x01020304);
    EXPECT_EQ(Encode(command), (Bytes{0x14, 0x0C, 0x00, 0xFF, 0, 0, 0, 0, 0x01, 0x02, 0x03, 0x04}));
}

TEST(DwLedCommand, TimingOfTheWorkedExample) {
    DwLedCommand command;
    command.SetLedOperation(0x0F);
    command.UpdateTiming(0, 1000, 50);
    // Duration 500, execution time 1170.
    EXPECT_EQ(Encode(command), (Bytes{0x10, 0x0B, 0x00, 0x00, 0x04, 0x92, 0x00, 0x00, 0x01, 0xF4, 0x0F}));
}

TEST(DwReceiveCommand, ContinuousReceiveOfTheWorkedExample) {
    DwReceiveCommand command;
    command.SetContinuous();
    command.UpdateTiming(7, 1000, 50);
    EXPECT_EQ(Encode(command),
              (Bytes{0x15, 0x0E, 0x00, 0x00, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST(DwReceiveCommand, HalfPeriodIsIntegerDivisionAndNowTakesNoPart) {
    DwReceiveCommand a;
    DwReceiveCommand b;
    a.UpdateTiming(0, 1000, 51);
    b.UpdateTiming(123456, 1000, 51);
    EXPECT_EQ(Encode(a), Encode(b));
    EXPECT_EQ(Encode(a)[5], 0x01);  // 1000 + 25 = 0x401
}

TEST(DwSetCollectorPacketsCommand, EncodesThePairsInTheOrderAdded) {
    DwSetCollectorPacketsCommand command;
    EXPECT_EQ(command.GetSize(), 2u);
    EXPECT_EQ(Encode(command), (Bytes{0x19, 0x02}));
    EXPECT_TRUE(command.AddCollectorSetting(17, 16));
    EXPECT_TRUE(command.AddCollectorSetting(21, 18));
    EXPECT_EQ(command.GetSize(), 6u);
    EXPECT_EQ(Encode(command), (Bytes{0x19, 0x06, 0x11, 0x10, 0x15, 0x12}));
    ExpectShortBuffersRefused(command);
}

TEST(DwSetCollectorPacketsCommand, RefusesPairsThatWouldWrapTheSizeByte) {
    DwSetCollectorPacketsCommand command;
    for (int i = 0; i < DwSetCollectorPacketsCommand::kMaximumCollectorSettings; ++i)
        ASSERT_TRUE(command.AddCollectorSetting(static_cast<uint8_t>(i), static_cast<uint8_t>(~i)));
    EXPECT_EQ(command.GetSize(), 254u);
    EXPECT_FALSE(command.AddCollectorSetting(1, 2));
    EXPECT_EQ(command.GetSize(), 254u);
    const Bytes encoded = Encode(command);
    EXPECT_EQ(encoded[2 + 2 * 125], 125);
    EXPECT_EQ(encoded[3 + 2 * 125], static_cast<uint8_t>(~125));
}

TEST(DwAddressSetCommand, EncodesSerialNumberAndAddress) {
    DwAddressSetCommand command;
    command.SetSerialNumber(0x0102A0B1);
    command.SetNetworkAddress(0x7FFF);
    EXPECT_EQ(Encode(command), (Bytes{0x12, 0x08, 0x01, 0x02, 0xA0, 0xB1, 0x7F, 0xFF}));
    ExpectShortBuffersRefused(command);
}

TEST(DwAddressSelectCommand, AppendsTheAddressToTheTwoByteRecord) {
    DwAddressSelectCommand command;
    EXPECT_EQ(Encode(command), (Bytes{0x13, 0x04, 0x00, 0x00}));
    command.SetNetworkAddress(0x07FE);
    EXPECT_EQ(Encode(command), (Bytes{0x13, 0x04, 0x07, 0xFE}));
    ExpectShortBuffersRefused(command);
}

cmd_set_rf_settings_t SampleRfSettings() {
    cmd_set_rf_settings_t rf{};
    rf.type = 0x16;
    rf.len = 20;
    rf.timed_flag = 1;
    rf.channel_number = 5;
    rf.prf_flag = 1;
    rf.preamble_length_code = 0x08;
    rf.second_preamble_code = 2;
    rf.transmit_preamble_code = 9;
    rf.receive_preamble_code = 9;
    rf.setting_byte_7 = 1;
    rf.bit_rate_code = 2;
    rf.setting_byte_9 = 1;
    rf.transmit_power_code = 0x1F1F1F1F;
    return rf;
}

TEST(DwSetRfSettingsCommand, SendsTheRecordWithTheNextExecutableTime) {
    DwSetRfSettingsCommand command(SampleRfSettings());
    EXPECT_EQ(command.GetSize(), 20u);
    command.UpdateTiming(6825273, 0, 48751);  // 7 s and two fast sync periods: 6922775
    EXPECT_EQ(Encode(command), (Bytes{0x16, 0x14, 0x00, 0x69, 0xA2, 0x17, 0x01, 0x05, 0x01, 0x08,
                                      0x02, 0x09, 0x09, 0x01, 0x02, 0x01, 0x1F, 0x1F, 0x1F, 0x1F}));
    ExpectShortBuffersRefused(command);
}

TEST(DwResetDeviceCommand, EncodesSixBytesWithAZeroField) {
    DwResetDeviceCommand command;
    EXPECT_EQ(command.GetSize(), 6u);
    command.UpdateTiming(1000, 1000, 1000);  // no timing fields
    EXPECT_EQ(Encode(command), (Bytes{0x17, 0x06, 0, 0, 0, 0}));
    ExpectShortBuffersRefused(command);
}

TEST(DwSetAnchorReportSizeCommand, EncodesTheReportSize) {
    DwSetAnchorReportSizeCommand command;
    command.SetAnchorReportSize(0x03FD);
    EXPECT_EQ(Encode(command), (Bytes{0x1A, 0x04, 0x03, 0xFD}));
    ExpectShortBuffersRefused(command);
}

TEST(DwSetSensorSettingsCommand, EncodesTheSensorConfiguration) {
    DwSetSensorSettingsCommand command;
    EXPECT_EQ(Encode(command), (Bytes{0x1B, 0x07, 0, 0, 0, 0, 0}));
    sensors_config_t config{};
    config.enable_flags = 0x3F;
    config.gyroscope_scale_code = 5;
    config.gyroscope_filter_code = 9;
    config.accelerometer_scale_code = 2;
    config.accelerometer_filter_code = 3;
    config.sample_rate_divisor = 4;
    config.subsample_rate_divisor = 10;
    config.payload_headroom = 77;
    command.SetSensorConfig(config);
    EXPECT_EQ(Encode(command), (Bytes{0x1B, 0x07, 0x3F, 0x09, 0x13, 0x04, 0x0A}));
    ExpectShortBuffersRefused(command);
}

TEST(DwSetUserDataSizeCommand, EncodesTheConstructorArgument) {
    DwSetUserDataSizeCommand command(300);
    EXPECT_EQ(Encode(command), (Bytes{0x1C, 0x04, 0x01, 0x2C}));
    ExpectShortBuffersRefused(command);
}

TEST(DwCommandTiming, ShortBuffersAreRefusedForTimedCommands) {
    DwLedCommand led;
    DwTransmitCommand transmit;
    DwReceiveCommand receive;
    ExpectShortBuffersRefused(led);
    ExpectShortBuffersRefused(transmit);
    ExpectShortBuffersRefused(receive);
    // One short of the size, as the location engine would offer it at the end of its buffer.
    Bytes buffer(11, kGuard);
    EXPECT_EQ(transmit.ToBuff(buffer.data(), 11), 0xFFFFFFFFu);
}

TEST(DwCommandTiming, NextExecutableTimeWrapsInThirtyTwoBits) {
    DwResetDeviceCommand command;
    EXPECT_EQ(command.CalculateNextExecutableGnt(5000, 999, 200, 100), 5400u);
    EXPECT_EQ(command.CalculateNextExecutableGnt(0xFFFFFFF0u, 0, 0x10, 1), 2u);
    // Only the low 32 bits of the base count, whatever its sign or size.
    EXPECT_EQ(command.CalculateNextExecutableGnt(10, 0, -20, 0), 0xFFFFFFF6u);
    EXPECT_EQ(command.CalculateNextExecutableGnt(0, 0, INT64_MAX, 0), 0xFFFFFFFFu);
    EXPECT_EQ(command.CalculateNextExecutableGnt(1, 0, INT64_MIN, 0), 1u);
    EXPECT_EQ(command.CalculateNextExecutableGnt(0, 0, 0, 0x80000000u), 0u);
}

TEST(DwCommandTiming, ExtremeBasesStayDefinedForEveryTimedCommand) {
    DwReceiveCommand receive;
    receive.UpdateTiming(0, INT64_MAX, 0xFFFFFFFFu);
    EXPECT_EQ(Encode(receive), (Bytes{0x15, 0x0E, 0x7F, 0xFF, 0xFF, 0xFE, 0, 0, 0, 0, 0, 0, 0, 0}));
    DwLedCommand led;
    led.UpdateTiming(0xFFFFFFFFu, INT64_MIN, 0xFFFFFFFFu);
    // Duration 10 x period and execution time -1 - 2 + 70 modulo 2^32.
    EXPECT_EQ(Encode(led), (Bytes{0x10, 0x0B, 0x00, 0x00, 0x00, 0x43, 0xFF, 0xFF, 0xFF, 0xF6, 0x00}));
}

TEST(DwCommandList, EncodesOneAfterTheOtherAsTheLocationEngineDoes) {
    std::vector<std::shared_ptr<DwCommand>> list;
    auto address_set = std::make_shared<DwAddressSetCommand>();
    address_set->SetSerialNumber(0x01000042);
    address_set->SetNetworkAddress(3);
    list.push_back(address_set);
    auto address_select = std::make_shared<DwAddressSelectCommand>();
    address_select->SetNetworkAddress(3);
    list.push_back(address_select);
    auto led = std::make_shared<DwLedCommand>();
    led->SetLedOperation(0x0C);
    list.push_back(led);
    auto receive = std::make_shared<DwReceiveCommand>();
    receive->SetContinuous();
    list.push_back(receive);

    Bytes buffer(64, kGuard);
    uint32_t position = 0;
    uint32_t carried = 0;
    for (const auto& command : list) {
        command->UpdateTiming(1000, 500, 100);
        const uint32_t written = command->ToBuff(buffer.data() + position, 64 - position);
        ASSERT_NE(written, 0xFFFFFFFFu);
        position += written;
        carried += command->GetSize();
    }
    EXPECT_EQ(position, 8u + 4u + 11u + 14u);
    EXPECT_EQ(carried, position);
    EXPECT_EQ(buffer[position], kGuard);
    // LED: execution time 1000 + 500 + 2 x 100 + 70 = 1770, duration 10 x 100.
    EXPECT_EQ(Bytes(buffer.begin() + 12, buffer.begin() + 23),
              (Bytes{0x10, 0x0B, 0x00, 0x00, 0x06, 0xEA, 0x00, 0x00, 0x03, 0xE8, 0x0C}));
    // The receive command starts half a period after the base: 550.
    EXPECT_EQ(buffer[23], 0x15);
    EXPECT_EQ(buffer[27], 0x02);
    EXPECT_EQ(buffer[28], 0x26);
}

}  // namespace
