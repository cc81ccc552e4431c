#pragma once
// Length of the time slot one packet needs: air time plus read time, in
// network time units (Gnt), rounded up.

#include <cstdint>

#include "host/scheduling/airtime_calculator.h"
#include "host/scheduling/readtime_calculator.h"

class SlottimeCalculator {
  public:
    SlottimeCalculator() = default;

    void SetPrfMode(dw_prf_mode_t mode);
    // Counts two bytes more than n; that sum is
    // 16-bit, so n = 65534 and 65535 wrap to 0 and 1.
    uint32_t ComputePacketGnt(uint16_t n) const;

  private:
    AirtimeCalculator airtime_calculator_{DW_PRF_MODE_64MHZ};
    ReadtimeCalculator readtime_calculator_;
};
