#include "host/dpu/toa_solver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "base/device_time.h"

namespace {

constexpr double kSpeedOfLight = 299792458.0;  // m/s
// A made-up speed of light at which one device tick is exactly 1 mm
// (6.38976e10 mm/s): integer distances then give exact arrival times.
constexpr double kMillimetreTickSpeed = 63897600.0;
// And one at which a tick is 0.0001 mm, so rounding arrival times to whole
// ticks costs nothing measurable; the solve scales with the speed.
constexpr double kFineTickSpeed = 6389.76;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

BoundingBox Box(const Coordinates& minimum, const Coordinates& maximum) {
    BoundingBox box;
    box.SetMinCoordinates(minimum);
    box.SetMaxCoordinates(maximum);
    return box;
}

// The configuration defaults; bounds of +-1e9 mm as without "default tag bounds".
toa_solver_parameters_t Defaults() {
    toa_solver_parameters_t parameters{};
    parameters.gain = 1.0;
    parameters.min_stop_threshold = 0.005;
    parameters.rejection_threshold = 0.15;
    parameters.speed_of_light = kSpeedOfLight;
    parameters.tag_bounds = Box(Coordinates(-1e9, -1e9, -1e9), Coordinates(1e9, 1e9, 1e9));
    parameters.minimum_anchors = 4;
    return parameters;
}

double HorizontalError(const Coordinates& a, const Coordinates& b) {
    return std::hypot(a.GetX() - b.GetX(), a.GetY() - b.GetY());
}

// Arrival times, in master device ticks modulo 2^40, of one transmission at
// `transmit_time` from `tag`, each range disturbed by Gaussian noise of
// `noise_mm` (standard deviation).
std::vector<toa_measurement_t> Report(const std::vector<Coordinates>& anchors, const Coordinates& tag,
                                      uint64_t transmit_time, double speed_of_light, double noise_mm = 0.0,
                                      std::mt19937_64* random = nullptr) {
    std::normal_distribution<double> noise(0.0, noise_mm);
    std::vector<toa_measurement_t> report;
    for (const Coordinates& anchor : anchors) {
        double range = anchor.CalculateDistanceBetween(tag);
        if (random != nullptr)
            range += noise(*random);
        const int64_t ticks = std::llround(range / (speed_of_light * 1000.0) * kDeviceTicksPerSecond);
        const uint64_t arrival = DeviceTimeMask(transmit_time + static_cast<uint64_t>(ticks));
        report.push_back(toa_measurement_t{anchor, static_cast<int64_t>(arrival), 1.0});
    }
    return report;
}

toa_solution_t Solve(const std::vector<toa_measurement_t>& report, const Coordinates& start,
                     const toa_solver_parameters_t& parameters,
                     std::vector<toa_anchor_diagnostic_t>* diagnostics = nullptr) {
    toa_solution_t solution;
    if (diagnostics != nullptr)
        diagnostics->assign(report.size(), toa_anchor_diagnostic_t{-7, -7});
    const ToaSolveStatus status =
        SolveToaPosition(report.data(), static_cast<int>(report.size()), start, parameters, &solution,
                         diagnostics != nullptr ? diagnostics->data() : nullptr);
    EXPECT_EQ(status, solution.status);
    return solution;
}

// A 10 m x 8 m room: four anchors in the ceiling corners at 2.5 m, four at
// 0.5 m in the middle of the walls.
const std::vector<Coordinates> kRoomAnchors = {
    {0, 0, 2500},   {10000, 0, 2500},   {10000, 8000, 2500}, {0, 8000, 2500},
    {5000, 0, 500}, {10000, 4000, 500}, {5000, 8000, 500},   {0, 4000, 500},
};
const std::vector<Coordinates> kCeilingAnchors(kRoomAnchors.begin(), kRoomAnchors.begin() + 4);
const Coordinates kRoomCentre(5000, 4000, 1200);

// Tag at the origin; every anchor at a whole number of millimetres from it.
const std::vector<Coordinates> kWholeDistanceAnchors = {
    {2000, 3000, 6000},    // 7000
    {-4000, 4000, 7000},   // 9000
    {6000, -6000, 7000},   // 11000
    {-2000, -6000, 9000},  // 11000
    {1000, 4000, -8000},   // 9000
    {-6000, 2000, -3000},  // 7000
};

TEST(ToaSolverNoiseless, ReachesTheTagExactlyWhenArrivalTimesAreExact) {
    toa_solver_parameters_t parameters = Defaults();
    parameters.speed_of_light = kMillimetreTickSpeed;
    parameters.min_stop_threshold = 1e-9;
    const Coordinates tag(0, 0, 0);
    const uint64_t transmit_time = 123456789;
    const auto report = Report(kWholeDistanceAnchors, tag, transmit_time, kMillimetreTickSpeed);
    ASSERT_EQ(report[1].time_of_arrival, static_cast<int64_t>(transmit_time + 9000));

    std::vector<toa_anchor_diagnostic_t> diagnostics;
    const toa_solution_t solution = Solve(report, Coordinates(700, -400, 300), parameters, &diagnostics);
    ASSERT_EQ(solution.status, ToaSolveStatus::kAccepted);
    EXPECT_LT(solution.position.CalculateDistanceBetween(tag), 1e-3);
    EXPECT_NEAR(static_cast<double>(solution.transmit_time), static_cast<double>(transmit_time), 1.0);
    EXPECT_LT(solution.quality, 1e-3);
    EXPECT_EQ(solution.start_guess.x, 700);
    EXPECT_EQ(solution.start_guess.y, -400);
    EXPECT_EQ(solution.start_guess.z, 300);
    for (const toa_anchor_diagnostic_t& anchor : diagnostics) {
        EXPECT_EQ(anchor.weight_millionths, 1000000);
        EXPECT_EQ(anchor.correction_mm, 0);
    }
}

TEST(ToaSolverNoiseless, OneStepMatchesTheHandComputation) {
    // 1024.5 mm/s truncates to 1024, so a millimetre of range is 1/1024 s,
    // exactly 62400000 ticks, and every quantity below is exact in binary.
    // Anchors 1024 mm from the start on the x and y axes; residuals R (mm of
    // arrival minus range) -10, 10, 3.5, -23.5 with weights 1, 2, 0.5, 0.5:
    // weighted mean transmit 0, steps (0 - R) / 4 = 2.5, -2.5, -0.875, 5.875.
    toa_solver_parameters_t parameters = Defaults();
    parameters.speed_of_light = 1.0245;
    parameters.min_stop_threshold = 0.01;  // the first step (8.2 mm) ends it
    const uint64_t base = 1000;
    const double residual[] = {-10, 10, 3.5, -23.5};
    const double weight[] = {1, 2, 0.5, 0.5};
    const Coordinates anchors[] = {{1024, 0, 0}, {-1024, 0, 0}, {0, 1024, 0}, {0, -1024, 0}};
    std::vector<toa_measurement_t> report;
    for (int i = 0; i < 4; ++i)
        report.push_back(
            {anchors[i], static_cast<int64_t>(base + (1024 + residual[i]) * 62400000), weight[i]});

    std::vector<toa_anchor_diagnostic_t> diagnostics;
    const toa_solution_t solution = Solve(report, Coordinates(0, 0, 0), parameters, &diagnostics);
    ASSERT_EQ(solution.status, ToaSolveStatus::kAccepted);
    EXPECT_EQ(solution.iteration_count, 1);
    // x: 2.5 x 1 + 2.5 x 2; y: -0.875 x 0.5 - 5.875 x 0.5.
    EXPECT_EQ(solution.position.GetX(), 7.5);
    EXPECT_EQ(solution.position.GetY(), -3.375);
    EXPECT_EQ(solution.quality, 11.75 / 4);
    EXPECT_EQ(solution.transmit_time, base);
    // Rounded half away from zero.
    const int32_t corrections[] = {3, -3, -1, 6};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(diagnostics[i].correction_mm, corrections[i]) << i;
}

TEST(ToaSolverNoiseless, RealSpeedOfLightIsOnlyLimitedByWholeTicks) {
    // A tick is 4.7 mm of range; the rounding of arrival times to ticks is the
    // only error left.
    toa_solver_parameters_t parameters = Defaults();
    parameters.min_stop_threshold = 1e-6;
    const Coordinates tag(3200, 5100, 1300);
    const auto report = Report(kRoomAnchors, tag, 77, kSpeedOfLight);
    const toa_solution_t solution = Solve(report, kRoomCentre, parameters);
    ASSERT_EQ(solution.status, ToaSolveStatus::kAccepted);
    EXPECT_LT(solution.position.CalculateDistanceBetween(tag), 5.0);
    EXPECT_NEAR(static_cast<double>(solution.transmit_time), 77.0, 1.0);
}

// Tag bounds of the room: the floor, the ceiling, a metre beyond the walls.
BoundingBox RoomBounds() {
    return Box(Coordinates(-1000, -1000, 0), Coordinates(11000, 9000, 3000));
}

TEST(ToaSolverNoiseless, ConvergesFromAColdStartWithTheDefaultTuning) {
    // Start guesses of a tag never seen: the anchors' centroid (a new tag's
    // initial position), corners of the bounds, a point far outside them.
    toa_solver_parameters_t parameters = Defaults();
    parameters.tag_bounds = RoomBounds();
    const Coordinates tag(8200, 1300, 1100);
    const auto report = Report(kRoomAnchors, tag, 5000, kSpeedOfLight);
    for (const Coordinates& start : {Coordinates(5000, 4000, 1500), Coordinates(0, 0, 0),
                                     Coordinates(-1000, 9000, 3000), Coordinates(-20000, 30000, 10000)}) {
        const toa_solution_t solution = Solve(report, start, parameters);
        ASSERT_EQ(solution.status, ToaSolveStatus::kAccepted) << start.GetX();
        // Each step moves by the mean of the anchors' pulls, so the height,
        // seen by all anchors at a shallow angle, converges slowly and the
        // 5 mm stop threshold ends the solve 100 - 200 mm off in z and up to
        // about 70 mm off horizontally.
        EXPECT_LT(HorizontalError(solution.position, tag), 100.0) << start.GetX();
        EXPECT_LT(solution.position.CalculateDistanceBetween(tag), 250.0) << start.GetX();
    }
}

TEST(ToaSolverNoiseless, TagOnAnAnchorTakesTheDistanceGuard) {
    toa_solver_parameters_t parameters = Defaults();
    parameters.speed_of_light = kFineTickSpeed;
    parameters.min_stop_threshold = 1e-7;
    const Coordinates tag = kRoomAnchors[2];
    const auto report = Report(kRoomAnchors, tag, 99, kFineTickSpeed);
    // Started on the anchor itself: its distance is 0 in the first iteration.
    const toa_solution_t solution = Solve(report, tag, parameters);
    ASSERT_EQ(solution.status, ToaSolveStatus::kAccepted);
    EXPECT_LT(solution.position.CalculateDistanceBetween(tag), 0.01);
}

TEST(ToaSolverWrap, ReportStraddlingTheWrapSolvesAsAnyOther) {
    const Coordinates tag(6100, 2700, 900);
    const auto plain = Report(kRoomAnchors, tag, 1000000, kSpeedOfLight);
    // Sent 20 ticks before the wrap, every arrival lies after it; sent 8 m of
    // range before it, the nearer anchors hear the tag before the wrap and the
    // farther ones after.
    const uint64_t ticks_per_metre = static_cast<uint64_t>(kDeviceTicksPerSecond / kSpeedOfLight);
    const uint64_t before_wrap = kDeviceTimeWrap - 20;
    const uint64_t straddling = kDeviceTimeWrap - 8 * ticks_per_metre;
    for (const uint64_t transmit_time : {before_wrap, straddling}) {
        const auto wrapped = Report(kRoomAnchors, tag, transmit_time, kSpeedOfLight);
        bool small = false;
        bool large = false;
        for (const toa_measurement_t& entry : wrapped) {
            small |= entry.time_of_arrival < static_cast<int64_t>(kDeviceTimeHalfRange);
            large |= entry.time_of_arrival >= static_cast<int64_t>(kDeviceTimeHalfRange);
        }
        if (transmit_time == straddling) {
            ASSERT_TRUE(small && large);
        }
        const toa_solution_t expected = Solve(plain, kRoomCentre, Defaults());
        const toa_solution_t solution = Solve(wrapped, kRoomCentre, Defaults());
        ASSERT_EQ(solution.status, ToaSolveStatus::kAccepted);
        // Relative arrival times are the same, so the whole solve is.
        EXPECT_EQ(solution.position.GetX(), expected.position.GetX());
        EXPECT_EQ(solution.position.GetY(), expected.position.GetY());
        EXPECT_EQ(solution.position.GetZ(), expected.position.GetZ());
        EXPECT_EQ(solution.iteration_count, expected.iteration_count);
        EXPECT_EQ(solution.transmit_time, DeviceTimeMask(expected.transmit_time + transmit_time - 1000000));
        // Within the stop threshold's few centimetres of range.
        EXPECT_LT(std::abs(DeviceTimeDifference(transmit_time, solution.transmit_time)), 10);
    }
}

TEST(ToaSolverRejection, TooFewOrTooManyAnchorsAreNotSolved) {
    const Coordinates tag(4000, 4000, 1000);
    auto report = Report(kRoomAnchors, tag, 5, kSpeedOfLight);
    toa_solver_parameters_t parameters = Defaults();
    parameters.minimum_anchors = 6;
    std::vector<toa_anchor_diagnostic_t> diagnostics;

    report.resize(6);
    EXPECT_EQ(Solve(report, kRoomCentre, parameters).status, ToaSolveStatus::kAccepted);
    report.resize(5);
    const toa_solution_t too_few = Solve(report, kRoomCentre, parameters, &diagnostics);
    EXPECT_EQ(too_few.status, ToaSolveStatus::kTooFewAnchors);
    EXPECT_FALSE(ToaSolveRan(too_few.status));
    EXPECT_EQ(diagnostics[0].correction_mm, -7);  // untouched

    parameters.minimum_anchors = 0;
    report.clear();
    EXPECT_EQ(Solve(report, kRoomCentre, parameters).status, ToaSolveStatus::kTooFewAnchors);

    std::vector<toa_measurement_t> full(kToaSolverMaxAnchors + 1,
                                        toa_measurement_t{Coordinates(1000, 0, 0), 0, 1.0});
    for (int i = 0; i < kToaSolverMaxAnchors + 1; ++i)
        full[i].anchor_position = kRoomAnchors[i % kRoomAnchors.size()];
    EXPECT_EQ(Solve(full, kRoomCentre, parameters).status, ToaSolveStatus::kTooManyAnchors);
    full.pop_back();
    EXPECT_TRUE(ToaSolveRan(Solve(full, kRoomCentre, parameters).status));
}

TEST(ToaSolverRejection, AnOutlierIsRejectedOnceTheMeanStepReachesTheThreshold) {
    const Coordinates tag(2500, 6000, 1500);
    auto report = Report(kRoomAnchors, tag, 1 << 20, kSpeedOfLight);
    const int64_t ticks_per_metre = std::llround(kDeviceTicksPerSecond / kSpeedOfLight);

    report[3].time_of_arrival += ticks_per_metre / 2;  // a half-metre reflection
    const toa_solution_t mild = Solve(report, kRoomCentre, Defaults());
    EXPECT_EQ(mild.status, ToaSolveStatus::kAccepted);

    report[3].time_of_arrival += 30 * ticks_per_metre;
    std::vector<toa_anchor_diagnostic_t> diagnostics;
    const toa_solution_t wild = Solve(report, kRoomCentre, Defaults(), &diagnostics);
    EXPECT_EQ(wild.status, ToaSolveStatus::kRejected);
    EXPECT_TRUE(ToaSolveRan(wild.status));
    EXPECT_GE(wild.quality, 150.0);
    // Diagnostics are there for a rejected solve: the outlier's pull is the largest.
    for (size_t i = 0; i < diagnostics.size(); ++i) {
        if (i != 3) {
            EXPECT_LT(std::abs(diagnostics[i].correction_mm), std::abs(diagnostics[3].correction_mm));
        }
    }

    // The threshold decides nothing but acceptance: at the quality itself the
    // solve is rejected, just above it accepted, with the same result.
    toa_solver_parameters_t parameters = Defaults();
    parameters.rejection_threshold = wild.quality / 1000.0;
    const toa_solution_t at = Solve(report, kRoomCentre, parameters);
    EXPECT_EQ(at.status, ToaSolveStatus::kRejected);
    parameters.rejection_threshold = std::nextafter(wild.quality, kInfinity) / 1000.0 * (1 + 1e-15);
    const toa_solution_t above = Solve(report, kRoomCentre, parameters);
    EXPECT_EQ(above.status, ToaSolveStatus::kAccepted);
    EXPECT_EQ(above.quality, wild.quality);
    EXPECT_EQ(above.position.GetX(), wild.position.GetX());
}

TEST(ToaSolverRejection, TimesNoPointCanExplainAreRejected) {
    // All anchors in one spot: any spread of arrival times is inconsistent.
    std::vector<Coordinates> stacked(6, Coordinates(1000, 1000, 2000));
    auto report = Report(stacked, Coordinates(3000, 1000, 1000), 500, kSpeedOfLight);
    const int64_t ticks_per_metre = std::llround(kDeviceTicksPerSecond / kSpeedOfLight);
    for (size_t i = 0; i < report.size(); ++i)
        report[i].time_of_arrival += static_cast<int64_t>(i) * ticks_per_metre;
    EXPECT_EQ(Solve(report, kRoomCentre, Defaults()).status, ToaSolveStatus::kRejected);

    // A range difference beyond the distance between two anchors.
    report = Report(kRoomAnchors, Coordinates(5000, 4000, 1000), 500, kSpeedOfLight);
    report[0].time_of_arrival += 20 * ticks_per_metre;
    report[1].time_of_arrival -= 20 * ticks_per_metre;
    EXPECT_EQ(Solve(report, kRoomCentre, Defaults()).status, ToaSolveStatus::kRejected);
}

TEST(ToaSolverBounds, EveryStepIsClampedIntoTheTagBounds) {
    toa_solver_parameters_t parameters = Defaults();
    parameters.tag_bounds = RoomBounds();
    const Coordinates tag(9000, 7000, 1000);
    const auto report = Report(kRoomAnchors, tag, 42, kSpeedOfLight);

    // A start guess outside the bounds is pulled in and the solve goes on.
    const toa_solution_t outside_start = Solve(report, Coordinates(60000, -5000, 9000), parameters);
    ASSERT_EQ(outside_start.status, ToaSolveStatus::kAccepted);
    EXPECT_LT(HorizontalError(outside_start.position, tag), 100.0);
    EXPECT_LT(outside_start.position.CalculateDistanceBetween(tag), 250.0);
    EXPECT_EQ(outside_start.start_guess.x, 60000);

    // A tag beyond the bounds cannot be reached: the estimate stays on the
    // bound and the misfit rejects it.
    parameters.tag_bounds = Box(Coordinates(0, 0, 0), Coordinates(6000, 8000, 3000));
    const toa_solution_t beyond = Solve(report, kRoomCentre, parameters);
    EXPECT_EQ(beyond.status, ToaSolveStatus::kRejected);
    EXPECT_EQ(beyond.position.GetX(), 6000.0);

    // Bounds that fix z: the height is never solved, only clamped.
    parameters.tag_bounds = Box(Coordinates(-1e9, -1e9, 1000), Coordinates(1e9, 1e9, 1000));
    const toa_solution_t fixed =
        Solve(Report(kCeilingAnchors, tag, 42, kSpeedOfLight), kRoomCentre, parameters);
    ASSERT_EQ(fixed.status, ToaSolveStatus::kAccepted);
    EXPECT_EQ(fixed.position.GetZ(), 1000.0);
    EXPECT_LT(HorizontalError(fixed.position, tag), 30.0);
}

TEST(ToaSolverLimits, IterationLimitIsReportedAsOneAboveTheMaximum) {
    toa_solver_parameters_t parameters = Defaults();
    parameters.min_stop_threshold = -1.0;  // no step is ever small enough
    const Coordinates tag(1000, 2000, 1500);
    const toa_solution_t solution =
        Solve(Report(kRoomAnchors, tag, 8, kSpeedOfLight), kRoomCentre, parameters);
    EXPECT_EQ(solution.iteration_count, kToaSolverMaxIterations + 1);
    // Not converging is no reason to reject: the quality decides.
    EXPECT_EQ(solution.status, ToaSolveStatus::kAccepted);
    EXPECT_LT(solution.position.CalculateDistanceBetween(tag), 10.0);
}

TEST(ToaSolverLimits, UnusableTuningIsRefusedBeforeAnyIteration) {
    const auto report = Report(kRoomAnchors, Coordinates(1000, 2000, 1500), 8, kSpeedOfLight);
    for (const double gain : {0.0, -1.0, kNaN, kInfinity}) {
        toa_solver_parameters_t parameters = Defaults();
        parameters.gain = gain;
        EXPECT_EQ(Solve(report, kRoomCentre, parameters).status, ToaSolveStatus::kInvalidParameters) << gain;
    }
    for (const double speed : {0.0, -kSpeedOfLight, 0.0009, kNaN, kInfinity}) {
        toa_solver_parameters_t parameters = Defaults();
        parameters.speed_of_light = speed;
        EXPECT_EQ(Solve(report, kRoomCentre, parameters).status, ToaSolveStatus::kInvalidParameters) << speed;
    }
    // The smallest usable speed, 1 mm/s, runs (and is rejected: nothing fits);
    // so does a huge one, whose millimetres per second saturate.
    for (const double speed : {0.001, 1e300}) {
        toa_solver_parameters_t parameters = Defaults();
        parameters.speed_of_light = speed;
        EXPECT_TRUE(ToaSolveRan(Solve(report, kRoomCentre, parameters).status)) << speed;
    }
}

TEST(ToaSolverLimits, NonFiniteInputIsRefusedAndNonFiniteResultsRejected) {
    const auto good = Report(kRoomAnchors, Coordinates(1000, 2000, 1500), 8, kSpeedOfLight);
    EXPECT_EQ(Solve(good, Coordinates(kNaN, 0, 0), Defaults()).status, ToaSolveStatus::kInvalidMeasurements);
    EXPECT_EQ(Solve(good, Coordinates(0, kInfinity, 0), Defaults()).status,
              ToaSolveStatus::kInvalidMeasurements);
    auto report = good;
    report[2].anchor_position = Coordinates(0, 0, kNaN);
    EXPECT_EQ(Solve(report, kRoomCentre, Defaults()).status, ToaSolveStatus::kInvalidMeasurements);
    for (const double weight : {-0.5, kNaN, kInfinity}) {
        report = good;
        report[4].weight = weight;
        EXPECT_EQ(Solve(report, kRoomCentre, Defaults()).status, ToaSolveStatus::kInvalidMeasurements);
    }
    report = good;
    for (toa_measurement_t& entry : report)
        entry.weight = 0.0;
    EXPECT_EQ(Solve(report, kRoomCentre, Defaults()).status, ToaSolveStatus::kInvalidMeasurements);

    // Finite but absurd: squared distances overflow, so the iteration turns
    // into infinities and NaN. It must end rejected, with defined diagnostics.
    report = good;
    report[0].anchor_position = Coordinates(1e300, -1e300, 1e300);
    std::vector<toa_anchor_diagnostic_t> diagnostics;
    const toa_solution_t absurd = Solve(report, kRoomCentre, Defaults(), &diagnostics);
    EXPECT_EQ(absurd.status, ToaSolveStatus::kRejected);
    EXPECT_EQ(absurd.iteration_count, kToaSolverMaxIterations + 1);
}

TEST(ToaSolverLimits, DiagnosticsSaturateInsteadOfOverflowing) {
    auto report = Report(kRoomAnchors, Coordinates(1000, 2000, 1500), 8, kSpeedOfLight);
    report[1].weight = 5000.0;  // 5e9 millionths
    report[2].weight = 0.25;
    report[5].time_of_arrival += 1000000;
    toa_solver_parameters_t parameters = Defaults();
    parameters.gain = 1e12;
    std::vector<toa_anchor_diagnostic_t> diagnostics;
    const toa_solution_t solution = Solve(report, Coordinates(1e8, -1e8, 0), parameters, &diagnostics);
    ASSERT_TRUE(ToaSolveRan(solution.status));
    EXPECT_NE(solution.status, ToaSolveStatus::kAccepted);
    EXPECT_EQ(diagnostics[1].weight_millionths, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(diagnostics[2].weight_millionths, 250000);
    bool saturated = false;
    for (const toa_anchor_diagnostic_t& anchor : diagnostics) {
        saturated |= anchor.correction_mm == std::numeric_limits<int32_t>::max() ||
                     anchor.correction_mm == std::numeric_limits<int32_t>::min();
    }
    EXPECT_TRUE(saturated);
    EXPECT_EQ(solution.start_guess.x, 100000000);
}

// Random anchor layouts around a random tag, one anchor in each of n sectors
// around it, alternately above and below it, so that no layout is degenerate.
std::vector<Coordinates> RandomLayout(const Coordinates& tag, std::mt19937_64& random) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int count = 4 + static_cast<int>(unit(random) * 13);
    std::vector<Coordinates> anchors;
    for (int i = 0; i < count; ++i) {
        const double angle = (i + 0.2 + 0.6 * unit(random)) * 2 * M_PI / count;
        const double reach = 3000 + unit(random) * 15000;
        const double height = (i % 2 == 0 ? -1500 : 1500) + unit(random) * 2000 - 1000;
        anchors.emplace_back(tag.GetX() + reach * std::cos(angle), tag.GetY() + reach * std::sin(angle),
                             tag.GetZ() + height);
    }
    return anchors;
}

TEST(ToaSolverProperties, RandomLayoutsKeepTheTagAndPullTowardsIt) {
    std::mt19937_64 random(20261207);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    toa_solver_parameters_t parameters = Defaults();
    parameters.speed_of_light = kFineTickSpeed;
    for (int layout = 0; layout < 300; ++layout) {
        const Coordinates tag(unit(random) * 40000 - 20000, unit(random) * 40000 - 20000,
                              unit(random) * 3000);
        const std::vector<Coordinates> anchors = RandomLayout(tag, random);
        auto report = Report(anchors, tag, random() & kDeviceTimeMask, kFineTickSpeed);
        // Weights change the pace, not the destination.
        for (toa_measurement_t& entry : report)
            entry.weight = 0.3 + 0.7 * unit(random);
        SCOPED_TRACE(::testing::Message() << "layout " << layout << " with " << anchors.size() << " anchors");

        // The tag is a fixed point of the iteration.
        std::vector<toa_anchor_diagnostic_t> diagnostics;
        const toa_solution_t at_tag = Solve(report, tag, parameters, &diagnostics);
        ASSERT_EQ(at_tag.status, ToaSolveStatus::kAccepted);
        EXPECT_EQ(at_tag.iteration_count, 1);
        EXPECT_LT(at_tag.position.CalculateDistanceBetween(tag), 1e-3);
        EXPECT_LT(at_tag.quality, 1e-3);
        for (size_t i = 0; i < report.size(); ++i) {
            EXPECT_EQ(diagnostics[i].weight_millionths, static_cast<int32_t>(report[i].weight * 1e6));
            EXPECT_EQ(diagnostics[i].correction_mm, 0);
        }

        // From up to half a metre away every solve ends closer than it began.
        const Coordinates start(tag.GetX() + unit(random) * 1000 - 500,
                                tag.GetY() + unit(random) * 1000 - 500,
                                tag.GetZ() + unit(random) * 1000 - 500);
        const toa_solution_t solution = Solve(report, start, parameters);
        ASSERT_EQ(solution.status, ToaSolveStatus::kAccepted);
        EXPECT_LT(solution.position.CalculateDistanceBetween(tag), start.CalculateDistanceBetween(tag));

        // Only arrival times relative to each other count: the same report
        // sent at any other device time, across the wrap or not, solves
        // identically.
        auto shifted = report;
        const uint64_t shift = random() & kDeviceTimeMask;
        for (toa_measurement_t& entry : shifted)
            entry.time_of_arrival =
                static_cast<int64_t>(DeviceTimeMask(static_cast<uint64_t>(entry.time_of_arrival) + shift));
        const toa_solution_t moved = Solve(shifted, start, parameters);
        EXPECT_EQ(moved.position.GetX(), solution.position.GetX());
        EXPECT_EQ(moved.position.GetY(), solution.position.GetY());
        EXPECT_EQ(moved.position.GetZ(), solution.position.GetZ());
        EXPECT_EQ(moved.transmit_time, DeviceTimeMask(solution.transmit_time + shift));

        // Nor does the order of the anchors, but for rounding.
        auto reversed = report;
        std::reverse(reversed.begin(), reversed.end());
        const toa_solution_t reordered = Solve(reversed, start, parameters);
        EXPECT_EQ(reordered.iteration_count, solution.iteration_count);
        EXPECT_LT(reordered.position.CalculateDistanceBetween(solution.position), 1e-6);
    }
}

// Timing noise of 30 mm (standard deviation of each range), default tuning,
// every solve from the room centre as for a tag never seen, tags anywhere in
// the room at least 1 m from the walls.
struct NoiseResult {
    double horizontal_rms;
    int accepted;
};

NoiseResult RunNoisyRoom(const std::vector<Coordinates>& anchors, const toa_solver_parameters_t& parameters,
                         bool fixed_height) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> x(1000, 9000), y(1000, 7000), z(800, 1800);
    constexpr int kSolves = 20000;
    double sum_of_squares = 0.0;
    int accepted = 0;
    for (int i = 0; i < kSolves; ++i) {
        const Coordinates tag(x(random), y(random), fixed_height ? 1000.0 : z(random));
        const auto report = Report(anchors, tag, random() & kDeviceTimeMask, kSpeedOfLight, 30.0, &random);
        const toa_solution_t solution = Solve(report, kRoomCentre, parameters);
        if (solution.status != ToaSolveStatus::kAccepted)
            continue;
        ++accepted;
        const double error = HorizontalError(solution.position, tag);
        sum_of_squares += error * error;
    }
    return NoiseResult{std::sqrt(sum_of_squares / accepted), accepted};
}

TEST(ToaSolverNoise, EightAnchorsAtTwoHeightsStayWithin30Millimetres) {
    const NoiseResult result = RunNoisyRoom(kRoomAnchors, Defaults(), false);
    printf("8 anchors, 30 mm noise: horizontal RMS %.2f mm, %d accepted\n", result.horizontal_rms,
           result.accepted);
    EXPECT_EQ(result.accepted, 20000);
    EXPECT_LT(result.horizontal_rms, 30.0);
}

TEST(ToaSolverNoise, FourCeilingAnchorsWithHeightFixedStayWithin35Millimetres) {
    toa_solver_parameters_t parameters = Defaults();
    parameters.tag_bounds = Box(Coordinates(-1e9, -1e9, 1000), Coordinates(1e9, 1e9, 1000));
    const NoiseResult result = RunNoisyRoom(kCeilingAnchors, parameters, true);
    printf("4 anchors in a plane, 30 mm noise: horizontal RMS %.2f mm, %d accepted\n", result.horizontal_rms,
           result.accepted);
    EXPECT_EQ(result.accepted, 20000);
    EXPECT_LT(result.horizontal_rms, 35.0);
}

}  // namespace
