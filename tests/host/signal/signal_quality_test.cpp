#include "host/signal/signal_quality.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "host/signal/occlusion_weighting_table.h"

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(SignalQualityWeightingIndex, LowerEdgeTruncatesTowardZero) {
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(-20.0, 0.0), 0);
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(-20.005, 0.0), 0);
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(-35.0, 0.0), 0);
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(-90.0, -70.0), 0);
}

TEST(SignalQualityWeightingIndex, TruncatesInsteadOfRounding) {
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(0.004, 0.0), 2000);
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(0.009, 0.0), 2000);
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(4.155, 0.0), 2415);
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(-80.0, -85.5), 2550);
}

TEST(SignalQualityWeightingIndex, UpperEdgeFollowsDoubleArithmetic) {
    // (29.99 + 20) * 100 lands just below 4999 in doubles.
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(29.99, 0.0), 4998);
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(29.995, 0.0), 4999);
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(30.0, 0.0), 4999);
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(35.0, 0.0), 4999);
}

TEST(SignalQualityWeightingIndex, NonFiniteAndHugeGapsStayInsideTheTable) {
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(kNaN, 0.0), 0);
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(0.0, kNaN), 0);
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(kInfinity, kInfinity), 0);
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(-kInfinity, -kInfinity), 0);
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(0.0, -kInfinity), 4999);
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(0.0, kInfinity), 0);
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(1e300, -1e300), 4999);
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(-1e300, 1e300), 0);
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(3e7, 0.0), 4999);
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(-3e7, 0.0), 0);
}

TEST(SignalQualityWeight, ReadsTheTableAtTheIndex) {
    EXPECT_DOUBLE_EQ(CalculateSignalQualityWeight(4.15, 0.0), OCCLUSION_WEIGHTING_TABLE[2415]);
    EXPECT_DOUBLE_EQ(CalculateSignalQualityWeight(-120.0, -100.0), 0.000347);
    EXPECT_DOUBLE_EQ(CalculateSignalQualityWeight(-100.0, -100.0), 0.470793);
    EXPECT_DOUBLE_EQ(CalculateSignalQualityWeight(-90.0, -100.0), 0.482109);
    EXPECT_DOUBLE_EQ(CalculateSignalQualityWeight(kNaN, 0.0), 0.000347);
    EXPECT_DOUBLE_EQ(CalculateSignalQualityWeight(0.0, -kInfinity), OCCLUSION_WEIGHTING_TABLE[4999]);
}

struct FixedWeight {
    int index;
    double weight;
};

class OcclusionWeightingTableRows : public ::testing::TestWithParam<FixedWeight> {};

TEST_P(OcclusionWeightingTableRows, HoldsTheFixedValueExactly) {
    EXPECT_EQ(OCCLUSION_WEIGHTING_TABLE[GetParam().index], GetParam().weight) << "index " << GetParam().index;
}

