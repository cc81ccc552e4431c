// The converter is updated on the Internal stream's receiver thread while
// position solves convert on pool threads. Every pair written here lies on
// one line (one unit per 65535 ticks), so any consistent snapshot of two
// pairs converts every tick exactly; a snapshot torn between two updates
// would not (a pair whose tick and time come from different syncs, or the
// same sync twice, which falls back to the 1e-9 span).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "host/devices/deca_tick_to_gnt_converter.h"

namespace {

constexpr int64_t kTicksPerUnit = 65535;
constexpr int64_t kUnitsPerSync = 1000;
// Keeps every tick below 2^39, so no conversion crosses the wrap.
constexpr int kSyncs = 8000;
constexpr int kReaders = 4;
constexpr int kMinimumConversionsPerReader = 20000;

TEST(DecaTickToGntConverterThreaded, ConcurrentConversionsSeeConsistentPairs) {
    DecaTickToGntConverter converter;
    converter.Update(0, 0);
    converter.Update(kUnitsPerSync * kTicksPerUnit, kUnitsPerSync);

    std::atomic<bool> writer_done{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r) {
        readers.emplace_back([&converter, &writer_done, &wrong, r] {
            uint64_t state = 0x9E3779B97F4A7C15ull * static_cast<uint64_t>(r + 1);
            int done = 0;
            while (done < kMinimumConversionsPerReader || !writer_done.load(std::memory_order_acquire)) {
                state = state * 6364136223846793005ull + 1442695040888963407ull;
                const int64_t unit = static_cast<int64_t>((state >> 20) % (kSyncs * kUnitsPerSync));
                if (converter.DecaTicksToGnt(unit * kTicksPerUnit) != unit)
                    wrong.fetch_add(1, std::memory_order_relaxed);
                ++done;
            }
        });
    }
    for (int k = 2; k <= kSyncs; ++k)
        converter.Update(k * kUnitsPerSync * kTicksPerUnit, static_cast<uint32_t>(k * kUnitsPerSync));
    writer_done.store(true, std::memory_order_release);
    for (std::thread& reader : readers)
        reader.join();

    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(converter.DecaTicksToGnt(kSyncs * kUnitsPerSync * kTicksPerUnit), kSyncs * kUnitsPerSync);
}

}  // namespace
