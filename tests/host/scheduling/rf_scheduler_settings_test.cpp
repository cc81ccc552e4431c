#include "host/scheduling/rf_scheduler_settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "config/settings.h"

namespace {

// Enable bits of the tag sensor configuration.
constexpr uint8_t kAccel = 0x01;
constexpr uint8_t kGyro = 0x02;
constexpr uint8_t kMag = 0x04;
constexpr uint8_t kPressure = 0x10;
constexpr uint8_t kTemperature = 0x20;

class RfBudgetTest : public ::testing::Test {
  protected:
    RfBudgetTest() {
        cmd_set_rf_settings_t rf{};
        rf.prf_flag = 1;
        rf.bit_rate_code = 2;
        network()->SetRfSettings(rf);
        network()->SetSyncRate(10.0);
        SetSensors(0, 9, 1, 0);
    }

    RfNetworkSettings* network() { return settings.GetRfNetworkSettingsReference(); }

    void SetSensors(uint8_t flags, uint8_t sample_rate_divisor_field, uint8_t subsample, uint16_t headroom) {
        sensors_config_t sensors{};
        sensors.enable_flags = flags;
        sensors.sample_rate_divisor = sample_rate_divisor_field;
        sensors.subsample_rate_divisor = subsample;
        sensors.payload_headroom = headroom;
        network()->SetTagSensorConfig(sensors);
    }

    void AddAnchors(int count, const std::string& backhaul = "uwb", bool enabled = true) {
        std::vector<AnchorSettings> anchors = network()->GetAnchors();
        for (int i = 0; i < count; ++i) {
            AnchorSettings anchor;
            anchor.SetSerialNumber(0x01020000u + static_cast<uint32_t>(anchors.size()));
            anchor.SetBackhaulType(backhaul);
            anchor.SetEnabled(enabled);
            anchors.push_back(anchor);
        }
        network()->SetAnchors(anchors);
    }

    void ExpectSlots(const RfSchedulerSettings& budget, std::vector<uint32_t> slots) {
        for (uint8_t i = 0; i < 5; ++i) {
            EXPECT_EQ(budget.GetSlottime(i), slots[i]) << "slot " << int{i};
        }
    }

