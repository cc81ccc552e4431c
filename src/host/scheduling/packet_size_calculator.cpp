#include "host/scheduling/packet_size_calculator.h"

#include <cmath>

namespace {

uint16_t Saturate16(uint64_t value) {
    return value > 0xFFFFu ? 0xFFFFu : static_cast<uint16_t>(value);
}

}  // namespace

uint16_t PacketSizeCalculator::ComputeBeaconSize(uint16_t payload) const {
    return Saturate16(uint64_t{payload} + 6);
}

uint16_t PacketSizeCalculator::ComputeBeaconlessAnchorReportSize(uint16_t anchors) const {
    return Saturate16(30 * uint64_t{anchors} + 65);
}

uint16_t PacketSizeCalculator::ComputeAnchorReportSize(uint16_t base, uint16_t items,
                                                       uint16_t beaconSize) const {
    return Saturate16(uint64_t{base} + uint64_t{items} * (uint64_t{beaconSize} + 20));
}

uint16_t PacketSizeCalculator::ComputeTotalTagNetworkOverhead(uint16_t payload, uint16_t anchors) const {
    return Saturate16((uint64_t{payload} + 6) + uint64_t{anchors} * (uint64_t{payload} + 26));
}

uint16_t PacketSizeCalculator::ComputeAnchorReportPayloadSize(uint16_t reportSize) const {
    return reportSize < 10 ? 0 : static_cast<uint16_t>(reportSize - 10);
}

uint16_t PacketSizeCalculator::ComputeBeaconPayloadSize(const bool* flags, uint16_t rateDivisor,
                                                        uint16_t subsampleDivisor, double rate,
                                                        uint16_t headroom) const {
    const int rate_divisor = rateDivisor == 0 ? 1 : rateDivisor;
    const double subsample_divisor = subsampleDivisor == 0 ? 1.0 : subsampleDivisor;
    const int d = 10000 / rate_divisor;

    double x = 0.0;
    if (flags[0]) {  // gyroscope
        x += d / subsample_divisor;
    }
    if (flags[1]) {  // accelerometer
        x += d / subsample_divisor;
    }
    if (flags[2]) {  // magnetometer
        x += 80.0;
    }
    if (flags[3]) {  // quaternion
        x += (20000 / rate_divisor) / subsample_divisor;
    }
    if (flags[4]) {  // pressure
        x += 100.0;
    }
    if (flags[5]) {  // temperature
        x += 75.0;
    }
    x = x * 1.05;
    if (x == 0.0) {
        return 0;
    }
    // Guards the division and the conversion below: a rate of 0, below 0 or
    // NaN has no payload size, and one too small overflows 16 bits.
    if (!(rate > 0.0)) {
        return 0xFFFF;
    }
    const double size = std::ceil(2.0 + x / rate + headroom);
    if (!(size <= 65535.0)) {
        return 0xFFFF;
    }
    return size < 5.0 ? 5 : static_cast<uint16_t>(size);
}
