#include "host/devices/deca_tick_to_gnt_converter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>

namespace {

constexpr int64_t kWrap = int64_t{1} << 40;
constexpr int64_t kTicksPerUnit = 65535;

TEST(DecaTickToGntConverter, StartsAsIdentityThroughItsTwoInitialTicks) {
    DecaTickToGntConverter converter;
    EXPECT_EQ(converter.DecaTicksToGnt(0), 0);
    EXPECT_EQ(converter.DecaTicksToGnt(1), 1);
    EXPECT_EQ(converter.DecaTicksToGnt(12345), 12345);
}

class DecaTickToGntConverterLine : public ::testing::Test {
  protected:
    // One network-time unit per 65535 ticks, network time 5000 at tick 1000 units.
    void SetUp() override {
        converter_.Update(1000 * kTicksPerUnit, 5000);
        converter_.Update(2000 * kTicksPerUnit, 6000);
    }
    DecaTickToGntConverter converter_;
};

TEST_F(DecaTickToGntConverterLine, InterpolatesBetweenTheLastTwoSyncs) {
    EXPECT_EQ(converter_.DecaTicksToGnt(1000 * kTicksPerUnit), 5000);
    EXPECT_EQ(converter_.DecaTicksToGnt(1500 * kTicksPerUnit), 5500);
    EXPECT_EQ(converter_.DecaTicksToGnt(2000 * kTicksPerUnit), 6000);
}

TEST_F(DecaTickToGntConverterLine, ExtrapolatesOnBothSides) {
    EXPECT_EQ(converter_.DecaTicksToGnt(2500 * kTicksPerUnit), 6500);
    EXPECT_EQ(converter_.DecaTicksToGnt(500 * kTicksPerUnit), 4500);
}

TEST_F(DecaTickToGntConverterLine, RoundsToTheNearestUnit) {
    EXPECT_EQ(converter_.DecaTicksToGnt(1500 * kTicksPerUnit + kTicksPerUnit / 2 - 1), 5500);
    EXPECT_EQ(converter_.DecaTicksToGnt(1500 * kTicksPerUnit + kTicksPerUnit / 2 + 1), 5501);
}

TEST_F(DecaTickToGntConverterLine, MeasuresTheRateFromTheLatestTwoPairsOnly) {
    converter_.Update(3000 * kTicksPerUnit, 8000);  // twice as fast from here
    EXPECT_EQ(converter_.DecaTicksToGnt(2500 * kTicksPerUnit), 7000);
    EXPECT_EQ(converter_.DecaTicksToGnt(3500 * kTicksPerUnit), 9000);
}

TEST(DecaTickToGntConverterRounding, HalvesRoundAwayFromZero) {
    DecaTickToGntConverter converter;
    // Two ticks of 65535 per unit: half a unit per 65535 ticks.
    converter.Update(10 * kTicksPerUnit, 100);
    converter.Update(12 * kTicksPerUnit, 101);
    EXPECT_EQ(converter.DecaTicksToGnt(11 * kTicksPerUnit), 101);  // +0.5
    EXPECT_EQ(converter.DecaTicksToGnt(9 * kTicksPerUnit), 99);    // -0.5
    EXPECT_EQ(converter.DecaTicksToGnt(13 * kTicksPerUnit), 102);  // +1.5
    EXPECT_EQ(converter.DecaTicksToGnt(7 * kTicksPerUnit), 98);    // -1.5
}

TEST(DecaTickToGntConverterRounding, DividesBeforeMultiplyingByTheRate) {
    DecaTickToGntConverter converter;
    converter.Update(0, 0);
    converter.Update(6, 1);
    // Exactly 24.5 units on paper; the distance is divided by 65535 before it
    // is multiplied by the rate (65535 / 6 units per 65535 ticks), which lands
    // just below 24.5 in doubles.
    EXPECT_EQ(converter.DecaTicksToGnt(147), 24);
    EXPECT_EQ(converter.DecaTicksToGnt(153), 26);  // 25.5 on paper, and in doubles
}

TEST(DecaTickToGntConverterWrap, TickTimesAcrossThe40BitWrap) {
    DecaTickToGntConverter converter;
    const int64_t before_wrap = kWrap - 100 * kTicksPerUnit;
    const int64_t after_wrap = (before_wrap + 1000 * kTicksPerUnit) % kWrap;  // 900 units after the wrap
    converter.Update(before_wrap, 1000);
    converter.Update(after_wrap, 2000);
    EXPECT_EQ(converter.DecaTicksToGnt(after_wrap), 2000);
    EXPECT_EQ(converter.DecaTicksToGnt(0), 1100);
    EXPECT_EQ(converter.DecaTicksToGnt(kWrap - 1), 1100);
    EXPECT_EQ(converter.DecaTicksToGnt(before_wrap + 50 * kTicksPerUnit), 1050);
}

TEST(DecaTickToGntConverterWrap, ExtremeFortyBitTimesAroundHalfTheRange) {
    DecaTickToGntConverter converter;
    converter.Update(0, 0);
    converter.Update(1000 * kTicksPerUnit, 1000);
    const int64_t half = int64_t{1} << 39;
    // Up to 2^39 - 1 ticks ahead is taken as it is, beyond that across the wrap.
    EXPECT_EQ(converter.DecaTicksToGnt(half - 1), 8388736);
    EXPECT_EQ(converter.DecaTicksToGnt(half), -8388736);
    EXPECT_EQ(converter.DecaTicksToGnt(kWrap - 1), 0);
    EXPECT_EQ(converter.DecaTicksToGnt(kWrap - kTicksPerUnit), -1);
}

TEST(DecaTickToGntConverterWrap, NetworkTimeDifferenceIsTakenModulo2To32) {
    DecaTickToGntConverter converter;
    converter.Update(0, 0xFFFFFF00u);
    converter.Update(0x200 * kTicksPerUnit, 0x00000100u);
    const int64_t middle = converter.DecaTicksToGnt(0x100 * kTicksPerUnit);
    EXPECT_EQ(middle, int64_t{0x100000000});
    EXPECT_EQ(static_cast<uint32_t>(middle), 0u);
    EXPECT_EQ(static_cast<uint32_t>(converter.DecaTicksToGnt(0x180 * kTicksPerUnit)), 0x80u);
}

// Fixed-seed sweep over arbitrary 40-bit sync pairs and tick times (run under
// the undefined-behaviour sanitizer too): inside the window the network time
// lies between the two syncs' network times.
TEST(DecaTickToGntConverterWrap, RandomFortyBitWindowsInterpolateBetweenTheirEnds) {
    std::mt19937_64 random(42);
    for (int round = 0; round < 20000; ++round) {
        DecaTickToGntConverter converter;
        const int64_t previous_ticks = static_cast<int64_t>(random() & (kWrap - 1));
        const int64_t span = 1 + static_cast<int64_t>(random() % ((int64_t{1} << 39) - 1));
        const uint32_t previous_time = static_cast<uint32_t>(random());
        const uint32_t time_span = static_cast<uint32_t>(random() % 10000000);
        converter.Update(previous_ticks, previous_time);
        converter.Update((previous_ticks + span) % kWrap, previous_time + time_span);
        const int64_t step = static_cast<int64_t>(random() % static_cast<uint64_t>(span + 1));
        const int64_t time = converter.DecaTicksToGnt((previous_ticks + step) % kWrap);
        ASSERT_GE(time, int64_t{previous_time}) << "round " << round;
        ASSERT_LE(time, int64_t{previous_time} + time_span) << "round " << round;
    }
}

TEST(DecaTickToGntConverterDegenerate, SameMasterTickTwiceDividesBy1e9) {
    DecaTickToGntConverter converter;
    const int64_t tick = 777 * kTicksPerUnit;
    converter.Update(tick, 100);
    converter.Update(tick, 200);
    EXPECT_EQ(converter.DecaTicksToGnt(tick), 100);
    // 100 units over a span of 1e-9: one tick later is 1e11 / 65535 units on.
    EXPECT_EQ(converter.DecaTicksToGnt(tick + 1), 1526002);
    EXPECT_EQ(converter.DecaTicksToGnt(tick - 1), 100 - 1525902);
}

TEST(DecaTickToGntConverterDegenerate, ResultsBeyondInt64Saturate) {
    DecaTickToGntConverter converter;
    const int64_t tick = int64_t{1} << 39;
    converter.Update(tick, 0);
    converter.Update(tick, 0xFFFFFFFFu);
    EXPECT_EQ(converter.DecaTicksToGnt(tick + (int64_t{1} << 38)), INT64_MAX);
    EXPECT_EQ(converter.DecaTicksToGnt(tick - (int64_t{1} << 38)), INT64_MIN);
}

TEST(DecaTickToGntConverterDegenerate, SameNetworkTimeTwiceGivesAFlatLine) {
    DecaTickToGntConverter converter;
    converter.Update(0, 4242);
    converter.Update(1000 * kTicksPerUnit, 4242);
    EXPECT_EQ(converter.DecaTicksToGnt(0), 4242);
    EXPECT_EQ(converter.DecaTicksToGnt(kWrap / 4), 4242);
}

TEST(DecaTickToGntConverterWrap, TimesJustOutsideFortyBitsAreTakenAcrossTheWrap) {
    DecaTickToGntConverter converter;
    converter.Update(5000 * kTicksPerUnit, 0);
    converter.Update(6000 * kTicksPerUnit, 1000);
    // -1 is the tick before 0, as 2^40 - 1 is; 2^40 is tick 0 again.
    EXPECT_EQ(converter.DecaTicksToGnt(-1), -5000);
    EXPECT_EQ(converter.DecaTicksToGnt(kWrap - 1), -5000);
    EXPECT_EQ(converter.DecaTicksToGnt(-kTicksPerUnit * 10), -5010);
    EXPECT_EQ(converter.DecaTicksToGnt(kWrap + 5500 * kTicksPerUnit), 500);
}

TEST(DecaTickToGntConverterDegenerate, TimesFarOutsideFortyBitsStayDefined) {
    DecaTickToGntConverter converter;
    converter.Update(0, 0);
    converter.Update(1000 * kTicksPerUnit, 1000);
    // Nonsense inputs give far-away network times, never plausible-looking ones.
    EXPECT_GT(converter.DecaTicksToGnt(INT64_MAX), int64_t{1} << 40);
    EXPECT_GT(std::llabs(converter.DecaTicksToGnt(INT64_MIN)), int64_t{1} << 40);
}

}  // namespace
