#include "host/scheduling/readtime_calculator.h"

double ReadtimeCalculator::ComputePacketUsec(uint16_t n) const {
    return n * 0.4102564102564103 + 250.0 + 15.0;
}
