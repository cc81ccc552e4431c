#include "host/devices/deca_tick_to_gnt_converter.h"

#include <cmath>

#include "base/device_time.h"

#include "base/thread_annotations.h"

namespace {

constexpr double kMaxUnwrappedDistance = 549755813887.0;  // 2^39 - 1
// Both the tick span and the distance from the previous sync are divided by
// it, so it cancels out of the line; the order of those operations still
// decides the last bit, and with it how a result near a half rounds.
constexpr double kTicksPerUnit = 65535.0;
// Stands in for a zero tick span (two syncs with the same master time).
constexpr double kZeroSpanReplacement = 1e-9;
// 2^63 as a double: the first value that no longer converts to int64_t.
constexpr double kInt64Limit = 9223372036854775808.0;

}  // namespace

DecaTickToGntConverter::DecaTickToGntConverter()
    : previous_network_time_(0),
      previous_master_ticks_(0),
      latest_network_time_(1),
      latest_master_ticks_(1) {}

void DecaTickToGntConverter::Update(int64_t masterTicks, uint32_t networkTime) {
    AnnotatedMutexLocker lock(&mutex_);
    previous_network_time_ = latest_network_time_;
    previous_master_ticks_ = latest_master_ticks_;
    latest_network_time_ = networkTime;
    latest_master_ticks_ = static_cast<uint64_t>(masterTicks);
}

int64_t DecaTickToGntConverter::DecaTicksToGnt(int64_t masterTicks) const {
    uint32_t previous_network_time;
    uint64_t previous_master_ticks;
    uint32_t latest_network_time;
    uint64_t latest_master_ticks;
    {
        AnnotatedMutexLocker lock(&mutex_);
        previous_network_time = previous_network_time_;
        previous_master_ticks = previous_master_ticks_;
        latest_network_time = latest_network_time_;
        latest_master_ticks = latest_master_ticks_;
    }

    double tick_span =
        static_cast<double>((latest_master_ticks - previous_master_ticks) & kDeviceTimeMask) / kTicksPerUnit;
    if (tick_span == 0.0)
        tick_span = kZeroSpanReplacement;
    const double rate =
        static_cast<double>(static_cast<uint32_t>(latest_network_time - previous_network_time)) / tick_span;

    // The difference is taken in 64 wrapping bits (no signed overflow) and
    // corrected by one wrap when it exceeds the half range; its sign says which
    // way, which for 40-bit times is the same as comparing the two times and
    // stays right for a time slightly below 0 or above 2^40 - 1.
    double distance =
        static_cast<double>(static_cast<int64_t>(static_cast<uint64_t>(masterTicks) - previous_master_ticks));
    if (std::fabs(distance) > kMaxUnwrappedDistance)
        distance +=
            distance < 0.0 ? static_cast<double>(kDeviceTimeWrap) : -static_cast<double>(kDeviceTimeWrap);

    const double network_time = std::round(distance / kTicksPerUnit * rate) + previous_network_time;
    // With the zero-span replacement the rate is enormous and the line can
    // leave the int64_t range, where a plain conversion would be undefined:
    // such results saturate.
    if (network_time >= kInt64Limit)
        return INT64_MAX;
    if (network_time < -kInt64Limit)
        return INT64_MIN;
    return static_cast<int64_t>(network_time);
}
