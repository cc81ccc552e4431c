#include "host/scheduling/packet_timing_calculator.h"

#include <cmath>

namespace {

constexpr double kGntUsec = 1.0256;
constexpr double kPaddingGnt = 29.25117004680187;

// Per preamble-length code 0 to 6; any other code takes the last entry.
constexpr uint32_t kCountA[] = {8, 8, 16, 16, 32, 64, 64, 64};
constexpr uint32_t kPreambleSymbols[] = {64, 128, 256, 512, 1024, 4096, 2048, 4096};

uint32_t NoPadding(uint32_t gnt) {
    // Cannot go below 0 for any input (the shortest packet is about 121 Gnt),
    // but the conversion must stay defined whatever the table holds.
    const double value = gnt - kPaddingGnt;
    return value > 0.0 ? static_cast<uint32_t>(value) : 0;
}

}  // namespace

double PacketTimingCalculator::CalculatePacketDuration_USec(uint16_t n, uint32_t bitRate, int prf64,
                                                            uint32_t preambleCode) const {
    double data;
    double header;
    if (bitRate == 2) {
        data = n * 1.177;
        header = 24.0;
    } else if (bitRate == 1) {
        data = n * 9.412;
        header = 24.0;
    } else {
        data = n * 72.728;
        header = 191.0;
    }
    // At most 65535 x 72.728 (about 4.8e6): within the 32-bit range.
    const uint32_t data_part = static_cast<uint32_t>(data);
    const size_t column = preambleCode < 7 ? preambleCode : 7;
    const double symbol_usec = prf64 != 0 ? 1.018 : 0.994;
    const uint32_t head = static_cast<uint32_t>(kCountA[column] * symbol_usec + header);
    const uint32_t duration =
        static_cast<uint32_t>(head + kPreambleSymbols[column] * symbol_usec) + data_part + 30;
    return duration;
}

uint32_t PacketTimingCalculator::CalculatePacketDuration_Gnt(uint16_t n, uint32_t bitRate, int prf64,
                                                             uint32_t preambleCode) const {
    return static_cast<uint32_t>(
        std::ceil(CalculatePacketDuration_USec(n, bitRate, prf64, preambleCode) / kGntUsec));
}

uint32_t PacketTimingCalculator::CalculatePacketDuration_Gnt(uint16_t n,
                                                             const cmd_set_rf_settings_t& rf) const {
    return CalculatePacketDuration_Gnt(n, rf.bit_rate_code, rf.prf_flag, rf.preamble_length_code);
}

uint32_t PacketTimingCalculator::CalculatePacketDuration_Gnt_NoPadding(uint16_t n, uint32_t bitRate,
                                                                       int prf64,
                                                                       uint32_t preambleCode) const {
    return NoPadding(CalculatePacketDuration_Gnt(n, bitRate, prf64, preambleCode));
}

uint32_t PacketTimingCalculator::CalculatePacketDuration_Gnt_NoPadding(
    uint16_t n, const cmd_set_rf_settings_t& rf) const {
    return NoPadding(CalculatePacketDuration_Gnt(n, rf));
}

double PacketTimingCalculator::CalculateTimePerByte_GntF(const cmd_set_rf_settings_t& rf) const {
    if (rf.bit_rate_code == 1) {
        return 9.177067082683308;
    }
    if (rf.bit_rate_code == 2) {
        return 1.1476209048361934;
    }
    return 72.728 / kGntUsec;
}
