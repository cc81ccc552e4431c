#pragma once
// A table-driven model of a packet's duration from the RF settings: preamble
// symbols, header and data at the configured bit rate. The budget uses the
// slot-time calculator; nothing in the server calls this one.

#include <cstdint>

#include "protocol/packets/set_rf_settings_packet.h"

class PacketTimingCalculator {
  public:
    // bitRate: code 0 (110 kbps), 1 (850 kbps), 2 (6.8 Mbps), others as 0.
    // preambleCode: preamble-length code 0 to 6, others as the longest.
    double CalculatePacketDuration_USec(uint16_t n, uint32_t bitRate, int prf64, uint32_t preambleCode) const;
    uint32_t CalculatePacketDuration_Gnt(uint16_t n, uint32_t bitRate, int prf64,
                                         uint32_t preambleCode) const;
    uint32_t CalculatePacketDuration_Gnt(uint16_t n, const cmd_set_rf_settings_t& rf) const;
    uint32_t CalculatePacketDuration_Gnt_NoPadding(uint16_t n, uint32_t bitRate, int prf64,
                                                   uint32_t preambleCode) const;
    uint32_t CalculatePacketDuration_Gnt_NoPadding(uint16_t n, const cmd_set_rf_settings_t& rf) const;
    double CalculateTimePerByte_GntF(const cmd_set_rf_settings_t& rf) const;
};
