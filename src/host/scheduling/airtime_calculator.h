#pragma once
// Time a packet of n bytes occupies the air: preamble, start-of-frame
// delimiter, PHY header and data, for the DW1000 at 6.8 Mbps.

#include <cstdint>

// Pulse repetition frequency mode. The underlying type is fixed so that any
// byte of the RF settings record (not only 0 and 1) is a valid value.
enum dw_prf_mode_t : uint8_t {
    DW_PRF_MODE_16MHZ = 0,
    DW_PRF_MODE_64MHZ = 1,
};

class AirtimeCalculator {
  public:
    // Modes other than 16 and 64 MHz give a preamble and SFD of 0.
    explicit AirtimeCalculator(dw_prf_mode_t mode);

    double GetPreambleUsec() const { return preamble_usec_; }
    double GetSfdUsec() const { return sfd_usec_; }
    double ComputePacketUsec(uint16_t n) const;

  private:
    double preamble_usec_;
    double sfd_usec_;
};
