// Encoding and decoding a time-of-arrival report of 16 anchors, the record
// every tag transmission produces on its way to the solver.
#include <benchmark/benchmark.h>

#include <vector>

#include "protocol/reports/derazud_toa_rpt.h"

namespace {

constexpr int kAnchors = 16;

std::vector<derazud_toa_t> MakeToas() {
    std::vector<derazud_toa_t> toas(kAnchors);
    for (int i = 0; i < kAnchors; ++i) {
        toas[static_cast<size_t>(i)] =
            derazud_toa_t{0x01000000u + static_cast<uint64_t>(i), static_cast<uint16_t>(i + 1),
                          0x12345678LL * (i + 1), -80.0 - i, -76.0 - i};
    }
    return toas;
}

derazud_toa_rpt_t MakeReport(derazud_toa_t* toas) {
    derazud_toa_rpt_t report{};
    report.creation_time = 1700000000123ull;
    report.serial_number = 0x01000042;
    report.network_id = 42;
    report.count = kAnchors;
    report.sequence = 7;
    report.toas = toas;
    return report;
}

void BM_DerAzudToaRptToBuff(benchmark::State& state) {
    std::vector<derazud_toa_t> toas = MakeToas();
    const derazud_toa_rpt_t report = MakeReport(toas.data());
    std::vector<uint8_t> buffer(static_cast<size_t>(DerAzudToaRpt_EncodedSize(&report)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(DerAzudToaRpt_ToBuff(buffer.data(), &report));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK(BM_DerAzudToaRptToBuff);

// Each decode allocates the entry array and frees it again, as the solver does.
void BM_DerAzudToaRptFromBuff(benchmark::State& state) {
    std::vector<derazud_toa_t> toas = MakeToas();
    const derazud_toa_rpt_t report = MakeReport(toas.data());
    std::vector<uint8_t> buffer(static_cast<size_t>(DerAzudToaRpt_EncodedSize(&report)));
    DerAzudToaRpt_ToBuff(buffer.data(), &report);
    const int length = static_cast<int>(buffer.size());
    for (auto _ : state) {
        derazud_toa_rpt_t decoded;
        benchmark::DoNotOptimize(DerAzudToaRpt_FromBuff(&decoded, buffer.data(), length));
        benchmark::DoNotOptimize(decoded.toas);
        DerAzudToaRpt_Cleanup(&decoded);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK(BM_DerAzudToaRptFromBuff);

}  // namespace
