// Position solves per second for reports of 8 anchors in a 10 m x 8 m room
// (four in the ceiling corners, four low on the walls) with 30 mm of timing
// noise, against a plain Gauss-Newton least-squares solve of the same reports
// with the same start guesses and the same stop rule as the baseline.
//   Warm: the start guess is the tag's position 0.1 - 0.2 m away, as when the
//         previous solve of a moving tag is the guess.
//   Cold: the start guess is the anchors' centroid, as for a new tag.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "base/device_time.h"
#include "base/geometry.h"
#include "host/dpu/toa_solver.h"

namespace {

constexpr double kSpeedOfLight = 299792458.0;
constexpr int kAnchors = 8;
constexpr int kReports = 1024;
constexpr double kStopThreshold = 0.005;  // metres, the configuration default

struct bench_report_t {
    toa_measurement_t measurements[kAnchors];
    Coordinates warm_start;
};

const Coordinates kCentroid(5000, 4000, 1500);

std::vector<bench_report_t> MakeReports() {
    const Coordinates anchors[kAnchors] = {
        {0, 0, 2500},   {10000, 0, 2500},   {10000, 8000, 2500}, {0, 8000, 2500},
        {5000, 0, 500}, {10000, 4000, 500}, {5000, 8000, 500},   {0, 4000, 500},
    };
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> x(1000, 9000), y(1000, 7000), z(800, 1800), offset(-100, 100);
    std::normal_distribution<double> noise(0.0, 30.0);
    std::vector<bench_report_t> reports(kReports);
    for (bench_report_t& report : reports) {
        const Coordinates tag(x(random), y(random), z(random));
        const uint64_t transmit_time = random() & kDeviceTimeMask;
        for (int i = 0; i < kAnchors; ++i) {
            const double range = anchors[i].CalculateDistanceBetween(tag) + noise(random);
            const int64_t ticks = std::llround(range / (kSpeedOfLight * 1000.0) * kDeviceTicksPerSecond);
            report.measurements[i] = toa_measurement_t{
                anchors[i],
                static_cast<int64_t>(DeviceTimeMask(transmit_time + static_cast<uint64_t>(ticks))), 1.0};
        }
        report.warm_start = tag + Coordinates(offset(random), offset(random), offset(random));
    }
    return reports;
}

toa_solver_parameters_t Parameters() {
    toa_solver_parameters_t parameters{};
    parameters.gain = 1.0;
    parameters.min_stop_threshold = kStopThreshold;
    parameters.rejection_threshold = 0.15;
    parameters.speed_of_light = kSpeedOfLight;
    parameters.tag_bounds.SetMinCoordinates(Coordinates(-1000, -1000, 0));
    parameters.tag_bounds.SetMaxCoordinates(Coordinates(11000, 9000, 3000));
    parameters.minimum_anchors = 4;
    return parameters;
}

// Weighted least squares over x, y, z (mm) and the transmit time as a range
// offset b (mm): minimise sum w_i (range_i - |P - A_i| - b)^2 by Gauss-Newton
// steps, each a 4 x 4 normal-equation solve by Cholesky factorisation. Stops
// when a step moves the position less than the solver's stop distance.
bool GaussNewtonSolve(const toa_measurement_t* measurements, int count, const Coordinates& start,
                      Coordinates* position) {
    const double speed = kSpeedOfLight * 1000.0;
    const uint64_t reference = DeviceTimeMask(static_cast<uint64_t>(measurements[0].time_of_arrival));
    double range[kToaSolverMaxAnchors];
    for (int i = 0; i < count; ++i) {
        const uint64_t time = static_cast<uint64_t>(measurements[i].time_of_arrival);
        range[i] = static_cast<double>(DeviceTimeDifference(reference, time)) / kDeviceTicksPerSecond * speed;
    }
    double x[4] = {start.GetX(), start.GetY(), start.GetZ(), 0.0};
    double weighted_offset = 0.0;
    double total_weight = 0.0;
    for (int i = 0; i < count; ++i) {
        weighted_offset += measurements[i].weight *
                           (range[i] - start.CalculateDistanceBetween(measurements[i].anchor_position));
        total_weight += measurements[i].weight;
    }
    x[3] = weighted_offset / total_weight;
    const double stop_distance = 1000.0 * kStopThreshold;
    for (int iteration = 0; iteration < kToaSolverMaxIterations; ++iteration) {
        double normal[4][4] = {};
        double gradient[4] = {};
        for (int i = 0; i < count; ++i) {
            const Coordinates& anchor = measurements[i].anchor_position;
            const double dx = x[0] - anchor.GetX();
            const double dy = x[1] - anchor.GetY();
            const double dz = x[2] - anchor.GetZ();
            const double distance = std::max(std::sqrt(dx * dx + dy * dy + dz * dz), 1e-9);
            const double row[4] = {dx / distance, dy / distance, dz / distance, 1.0};
            const double residual = range[i] - distance - x[3];
            const double weight = measurements[i].weight;
            for (int r = 0; r < 4; ++r) {
                gradient[r] += weight * row[r] * residual;
                for (int c = 0; c <= r; ++c)
                    normal[r][c] += weight * row[r] * row[c];
            }
        }
        // Cholesky: normal = L L^T, lower triangle in place.
        for (int c = 0; c < 4; ++c) {
            double diagonal = normal[c][c];
            for (int k = 0; k < c; ++k)
                diagonal -= normal[c][k] * normal[c][k];
            if (!(diagonal > 0.0))
                return false;
            normal[c][c] = std::sqrt(diagonal);
            for (int r = c + 1; r < 4; ++r) {
                double value = normal[r][c];
                for (int k = 0; k < c; ++k)
                    value -= normal[r][k] * normal[c][k];
                normal[r][c] = value / normal[c][c];
            }
        }
        double step[4];
        for (int r = 0; r < 4; ++r) {
            double value = gradient[r];
            for (int k = 0; k < r; ++k)
                value -= normal[r][k] * step[k];
            step[r] = value / normal[r][r];
        }
        for (int r = 3; r >= 0; --r) {
            double value = step[r];
            for (int k = r + 1; k < 4; ++k)
                value -= normal[k][r] * step[k];
            step[r] = value / normal[r][r];
        }
        for (int r = 0; r < 4; ++r)
            x[r] += step[r];
        if (std::sqrt(step[0] * step[0] + step[1] * step[1] + step[2] * step[2]) < stop_distance)
            break;
    }
    *position = Coordinates(x[0], x[1], x[2]);
    return true;
}

void BM_SolveToaPosition(benchmark::State& state, bool warm) {
    const std::vector<bench_report_t> reports = MakeReports();
    const toa_solver_parameters_t parameters = Parameters();
    toa_solution_t solution;
    toa_anchor_diagnostic_t diagnostics[kAnchors];
    size_t next = 0;
    int64_t iterations = 0;
    for (auto _ : state) {
        const bench_report_t& report = reports[next];
        next = (next + 1) % reports.size();
        SolveToaPosition(report.measurements, kAnchors, warm ? report.warm_start : kCentroid, parameters,
                         &solution, diagnostics);
        benchmark::DoNotOptimize(solution);
        benchmark::DoNotOptimize(diagnostics);
        iterations += solution.iteration_count;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["iterations"] = static_cast<double>(iterations) / static_cast<double>(state.iterations());
}
BENCHMARK_CAPTURE(BM_SolveToaPosition, warm, true);
BENCHMARK_CAPTURE(BM_SolveToaPosition, cold, false);

void BM_GaussNewtonBaseline(benchmark::State& state, bool warm) {
    const std::vector<bench_report_t> reports = MakeReports();
    Coordinates position;
    size_t next = 0;
    for (auto _ : state) {
        const bench_report_t& report = reports[next];
        next = (next + 1) % reports.size();
        benchmark::DoNotOptimize(
            GaussNewtonSolve(report.measurements, kAnchors, warm ? report.warm_start : kCentroid, &position));
        benchmark::DoNotOptimize(position);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_GaussNewtonBaseline, warm, true);
BENCHMARK_CAPTURE(BM_GaussNewtonBaseline, cold, false);

}  // namespace
