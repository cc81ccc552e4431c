#pragma once
// Receive-quality values of one reception with the DW1000 receive-power
// estimates made of them: first-path power and total received power, in dB.

#include <cstdint>

#include "protocol/packets/signal_strength.h"

struct derazud_anchor_rpt_item_t;
struct derazud_usb_anchor_rpt_t;

class SignalStrengthData {
  public:
    // Amplitudes and accumulation count 0, CIR power 1; the receiver constant
    // is fixed here from the PRF of the global RF settings.
    SignalStrengthData();

    // The CIR power is taken only when it is above 0 read as signed 16-bit;
    // otherwise the previous one stays, so the total-path power stays finite.
    void UpdateData(signal_strength_t signalStrength);
    // The values of an anchor report item's header, or of the reception of a
    // whole anchor report; the CIR power is taken only when non-zero. A null
    // pointer changes nothing.
    void UpdateData(const derazud_anchor_rpt_item_t* item);
    void UpdateData(const derazud_usb_anchor_rpt_t* report);
    // The CIR power is taken only when above 0.
    void UpdateData(int firstPathAmplitude1, int firstPathAmplitude2, int firstPathAmplitude3,
                    int preambleAccumulationCount, int cirPower);

    // 10 log10((F1^2 + F2^2 + F3^2) / N^2) - A. All amplitudes 0 give -infinity
    // (no log of zero is evaluated); N = 0 gives +infinity or not-a-number.
    double CalculateFirstPathDb() const;
    // 10 log10(CIR power x 2^17 / N^2) - A.
    double CalculateTotalPathDb() const;

    uint32_t GetCirPower() const { return cir_power_; }
    // A in dB: 115.72 at 16 MHz PRF, 121.74 at 64 MHz.
    double GetReceiverConstant() const { return receiver_constant_db_; }

  private:
    void SetFirstPathValues(const signal_strength_t& signalStrength);
    // Report records: the CIR power is taken when non-zero, as unsigned.
    void UpdateFromReport(const signal_strength_t& signalStrength);

    uint32_t first_path_amplitude_1_;
    uint32_t first_path_amplitude_2_;
    uint32_t first_path_amplitude_3_;
    uint32_t preamble_accumulation_count_;
    uint32_t cir_power_;
    double receiver_constant_db_;
};
