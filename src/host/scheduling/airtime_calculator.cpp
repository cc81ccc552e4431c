#include "host/scheduling/airtime_calculator.h"

AirtimeCalculator::AirtimeCalculator(dw_prf_mode_t mode) : preamble_usec_(0.0), sfd_usec_(0.0) {
    if (mode == DW_PRF_MODE_16MHZ) {
        preamble_usec_ = 63.58976;
        sfd_usec_ = 7.94872;
    } else if (mode == DW_PRF_MODE_64MHZ) {
        preamble_usec_ = 65.12832;
        sfd_usec_ = 8.14104;
    }
}

double AirtimeCalculator::ComputePacketUsec(uint16_t n) const {
    // Evaluated left to right as written: the slot lengths are rounded up
    // from this sum, so the order of the additions is part of the result.
    return preamble_usec_ + sfd_usec_ + 22.352941 + n * 1.176471;
}
