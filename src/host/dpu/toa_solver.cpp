#include "host/dpu/toa_solver.h"

#include <cmath>

#include "base/device_time.h"
#include "base/saturating_conversion.h"

namespace {

// In place of 1 / d for an anchor closer than 1e-9 mm: its line of sight is
// then (nearly) the zero vector, and this keeps the product finite.
constexpr double kInverseDistanceGuard = 999999999.9999999;
constexpr double kGuardDistance = 1e-9;

bool IsFinite(const Coordinates& point) {
    return std::isfinite(point.GetX()) && std::isfinite(point.GetY()) && std::isfinite(point.GetZ());
}

ToaSolveStatus Finish(toa_solution_t* solution, ToaSolveStatus status) {
    solution->status = status;
    return status;
}

}  // namespace

ToaSolveStatus SolveToaPosition(const toa_measurement_t* measurements, int count, const Coordinates& start,
                                const toa_solver_parameters_t& parameters, toa_solution_t* solution,
                                toa_anchor_diagnostic_t* diagnostics) {
    *solution = toa_solution_t{};
    solution->position = start;
    solution->start_guess = start.GetData();

    if (count < 1 || static_cast<uint32_t>(count) < parameters.minimum_anchors)
        return Finish(solution, ToaSolveStatus::kTooFewAnchors);
    if (count > kToaSolverMaxAnchors)
        return Finish(solution, ToaSolveStatus::kTooManyAnchors);
    // A speed below 1 mm/s truncates to 0 mm/s, which every range divides by.
    if (!(parameters.gain > 0.0) || !std::isfinite(parameters.gain) ||
        !(parameters.speed_of_light >= 0.001) || !std::isfinite(parameters.speed_of_light)) {
        return Finish(solution, ToaSolveStatus::kInvalidParameters);
    }
    if (!IsFinite(start))
        return Finish(solution, ToaSolveStatus::kInvalidMeasurements);

    double total_weight = 0.0;
    for (int i = 0; i < count; ++i) {
        const double weight = measurements[i].weight;
        if (!IsFinite(measurements[i].anchor_position) || !std::isfinite(weight) || weight < 0.0)
            return Finish(solution, ToaSolveStatus::kInvalidMeasurements);
        total_weight += weight;
    }
    if (!(total_weight > 0.0) || !std::isfinite(total_weight))
        return Finish(solution, ToaSolveStatus::kInvalidMeasurements);

    // The speed of light truncated to whole millimetres per second.
    const double vc = static_cast<double>(TruncateToUint64(parameters.speed_of_light * 1000.0));
    const double n = static_cast<double>(count);
    const double stop_distance = 1000.0 * parameters.min_stop_threshold;

    // Arrival times in seconds after the first one. Device time wraps at 2^40
    // (about 17.2 s); taking each time modulo 2^40 relative to the first keeps a
    // report that straddles the wrap consistent, and keeps the seconds small
    // enough for doubles to hold them to a fraction of a tick.
    const uint64_t reference_time = DeviceTimeMask(static_cast<uint64_t>(measurements[0].time_of_arrival));
    double arrival[kToaSolverMaxAnchors];
    for (int i = 0; i < count; ++i) {
        const uint64_t time = static_cast<uint64_t>(measurements[i].time_of_arrival);
        arrival[i] = static_cast<double>(DeviceTimeDifference(reference_time, time)) / kDeviceTicksPerSecond;
    }

    // Per iteration: distance, implied transmit time and step of each anchor.
    double distance[kToaSolverMaxAnchors];
    double transmit[kToaSolverMaxAnchors];
    double step[kToaSolverMaxAnchors];

    Coordinates position = start;
    double transmit_time = 0.0;
    double total_step = 0.0;
    int iteration = 1;
    for (;;) {
        double weighted_transmit = 0.0;
        for (int i = 0; i < count; ++i) {
            distance[i] = position.CalculateDistanceBetween(measurements[i].anchor_position);
            transmit[i] = arrival[i] - distance[i] / vc;
            weighted_transmit += measurements[i].weight * transmit[i];
        }
        transmit_time = weighted_transmit / total_weight;

        // Weights are deliberately not normalised here: a weak anchor also
        // shortens the whole step.
        Coordinates next = position;
        total_step = 0.0;
        for (int i = 0; i < count; ++i) {
            const double inverse = distance[i] < kGuardDistance ? kInverseDistanceGuard : 1.0 / distance[i];
            const Coordinates line_of_sight = (measurements[i].anchor_position - position) * inverse;
            step[i] = (transmit_time - transmit[i]) * vc / n * parameters.gain;
            total_step += std::fabs(step[i]);
            next += line_of_sight * (step[i] * measurements[i].weight);
        }
        next.MoveInsideBounds(parameters.tag_bounds);

        const double moved = next.CalculateDistanceBetween(position);
        position = next;
        if (moved < stop_distance)
            break;
        ++iteration;
        if (iteration == kToaSolverMaxIterations + 1)
            break;
    }

    if (diagnostics != nullptr) {
        for (int i = 0; i < count; ++i) {
            diagnostics[i].weight_millionths = TruncateToInt32(measurements[i].weight * 1000000.0);
            diagnostics[i].correction_mm = TruncateToInt32(std::round(step[i]));
        }
    }

    solution->position = position;
    solution->iteration_count = static_cast<uint16_t>(iteration);
    solution->quality = total_step / n;
    const double quality = solution->quality;
    // NaN fails every comparison, so a quality that is not a number is rejected;
    // a huge but finite scene can still overflow the position or time.
    if (!(quality >= 0.0 && quality < 1000.0 * parameters.rejection_threshold) || !IsFinite(position) ||
        !std::isfinite(transmit_time)) {
        return Finish(solution, ToaSolveStatus::kRejected);
    }
    // floor, so that the sum equals the truncation of the absolute time.
    const int64_t transmit_ticks = TruncateToInt64(std::floor(transmit_time * kDeviceTicksPerSecond));
    solution->transmit_time = DeviceTimeMask(reference_time + static_cast<uint64_t>(transmit_ticks));
    return Finish(solution, ToaSolveStatus::kAccepted);
}
