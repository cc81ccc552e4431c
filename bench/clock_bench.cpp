// Device time conversions run once per anchor response and per solve, the
// weighting index three times per anchor of every solve: these measure them
// in calls per second.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "host/devices/deca_tick_to_gnt_converter.h"
#include "host/devices/dw_clock.h"
#include "host/signal/signal_quality.h"
#include "host/signal/signal_strength_data.h"

namespace {

constexpr int64_t kWrap = int64_t{1} << 40;
constexpr int64_t kSyncPeriodTicks = 6389760000;  // 100 ms of device ticks

// Local times spread over the sync window and a tenth of a period beyond it,
// across the 40-bit wrap, so the interpolation never sees one repeated input.
void BM_ToGlobalInterp(benchmark::State& state) {
    DwClock clock;
    const int64_t previous_local = kWrap - kSyncPeriodTicks / 2;
    clock.Update(1000000, previous_local, -80.0, -78.0);
    clock.Update(1000000 + kSyncPeriodTicks + 3, (previous_local + kSyncPeriodTicks) % kWrap, -80.0, -78.0);
    const int64_t reach = kSyncPeriodTicks + kSyncPeriodTicks / 10;
    int64_t elapsed = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(clock.ToGlobalInterp((previous_local + elapsed) & (kWrap - 1)));
        elapsed += 7919113;
        if (elapsed >= reach)
            elapsed -= reach;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ToGlobalInterp);

// Local times far from the window, so the result leaves the int64_t range
// and takes the modular reduction.
void BM_ToGlobalInterpFarExtrapolation(benchmark::State& state) {
    DwClock clock;
    clock.Update(0, 0, 0.0, 0.0);
    clock.Update(kWrap - 1, 1, 0.0, 0.0);
    int64_t local = kWrap / 3;
    for (auto _ : state) {
        benchmark::DoNotOptimize(clock.ToGlobalInterp(local));
        local = (local + 7919113) & (kWrap - 1);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ToGlobalInterpFarExtrapolation);

void BM_RdoaFromClocks(benchmark::State& state) {
    int64_t a = 5;
    for (auto _ : state) {
        benchmark::DoNotOptimize(DwClock::rdoa_from_clocks(a, kWrap - 5));
        a = (a + 7919113) & (kWrap - 1);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RdoaFromClocks);

DecaTickToGntConverter& SharedConverter() {
    static DecaTickToGntConverter converter;
    static const bool initialised = [] {
        converter.Update(kWrap - kSyncPeriodTicks / 2, 4000000000u);
        converter.Update(kSyncPeriodTicks / 2, 4000097502u);
        return true;
    }();
    (void)initialised;
    return converter;
}

// One thread: the uncontended mutex plus the arithmetic. With several
// threads: solves converting at the same time on the pool.
void BM_DecaTicksToGnt(benchmark::State& state) {
    DecaTickToGntConverter& converter = SharedConverter();
    int64_t ticks = static_cast<int64_t>(state.thread_index()) * 104729;
    for (auto _ : state) {
        benchmark::DoNotOptimize(converter.DecaTicksToGnt(ticks));
        ticks = (ticks + 7919113) & (kWrap - 1);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecaTicksToGnt)->Threads(1)->Threads(4);

void BM_SignalQualityWeightingIndex(benchmark::State& state) {
    double gap = -25.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(CalculateSignalQualityWeightingIndex(gap, 0.0));
        gap += 0.0137;
        if (gap > 35.0)
            gap = -25.0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SignalQualityWeightingIndex);

// The location engine's anchor weight: three table weights multiplied, with
// the reception's powers computed from its receive-quality values.
void BM_AnchorWeightFromReception(benchmark::State& state) {
    SignalStrengthData data;
    uint16_t amplitude = 3000;
    for (auto _ : state) {
        data.UpdateData(signal_strength_t{amplitude, 4000, 5000, 800, 6000, 0});
        const double total = data.CalculateTotalPathDb();
        const double first = data.CalculateFirstPathDb();
        benchmark::DoNotOptimize(CalculateSignalQualityWeight(-78.0, -80.0) *
                                 CalculateSignalQualityWeight(total, first) *
                                 CalculateSignalQualityWeight(-79.0, -80.5));
        amplitude = static_cast<uint16_t>(amplitude + 97);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AnchorWeightFromReception);

}  // namespace
