// RF budget computation and time-slot table operations on a table of 300 windows.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "config/settings.h"
#include "host/scheduling/rf_scheduler.h"
#include "host/scheduling/rf_scheduler_settings.h"

namespace {

// 10 Hz, 64 MHz PRF, gyroscope, accelerometer, pressure and temperature, with
// the given number of wireless anchors.
void MakeSite(Settings* settings, int anchors) {
    RfNetworkSettings* network = settings->GetRfNetworkSettingsReference();
    cmd_set_rf_settings_t rf{};
    rf.prf_flag = 1;
    network->SetRfSettings(rf);
    network->SetSyncRate(10.0);
    sensors_config_t sensors{};
    sensors.enable_flags = 0x33;
    sensors.sample_rate_divisor = 9;
    sensors.subsample_rate_divisor = 1;
    network->SetTagSensorConfig(sensors);
    std::vector<AnchorSettings> list(anchors);
    for (AnchorSettings& anchor : list) {
        anchor.SetBackhaulType("uwb");
    }
    network->SetAnchors(list);
}

void BM_RfBudget(benchmark::State& state) {
    Settings settings;
    MakeSite(&settings, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        RfSchedulerSettings budget(&settings);
        benchmark::DoNotOptimize(budget);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RfBudget)->Arg(0)->Arg(4)->Arg(31)->Arg(1000);

constexpr uint32_t kHeld = 600;
constexpr uint32_t kGap = 400;
constexpr int kWindows = 300;

// 150 held windows, each followed by a free gap: 300 windows. One gap (the
// first or the last) is twice as long, so that a request of 3/2 gap fits only
// there and a search from the other end walks the whole table.
enum class LongGap { kFirst, kLast };

bool MakeTable(RfScheduler* scheduler, LongGap long_gap) {
    scheduler->UpdateSyncPeriod(kWindows / 2 * (kHeld + kGap) + kGap);
    const uint32_t long_owner = long_gap == LongGap::kFirst ? 1 : kWindows / 2;
    for (uint32_t owner = 1; owner <= kWindows / 2; ++owner) {
        scheduler->ReserveTimeSlot(owner, kHeld);
        // A placeholder holds the gap until the table is complete.
        scheduler->ReserveTimeSlot(0xF0000000u + owner, owner == long_owner ? 2 * kGap : kGap);
    }
    // Free the placeholders; their neighbours are held, so nothing merges.
    for (int index = kWindows - 1; index > 0; index -= 2) {
        int at = index;
        scheduler->ReclaimTimeReservation(at);
    }
    return scheduler->GetTimeReservations().size() == kWindows && scheduler->IsConsistent();
}

int IndexOf(const RfScheduler& scheduler, uint32_t start) {
    const auto& table = scheduler.GetTimeReservations();
    const auto it = std::lower_bound(table.begin(), table.end(), start,
                                     [](const TIME_RESERVATION_T& w, uint32_t s) { return w.start < s; });
    return static_cast<int>(it - table.begin());
}

// One reservation and its release per iteration; the table returns to its
// 300 windows each time.
void BM_ReserveRelease(benchmark::State& state, LongGap long_gap, bool from_end, uint32_t duration) {
    RfScheduler scheduler(0.0);
    if (!MakeTable(&scheduler, long_gap)) {
        state.SkipWithError("table not built");
        return;
    }
    for (auto _ : state) {
        const TIME_RESERVATION_T window = from_end ? scheduler.ReserveTimeSlot_FromEnd(0xABCD, duration)
                                                   : scheduler.ReserveTimeSlot(0xABCD, duration);
        int index = IndexOf(scheduler, window.start);
        scheduler.ReclaimTimeReservation(index);
    }
    state.SetItemsProcessed(state.iterations());
}
// Only the last (first) gap fits: the search walks all 300 windows.
BENCHMARK_CAPTURE(BM_ReserveRelease, first_fit_walks_to_the_end, LongGap::kLast, false, kGap * 3 / 2);
BENCHMARK_CAPTURE(BM_ReserveRelease, from_end_walks_to_the_start, LongGap::kFirst, true, kGap * 3 / 2);
// The first free window fits at once.
BENCHMARK_CAPTURE(BM_ReserveRelease, first_fit_in_the_first_gap, LongGap::kLast, false, kGap / 2);

void BM_GetTimeSlot_ExistingLastWindow(benchmark::State& state) {
    RfScheduler scheduler(0.0);
    if (!MakeTable(&scheduler, LongGap::kLast)) {
        state.SkipWithError("table not built");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(scheduler.GetTimeSlot(kWindows / 2, kHeld, 0));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetTimeSlot_ExistingLastWindow);

}  // namespace
