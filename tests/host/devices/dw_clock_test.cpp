#include "host/devices/dw_clock.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>

#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "protocol/reports/derazud_pos3.h"

namespace {

constexpr int64_t kWrap = int64_t{1} << 40;
constexpr int64_t kHalf = int64_t{1} << 39;
constexpr double kSpeedOfLight = 299792458.0;
constexpr double kMetresPerTick = kSpeedOfLight / 6.38976e10;

derazud_pos3_t Position(float x, float y, float z) {
    derazud_pos3_t position{};
    position.x = x;
    position.y = y;
    position.z = z;
    return position;
}

// Sets the global speed of light for one test and restores it.
class GlobalSpeedOfLight {
  public:
    explicit GlobalSpeedOfLight(double speed)
        : host_(FlatSettingsInterface(Settings::GlobalSettings()).GetHostSettings()),
          saved_(host_->GetSpeedOfLight()) {
        host_->SetSpeedOfLight(speed);
    }
    ~GlobalSpeedOfLight() { host_->SetSpeedOfLight(saved_); }

  private:
    HostSettings* host_;
    double saved_;
};

TEST(DwClockUpdate, RefusesTheLatestPairAgain) {
    DwClock clock;
    EXPECT_FALSE(clock.Update(0, 0, -80.0, -78.0));  // equals the all-zero start
    EXPECT_TRUE(clock.Update(1000, 5000, -80.0, -78.0));
    EXPECT_FALSE(clock.Update(1000, 5000, -90.0, -88.0));
    EXPECT_EQ(clock.GetRcFirstPath(), -80.0);  // the refused update changed nothing
    EXPECT_TRUE(clock.Update(1000, 5001, -81.0, -79.0));
    EXPECT_TRUE(clock.Update(1001, 5001, -82.0, -77.0));
}

TEST(DwClockUpdate, ShiftsLatestPowersToPrevious) {
    DwClock clock;
    EXPECT_EQ(clock.GetRaFirstPath(), 0.0);
    EXPECT_EQ(clock.GetRcTotalPath(), 0.0);
    clock.Update(1000, 5000, -80.0, -78.0);
    clock.Update(2000, 6000, -85.5, -79.25);
    EXPECT_EQ(clock.GetRaFirstPath(), -80.0);
    EXPECT_EQ(clock.GetRaTotalPath(), -78.0);
    EXPECT_EQ(clock.GetRcFirstPath(), -85.5);
    EXPECT_EQ(clock.GetRcTotalPath(), -79.25);
}

TEST(DwClockUpdate, AgeOfANeverUpdatedClockIsTheTimeSinceTheEpoch) {
    DwClock clock;
    const uint64_t before = static_cast<uint64_t>(QDateTime::currentMSecsSinceEpoch());
    const uint64_t age = clock.LastUpdateAgeMs();
    const uint64_t after = static_cast<uint64_t>(QDateTime::currentMSecsSinceEpoch());
    EXPECT_GE(age, before);
    EXPECT_LE(age, after);
}

TEST(DwClockUpdate, AgeCountsFromTheLastAcceptedUpdate) {
    DwClock clock;
    const int64_t before = QDateTime::currentMSecsSinceEpoch();
    ASSERT_TRUE(clock.Update(1, 1, 0.0, 0.0));
    const uint64_t age = clock.LastUpdateAgeMs();
    const int64_t after = QDateTime::currentMSecsSinceEpoch();
    EXPECT_LE(age, static_cast<uint64_t>(after - before));
}

class DwClockInterpolation : public ::testing::Test {
  protected:
    // The node's clock runs at the master's rate, 4000 ticks ahead.
    void SetUp() override {
        ASSERT_TRUE(clock_.Update(1000, 5000, 0.0, 0.0));
        ASSERT_TRUE(clock_.Update(2000, 6000, 0.0, 0.0));
    }
    DwClock clock_;
};

TEST_F(DwClockInterpolation, MapsLocalTimesBetweenAndBeyondTheSyncs) {
    EXPECT_EQ(clock_.ToGlobalInterp(5000), 1000);
    EXPECT_EQ(clock_.ToGlobalInterp(5500), 1500);
    EXPECT_EQ(clock_.ToGlobalInterp(6000), 2000);
    EXPECT_EQ(clock_.ToGlobalInterp(6500), 2500);  // extrapolated after the latest sync
}

TEST_F(DwClockInterpolation, FollowsTheRatioOfTheSpans) {
    ASSERT_TRUE(clock_.Update(4000, 7000, 0.0, 0.0));  // 2000 master ticks per 1000 local
    EXPECT_EQ(clock_.ToGlobalInterp(6500), 3000);
    EXPECT_EQ(clock_.ToGlobalInterp(6001), 2002);
    EXPECT_EQ(clock_.ToGlobalInterp(7250), 4500);
}

TEST_F(DwClockInterpolation, TruncatesTheInterpolatedTime) {
    ASSERT_TRUE(clock_.Update(2999, 7000, 0.0, 0.0));  // 999 master ticks per 1000 local
    EXPECT_EQ(clock_.ToGlobalInterp(6500), 2499);      // 2499.5
    EXPECT_EQ(clock_.ToGlobalInterp(6999), 2998);      // 2998.001
}

TEST(DwClockOrderOfOperations, DividesTheLocalSpansBeforeScalingByTheMasterSpan) {
    DwClock clock;
    ASSERT_TRUE(clock.Update(0, 5000, 0.0, 0.0));
    ASSERT_TRUE(clock.Update(49, 5049, 0.0, 0.0));
    // 49 x (1 / 49) is just below 1 in doubles and truncates to 0, where
    // (49 x 1) / 49 would give 1.
    EXPECT_EQ(clock.ToGlobalInterp(5001), 0);
    EXPECT_EQ(clock.ToGlobalInterp(5032), 31);
    EXPECT_EQ(clock.ToGlobalInterp(5003), 3);  // 49 x (3 / 49) comes out whole
}

TEST_F(DwClockInterpolation, AddsTheMasterDistanceOffset) {
    GlobalSpeedOfLight speed(kSpeedOfLight);
    clock_.SetMasterDistTickOffset(Position(0.0f, 0.0f, 0.0f), Position(3.0f, 4.0f, 0.0f));
    EXPECT_EQ(clock_.GetMasterDistTickOffset(), 1065);  // 5 m: 1065.69 ticks
    EXPECT_EQ(clock_.ToGlobalInterp(5500), 1500 + 1065);
}

TEST(DwClockWrap, LocalTimeJustAfterTheWrapInterpolatesAsIf2To40WereAdded) {
    DwClock clock;
    clock.Update(10000, kWrap - 100, 0.0, 0.0);
    clock.Update(11000, 900, 0.0, 0.0);  // local clock wrapped between the syncs
    EXPECT_EQ(clock.ToGlobalInterp(50), 10150);
    EXPECT_EQ(clock.ToGlobalInterp(kWrap - 50), 10050);
    EXPECT_EQ(clock.ToGlobalInterp(900), 11000);
    EXPECT_EQ(clock.ToGlobalInterp(1400), 11500);
}

TEST(DwClockWrap, MasterTimeBeyondTheWrapComesBackSmall) {
    DwClock clock;
    clock.Update(kWrap - 500, 20000, 0.0, 0.0);
    clock.Update(500, 21000, 0.0, 0.0);
    EXPECT_EQ(clock.ToGlobalInterp(20250), kWrap - 250);
    EXPECT_EQ(clock.ToGlobalInterp(20750), 250);
}

TEST(DwClockWrap, OffsetPastTheWrapGivesASmallValue) {
    GlobalSpeedOfLight speed(3e8);
    DwClock clock;
    clock.Update(kWrap - 2000, 100, 0.0, 0.0);
    clock.Update(kWrap - 1000, 1100, 0.0, 0.0);
    clock.SetMasterDistTickOffset(Position(1.0f, 2.0f, 3.0f), Position(1.0f, 2.0f, 8.0f));
    ASSERT_EQ(clock.GetMasterDistTickOffset(), 1064);
    EXPECT_EQ(clock.ToGlobalInterp(1100), 64);
    EXPECT_EQ(clock.ToGlobalInterp(1000), kWrap - 1100 + 1064);
}

TEST(DwClockWrap, NegativeSumsWrapToTheTopOfTheRange) {
    DwClock clock;
    clock.Update(-100, 0, 0.0, 0.0);
    clock.Update(900, 1000, 0.0, 0.0);
    EXPECT_EQ(clock.ToGlobalInterp(50), kWrap - 50);
    EXPECT_EQ(clock.ToGlobalInterp(100), 0);
}

TEST(DwClockWrap, LocalTimeBeforeThePreviousSyncIsTakenAsFarAhead) {
    DwClock clock;
    clock.Update(0, 1000, 0.0, 0.0);
    clock.Update(1000, 2000, 0.0, 0.0);
    // One tick before the previous sync is 2^40 - 1 ticks after it.
    EXPECT_EQ(clock.ToGlobalInterp(999), kWrap - 1);
}

TEST(DwClockExtremes, FarExtrapolationStaysInsideFortyBits) {
    DwClock clock;
    clock.Update(0, 0, 0.0, 0.0);
    ASSERT_TRUE(clock.Update(3, 1, 0.0, 0.0));
    // 3 x (2^40 - 1) is more than twice the wrap: reduced modulo 2^40.
    EXPECT_EQ(clock.ToGlobalInterp(kWrap - 1), kWrap - 3);
    ASSERT_TRUE(clock.Update(kWrap - 1, 2, 0.0, 0.0));  // master span 2^40 - 4 over one local tick
    for (int64_t local : {int64_t{0}, int64_t{1}, kHalf, kWrap - 1, int64_t{-1}, INT64_MAX, INT64_MIN}) {
        const int64_t master = clock.ToGlobalInterp(local);
        EXPECT_GE(master, 0) << local;
        EXPECT_LT(master, kWrap) << local;
    }
}

TEST(DwClockExtremes, ExtremeSyncPointsAndOffsetsStayInsideFortyBits) {
    DwClock clock;
    clock.Update(INT64_MAX, INT64_MIN, 0.0, 0.0);
    clock.Update(INT64_MIN, INT64_MAX, 0.0, 0.0);
    // 1e17 m is beyond int64_t in ticks.
    GlobalSpeedOfLight speed(3e8);
    clock.SetMasterDistTickOffset(Position(0.0f, 0.0f, 0.0f), Position(1e17f, 0.0f, 0.0f));
    EXPECT_NE(clock.GetMasterDistTickOffset(), 0);
    EXPECT_LT(std::llabs(clock.GetMasterDistTickOffset()), kWrap);
    for (int64_t local : {int64_t{0}, kWrap - 1, INT64_MAX, INT64_MIN}) {
        const int64_t master = clock.ToGlobalInterp(local);
        EXPECT_GE(master, 0) << local;
        EXPECT_LT(master, kWrap) << local;
    }
}

TEST(DwClockExtremes, BeforeTwoDistinctLocalTimesGivesTheLatestMasterTime) {
    DwClock clock;
    EXPECT_EQ(clock.ToGlobalInterp(12345), 0);
    clock.Update(777, 0, 0.0, 0.0);  // local time equal to the start's
    EXPECT_EQ(clock.ToGlobalInterp(12345), 777);
}

// Fixed-seed sweep over arbitrary 40-bit sync points and local times (run
// under the undefined-behaviour sanitizer too): the result stays in the
// device range, and inside the window it lies between the two master times.
TEST(DwClockExtremes, RandomFortyBitInputsStayInRangeAndInsideTheWindow) {
    std::mt19937_64 random(20261207);
    auto forty_bits = [&random] { return static_cast<int64_t>(random() & (kWrap - 1)); };
    for (int round = 0; round < 20000; ++round) {
        DwClock clock;
        const int64_t previous_local = forty_bits();
        const int64_t previous_master = forty_bits();
        const int64_t local_span = 1 + static_cast<int64_t>(random() % (kHalf - 1));
        const int64_t master_span = static_cast<int64_t>(random() % kHalf);
        clock.Update(previous_master, previous_local, 0.0, 0.0);
        clock.Update((previous_master + master_span) % kWrap, (previous_local + local_span) % kWrap, 0.0,
                     0.0);

        const int64_t anywhere = clock.ToGlobalInterp(forty_bits());
        ASSERT_GE(anywhere, 0);
        ASSERT_LT(anywhere, kWrap);

        const int64_t step = static_cast<int64_t>(random() % static_cast<uint64_t>(local_span + 1));
        const int64_t master = clock.ToGlobalInterp((previous_local + step) % kWrap);
        const int64_t into_window = (master - previous_master + kWrap) % kWrap;
        ASSERT_LE(into_window, master_span) << "round " << round;
    }
}

TEST(DwClockRangeDifference, RandomFortyBitPairsStayWithinHalfTheRange) {
    std::mt19937_64 random(7);
    for (int round = 0; round < 100000; ++round) {
        const int64_t a = static_cast<int64_t>(random() & (kWrap - 1));
        const int64_t b = static_cast<int64_t>(random() & (kWrap - 1));
        const double ticks = DwClock::RangeDifference(a, b, 6.38976e10);
        ASSERT_LE(std::fabs(ticks), static_cast<double>(kHalf));
        // Adding the difference to b comes back to a modulo 2^40.
        ASSERT_EQ((b + static_cast<int64_t>(ticks) + kWrap) % kWrap, a);
    }
}

TEST(DwClockOffset, UnusablePositionsGiveNoOffset) {
    GlobalSpeedOfLight speed(kSpeedOfLight);
    DwClock clock;
    clock.SetMasterDistTickOffset(Position(0.0f, 0.0f, 0.0f), Position(NAN, 0.0f, 0.0f));
    EXPECT_EQ(clock.GetMasterDistTickOffset(), 0);
    clock.SetMasterDistTickOffset(Position(0.0f, 0.0f, 0.0f), Position(INFINITY, 0.0f, 0.0f));
    EXPECT_EQ(clock.GetMasterDistTickOffset(), 0);
    EXPECT_EQ(DwClock::DistanceToTicks(5.0, 0.0), 0);
    EXPECT_EQ(DwClock::DistanceToTicks(0.0, 0.0), 0);
}

TEST(DwClockOffset, DistanceIsTakenInMillimetresOfTheFloatPositions) {
    GlobalSpeedOfLight speed(kSpeedOfLight);
    DwClock clock;
    clock.SetMasterDistTickOffset(Position(1.5f, -2.25f, 0.75f), Position(0.0f, 0.0f, 0.0f));
    EXPECT_EQ(clock.GetMasterDistTickOffset(), 598);
    EXPECT_EQ(DwClock::DistanceToTicks(5.0, 3e8), 1064);
    EXPECT_EQ(DwClock::DistanceToTicks(-5.0, 3e8), -1064);
}

TEST(DwClockOffset, HugeDistancesReduceModulo2To40) {
    const double ticks = std::trunc(6.38976e10 / kSpeedOfLight * 1e20);
    const int64_t expected = static_cast<int64_t>(std::fmod(ticks, static_cast<double>(kWrap)));
    ASSERT_GT(expected, 0);
    EXPECT_EQ(DwClock::DistanceToTicks(1e20, kSpeedOfLight), expected);
    const int64_t negative = DwClock::DistanceToTicks(-1e20, kSpeedOfLight);
    EXPECT_GE(negative, 0);
    EXPECT_LT(negative, kWrap);
    EXPECT_EQ((negative + expected) % kWrap, 0);
}

TEST(DwClockRangeDifference, TakesTheShortWayRoundTheWrap) {
    GlobalSpeedOfLight speed(kSpeedOfLight);
    EXPECT_DOUBLE_EQ(DwClock::rdoa_from_clocks(5, kWrap - 5), 10 * kMetresPerTick);
    EXPECT_DOUBLE_EQ(DwClock::rdoa_from_clocks(kWrap - 5, 5), -10 * kMetresPerTick);
    EXPECT_DOUBLE_EQ(DwClock::rdoa_from_clocks(1000, 400), 600 * kMetresPerTick);
    EXPECT_DOUBLE_EQ(DwClock::rdoa_from_clocks(400, 1000), -600 * kMetresPerTick);
    EXPECT_DOUBLE_EQ(DwClock::rdoa_from_clocks(77, 77), 0.0);
}

TEST(DwClockRangeDifference, HalfRangeExactlyIsNotWrapped) {
    GlobalSpeedOfLight speed(kSpeedOfLight);
    EXPECT_DOUBLE_EQ(DwClock::rdoa_from_clocks(kHalf, 0), kHalf * kMetresPerTick);
    EXPECT_DOUBLE_EQ(DwClock::rdoa_from_clocks(0, kHalf), -kHalf * kMetresPerTick);
    EXPECT_DOUBLE_EQ(DwClock::rdoa_from_clocks(kHalf + 1, 0), -(kHalf - 1) * kMetresPerTick);
    EXPECT_DOUBLE_EQ(DwClock::rdoa_from_clocks(0, kHalf + 1), (kHalf - 1) * kMetresPerTick);
    EXPECT_DOUBLE_EQ(DwClock::rdoa_from_clocks(kWrap - 1, 0), -1 * kMetresPerTick);
}

TEST(DwClockRangeDifference, UsesTheConfiguredSpeedOfLight) {
    GlobalSpeedOfLight speed(2e8);
    EXPECT_DOUBLE_EQ(DwClock::rdoa_from_clocks(5, kWrap - 5), 10 * (2e8 / 6.38976e10));
    EXPECT_DOUBLE_EQ(DwClock::RangeDifference(5, kWrap - 5, 3e8), 10 * (3e8 / 6.38976e10));
}

TEST(DwClockRangeDifference, InputsOutsideFortyBitsStayDefined) {
    // Beyond the device range the difference is followed as it is, less one
    // wrap, without signed overflow.
    EXPECT_DOUBLE_EQ(DwClock::RangeDifference(INT64_MAX, INT64_MIN, 1.0),
                     (18446744073709551615.0 - static_cast<double>(kWrap)) / 6.38976e10);
    EXPECT_DOUBLE_EQ(DwClock::RangeDifference(INT64_MIN, INT64_MAX, 1.0),
                     -(18446744073709551615.0 - static_cast<double>(kWrap)) / 6.38976e10);
    EXPECT_DOUBLE_EQ(DwClock::RangeDifference(-5, 5, 6.38976e10), -10.0);
    EXPECT_DOUBLE_EQ(DwClock::RangeDifference(kWrap + 5, 0, 6.38976e10), 5.0);
}

}  // namespace
