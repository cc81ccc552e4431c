#pragma once
// A device's free-running 40-bit timestamp counter against true time: an
// offset into the counter and a small rate error, as a real crystal has.
// The unwrapped count is kept in a double of ticks: after a day (5.5e15
// ticks) its resolution is still a small fraction of a tick.
#include <cmath>
#include <cstdint>

#include "base/device_time.h"

class SimClock {
  public:
    SimClock() = default;
    SimClock(double offset_ticks, double drift_ppm) : offset_(offset_ticks), rate_(1.0 + drift_ppm * 1e-6) {}

    // The counter's value at true time t (seconds), not yet wrapped.
    double UnwrappedTicks(double t) const { return offset_ + t * kDeviceTicksPerSecond * rate_; }
    // The true time at which the unwrapped counter reads `ticks`.
    double TrueTime(double ticks) const { return (ticks - offset_) / (kDeviceTicksPerSecond * rate_); }
    // What the device's 40-bit register reads at true time t, plus an error in ticks.
    uint64_t Read(double t, double error_ticks = 0.0) const {
        const double ticks = std::floor(UnwrappedTicks(t) + error_ticks);
        const double wrapped = ticks - std::floor(ticks / static_cast<double>(kDeviceTimeWrap)) *
                                           static_cast<double>(kDeviceTimeWrap);
        return DeviceTimeMask(static_cast<uint64_t>(wrapped));
    }

  private:
    double offset_ = 0.0;
    double rate_ = 1.0;
};

// One unit of network time is 65536 ticks of the master's counter (1/0.975 us).
constexpr double kTicksPerNetworkTimeUnit = 65536.0;
