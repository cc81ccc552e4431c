#pragma once
// The geometric checks of a time-of-arrival report, over arrays of the
// report's responses and of their anchors' positions (parallel, millimetres):
// the range-difference vote and the outlier step. The node's sanity check
// runs the membership walk first and then these two.

#include <cstdint>
#include <functional>

#include "base/geometry.h"
#include "protocol/reports/derazud_toa.h"

// Status codes of the anchor status item beyond kVexAnchorStatusUsed.
constexpr uint8_t kAnchorStatusNotRegistered = 1;
constexpr uint8_t kAnchorStatusRangeDifference = 2;
constexpr uint8_t kAnchorStatusImplausibleMove = 3;

// A report holds at most this many responses; the checks below leave a
// larger count alone.
constexpr int kToaReportCapacity = 512;

// Called with the index and status code of a response just before the
// response is removed.
using ToaResponseRemoval = std::function<void(int index, uint8_t code)>;

// Removes the response at `index` by moving the last one (with its position)
// into its place; the count never goes below 0. An index at or beyond the
// count changes nothing.
void ToaReportCheck_RemoveResponse(derazud_toa_t* toas, Coordinates* positions, int16_t* count, int index);

// The move a tag may have made since the last good check, in millimetres:
// velocity (m/s) x elapsed ms / 1000 x 1000. Before any good check
// (last_check_ms of 0) the time elapsed is all of now_ms: with times in ms
// since the epoch, kilometres at walking pace. A negative velocity gives a
// negative move, which no response meets; elapsed time going backwards (the
// wall clock set back) counts as none; a NaN velocity gives NaN, which the
// outlier step takes as no limit.
double ToaReportCheck_AllowedMoveMm(double max_velocity, int64_t now_ms, int64_t last_check_ms);

// Range-difference vote: for every pair i < j whose range difference (from
// their TOAs, magnitude, mm) exceeds the distance between their anchors plus
// 1 mm, both get a vote; then every response with 3 or more votes is removed
// (status 2), the last one moving into its place with its votes and being
// examined there in turn. A speed of light that is not a positive finite
// number gives no range differences and votes nothing.
void ToaReportCheck_RangeDifferenceVote(derazud_toa_t* toas, Coordinates* positions, int16_t* count,
                                        double speed_of_light, const ToaResponseRemoval& removal);

// Outlier step: each response's implied transmit offset is its TOA (the
// shorter way round the 40-bit wrap from the first response's) less the time
// of flight from `guess_mm` to its anchor; while the largest deviation from
// the mean offset, in mm, exceeds `allowed_move_mm`, that response (lowest
// index on a tie) is removed with status 3. Does nothing when the speed of
// light is not a positive finite number or the allowed move is NaN.
void ToaReportCheck_RemoveOutliers(derazud_toa_t* toas, Coordinates* positions, int16_t* count,
                                   const Coordinates& guess_mm, double speed_of_light, double allowed_move_mm,
                                   const ToaResponseRemoval& removal);
