#include "host/dpu/anchor_weight.h"

#include <gtest/gtest.h>

#include <limits>

#include "host/devices/dw_clock.h"
#include "host/signal/occlusion_weighting_table.h"
#include "protocol/reports/derazud_toa.h"

namespace {

derazud_toa_t Entry(double first_path_db, double total_db) {
    derazud_toa_t entry{};
    entry.first_path_power = first_path_db;
    entry.total_power = total_db;
    return entry;
}

TEST(AnchorWeight, MultipliesTheWeightsOfBothSyncsAndTheTagReception) {
    DwClock clock;
    clock.Update(1000, 2000, -90.0, -80.0);  // older sync: gap 10 dB, index 3000
    clock.Update(5000, 6000, -85.0, -84.0);  // newer sync: gap 1 dB, index 2100
    const double weight = CalculateAnchorWeight(clock, Entry(-84.15, -80.0));  // 4.15 dB, the peak
    EXPECT_DOUBLE_EQ(weight, 0.482109 * 0.905144 * 0.815486);

    // Only the newest two syncs count: a third one replaces the 10 dB gap.
    clock.Update(9000, 10000, -82.0, -80.0);  // 2 dB, index 2200
    EXPECT_DOUBLE_EQ(CalculateAnchorWeight(clock, Entry(-84.15, -80.0)), 0.815486 * 0.905144 * 0.879943);
}

TEST(AnchorWeight, StaysInsideTheTableRangeCubed) {
    DwClock clock;
    // A clock that never synced has all powers 0 dB: gap 0, index 2000.
    EXPECT_DOUBLE_EQ(CalculateAnchorWeight(clock, Entry(-80.0, -80.0)), 0.470793 * 0.470793 * 0.470793);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    clock.Update(1, 1, -infinity, -80.0);  // no first-path energy: largest gap
    clock.Update(2, 2, nan, nan);
    const double lowest = OCCLUSION_WEIGHTING_TABLE[0];
    EXPECT_DOUBLE_EQ(CalculateAnchorWeight(clock, Entry(nan, -80.0)),
                     OCCLUSION_WEIGHTING_TABLE[OCCLUSION_WEIGHTING_TABLE_SIZE - 1] * lowest * lowest);

    const double peak = OCCLUSION_WEIGHTING_TABLE[OCCLUSION_WEIGHTING_PEAK_INDEX];
    for (double gap = -25.0; gap < 35.0; gap += 0.37) {
        const double weight = CalculateAnchorWeight(clock, Entry(-90.0, -90.0 + gap));
        EXPECT_GT(weight, 0.0);
        EXPECT_LE(weight, peak * peak * peak);
    }
}

}  // namespace