    Settings settings;
};

TEST_F(RfBudgetTest, DefaultConstructedIsNotComputed) {
    const RfSchedulerSettings budget;
    EXPECT_EQ(budget.GetStatus(), 1);
    EXPECT_EQ(budget.GetMaxNumTags(), 0);
    EXPECT_EQ(budget.GetLocationCycle(), 0u);
    ExpectSlots(budget, {0, 0, 0, 0, 0});
    EXPECT_EQ(RfSchedulerSettings(nullptr).GetStatus(), 1);
}

TEST_F(RfBudgetTest, TenHertzWithoutWirelessAnchors) {
    const RfSchedulerSettings budget(&settings);
    EXPECT_EQ(budget.GetStatus(), 0);
    EXPECT_EQ(budget.GetLocationCycle(), 97500u);
    ExpectSlots(budget, {558, 363, 364, 0, 119});
    EXPECT_EQ(budget.GetMaxNumTags(), 265);
    EXPECT_EQ(budget.GetBeaconPayloadSize(), 0);
    EXPECT_EQ(budget.GetAnchorReportPayloadSize(), 0);
}

TEST_F(RfBudgetTest, DisabledAndWiredAnchorsDoNotCount) {
    AddAnchors(3, "wired");
    AddAnchors(2, "uwb", false);
    AddAnchors(1, "", false);
    const RfSchedulerSettings budget(&settings);
    EXPECT_EQ(budget.GetStatus(), 0);
    ExpectSlots(budget, {558, 363, 364, 0, 119});
    EXPECT_EQ(budget.GetMaxNumTags(), 265);
    EXPECT_EQ(budget.GetAnchorReportPayloadSize(), 0);
}

TEST_F(RfBudgetTest, TenHertzWithFourWirelessAnchors) {
    AddAnchors(2, "uwb");
    AddAnchors(1, "wired");
    AddAnchors(1, "");  // an unknown backhaul counts as wireless here
    AddAnchors(1, "something else");
    const RfSchedulerSettings budget(&settings);
    EXPECT_EQ(budget.GetStatus(), 0);
    EXPECT_EQ(budget.GetLocationCycle(), 97500u);
    ExpectSlots(budget, {558, 363, 364, 1929, 77215});
    EXPECT_EQ(budget.GetAnchorReportPayloadSize(), 1007);
    EXPECT_EQ(budget.GetMaxNumTags(), 32);
}

TEST_F(RfBudgetTest, TenHertzWithFourAnchorsAndSensors) {
    AddAnchors(4);
    SetSensors(kGyro | kAccel | kPressure | kTemperature, 9, 1, 0);
    const RfSchedulerSettings budget(&settings);
    EXPECT_EQ(budget.GetStatus(), 0);
    EXPECT_EQ(budget.GetBeaconPayloadSize(), 231);
    EXPECT_EQ(budget.GetSlottime(2), 722u);
    EXPECT_EQ(budget.GetAnchorReportPayloadSize(), 946);
    EXPECT_EQ(budget.GetMaxNumTags(), 3);
    // 921 + 4 x 1834 + 3 x 722 used of 97500
    ExpectSlots(budget, {558, 363, 722, 1834, 87077});
}

TEST_F(RfBudgetTest, SixteenMegahertzPrfShortensTheControlSlots) {
    cmd_set_rf_settings_t rf = network()->GetRfSettings();
    rf.prf_flag = 0;
    network()->SetRfSettings(rf);
    const RfSchedulerSettings budget(&settings);
    EXPECT_EQ(budget.GetStatus(), 0);
    EXPECT_EQ(budget.GetSlottime(0), 556u);
    EXPECT_EQ(budget.GetSlottime(1), 361u);
}

TEST_F(RfBudgetTest, EnableBitsMapToTheirSensors) {
    // Magnetometer alone: 80 x 1.05 / 10 + 2 = 10.4 -> 11.
    SetSensors(kMag, 9, 1, 0);
    EXPECT_EQ(RfSchedulerSettings(&settings).GetBeaconPayloadSize(), 11);
    // Quaternion (bit 3) uses 20000 / rate divisor: 2000 x 1.05 / 10 + 2 = 212.
    SetSensors(0x08, 9, 1, 0);
    EXPECT_EQ(RfSchedulerSettings(&settings).GetBeaconPayloadSize(), 212);
    // Gyroscope alone at subsample 2: 500 x 1.05 / 10 + 2 = 54.5 -> 55.
    SetSensors(kGyro, 9, 2, 0);
    EXPECT_EQ(RfSchedulerSettings(&settings).GetBeaconPayloadSize(), 55);
    // Bits 6 and 7 enable nothing.
    SetSensors(0xC0, 9, 1, 200);
    EXPECT_EQ(RfSchedulerSettings(&settings).GetBeaconPayloadSize(), 0);
    // The sample-rate divisor field is the divisor minus one: field 255 is 256.
    SetSensors(kAccel, 255, 1, 0);
    EXPECT_EQ(RfSchedulerSettings(&settings).GetBeaconPayloadSize(), 7);  // 39 x 1.05 / 10 + 2 = 6.1
    // A subsample divisor of 0 counts as 1.
    SetSensors(kAccel, 9, 0, 0);
    EXPECT_EQ(RfSchedulerSettings(&settings).GetBeaconPayloadSize(), 107);
}

TEST_F(RfBudgetTest, BeaconOf1021BytesPassesAndOf1022Fails) {
    // Temperature alone at 0.078125 Hz: 75 x 1.05 / 0.078125 = 1008 exactly, + 2 + headroom.
    network()->SetSyncRate(0.078125);
    SetSensors(kTemperature, 9, 1, 5);
    const RfSchedulerSettings fits(&settings);
    EXPECT_EQ(fits.GetBeaconPayloadSize(), 1015);
    EXPECT_EQ(fits.GetStatus(), 0);
    EXPECT_EQ(fits.GetLocationCycle(), 12480000u);
    SetSensors(kTemperature, 9, 1, 6);
    const RfSchedulerSettings too_long(&settings);
    EXPECT_EQ(too_long.GetBeaconPayloadSize(), 1016);
    EXPECT_EQ(too_long.GetStatus(), 2);
}

TEST_F(RfBudgetTest, HugePayloadCannotWrapIntoAShortBeacon) {
    // Payload far beyond 16 bits (saturated at 65535) must not become a
    // beacon of 5 bytes by a 16-bit wrap of payload + 6.
    network()->SetSyncRate(0.001);
    SetSensors(0x3F, 0, 1, 255);
    const RfSchedulerSettings budget(&settings);
    EXPECT_EQ(budget.GetBeaconPayloadSize(), 0xFFFF);
    EXPECT_EQ(budget.GetStatus(), 2);
}

TEST_F(RfBudgetTest, LargeHeadroomCannotWrapIntoAShortBeacon) {
    // 2 + 0.105 + 65530 -> 65533 bytes of payload: payload + 6 in 16 bits
    // would be 3 bytes and pass.
    network()->SetSyncRate(1000.0);
    SetSensors(kPressure, 9, 1, 65530);
    const RfSchedulerSettings budget(&settings);
    EXPECT_EQ(budget.GetBeaconPayloadSize(), 65533);
    EXPECT_EQ(budget.GetStatus(), 2);
    SetSensors(kPressure, 9, 1, 0xFFFF);
    EXPECT_EQ(RfSchedulerSettings(&settings).GetBeaconPayloadSize(), 0xFFFF);
    EXPECT_EQ(RfSchedulerSettings(&settings).GetStatus(), 2);
}

TEST_F(RfBudgetTest, ThirtyOneAnchorsLeaveRoomForOneItem) {
    AddAnchors(31);
    const RfSchedulerSettings budget(&settings);
    EXPECT_EQ(budget.GetStatus(), 0);
    EXPECT_EQ(budget.GetMaxNumTags(), 1);
    EXPECT_EQ(budget.GetAnchorReportPayloadSize(), 1011);  // 995 + 26 - 10
    ExpectSlots(budget, {558, 363, 364, 1935, 36230});
}

TEST_F(RfBudgetTest, ThirtyTwoAnchorsFillTheReportWithoutItems) {
    AddAnchors(32);  // 30 x 32 + 65 = 1025 > 1021
    EXPECT_EQ(RfSchedulerSettings(&settings).GetStatus(), 3);
}

TEST_F(RfBudgetTest, ThousandsOfAnchorsGiveNoTagRoom) {
    // 2183 anchors would wrap 30N + 65 to a small report size in 16 bits;
    // 65536 would wrap the anchor count itself to 0. Neither may pass, even
    // with the longest cycle.
    network()->SetSyncRate(0.001);
    for (int count : {1000, 2183, 4369}) {
        network()->SetAnchors({});
        AddAnchors(count);
        EXPECT_EQ(RfSchedulerSettings(&settings).GetStatus(), 3) << count;
    }
    network()->SetAnchors({});
    AddAnchors(65536);
    EXPECT_EQ(RfSchedulerSettings(&settings).GetStatus(), 3);
}

TEST_F(RfBudgetTest, UsedTimeEqualToTheCycleFits) {
    // 265 beacons of 364 plus 921 of control = 97381: a cycle of exactly that.
    network()->SetSyncRate(975000.0 / 97381.5);
    const RfSchedulerSettings budget(&settings);
    EXPECT_EQ(budget.GetLocationCycle(), 97381u);
    EXPECT_EQ(budget.GetStatus(), 0);
    EXPECT_EQ(budget.GetMaxNumTags(), 265);
    EXPECT_EQ(budget.GetSlottime(4), 0u);
}

TEST_F(RfBudgetTest, OvercommittedCycle) {
    // The beacon cap counts one combined packet per tag; the beacon slot and
    // the longer reports round up separately and overrun by one unit.
    AddAnchors(4);
    network()->SetSyncRate(111.6);
    const RfSchedulerSettings budget(&settings);
    EXPECT_EQ(budget.GetLocationCycle(), 8736u);
    EXPECT_EQ(budget.GetStatus(), 4);
    EXPECT_EQ(budget.GetSlottime(4), 0u);
}

TEST_F(RfBudgetTest, CycleTooShortForAnyBeacon) {
    network()->SetSyncRate(1100.0);  // 886 units: not even the control packets fit
    const RfSchedulerSettings none(&settings);
    EXPECT_EQ(none.GetLocationCycle(), 886u);
    EXPECT_EQ(none.GetStatus(), 3);
    AddAnchors(4);
    EXPECT_EQ(RfSchedulerSettings(&settings).GetStatus(), 3);
    network()->SetSyncRate(1e6);  // a cycle of 0
    EXPECT_EQ(RfSchedulerSettings(&settings).GetLocationCycle(), 0u);
    EXPECT_EQ(RfSchedulerSettings(&settings).GetStatus(), 3);
}

TEST_F(RfBudgetTest, RatesOfZeroOrBelowAreNotComputed) {
    SetSensors(kGyro | kAccel, 9, 1, 0);
    AddAnchors(4);
    const double bad_rates[] = {0.0,
                                -0.0,
                                -10.0,
                                std::numeric_limits<double>::quiet_NaN(),
                                -std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::max()};
    for (double rate : bad_rates) {
        network()->SetSyncRate(rate);
        const RfSchedulerSettings budget(&settings);
        EXPECT_EQ(budget.GetStatus(), 1) << rate;
        EXPECT_EQ(budget.GetLocationCycle(), 0u) << rate;
        EXPECT_EQ(budget.GetMaxNumTags(), 0) << rate;
        EXPECT_EQ(budget.GetBeaconPayloadSize(), 0) << rate;
    }
}

TEST_F(RfBudgetTest, SlowRateChecksTheBeaconBeforeTheCycle) {
    // Gyroscope alone, rate divisor 256, subsample 255: x = 39 / 255 x 1.05.
    SetSensors(kGyro, 255, 255, 0);
    // At 1e-5 Hz the beacon (2 + 16058.8 -> 16061 bytes) is too long; that
    // is found before the cycle, which would not fit 32 bits.
    network()->SetSyncRate(1e-5);
    const RfSchedulerSettings too_long(&settings);
    EXPECT_EQ(too_long.GetBeaconPayloadSize(), 16061);
    EXPECT_EQ(too_long.GetStatus(), 2);
    // At 2e-4 Hz the beacon fits (805 bytes) but the cycle of 4.875e9 units
    // does not fit 32 bits: nothing more is computed.
    network()->SetSyncRate(2e-4);
    const RfSchedulerSettings no_cycle(&settings);
    EXPECT_EQ(no_cycle.GetBeaconPayloadSize(), 805);
    EXPECT_EQ(no_cycle.GetStatus(), 1);
    EXPECT_EQ(no_cycle.GetLocationCycle(), 0u);
    ExpectSlots(no_cycle, {0, 0, 0, 0, 0});
    // No sensor: the beacon always fits, so only the cycle decides.
    SetSensors(0, 9, 1, 0);
    for (double rate : {1e-5, std::numeric_limits<double>::denorm_min()}) {
        network()->SetSyncRate(rate);
        EXPECT_EQ(RfSchedulerSettings(&settings).GetStatus(), 1) << rate;
    }
    // A payload beyond 16 bits saturates and reads as too long.
    SetSensors(kGyro | kAccel, 9, 1, 0);
    network()->SetSyncRate(std::numeric_limits<double>::denorm_min());
    const RfSchedulerSettings saturated(&settings);
    EXPECT_EQ(saturated.GetBeaconPayloadSize(), 0xFFFF);
    EXPECT_EQ(saturated.GetStatus(), 2);
}

TEST_F(RfBudgetTest, InfiniteRateGivesACycleOfZero) {
    // x / rate is 0: the payload is 2 bytes, raised to the least of 5.
    SetSensors(kGyro | kAccel, 9, 1, 0);
    network()->SetSyncRate(std::numeric_limits<double>::infinity());
    const RfSchedulerSettings alone(&settings);
    EXPECT_EQ(alone.GetBeaconPayloadSize(), 5);
    EXPECT_EQ(alone.GetLocationCycle(), 0u);
    EXPECT_EQ(alone.GetStatus(), 3);
    AddAnchors(4);
    EXPECT_EQ(RfSchedulerSettings(&settings).GetStatus(), 3);
    SetSensors(kGyro | kAccel, 9, 1, 1014);  // 2 + 1014: beacon of 1022 bytes
    EXPECT_EQ(RfSchedulerSettings(&settings).GetStatus(), 2);
}

TEST_F(RfBudgetTest, SlowestRepresentableRates) {
    network()->SetSyncRate(0.001);
    const RfSchedulerSettings slow(&settings);
    EXPECT_EQ(slow.GetStatus(), 0);
    EXPECT_EQ(slow.GetLocationCycle(), 975000000u);
    // More beacon slots than a 16-bit count holds: the count saturates.
    EXPECT_EQ(slow.GetMaxNumTags(), 0xFFFF);
    EXPECT_EQ(slow.GetSlottime(4), 975000000u - 921u - 0xFFFFu * 364u);
    // 975000 / 0.000227 = 4295154185 units: one past the 32-bit range.
    network()->SetSyncRate(0.000227);
    EXPECT_EQ(RfSchedulerSettings(&settings).GetStatus(), 1);
    network()->SetSyncRate(0.000228);
    const RfSchedulerSettings slowest(&settings);
    EXPECT_EQ(slowest.GetStatus(), 0);
    EXPECT_EQ(slowest.GetLocationCycle(), 4276315789u);
}

TEST_F(RfBudgetTest, ReadsTheSettingsAsTheyAreNow) {
    const RfSchedulerSettings before(&settings);
    AddAnchors(4);
    const RfSchedulerSettings after(&settings);
    EXPECT_EQ(before.GetMaxNumTags(), 265);
    EXPECT_EQ(after.GetMaxNumTags(), 32);
    // A copy keeps its values.
    const RfSchedulerSettings copy = after;
    EXPECT_EQ(copy.GetSlottime(3), 1929u);
    EXPECT_EQ(copy.GetSlottime(5), 0u);
    EXPECT_EQ(copy.GetSlottime(255), 0u);
}

}  // namespace
