// The RF budget computed from settings made of arbitrary bytes: sync rates of
// any double (0, negative, NaN, tiny, huge), any sensor configuration, any PRF
// byte and up to 65536 + 15 anchors. Every result must carry a status; a
// budget that reports success must add up.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "config/settings.h"
#include "host/scheduling/packet_size_calculator.h"
#include "host/scheduling/packet_timing_calculator.h"
#include "host/scheduling/rf_scheduler_settings.h"
#include "host/scheduling/slottime_calculator.h"
#include "support/fuzz_byte_reader.h"

namespace {

// A rate either as raw bits (any double at all) or spread over 0.001 to 1e6 Hz.
double Rate(ByteReader& in) {
    const uint8_t mode = in.U8();
    if (mode & 1) {
        return in.AnyDouble();
    }
    return 0.001 * std::pow(10.0, 9.0 * in.U16() / 65535.0);
}

void CheckBudget(const RfSchedulerSettings& budget, double rate, uint32_t wireless_anchors) {
    const uint8_t status = budget.GetStatus();
    if (status > 4) {
        std::abort();
    }
    // Not computed exactly when the rate is 0, below 0 or NaN, or when the
    // beacon fits but the cycle would not fit 32 bits.
    if (!(rate > 0.0) && status != 1) {
        std::abort();
    }
    if (status == 1 && rate > 0.0 &&
        (budget.GetBeaconPayloadSize() + 6 > 1021 || 1000000.0 / rate * 0.975 < 4294967296.0)) {
        std::abort();
    }
    if (status != 0) {
        return;
    }
    if (budget.GetMaxNumTags() == 0 || budget.GetBeaconPayloadSize() + 6 > 1021) {
        std::abort();
    }
    // No room for a beacon item in a report of 32 or more anchors.
    if (wireless_anchors >= 32) {
        std::abort();
    }
    if (wireless_anchors == 0 && (budget.GetSlottime(3) != 0 || budget.GetAnchorReportPayloadSize() != 0)) {
        std::abort();
    }
    if (budget.GetAnchorReportPayloadSize() > 1011) {
        std::abort();
    }
    const uint64_t used = uint64_t{budget.GetSlottime(0)} + budget.GetSlottime(1) +
                          uint64_t{wireless_anchors} * budget.GetSlottime(3) +
                          uint64_t{budget.GetMaxNumTags()} * budget.GetSlottime(2);
    if (used + budget.GetSlottime(4) != budget.GetLocationCycle()) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    Settings settings;
    RfNetworkSettings* network = settings.GetRfNetworkSettingsReference();

    const double rate = Rate(in);
    network->SetSyncRate(rate);

    cmd_set_rf_settings_t rf{};
    rf.prf_flag = in.U8();
    rf.bit_rate_code = in.U8();
    rf.preamble_length_code = in.U8();
    network->SetRfSettings(rf);

    sensors_config_t sensors{};
    sensors.enable_flags = in.U8();
    sensors.sample_rate_divisor = in.U8();
    sensors.subsample_rate_divisor = in.U8();
    sensors.payload_headroom = in.U16();
    network->SetTagSensorConfig(sensors);

    // Anchor count: up to 1023, or a few beyond 65536 (which a 16-bit count
    // would wrap to a handful); the large lists are kept rare, they are slow.
    const uint16_t count_bits = in.U16();
    const uint32_t count =
        (count_bits & 0xFFF0u) == 0xFFF0u ? 65536u + (count_bits & 0xFu) : (count_bits & 0x03FFu);
    const uint8_t pattern = in.U8();
    static const char* const kBackhauls[] = {"uwb", "wired", "", "UWB"};
    std::vector<AnchorSettings> anchors(count);
    uint32_t wireless = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned bits = (pattern >> (i % 5)) & 7u;
        anchors[i].SetEnabled((bits & 4u) == 0);
        anchors[i].SetBackhaulType(kBackhauls[bits & 3u]);
        if (anchors[i].GetEnabled() && (bits & 3u) != 1) {
            ++wireless;
        }
    }
    network->SetAnchors(anchors);

    const RfSchedulerSettings budget(&settings);
    CheckBudget(budget, rate, wireless);

    // The calculators with arguments no configuration would give.
    const bool flags[6] = {(sensors.enable_flags & 2) != 0,  (sensors.enable_flags & 1) != 0,
                           (sensors.enable_flags & 4) != 0,  (sensors.enable_flags & 8) != 0,
                           (sensors.enable_flags & 16) != 0, (sensors.enable_flags & 32) != 0};
    const uint16_t rate_divisor = in.U16();
    const uint16_t subsample_divisor = in.U16();
    const double any_rate = in.AnyDouble();
    const uint16_t headroom = in.U16();
    const uint16_t n = in.U16();
    const uint32_t bit_rate = in.U16() * 0x10001u;
    const int prf64 = in.U8() - 128;
    const uint32_t preamble_code = in.U16() * 0x10001u;

    const PacketSizeCalculator sizes;
    const uint16_t payload =
        sizes.ComputeBeaconPayloadSize(flags, rate_divisor, subsample_divisor, any_rate, headroom);
    if (payload != 0 && payload < 5) {
        std::abort();
    }
    SlottimeCalculator slots;
    slots.SetPrfMode(static_cast<dw_prf_mode_t>(rf.prf_flag));
    const PacketTimingCalculator timing;
    const uint32_t with_padding = timing.CalculatePacketDuration_Gnt(n, bit_rate, prf64, preamble_code);
    const uint32_t without = timing.CalculatePacketDuration_Gnt_NoPadding(n, bit_rate, prf64, preamble_code);
    if (without >= with_padding || slots.ComputePacketGnt(n) == 0) {
        std::abort();
    }
    (void)timing.CalculatePacketDuration_Gnt(n, rf);
    (void)sizes.ComputeTotalTagNetworkOverhead(n, payload);
    return 0;
}
