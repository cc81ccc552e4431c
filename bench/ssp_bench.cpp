// Throughput of the SSP framing: the receive parser over a stream of frames,
// frame building, and the checksum on its own.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "protocol/ssp/ssp_checksum.h"
#include "protocol/ssp/ssp_protocol.h"

namespace {

std::vector<uint8_t> RandomBytes(size_t length, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<uint8_t> bytes(length);
    for (auto& b : bytes) {
        b = static_cast<uint8_t>(byte(random));
    }
    return bytes;
}

// About 1 MB of back-to-back frames with the given payload length.
std::vector<uint8_t> MakeFrameStream(uint16_t payload_length) {
    auto sender = std::make_unique<ssp_state_t>();
    ssp_init(sender.get(), SSP_MAX_PAYLOAD_LENGTH);
    const std::vector<uint8_t> payload = RandomBytes(payload_length, payload_length);
    std::vector<uint8_t> stream;
    while (stream.size() < (1u << 20)) {
        std::copy(payload.begin(), payload.end(), sender->tx_buffer + SSP_HEADER_SIZE);
        const uint16_t length = ssp_tx_wrap(sender.get(), payload_length);
        stream.insert(stream.end(), sender->tx_buffer, sender->tx_buffer + length);
    }
    return stream;
}

void BM_SspRxProtocol(benchmark::State& bench_state) {
    const std::vector<uint8_t> stream = MakeFrameStream(static_cast<uint16_t>(bench_state.range(0)));
    auto state = std::make_unique<ssp_state_t>();
    ssp_init(state.get(), SSP_MAX_PAYLOAD_LENGTH);
    size_t frames = 0;
    for (auto _ : bench_state) {
        for (uint8_t byte : stream) {
            if (ssp_rx_protocol(state.get(), byte) != nullptr) {
                ++frames;
            }
        }
        benchmark::DoNotOptimize(frames);
    }
    bench_state.SetBytesProcessed(static_cast<int64_t>(bench_state.iterations() * stream.size()));
    bench_state.counters["frames"] = static_cast<double>(frames);
}
BENCHMARK(BM_SspRxProtocol)->Arg(16)->Arg(128)->Arg(1527);

void BM_SspRxProtocolBlock(benchmark::State& bench_state) {
    const std::vector<uint8_t> stream = MakeFrameStream(static_cast<uint16_t>(bench_state.range(0)));
    auto state = std::make_unique<ssp_state_t>();
    ssp_init(state.get(), SSP_MAX_PAYLOAD_LENGTH);
    size_t frames = 0;
    for (auto _ : bench_state) {
        // Reads of 4 KiB, as a link would get them from its port.
        for (size_t offset = 0; offset < stream.size();) {
            const size_t end = std::min(stream.size(), offset + 4096);
            while (offset < end) {
                size_t consumed = 0;
                if (ssp_rx_protocol_block(state.get(), stream.data() + offset, end - offset, &consumed) !=
                    nullptr) {
                    ++frames;
                }
                offset += consumed;
            }
        }
        benchmark::DoNotOptimize(frames);
    }
    bench_state.SetBytesProcessed(static_cast<int64_t>(bench_state.iterations() * stream.size()));
}
BENCHMARK(BM_SspRxProtocolBlock)->Arg(16)->Arg(128)->Arg(1527);

void BM_SspTxWrap(benchmark::State& bench_state) {
    const uint16_t length = static_cast<uint16_t>(bench_state.range(0));
    auto state = std::make_unique<ssp_state_t>();
    ssp_init(state.get(), SSP_MAX_PAYLOAD_LENGTH);
    const std::vector<uint8_t> payload = RandomBytes(length, 1);
    std::copy(payload.begin(), payload.end(), state->tx_buffer + SSP_HEADER_SIZE);
    for (auto _ : bench_state) {
        benchmark::DoNotOptimize(ssp_tx_wrap(state.get(), length));
        benchmark::ClobberMemory();
    }
    bench_state.SetItemsProcessed(static_cast<int64_t>(bench_state.iterations()));
    bench_state.SetBytesProcessed(static_cast<int64_t>(bench_state.iterations()) * (length + 9));
}
BENCHMARK(BM_SspTxWrap)->Arg(0)->Arg(16)->Arg(128)->Arg(1527);

void BM_SspChecksum(benchmark::State& bench_state) {
    const uint16_t length = static_cast<uint16_t>(bench_state.range(0));
    const std::vector<uint8_t> data = RandomBytes(length, 2);
    for (auto _ : bench_state) {
        benchmark::DoNotOptimize(ssp_checksum(data.data(), length));
    }
    bench_state.SetBytesProcessed(static_cast<int64_t>(bench_state.iterations()) * length);
}
BENCHMARK(BM_SspChecksum)->Arg(16)->Arg(128)->Arg(1532);

}  // namespace
