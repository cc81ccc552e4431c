#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "host/scheduling/airtime_calculator.h"
#include "host/scheduling/channel_frequency_map.h"
#include "host/scheduling/packet_size_calculator.h"
#include "host/scheduling/packet_timing_calculator.h"
#include "host/scheduling/readtime_calculator.h"
#include "host/scheduling/slottime_calculator.h"

namespace {

TEST(AirtimeCalculator, DurationsByPrfMode) {
    const AirtimeCalculator mode16(DW_PRF_MODE_16MHZ);
    EXPECT_DOUBLE_EQ(mode16.GetPreambleUsec(), 63.58976);
    EXPECT_DOUBLE_EQ(mode16.GetSfdUsec(), 7.94872);
    const AirtimeCalculator mode64(DW_PRF_MODE_64MHZ);
    EXPECT_DOUBLE_EQ(mode64.GetPreambleUsec(), 65.12832);
    EXPECT_DOUBLE_EQ(mode64.GetSfdUsec(), 8.14104);
    for (int mode : {2, 7, 255}) {
        const AirtimeCalculator other(static_cast<dw_prf_mode_t>(mode));
        EXPECT_EQ(other.GetPreambleUsec(), 0.0) << mode;
        EXPECT_EQ(other.GetSfdUsec(), 0.0) << mode;
    }
}

TEST(AirtimeCalculator, PacketTimeGrowsByTheByteTime) {
    const AirtimeCalculator mode64(DW_PRF_MODE_64MHZ);
    EXPECT_NEAR(mode64.ComputePacketUsec(0), 95.622301, 1e-9);
    EXPECT_NEAR(mode64.ComputePacketUsec(100), 95.622301 + 117.6471, 1e-9);
    EXPECT_NEAR(AirtimeCalculator(static_cast<dw_prf_mode_t>(3)).ComputePacketUsec(1), 23.529412, 1e-9);
}

TEST(ReadtimeCalculator, FixedOverheadPlusByteTime) {
    const ReadtimeCalculator read;
    EXPECT_DOUBLE_EQ(read.ComputePacketUsec(0), 265.0);
    EXPECT_NEAR(read.ComputePacketUsec(39), 281.0, 1e-9);
    EXPECT_NEAR(read.ComputePacketUsec(65535), 27151.153846153848, 1e-6);
}

TEST(SlottimeCalculator, ControlPacketsAt64And16MHz) {
    SlottimeCalculator slot;  // 64 MHz by default
    EXPECT_EQ(slot.ComputePacketGnt(131), 558u);
    EXPECT_EQ(slot.ComputePacketGnt(5), 363u);
    slot.SetPrfMode(DW_PRF_MODE_16MHZ);
    EXPECT_EQ(slot.ComputePacketGnt(131), 556u);
    EXPECT_EQ(slot.ComputePacketGnt(5), 361u);
    slot.SetPrfMode(DW_PRF_MODE_64MHZ);
    EXPECT_EQ(slot.ComputePacketGnt(131), 558u);
}

TEST(SlottimeCalculator, RoundsUpAndChargesTheOverheadForAnEmptyPacket) {
    const SlottimeCalculator slot;
    // 2 bytes counted: (95.622301 + 2.352942 + 265.820513) x 0.975 = 354.7 -> 355
    EXPECT_EQ(slot.ComputePacketGnt(0), 355u);
    EXPECT_EQ(slot.ComputePacketGnt(6), 364u);
    EXPECT_EQ(slot.ComputePacketGnt(237), 722u);
    EXPECT_EQ(slot.ComputePacketGnt(1017), 1929u);
    EXPECT_EQ(slot.ComputePacketGnt(1021), 1935u);
}

TEST(SlottimeCalculator, TheTwoAddedBytesWrapIn16Bits) {
    const SlottimeCalculator slot;
    EXPECT_EQ(slot.ComputePacketGnt(65534), 352u);     // counted as 0 bytes
    EXPECT_EQ(slot.ComputePacketGnt(65535), 354u);     // counted as 1 byte
    EXPECT_EQ(slot.ComputePacketGnt(65533), 101739u);  // 65535 bytes, the longest
}

TEST(SlottimeCalculator, UnknownPrfModeHasNoPreamble) {
    SlottimeCalculator slot;
    slot.SetPrfMode(static_cast<dw_prf_mode_t>(7));
    EXPECT_EQ(slot.ComputePacketGnt(131), 486u);
    EXPECT_EQ(slot.ComputePacketGnt(0), 284u);
}

TEST(PacketSizeCalculator, FixedAndLinearSizes) {
    const PacketSizeCalculator size;
    EXPECT_EQ(size.ComputeMaxSyncSize(), 131);
    EXPECT_EQ(size.ComputeAnnouncementSize(), 5);
    EXPECT_EQ(size.ComputeBeaconSize(0), 6);
    EXPECT_EQ(size.ComputeBeaconSize(1015), 1021);
    EXPECT_EQ(size.ComputeBeaconlessAnchorReportSize(0), 65);
    EXPECT_EQ(size.ComputeBeaconlessAnchorReportSize(4), 185);
    EXPECT_EQ(size.ComputeAnchorReportSize(185, 32, 6), 1017);
    EXPECT_EQ(size.ComputeAnchorReportSize(185, 0, 6), 185);
    EXPECT_EQ(size.ComputeTotalTagNetworkOverhead(0, 4), 110);
    EXPECT_EQ(size.ComputeTotalTagNetworkOverhead(231, 4), 237 + 4 * 257);
}

TEST(PacketSizeCalculator, SizesBeyond16BitsSaturate) {
    const PacketSizeCalculator size;
    EXPECT_EQ(size.ComputeBeaconSize(65529), 65535);
    EXPECT_EQ(size.ComputeBeaconSize(65530), 65535);
    EXPECT_EQ(size.ComputeBeaconSize(65535), 65535);
    EXPECT_EQ(size.ComputeBeaconlessAnchorReportSize(2182), 65525);
    EXPECT_EQ(size.ComputeBeaconlessAnchorReportSize(2183), 65535);
    EXPECT_EQ(size.ComputeBeaconlessAnchorReportSize(65535), 65535);
    EXPECT_EQ(size.ComputeAnchorReportSize(65535, 65535, 65535), 65535);
    EXPECT_EQ(size.ComputeTotalTagNetworkOverhead(65535, 65535), 65535);
}

TEST(PacketSizeCalculator, AnchorReportPayloadDropsTheTenByteHead) {
    const PacketSizeCalculator size;
    EXPECT_EQ(size.ComputeAnchorReportPayloadSize(0), 0);
    EXPECT_EQ(size.ComputeAnchorReportPayloadSize(9), 0);
    EXPECT_EQ(size.ComputeAnchorReportPayloadSize(10), 0);
    EXPECT_EQ(size.ComputeAnchorReportPayloadSize(11), 1);
    EXPECT_EQ(size.ComputeAnchorReportPayloadSize(1017), 1007);
    EXPECT_EQ(size.ComputeAnchorReportPayloadSize(65535), 65525);
}

class BeaconPayloadSize : public ::testing::Test {
  protected:
    // Flag order: gyroscope, accelerometer, magnetometer, quaternion, pressure, temperature.
    uint16_t Size(bool gyro, bool accel, bool mag, bool quat, bool pressure, bool temperature,
                  uint16_t rate_divisor, uint16_t subsample_divisor, double rate, uint16_t headroom) {
        const bool flags[6] = {gyro, accel, mag, quat, pressure, temperature};
        return calculator.ComputeBeaconPayloadSize(flags, rate_divisor, subsample_divisor, rate, headroom);
    }
    PacketSizeCalculator calculator;
};

TEST_F(BeaconPayloadSize, NoSensorGivesNoPayloadWhateverTheRest) {
    EXPECT_EQ(Size(false, false, false, false, false, false, 10, 1, 10.0, 0), 0);
    EXPECT_EQ(Size(false, false, false, false, false, false, 1, 1, 0.001, 255), 0);
    EXPECT_EQ(Size(false, false, false, false, false, false, 0, 0, 0.0, 255), 0);
    EXPECT_EQ(Size(false, false, false, false, false, false, 10, 1, std::nan(""), 0), 0);
}

TEST_F(BeaconPayloadSize, InertialAndBarometerAtTenHertz) {
    // (1000 + 1000 + 100 + 75) x 1.05 / 10 + 2 = 230.375 -> 231
    EXPECT_EQ(Size(true, true, false, false, true, true, 10, 1, 10.0, 0), 231);
    EXPECT_EQ(Size(true, true, false, false, true, true, 10, 1, 10.0, 9), 240);
}

TEST_F(BeaconPayloadSize, EachSensorCounts) {
    // At 1 Hz, rate divisor 1 (D = 10000), subsample 1: x x 1.05 + 2, rounded up.
    EXPECT_EQ(Size(true, false, false, false, false, false, 1, 1, 1.0, 0), 10502);
    EXPECT_EQ(Size(false, true, false, false, false, false, 1, 1, 1.0, 0), 10502);
    EXPECT_EQ(Size(false, false, true, false, false, false, 1, 1, 1.0, 0), 86);
    EXPECT_EQ(Size(false, false, false, true, false, false, 1, 1, 1.0, 0), 21002);
    EXPECT_EQ(Size(false, false, false, false, true, false, 1, 1, 1.0, 0), 107);
    EXPECT_EQ(Size(false, false, false, false, false, true, 1, 1, 1.0, 0), 81);
    EXPECT_EQ(Size(true, true, true, true, true, true, 1, 1, 1.0, 0), 42270);
}

TEST_F(BeaconPayloadSize, DivisorsUseIntegerThenFloatingDivision) {
    // D = 10000 / 10 = 1000; 1000 / 3 in doubles: 333.33 x 1.05 + 2 = 352
    EXPECT_EQ(Size(true, false, false, false, false, false, 10, 3, 1.0, 0), 352);
    // trunc(20000 / 3) = 6666; / 2 = 3333 x 1.05 / 10 + 2 + 7 = 358.97 -> 359
    EXPECT_EQ(Size(false, false, false, true, false, false, 3, 2, 10.0, 7), 359);
    // 10000 / 256 = 39 (integer division): 39 x 1.05 + 2 = 42.95 -> 43
    EXPECT_EQ(Size(true, false, false, false, false, false, 256, 1, 1.0, 0), 43);
}

TEST_F(BeaconPayloadSize, AtLeastFiveBytes) {
    EXPECT_EQ(Size(false, false, false, false, true, false, 10, 1, 1000.0, 0), 5);
    EXPECT_EQ(
        Size(false, false, false, false, true, false, 10, 1, std::numeric_limits<double>::infinity(), 0), 5);
    EXPECT_EQ(Size(false, false, false, false, true, false, 10, 1, 1000.0, 4), 7);
}

TEST_F(BeaconPayloadSize, ZeroDivisorsCountAsOne) {
    EXPECT_EQ(Size(true, true, false, true, false, false, 0, 0, 10.0, 0),
              Size(true, true, false, true, false, false, 1, 1, 10.0, 0));
    EXPECT_EQ(Size(true, false, false, false, false, false, 10, 0, 1.0, 0), 1052);
}

TEST_F(BeaconPayloadSize, RatesWithoutASizeSaturate) {
    EXPECT_EQ(Size(false, false, false, false, true, false, 10, 1, 0.0, 0), 0xFFFF);
    EXPECT_EQ(Size(false, false, false, false, true, false, 10, 1, -10.0, 0), 0xFFFF);
    EXPECT_EQ(Size(false, false, false, false, true, false, 10, 1, std::nan(""), 0), 0xFFFF);
    EXPECT_EQ(
        Size(false, false, false, false, true, false, 10, 1, -std::numeric_limits<double>::infinity(), 0),
        0xFFFF);
    EXPECT_EQ(Size(false, false, false, false, true, false, 10, 1, 1e-300, 0), 0xFFFF);
    EXPECT_EQ(Size(true, true, true, true, true, true, 1, 1, 0.001, 255), 0xFFFF);
    // 75 x 1.05 / 0.078125 = 1008 exactly: 2 + 1008 + headroom.
    EXPECT_EQ(Size(false, false, false, false, false, true, 10, 1, 0.078125, 255), 1265);
}

TEST(PacketTimingCalculator, DurationFromTheTables) {
    const PacketTimingCalculator timing;
    // 6.8 Mbps, 64 MHz, preamble code 0: trunc(8 x 1.018 + 24) = 32;
    // trunc(32 + 64 x 1.018) = 97; + trunc(10 x 1.177) + 30 = 138
    EXPECT_EQ(timing.CalculatePacketDuration_USec(10, 2, 1, 0), 138.0);
    EXPECT_EQ(timing.CalculatePacketDuration_Gnt(10, 2, 1, 0), 135u);
    EXPECT_EQ(timing.CalculatePacketDuration_Gnt_NoPadding(10, 2, 1, 0), 105u);
    // 110 kbps, 16 MHz, code 4: trunc(32 x 0.994 + 191) = 222;
    // trunc(222 + 1024 x 0.994) = 1239; + trunc(100 x 72.728) = 7272, + 30
    EXPECT_EQ(timing.CalculatePacketDuration_USec(100, 0, 0, 4), 8541.0);
    EXPECT_EQ(timing.CalculatePacketDuration_Gnt(100, 0, 0, 4), 8328u);
    // 850 kbps: 20 x 9.412 = 188.24 -> 188, header 24; code 1: 8 and 128 symbols
    EXPECT_EQ(timing.CalculatePacketDuration_USec(20, 1, 0, 1), 376.0);
}

TEST(PacketTimingCalculator, PreambleColumns) {
    const PacketTimingCalculator timing;
    // n = 0: 30 + trunc(trunc(A x symbol + header) + B x symbol) for codes 0 to 6.
    const double at_64mhz_6m8[] = {127, 192, 330, 591, 1128, 4288, 2203};
    const double at_16mhz_110k[] = {291, 355, 490, 744, 1269, 4355, 2319};
    for (uint32_t code = 0; code < 7; ++code) {
        EXPECT_EQ(timing.CalculatePacketDuration_USec(0, 2, 1, code), at_64mhz_6m8[code]) << code;
        EXPECT_EQ(timing.CalculatePacketDuration_USec(0, 0, 0, code), at_16mhz_110k[code]) << code;
    }
    // Any other code takes the last column (64 and 4096 symbols).
    EXPECT_EQ(timing.CalculatePacketDuration_USec(0, 2, 1, 7), 4288.0);
    EXPECT_EQ(timing.CalculatePacketDuration_USec(0, 2, 1, 0xFFFFFFFF), 4288.0);
    // Any non-zero PRF flag means 64 MHz; any unknown bit rate code 110 kbps.
    EXPECT_EQ(timing.CalculatePacketDuration_USec(0, 2, -5, 0), 127.0);
    EXPECT_EQ(timing.CalculatePacketDuration_USec(0, 77, 0, 0), 291.0);
}

TEST(PacketTimingCalculator, LongestPacketStaysInRange) {
    const PacketTimingCalculator timing;
    // 65535 x 72.728 = 4766229.48 -> 4766229; code 7 at 16 MHz: 254, then 4325.
    EXPECT_EQ(timing.CalculatePacketDuration_USec(65535, 0, 0, 7), 4770584.0);
    EXPECT_EQ(timing.CalculatePacketDuration_Gnt(65535, 0, 0, 7), 4651506u);
    // The shortest packet still has room for the padding.
    EXPECT_EQ(timing.CalculatePacketDuration_USec(0, 2, 0, 0), 124.0);
    EXPECT_EQ(timing.CalculatePacketDuration_Gnt(0, 2, 0, 0), 121u);
    EXPECT_EQ(timing.CalculatePacketDuration_Gnt_NoPadding(0, 2, 0, 0), 91u);
}

TEST(PacketTimingCalculator, RfSettingsRecordSuppliesTheCodes) {
    const PacketTimingCalculator timing;
    cmd_set_rf_settings_t rf{};
    rf.bit_rate_code = 2;
    rf.prf_flag = 1;
    rf.preamble_length_code = 0;
    rf.second_preamble_code = 3;  // not the preamble length: must be ignored
    rf.transmit_preamble_code = 9;
    EXPECT_EQ(timing.CalculatePacketDuration_Gnt(10, rf), 135u);
    EXPECT_EQ(timing.CalculatePacketDuration_Gnt_NoPadding(10, rf), 105u);
    rf.bit_rate_code = 0;
    rf.prf_flag = 0;
    rf.preamble_length_code = 4;
    EXPECT_EQ(timing.CalculatePacketDuration_Gnt(100, rf), 8328u);
    EXPECT_EQ(timing.CalculatePacketDuration_Gnt_NoPadding(100, rf), 8298u);
}

TEST(PacketTimingCalculator, TimePerByte) {
    const PacketTimingCalculator timing;
    cmd_set_rf_settings_t rf{};
    rf.bit_rate_code = 1;
    EXPECT_DOUBLE_EQ(timing.CalculateTimePerByte_GntF(rf), 9.177067082683308);
    rf.bit_rate_code = 2;
    EXPECT_DOUBLE_EQ(timing.CalculateTimePerByte_GntF(rf), 1.1476209048361934);
    rf.bit_rate_code = 0;
    EXPECT_DOUBLE_EQ(timing.CalculateTimePerByte_GntF(rf), 72.728 / 1.0256);
    rf.bit_rate_code = 200;
    EXPECT_DOUBLE_EQ(timing.CalculateTimePerByte_GntF(rf), 72.728 / 1.0256);
}

TEST(ChannelToCenterFrequencyMap, SixChannelsWithoutSix) {
    ASSERT_EQ(CHANNEL_TO_CENTER_FREQUENCY_MAP.size(), 6u);
    EXPECT_EQ(CHANNEL_TO_CENTER_FREQUENCY_MAP.at(1), 3494.4e6);
    EXPECT_EQ(CHANNEL_TO_CENTER_FREQUENCY_MAP.at(2), 3993.6e6);
    EXPECT_EQ(CHANNEL_TO_CENTER_FREQUENCY_MAP.at(3), 4492.8e6);
    EXPECT_EQ(CHANNEL_TO_CENTER_FREQUENCY_MAP.at(4), 3993.6e6);
    EXPECT_EQ(CHANNEL_TO_CENTER_FREQUENCY_MAP.at(5), 6489.6e6);
    EXPECT_EQ(CHANNEL_TO_CENTER_FREQUENCY_MAP.at(7), 6489.6e6);
    EXPECT_EQ(CHANNEL_TO_CENTER_FREQUENCY_MAP.count(6), 0u);
    EXPECT_EQ(CHANNEL_TO_CENTER_FREQUENCY_MAP.begin()->first, 1);
}

}  // namespace
