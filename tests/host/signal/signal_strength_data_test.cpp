#include "host/signal/signal_strength_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "host/signal/signal_quality.h"
#include "protocol/reports/derazud_anchor_rpt_item.h"
#include "protocol/reports/derazud_usb_anchor_rpt.h"

namespace {

signal_strength_t Reception(uint16_t f1, uint16_t f2, uint16_t f3, uint16_t n, uint16_t cir) {
    return signal_strength_t{f1, f2, f3, n, cir, 0xABCD};
}

// Sets the PRF flag of the global RF settings for one test and restores it.
class GlobalPrf {
  public:
    explicit GlobalPrf(uint8_t prf_flag) : flat_(Settings::GlobalSettings()), saved_(flat_.GetRfSettings()) {
        cmd_set_rf_settings_t rf = saved_;
        rf.prf_flag = prf_flag;
        flat_.SetRfSettings(rf);
    }
    ~GlobalPrf() { flat_.SetRfSettings(saved_); }

  private:
    FlatSettingsInterface flat_;
    cmd_set_rf_settings_t saved_;
};

TEST(SignalStrengthData, PowersFollowTheReceivePowerFormulas) {
    GlobalPrf prf16(0);
    SignalStrengthData data;
    data.UpdateData(Reception(10000, 10000, 10000, 1000, 2000));
    EXPECT_NEAR(data.CalculateFirstPathDb(), -90.948787452803, 1e-9);
    EXPECT_NEAR(data.CalculateTotalPathDb(), -91.534600780483, 1e-9);
    data.UpdateData(Reception(5000, 3000, 4000, 800, 6000));
    EXPECT_NEAR(data.CalculateFirstPathDb(), -96.792099696479, 1e-9);
    EXPECT_NEAR(data.CalculateTotalPathDb(), -84.825187973126, 1e-9);
}

TEST(SignalStrengthData, FreshObjectHasCirPowerOne) {
    GlobalPrf prf16(0);
    SignalStrengthData data;
    EXPECT_EQ(data.GetCirPower(), 1u);
    data.UpdateData(Reception(1, 1, 1, 1000, 0));
    EXPECT_NEAR(data.CalculateTotalPathDb(), -124.544900737123, 1e-9);
}

TEST(SignalStrengthData, CirPowerZeroOrNegativeAsSigned16KeepsThePreviousOne) {
    GlobalPrf prf16(0);
    SignalStrengthData data;
    data.UpdateData(Reception(100, 100, 100, 800, 0));
    EXPECT_EQ(data.GetCirPower(), 1u);
    EXPECT_NEAR(data.CalculateTotalPathDb(), -122.606700476962, 1e-9);
    data.UpdateData(Reception(100, 100, 100, 800, 32767));
    EXPECT_EQ(data.GetCirPower(), 32767u);
    EXPECT_NEAR(data.CalculateTotalPathDb(), -77.452333665545, 1e-9);
    // 0x8000 and above read as negative 16-bit values: not taken.
    data.UpdateData(Reception(100, 100, 100, 800, 0x8000));
    EXPECT_EQ(data.GetCirPower(), 32767u);
    data.UpdateData(Reception(100, 100, 100, 800, 0xFFFF));
    EXPECT_EQ(data.GetCirPower(), 32767u);
    data.UpdateData(Reception(100, 100, 100, 800, 0));
    EXPECT_EQ(data.GetCirPower(), 32767u);
    EXPECT_TRUE(std::isfinite(data.CalculateTotalPathDb()));
}

TEST(SignalStrengthData, IntegerUpdateTakesCirPowerOnlyAboveZero) {
    GlobalPrf prf16(0);
    SignalStrengthData data;
    data.UpdateData(10000, 10000, 10000, 1000, 2000);
    EXPECT_NEAR(data.CalculateFirstPathDb(), -90.948787452803, 1e-9);
    EXPECT_EQ(data.GetCirPower(), 2000u);
    data.UpdateData(10000, 10000, 10000, 1000, -5);
    EXPECT_EQ(data.GetCirPower(), 2000u);
    data.UpdateData(10000, 10000, 10000, 1000, 0);
    EXPECT_EQ(data.GetCirPower(), 2000u);
    data.UpdateData(10000, 10000, 10000, 1000, 70000);
    EXPECT_EQ(data.GetCirPower(), 70000u);
}

TEST(SignalStrengthData, AnchorReportItemTakesAnyNonZeroCirPower) {
    GlobalPrf prf16(0);
    auto item = std::make_unique<derazud_anchor_rpt_item_t>();
    item->header.signal_strength = Reception(10000, 10000, 10000, 1000, 0x8000);
    SignalStrengthData data;
    data.UpdateData(item.get());
    EXPECT_NEAR(data.CalculateFirstPathDb(), -90.948787452803, 1e-9);
    // Unlike the receive-quality record, the report item's CIR power is not read as signed.
    EXPECT_EQ(data.GetCirPower(), 0x8000u);
    item->header.signal_strength = Reception(5000, 3000, 4000, 800, 0);
    data.UpdateData(item.get());
    EXPECT_EQ(data.GetCirPower(), 0x8000u);
    EXPECT_NEAR(data.CalculateFirstPathDb(), -96.792099696479, 1e-9);
    data.UpdateData(static_cast<const derazud_anchor_rpt_item_t*>(nullptr));
    EXPECT_NEAR(data.CalculateFirstPathDb(), -96.792099696479, 1e-9);
}

TEST(SignalStrengthData, LinkAnchorReportTakesItsReceptionValues) {
    GlobalPrf prf16(0);
    auto report = std::make_unique<derazud_usb_anchor_rpt_t>();
    report->signal_strength = Reception(5000, 3000, 4000, 800, 6000);
    SignalStrengthData data;
    data.UpdateData(report.get());
    EXPECT_NEAR(data.CalculateFirstPathDb(), -96.792099696479, 1e-9);
    EXPECT_NEAR(data.CalculateTotalPathDb(), -84.825187973126, 1e-9);
    report->signal_strength.channel_impulse_response_power = 0;
    data.UpdateData(report.get());
    EXPECT_EQ(data.GetCirPower(), 6000u);
}

TEST(SignalStrengthData, Prf64LowersBothPowersBy602Hundredths) {
    SignalStrengthData at16 = [] {
        GlobalPrf prf16(0);
        return SignalStrengthData();
    }();
    SignalStrengthData at64 = [] {
        GlobalPrf prf64(1);
        return SignalStrengthData();
    }();
    EXPECT_DOUBLE_EQ(at16.GetReceiverConstant(), 115.72);
    EXPECT_DOUBLE_EQ(at64.GetReceiverConstant(), 121.74);
    at16.UpdateData(Reception(5000, 3000, 4000, 800, 6000));
    at64.UpdateData(Reception(5000, 3000, 4000, 800, 6000));
    EXPECT_NEAR(at16.CalculateFirstPathDb() - at64.CalculateFirstPathDb(), 6.02, 1e-9);
    EXPECT_NEAR(at16.CalculateTotalPathDb() - at64.CalculateTotalPathDb(), 6.02, 1e-9);
}

TEST(SignalStrengthData, OtherPrfFlagsKeepTheSixteenMegahertzConstant) {
    GlobalPrf prf2(2);
    EXPECT_DOUBLE_EQ(SignalStrengthData().GetReceiverConstant(), 115.72);
}

TEST(SignalStrengthData, ZeroAccumulationCountGivesAWeightingIndexOfZero) {
    GlobalPrf prf16(0);
    SignalStrengthData data;
    data.UpdateData(Reception(100, 200, 300, 0, 1000));
    EXPECT_TRUE(std::isinf(data.CalculateFirstPathDb()));
    EXPECT_TRUE(std::isinf(data.CalculateTotalPathDb()));
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(data.CalculateTotalPathDb(), data.CalculateFirstPathDb()),
              0);
    data.UpdateData(Reception(0, 0, 0, 0, 1000));
    EXPECT_TRUE(std::isnan(data.CalculateFirstPathDb()));
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(data.CalculateTotalPathDb(), data.CalculateFirstPathDb()),
              0);
}

TEST(SignalStrengthData, ZeroAmplitudesGiveMinusInfinityAndTheLastTableIndex) {
    GlobalPrf prf16(0);
    SignalStrengthData data;
    data.UpdateData(Reception(0, 0, 0, 1000, 1000));
    EXPECT_EQ(data.CalculateFirstPathDb(), -INFINITY);
    EXPECT_TRUE(std::isfinite(data.CalculateTotalPathDb()));
    EXPECT_EQ(CalculateSignalQualityWeightingIndex(data.CalculateTotalPathDb(), data.CalculateFirstPathDb()),
              4999);
}

}  // namespace
