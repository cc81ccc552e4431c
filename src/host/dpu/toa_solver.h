#pragma once
// Position solve of one time-of-arrival report: iterative weighted
// multilateration. Every anchor pulls the estimate along its line of sight by
// its range residual; the transmit time is the weighted mean of the anchors'
// implied transmit times; the loop stops when the estimate moves less than the
// stop threshold, or after 100 iterations.
//
// A plain function with no Qt, no locks and no allocation, safe to call from
// any number of pool threads at once. The Dpu's solve task gathers the inputs
// (anchor positions in mm, the report's arrival times, CalculateAnchorWeight or
// 1.0, the start guess in mm, the tuning from the settings), calls
// SolveToaPosition, then:
//   - ToaSolveRan(status): add one 0x8008 per anchor (serial and TOA from the
//     report, weight_millionths and correction_mm from `diagnostics[i]`) and
//     one 0x8007 (start_guess, iteration_count);
//   - kAccepted: store `position` / 1000 (metres) with `quality` and the
//     network time DecaTicksToGnt(transmit_time).

#include <cstdint>

#include "base/geometry.h"

// A report holds at most this many responses.
constexpr int kToaSolverMaxAnchors = 512;
// At most this many iterations; an iteration_count one above means the limit
// was reached without converging.
constexpr int kToaSolverMaxIterations = 100;

struct toa_measurement_t {
    Coordinates anchor_position;  // mm
    int64_t time_of_arrival;      // master device ticks; only the low 40 bits are read
    double weight;                // finite, >= 0
};

struct toa_solver_parameters_t {
    double gain;                 // step gain; finite and > 0
    double min_stop_threshold;   // metres: converged when a step moves less
    double rejection_threshold;  // metres: rejected when the quality reaches it
    double speed_of_light;       // m/s; finite and >= 0.001
    BoundingBox tag_bounds;      // mm; every step is clamped into it
    uint32_t minimum_anchors;    // fewer measurements are not solved
};

enum class ToaSolveStatus {
    kAccepted,            // the solve ran and its quality is below the threshold
    kRejected,            // the solve ran; quality at or above the threshold, or not finite
    kTooFewAnchors,       // below minimum_anchors (or none): nothing ran
    kTooManyAnchors,      // above kToaSolverMaxAnchors: nothing ran
    kInvalidParameters,   // gain or speed of light unusable: nothing ran
    kInvalidMeasurements  // a position or weight not finite, a negative weight,
                          // all weights 0, or a start guess not finite: nothing ran
};

// True when the iteration ran, so the solve's diagnostics are meaningful.
inline bool ToaSolveRan(ToaSolveStatus status) {
    return status == ToaSolveStatus::kAccepted || status == ToaSolveStatus::kRejected;
}

struct toa_solution_t {
    ToaSolveStatus status;
    Coordinates position;            // mm: the last estimate (also when rejected)
    coordinates_data_t start_guess;  // mm, rounded, saturated
    uint16_t iteration_count;        // 1 .. 100, 101 when the limit was reached
    double quality;                  // mm: mean absolute step of the last iteration
    // Master device time of the transmission (40 bits), set when accepted.
    uint64_t transmit_time;
};

struct toa_anchor_diagnostic_t {
    int32_t weight_millionths;  // trunc(weight x 1,000,000), saturated
    int32_t correction_mm;      // last iteration's step, rounded half away from zero, saturated
};

// Solves `count` measurements from `start` (mm). `diagnostics` may be null;
// otherwise it receives `count` entries whenever ToaSolveRan(result.status).
// Returns the same status it stores in `solution`.
ToaSolveStatus SolveToaPosition(const toa_measurement_t* measurements, int count, const Coordinates& start,
                                const toa_solver_parameters_t& parameters, toa_solution_t* solution,
                                toa_anchor_diagnostic_t* diagnostics);
