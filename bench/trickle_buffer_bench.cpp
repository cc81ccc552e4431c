// Throughput of the trickle reassembly: a stream of 10-byte sensor messages
// cut into pings of a fixed user-data size, so most messages straddle two
// chunks as they do on the air.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "protocol/trickle/trickle_buffer_consumer.h"

namespace {

std::vector<std::vector<uint8_t>> MakeChunks(size_t chunk_size, size_t count) {
    constexpr uint8_t kMessageLength = 10;
    std::vector<std::vector<uint8_t>> chunks;
    uint8_t pending = 0;  // bytes of the current message still to send
    uint8_t value = 0;
    for (size_t c = 0; c < count; ++c) {
        std::vector<uint8_t> chunk;
        if (pending > 0) {
            const size_t carried = pending < chunk_size - 2 ? pending : chunk_size - 2;
            chunk.push_back(static_cast<uint8_t>(2 + carried));
            chunk.push_back(kTrickleContinuationMarker);
            for (size_t i = 0; i < carried; ++i) {
                chunk.push_back(value++);
            }
            pending = static_cast<uint8_t>(pending - carried);
        }
        while (chunk.size() < chunk_size && pending == 0) {
            chunk.push_back(kMessageLength);
            pending = kMessageLength - 1;
            while (chunk.size() < chunk_size && pending > 0) {
                chunk.push_back(value++);
                --pending;
            }
        }
        chunks.push_back(chunk);
    }
    return chunks;
}

void BM_TrickleBufferConsume(benchmark::State& state) {
    const auto chunks = MakeChunks(static_cast<size_t>(state.range(0)), 1024);
    trickle_buffer_consumer_t consumer;
    TrickleBuffer_InitConsumer(&consumer);
    size_t next = 0;
    size_t bytes_out = 0;
    for (auto _ : state) {
        const auto& chunk = chunks[next];
        next = (next + 1) % chunks.size();
        uint16_t total = 0;
        uint8_t* out =
            TrickleBuffer_Consume(&consumer, chunk.data(), static_cast<uint16_t>(chunk.size()), &total);
        benchmark::DoNotOptimize(out);
        bytes_out += total;
        std::free(out);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.counters["message_bytes"] =
        benchmark::Counter(static_cast<double>(bytes_out), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TrickleBufferConsume)->Arg(8)->Arg(16)->Arg(64);

}  // namespace
