// Vuv packet encoding, validated decoding and loopback throughput of one
// connection on "lo".
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

#include "base/network_socket_settings.h"
#include "protocol/vex/vex_connection.h"
#include "protocol/vex/vex_data_types.h"
#include "protocol/vex/vex_packet.h"

namespace {

// What the location engine publishes per tag report: three anchor status
// items, four anchor diagnostics, the solve's diagnostic and the position.
VexPacket TagPositionPacket() {
    VexPacket packet(0x01030005);
    for (uint32_t i = 0; i < 3; ++i) {
        VexData_Add(packet, vex_data_anchor_status_t{0x01020000 + i, static_cast<uint8_t>(i == 0 ? 1 : 0)});
    }
    for (uint32_t i = 0; i < 4; ++i) {
        VexData_Add(packet, vex_data_toa_anchor_t{0x01020000 + i, 0x12345678ull + i, 250000, -12});
    }
    VexData_Add(packet, vex_data_toa_solution_t{1000, 2000, 1500, 7});
    VexData_Add(packet, vex_data_position_t{1234, -5678, 900, 14, 3, 77, 0x12345678});
    return packet;
}

std::unique_ptr<uint8_t[]> EncodedTagPositionPacket(uint16_t* size) {
    VexPacket packet = TagPositionPacket();
    return std::unique_ptr<uint8_t[]>(packet.CreateBufferWithSequenceNumber(5, size));
}

void BM_EncodeTagPositionPacket(benchmark::State& state) {
    VexPacket packet = TagPositionPacket();
    uint32_t sequence = 0;
    for (auto _ : state) {
        uint16_t size = 0;
        const std::unique_ptr<uint8_t[]> buffer(packet.CreateBufferWithSequenceNumber(sequence++, &size));
        benchmark::DoNotOptimize(buffer.get());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("packets");
}
BENCHMARK(BM_EncodeTagPositionPacket);

// The producer's whole cost: building the packet from its records, then encoding.
void BM_BuildAndEncodeTagPositionPacket(benchmark::State& state) {
    uint32_t sequence = 0;
    for (auto _ : state) {
        VexPacket packet = TagPositionPacket();
        const std::unique_ptr<uint8_t[]> buffer(packet.CreateBufferWithSequenceNumber(sequence++));
        benchmark::DoNotOptimize(buffer.get());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("packets");
}
BENCHMARK(BM_BuildAndEncodeTagPositionPacket);

// What the receiver does per datagram: a fresh packet, whole-datagram
// validation and decoding into shared items.
void BM_DecodeValidatedTagPositionPacket(benchmark::State& state) {
    uint16_t size = 0;
    const std::unique_ptr<uint8_t[]> datagram = EncodedTagPositionPacket(&size);
    for (auto _ : state) {
        VexPacket packet(0);
        const bool accepted = packet.ConvertPacketBuffer(datagram.get(), size);
        benchmark::DoNotOptimize(accepted);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * size);
    state.SetLabel("packets");
}
BENCHMARK(BM_DecodeValidatedTagPositionPacket);

void BM_ValidateOnlyTagPositionPacket(benchmark::State& state) {
    uint16_t size = 0;
    const std::unique_ptr<uint8_t[]> datagram = EncodedTagPositionPacket(&size);
    for (auto _ : state) {
        benchmark::DoNotOptimize(VexPacket::IsValidPacketBuffer(datagram.get(), size));
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("packets");
}
BENCHMARK(BM_ValidateOnlyTagPositionPacket);

void EnsureApplication() {
    static int argc = 1;
    static char name[] = "vex_bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

// Sends batches of tag position packets on one connection and counts what
// its own receiver gets back. range(0) bounds the packets in flight (sent and
// not yet received); 0 sends without any bound.
void BM_LoopbackThroughput(benchmark::State& state) {
    EnsureApplication();
    const uint32_t window = static_cast<uint32_t>(state.range(0));
    constexpr uint32_t kBatch = 2000;
    VexConnection connection(NetworkSocketSettings("239.255.41.100", 41100, 1, "lo"));
    std::atomic<uint32_t> received{0};
    connection.Subscribe(VexType::kPosition, [&received](uint32_t, uint32_t, const VexDataItem&) {
        received.fetch_add(1, std::memory_order_release);
    });
    VexPacket packet = TagPositionPacket();
    uint64_t sent = 0;
    uint64_t lost = 0;
    for (auto _ : state) {
        const uint32_t before = received.load(std::memory_order_acquire);
        for (uint32_t i = 0; i < kBatch; ++i) {
            if (window != 0) {
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
                while (i - (received.load(std::memory_order_acquire) - before) >= window &&
                       std::chrono::steady_clock::now() < deadline) {
                    std::this_thread::yield();
                }
            }
            connection.Publish(packet);
        }
        sent += kBatch;
        // Wait until the batch is in or nothing more arrives for 50 ms.
        uint32_t seen = received.load(std::memory_order_acquire);
        auto quiet_since = std::chrono::steady_clock::now();
        while (seen - before < kBatch &&
               std::chrono::steady_clock::now() - quiet_since < std::chrono::milliseconds(50)) {
            std::this_thread::yield();
            const uint32_t now = received.load(std::memory_order_acquire);
            if (now != seen) {
                seen = now;
                quiet_since = std::chrono::steady_clock::now();
            }
        }
        lost += kBatch - (seen - before);
    }
    state.counters["sent"] = benchmark::Counter(static_cast<double>(sent), benchmark::Counter::kIsRate);
    state.counters["received"] =
        benchmark::Counter(static_cast<double>(sent - lost), benchmark::Counter::kIsRate);
    state.counters["lost"] = benchmark::Counter(static_cast<double>(lost));
    state.counters["lost_pct"] =
        benchmark::Counter(sent == 0 ? 0.0 : 100.0 * static_cast<double>(lost) / sent);
    connection.ClearSubscriptions();
}
BENCHMARK(BM_LoopbackThroughput)->Arg(0)->Arg(64)->Arg(256)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