INSTANTIATE_TEST_SUITE_P(
    WholeDecibelsAndPeak, OcclusionWeightingTableRows,
    ::testing::Values(FixedWeight{0, 0.000347}, FixedWeight{100, 0.000400}, FixedWeight{200, 0.000473},
                      FixedWeight{300, 0.000572}, FixedWeight{400, 0.000703}, FixedWeight{500, 0.000875},
                      FixedWeight{600, 0.001101}, FixedWeight{700, 0.001397}, FixedWeight{800, 0.001786},
                      FixedWeight{900, 0.002299}, FixedWeight{1000, 0.002982}, FixedWeight{1100, 0.003905},
                      FixedWeight{1200, 0.005173}, FixedWeight{1300, 0.006956}, FixedWeight{1400, 0.009544},
                      FixedWeight{1500, 0.013465}, FixedWeight{1600, 0.019785}, FixedWeight{1700, 0.030985},
                      FixedWeight{1800, 0.054294}, FixedWeight{1900, 0.121423}, FixedWeight{2000, 0.470793},
                      FixedWeight{2100, 0.815486}, FixedWeight{2200, 0.879943}, FixedWeight{2300, 0.899551},
                      FixedWeight{2400, 0.905056}, FixedWeight{2415, 0.905144}, FixedWeight{2500, 0.902629},
                      FixedWeight{2600, 0.892762}, FixedWeight{2700, 0.872144}, FixedWeight{2800, 0.829888},
                      FixedWeight{2900, 0.729745}, FixedWeight{3000, 0.482109}, FixedWeight{3100, 0.236053},
                      FixedWeight{3200, 0.136057}, FixedWeight{3300, 0.092384}, FixedWeight{3400, 0.069052},
                      FixedWeight{3500, 0.054795}, FixedWeight{3600, 0.045277}, FixedWeight{3700, 0.038518},
                      FixedWeight{3800, 0.033496}, FixedWeight{3900, 0.029632}, FixedWeight{4000, 0.026577},
                      FixedWeight{4100, 0.024108}, FixedWeight{4200, 0.022075}, FixedWeight{4300, 0.020375},
                      FixedWeight{4400, 0.018934}, FixedWeight{4500, 0.017700}, FixedWeight{4600, 0.016632},
                      FixedWeight{4700, 0.015700}, FixedWeight{4800, 0.014879}, FixedWeight{4900, 0.014153},
                      FixedWeight{4999, 0.013511}));

TEST(OcclusionWeightingTable, RisesStrictlyToTheSinglePeakAndFallsStrictlyAfter) {
    EXPECT_EQ(OCCLUSION_WEIGHTING_PEAK_INDEX, 2415);
    for (int i = 1; i <= OCCLUSION_WEIGHTING_PEAK_INDEX; ++i)
        ASSERT_LT(OCCLUSION_WEIGHTING_TABLE[i - 1], OCCLUSION_WEIGHTING_TABLE[i]) << "index " << i;
    for (int i = OCCLUSION_WEIGHTING_PEAK_INDEX + 1; i < OCCLUSION_WEIGHTING_TABLE_SIZE; ++i)
        ASSERT_GT(OCCLUSION_WEIGHTING_TABLE[i - 1], OCCLUSION_WEIGHTING_TABLE[i]) << "index " << i;
}

TEST(OcclusionWeightingTable, EntriesBetweenRowsStayBetweenTheirNeighbouringRows) {
    // A monotone fill never overshoots: every entry lies between the fixed
    // values at the whole decibels around it (or the peak).
    const int rows[] = {0,    100,  200,  300,  400,  500,  600,  700,  800,  900,  1000, 1100, 1200,
                        1300, 1400, 1500, 1600, 1700, 1800, 1900, 2000, 2100, 2200, 2300, 2400, 2415,
                        2500, 2600, 2700, 2800, 2900, 3000, 3100, 3200, 3300, 3400, 3500, 3600, 3700,
                        3800, 3900, 4000, 4100, 4200, 4300, 4400, 4500, 4600, 4700, 4800, 4900, 4999};
    for (size_t r = 0; r + 1 < sizeof(rows) / sizeof(rows[0]); ++r) {
        const double a = OCCLUSION_WEIGHTING_TABLE[rows[r]];
        const double b = OCCLUSION_WEIGHTING_TABLE[rows[r + 1]];
        for (int i = rows[r] + 1; i < rows[r + 1]; ++i) {
            EXPECT_GT(OCCLUSION_WEIGHTING_TABLE[i], std::fmin(a, b)) << "index " << i;
            EXPECT_LT(OCCLUSION_WEIGHTING_TABLE[i], std::fmax(a, b)) << "index " << i;
        }
    }
}

TEST(OcclusionWeightingTable, IsSmoothWithoutJumps) {
    // Neighbouring steps differ by far less than a whole row interval would:
    // the largest single step is on the steep flank between -1 dB and 0 dB.
    for (int i = 1; i < OCCLUSION_WEIGHTING_TABLE_SIZE; ++i)
        ASSERT_LT(std::fabs(OCCLUSION_WEIGHTING_TABLE[i] - OCCLUSION_WEIGHTING_TABLE[i - 1]), 0.01) << i;
}

}  // namespace
