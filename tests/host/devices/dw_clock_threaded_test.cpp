// A node's clock is updated on the Internal stream's receiver thread while
// position solves read its sync powers from pool threads without a lock.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "host/devices/dw_clock.h"

namespace {

constexpr int kSyncs = 20000;
constexpr int kReaders = 3;
constexpr int kMinimumReadsPerReader = 20000;

// Sync k carries first-path power -k and total-path power -k - 0.5.
bool IsWrittenFirstPath(double value) {
    return value <= 0.0 && value >= -kSyncs && value == std::floor(value);
}
bool IsWrittenTotalPath(double value) {
    return value == 0.0 ||
           (value <= -1.5 && value >= -kSyncs - 0.5 && value + 0.5 == std::floor(value + 0.5));
}

TEST(DwClockThreaded, PowersReadDuringUpdatesAreValuesThatWereWritten) {
    DwClock clock;
    std::atomic<bool> writer_done{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r) {
        readers.emplace_back([&clock, &writer_done, &wrong] {
            int done = 0;
            while (done < kMinimumReadsPerReader || !writer_done.load(std::memory_order_acquire)) {
                if (!IsWrittenFirstPath(clock.GetRaFirstPath()) ||
                    !IsWrittenFirstPath(clock.GetRcFirstPath()) ||
                    !IsWrittenTotalPath(clock.GetRaTotalPath()) ||
                    !IsWrittenTotalPath(clock.GetRcTotalPath()))
                    wrong.fetch_add(1, std::memory_order_relaxed);
                (void)clock.LastUpdateAgeMs();
                ++done;
            }
        });
    }
    for (int k = 1; k <= kSyncs; ++k)
        EXPECT_TRUE(clock.Update(k * 1000, k * 1000 + 7, -k, -k - 0.5));
    writer_done.store(true, std::memory_order_release);
    for (std::thread& reader : readers)
        reader.join();

    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(clock.GetRaFirstPath(), -(kSyncs - 1));
    EXPECT_EQ(clock.GetRcTotalPath(), -kSyncs - 0.5);
}

}  // namespace
