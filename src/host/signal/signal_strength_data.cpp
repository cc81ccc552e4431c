#include "host/signal/signal_strength_data.h"

#include <cmath>
#include <limits>

#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "protocol/reports/derazud_anchor_rpt_item.h"
#include "protocol/reports/derazud_usb_anchor_rpt.h"

namespace {

constexpr double kReceiverConstantPrf16Db = 115.72;
constexpr double kReceiverConstantPrf64Db = 121.74;
constexpr uint8_t kPrf64Flag = 1;
constexpr double kCirPowerScale = 131072.0;  // 2^17

// 10 log10(ratio), with a zero ratio answered as -infinity directly rather
// than by a pole error of the logarithm.
double PowerRatioDb(double ratio) {
    if (ratio == 0.0)
        return -std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(ratio);
}

}  // namespace

SignalStrengthData::SignalStrengthData()
    : first_path_amplitude_1_(0),
      first_path_amplitude_2_(0),
      first_path_amplitude_3_(0),
      preamble_accumulation_count_(0),
      cir_power_(1),
      receiver_constant_db_(kReceiverConstantPrf16Db) {
    if (FlatSettingsInterface(Settings::GlobalSettings()).GetRfSettings().prf_flag == kPrf64Flag)
        receiver_constant_db_ = kReceiverConstantPrf64Db;
}

void SignalStrengthData::SetFirstPathValues(const signal_strength_t& signalStrength) {
    first_path_amplitude_1_ = signalStrength.first_path_amplitude_1;
    first_path_amplitude_2_ = signalStrength.first_path_amplitude_2;
    first_path_amplitude_3_ = signalStrength.first_path_amplitude_3;
    preamble_accumulation_count_ = signalStrength.preamble_accumulation_count;
}

void SignalStrengthData::UpdateData(signal_strength_t signalStrength) {
    SetFirstPathValues(signalStrength);
    if (static_cast<int16_t>(signalStrength.channel_impulse_response_power) > 0)
        cir_power_ = signalStrength.channel_impulse_response_power;
}

void SignalStrengthData::UpdateFromReport(const signal_strength_t& signalStrength) {
    SetFirstPathValues(signalStrength);
    if (signalStrength.channel_impulse_response_power != 0)
        cir_power_ = signalStrength.channel_impulse_response_power;
}

void SignalStrengthData::UpdateData(const derazud_anchor_rpt_item_t* item) {
    if (item != nullptr)
        UpdateFromReport(item->header.signal_strength);
}

void SignalStrengthData::UpdateData(const derazud_usb_anchor_rpt_t* report) {
    if (report != nullptr)
        UpdateFromReport(report->signal_strength);
}

void SignalStrengthData::UpdateData(int firstPathAmplitude1, int firstPathAmplitude2, int firstPathAmplitude3,
                                    int preambleAccumulationCount, int cirPower) {
    first_path_amplitude_1_ = static_cast<uint32_t>(firstPathAmplitude1);
    first_path_amplitude_2_ = static_cast<uint32_t>(firstPathAmplitude2);
    first_path_amplitude_3_ = static_cast<uint32_t>(firstPathAmplitude3);
    preamble_accumulation_count_ = static_cast<uint32_t>(preambleAccumulationCount);
    if (cirPower > 0)
        cir_power_ = static_cast<uint32_t>(cirPower);
}

double SignalStrengthData::CalculateFirstPathDb() const {
    const double f1 = first_path_amplitude_1_;
    const double f2 = first_path_amplitude_2_;
    const double f3 = first_path_amplitude_3_;
    const double n = preamble_accumulation_count_;
    return PowerRatioDb((f1 * f1 + f2 * f2 + f3 * f3) / (n * n)) - receiver_constant_db_;
}

double SignalStrengthData::CalculateTotalPathDb() const {
    const double n = preamble_accumulation_count_;
    return PowerRatioDb(static_cast<double>(cir_power_) * kCirPowerScale / (n * n)) - receiver_constant_db_;
}
