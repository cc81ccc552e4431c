#include "host/scheduling/slottime_calculator.h"

#include <cmath>

void SlottimeCalculator::SetPrfMode(dw_prf_mode_t mode) {
    airtime_calculator_ = AirtimeCalculator(mode);
}

uint32_t SlottimeCalculator::ComputePacketGnt(uint16_t n) const {
    const uint16_t m = static_cast<uint16_t>(n + 2);
    // At most about 1.02e5 for m = 65535: always within the 32-bit range.
    return static_cast<uint32_t>(std::ceil(
        (airtime_calculator_.ComputePacketUsec(m) + readtime_calculator_.ComputePacketUsec(m)) * 0.975));
}
