// The position solve fed arbitrary reports and tuning: any doubles (NaN,
// infinities, huge, negative) for the parameters, bounds, positions, weights
// and start guess, any 64-bit arrival times, up to a few more anchors than a
// report may hold. Every run must end with a defined status, and an accepted
// solution must be finite, inside sane bounds and below the threshold.
//
// Input: a flags byte (bit 0 raw parameters, bit 1 raw positions, bit 2 raw
// weights, bit 3 raw start), the anchor count (u16), the minimum anchor count
// (u8), the parameters, the start guess, then per anchor its position, arrival
// time (u64) and weight. Without the raw bits the values come from small
// integers: positions and bounds in whole millimetres of int16, weights u8/255.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "host/dpu/toa_solver.h"
#include "support/fuzz_byte_reader.h"

namespace {

double Millimetres(ByteReader& in, bool raw) {
    return raw ? in.AnyDouble() : static_cast<double>(static_cast<int16_t>(in.U16()));
}

Coordinates Point(ByteReader& in, bool raw) {
    const double x = Millimetres(in, raw);
    const double y = Millimetres(in, raw);
    const double z = Millimetres(in, raw);
    return Coordinates(x, y, z);
}

toa_solver_parameters_t Parameters(ByteReader& in, bool raw, uint32_t minimum_anchors) {
    toa_solver_parameters_t parameters{};
    parameters.minimum_anchors = minimum_anchors;
    if (raw) {
        parameters.gain = in.AnyDouble();
        parameters.min_stop_threshold = in.AnyDouble();
        parameters.rejection_threshold = in.AnyDouble();
        parameters.speed_of_light = in.AnyDouble();
    } else {
        parameters.gain = in.U8() / 64.0;
        parameters.min_stop_threshold = in.U8() / 10000.0;
        parameters.rejection_threshold = in.U8() / 100.0;
        parameters.speed_of_light = 299792458.0 + (static_cast<int16_t>(in.U16()) * 1000.0);
    }
    const Coordinates minimum = Point(in, raw);
    const Coordinates maximum = Point(in, raw);
    parameters.tag_bounds.SetMinCoordinates(minimum);
    parameters.tag_bounds.SetMaxCoordinates(maximum);
    return parameters;
}

bool Inside(double value, double minimum, double maximum) {
    return value >= minimum && value <= maximum;
}

void Check(const toa_solution_t& solution, ToaSolveStatus status, const toa_solver_parameters_t& parameters,
           const std::vector<toa_anchor_diagnostic_t>& diagnostics) {
    if (status != solution.status)
        std::abort();
    if (!ToaSolveRan(status)) {
        for (const toa_anchor_diagnostic_t& anchor : diagnostics) {
            if (anchor.weight_millionths != -7 || anchor.correction_mm != -7)
                std::abort();
        }
        return;
    }
    if (solution.iteration_count < 1 || solution.iteration_count > kToaSolverMaxIterations + 1)
        std::abort();
    if (status != ToaSolveStatus::kAccepted)
        return;
    const Coordinates& p = solution.position;
    if (!std::isfinite(p.GetX()) || !std::isfinite(p.GetY()) || !std::isfinite(p.GetZ()))
        std::abort();
    if (!(solution.quality >= 0.0 && solution.quality < 1000.0 * parameters.rejection_threshold))
        std::abort();
    if (solution.transmit_time >> 40 != 0)
        std::abort();
    const Coordinates low = parameters.tag_bounds.GetMinCoordinates();
    const Coordinates high = parameters.tag_bounds.GetMaxCoordinates();
    if (Inside(low.GetX(), -1e300, high.GetX()) && !Inside(p.GetX(), low.GetX(), high.GetX()))
        std::abort();
    if (Inside(low.GetY(), -1e300, high.GetY()) && !Inside(p.GetY(), low.GetY(), high.GetY()))
        std::abort();
    if (Inside(low.GetZ(), -1e300, high.GetZ()) && !Inside(p.GetZ(), low.GetZ(), high.GetZ()))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    const uint8_t flags = in.U8();
    const int count = in.U16() % (kToaSolverMaxAnchors + 8);
    const uint32_t minimum_anchors = in.U8();
    const toa_solver_parameters_t parameters = Parameters(in, flags & 1, minimum_anchors);
    const Coordinates start = Point(in, flags & 8);
    std::vector<toa_measurement_t> measurements(static_cast<size_t>(count));
    for (toa_measurement_t& measurement : measurements) {
        measurement.anchor_position = Point(in, flags & 2);
        measurement.time_of_arrival = static_cast<int64_t>(in.U64());
        measurement.weight = (flags & 4) ? in.AnyDouble() : in.U8() / 255.0;
    }
    std::vector<toa_anchor_diagnostic_t> diagnostics(static_cast<size_t>(count),
                                                     toa_anchor_diagnostic_t{-7, -7});
    toa_solution_t solution;
    const ToaSolveStatus status =
        SolveToaPosition(measurements.data(), count, start, parameters, &solution, diagnostics.data());
    Check(solution, status, parameters, diagnostics);
    return 0;
}
