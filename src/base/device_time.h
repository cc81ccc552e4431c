#pragma once

#include <cstdint>

// Device time: the DW1000 counts ticks of 1 / (128 x 499.2 MHz), about
// 15.65 ps, in a 40-bit register that wraps at 2^40 (about 17.2 s). Every
// difference of two device times is taken modulo 2^40; read as signed, the
// half range 2^39 decides the direction.

constexpr uint64_t kDeviceTimeWrap = uint64_t{1} << 40;
constexpr uint64_t kDeviceTimeMask = kDeviceTimeWrap - 1;
constexpr uint64_t kDeviceTimeHalfRange = uint64_t{1} << 39;
constexpr double kDeviceTicksPerSecond = 6.38976e10;

// The low 40 bits of a device time.
constexpr uint64_t DeviceTimeMask(uint64_t time) {
    return time & kDeviceTimeMask;
}

// (later - earlier) modulo 2^40, in 0 .. 2^40 - 1.
constexpr uint64_t DeviceTimeForward(uint64_t earlier, uint64_t later) {
    return (later - earlier) & kDeviceTimeMask;
}

// (later - earlier) modulo 2^40 read as a signed value in -2^39 .. 2^39 - 1.
constexpr int64_t DeviceTimeDifference(uint64_t earlier, uint64_t later) {
    const uint64_t forward = DeviceTimeForward(earlier, later);
    return forward < kDeviceTimeHalfRange ? static_cast<int64_t>(forward)
                                          : static_cast<int64_t>(forward) - static_cast<int64_t>(kDeviceTimeWrap);
}
