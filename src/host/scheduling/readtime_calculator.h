#pragma once
// Time a device needs to read a received packet of n bytes out of the radio
// and hand it on, in microseconds.

#include <cstdint>

class ReadtimeCalculator {
  public:
    double ComputePacketUsec(uint16_t n) const;
};
