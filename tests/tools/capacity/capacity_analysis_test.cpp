// The capacity tool's judgement of what the server published: positions
// matched with the transmissions they solve, the latency from the sync that
// completed a report, the error against the truth, and the window's counts.
#include "capacity/capacity_analysis.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t kMs = 1000000;
constexpr uint32_t kTag = 0x0CA10001;
constexpr uint32_t kStandingTag = 0x0CA10002;

sim_truth_t Transmission(uint32_t serial, uint32_t network_time, int64_t forwarded_ms, double x) {
    sim_truth_t truth{};
    truth.serial_number = serial;
    truth.network_time = network_time;
    truth.forwarded_ns = forwarded_ms * kMs;
    truth.position = Coordinates(x, 2.0, 1.0);
    return truth;
}

capacity_observation_t Position(uint32_t serial, uint32_t network_time, int64_t arrival_ms, double x,
                                int used = 16) {
    capacity_observation_t observation;
    observation.serial_number = serial;
    observation.network_time = network_time;
    observation.arrival_ns = arrival_ms * kMs;
    observation.position = Coordinates(x, 2.0, 1.0);
    observation.used_anchors = used;
    observation.solved = true;
    return observation;
}

TEST(CapacitySamplesTest, QuantilesAreNearestRanksOfWhatWasAddedInAnyOrder) {
    CapacitySamples samples;
    EXPECT_EQ(samples.Quantile(0.5), 0.0);
    for (int value = 100; value >= 1; --value)
        samples.Add(value);
    EXPECT_EQ(samples.Quantile(0.5), 50.0);
    EXPECT_EQ(samples.Quantile(0.99), 99.0);
    EXPECT_EQ(samples.Max(), 100.0);
    samples.Add(1000.0);  // after a sort: sorted again before the next quantile
    EXPECT_EQ(samples.Max(), 1000.0);
    EXPECT_DOUBLE_EQ(samples.Mean(), (5050.0 + 1000.0) / 101.0);
}

TEST(CapacityAnalysisTest, PositionsAreMatchedToTheirTransmissionAndTimedFromTheSyncAfterIt) {
    CapacityAnalysis analysis(16, {kStandingTag});
    analysis.StartWindow(0);
    analysis.AddSyncStamps({{900, 950 * kMs}});
    analysis.AddTruth({Transmission(kTag, 1000, 1000, 5.0), Transmission(kStandingTag, 1010, 1002, 7.0)});
    // The sync that completes the reports is not known yet: the positions wait for it.
    analysis.AddObservations({Position(kTag, 1001, 1060, 5.3), Position(kStandingTag, 1008, 1061, 7.0, 15)});
    EXPECT_EQ(analysis.FreshPositionsTotal(), 0u);
    analysis.AddSyncStamps({{1100, 1050 * kMs}});
    analysis.AddObservations({});
    EXPECT_EQ(analysis.FreshPositionsTotal(), 2u);
    EXPECT_EQ(analysis.TagsPositioned(), 2u);

    // The same position again: the solve of a later report was refused.
    analysis.AddObservations({Position(kTag, 1001, 1160, 5.3)});
    capacity_figures_t figures = analysis.Figures(3000 * kMs);
    EXPECT_EQ(figures.reports, 3u);
    EXPECT_EQ(figures.fresh_positions, 2u);
    EXPECT_EQ(figures.unmatched_packets, 1u);
    EXPECT_EQ(figures.short_reports, 1u);
    EXPECT_EQ(figures.transmissions, 2u);
    EXPECT_EQ(figures.transmissions_positioned, 2u);
    EXPECT_NEAR(figures.latency_complete_ms.Quantile(0.5), 10.0, 1e-9);
    EXPECT_NEAR(figures.latency_complete_ms.Max(), 11.0, 1e-9);
    EXPECT_NEAR(figures.latency_transmission_ms.Max(), 60.0, 1e-9);
    EXPECT_NEAR(figures.error_moving_m.Max(), 0.3, 1e-9);
    EXPECT_NEAR(figures.error_static_m.Max(), 0.0, 1e-9);
}

TEST(CapacityAnalysisTest, TheWindowCountsOnlyItsOwnTransmissionsAndNotTheLastSecondsOnes) {
    CapacityAnalysis analysis(16, {});
    analysis.AddSyncStamps({{0, 10 * kMs}});
    // Before the window: matched (warm-up) but not counted.
    analysis.AddTruth({Transmission(kTag, 100, 50, 1.0)});
    analysis.AddSyncStamps({{200, 150 * kMs}});
    analysis.AddObservations({Position(kTag, 100, 160, 1.0)});
    EXPECT_EQ(analysis.TagsPositioned(), 1u);

    analysis.StartWindow(1000 * kMs);
    analysis.AddTruth({Transmission(kTag, 1100, 1100, 1.0), Transmission(kTag, 1200, 1200, 1.0),
                       Transmission(kTag, 2600, 2600, 1.0)});
    analysis.AddSyncStamps({{1300, 1300 * kMs}, {2700, 2700 * kMs}});
    // Only the first gets its position; one far from any transmission waits and is then given up.
    analysis.AddObservations({Position(kTag, 1100, 1310, 1.0), Position(kTag, 50000, 1320, 1.0)});
    analysis.AddObservations({Position(kTag, 2600, 5000, 1.0)});
    const capacity_figures_t figures = analysis.Figures(3000 * kMs);
    EXPECT_NEAR(figures.duration_s, 2.0, 1e-9);
    EXPECT_EQ(figures.transmissions, 2u);  // 2600 ms falls in the window's last second
    EXPECT_EQ(figures.transmissions_positioned, 1u);
    EXPECT_EQ(figures.reports, 3u);
    EXPECT_EQ(figures.fresh_positions, 2u);
    EXPECT_EQ(figures.unmatched_packets, 1u);
}

}  // namespace
