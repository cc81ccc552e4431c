// Receiver-side handling of Internal-stream items by the location engine, as
// the Backlink's callbacks hand them over on the receiver thread: ticks of the
// started master, the anchors' timed receptions of syncs with the tag pings
// between them (which assemble reports and hand them to the solve pool), and
// announcements with their admission. Items per second are reported.
#include <benchmark/benchmark.h>

#include <QThreadPool>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/dpu/dpu.h"
#include "protocol/vex/vex_data_types.h"
#include "support/dpu_test_site.h"

namespace {

using namespace dpu_test_site;

class NullPublisher : public VexPublisher {
  public:
    void PublishOutputVex(VexPacket&) override {}
    void PublishInputVex(VexPacket&) override {}
};

constexpr int64_t kTicksPerSync = 6389760000;

struct Engine {
    Engine() : site(Install()) {
        SilencedStdout quiet;
        Dpu::BringUpTimings timings;
        timings.stop_attempt_sleep_ms = 0;
        timings.master_start_sleep_ms = 0;
        dpu.SetBringUpTimingsForTesting(timings);
        dpu.Init({}, site.node_manager, site.scheduler, site.budget);
        dpu.AttachPublisher(std::make_shared<NullPublisher>());
        dpu.InitializeMasterNode();
    }
    ~Engine() { QThreadPool::globalInstance()->waitForDone(); }
    site_t site;
    Dpu dpu;
};

VexDataItem TimedRx(int64_t masterTime, int64_t localTime) {
    vex_data_timed_rx_t rx{};
    rx.serial_number = kMaster;
    rx.network_id = 1;
    rx.packet_type = kVexRxPacketSync;
    rx.tx_time = static_cast<uint64_t>(masterTime) & 0xFFFFFFFFFFull;
    rx.rx_time = static_cast<uint64_t>(localTime) & 0xFFFFFFFFFFull;
    rx.signal_strength = signal_strength_t{3000, 3000, 3000, 1000, 2000, 0};
    return VexDataItem(VexType::kTimedRx, sizeof(rx), &rx);
}

VexDataItem Ping(uint8_t sequence, int64_t localTime) {
    vex_data_ping_t ping{};
    ping.sequence = sequence;
    ping.serial_number = kTag;
    ping.network_id = 6;
    ping.rx_time = static_cast<uint64_t>(localTime) & 0xFFFFFFFFFFull;
    ping.signal_strength = signal_strength_t{3000, 3000, 3000, 1000, 2000, 0};
    return VexDataItem(VexType::kPing, sizeof(ping), &ping);
}

VexDataItem Tick(uint32_t networkTime, int64_t transmitTime) {
    vex_data_tick_t tick{};
    tick.serial_number = kMaster;
    tick.network_time = networkTime;
    tick.transmit_time = static_cast<uint64_t>(transmitTime) & 0xFFFFFFFFFFull;
    return VexDataItem(VexType::kTick, sizeof(tick), &tick);
}

void BM_Ticks(benchmark::State& state) {
    Engine engine;
    const uint32_t period = engine.dpu.GetSyncPeriod();
    uint32_t networkTime = 10 * period;
    int64_t transmitTime = 0;
    for (auto _ : state) {
        networkTime += period;
        transmitTime += kTicksPerSync;
        engine.dpu.RxVexTick(kMaster, Tick(networkTime, transmitTime));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Ticks);

// One sync period of a tag heard by the four anchors: four timed receptions
// (which map the pings queued before them) and four pings; one report per
// period goes to the pool.
void BM_SyncsAndPings(benchmark::State& state) {
    Engine engine;
    SilencedStdout quiet;
    int64_t sync = 10000000000;
    uint8_t sequence = 0;
    for (auto _ : state) {
        for (int a = 0; a < 4; ++a) {
            engine.dpu.RxVexTimedRx(kAnchors[a], TimedRx(sync, sync + 1000 * (a + 1)));
        }
        ++sequence;
        for (int a = 0; a < 4; ++a) {
            engine.dpu.RxVexPing(kAnchors[a], Ping(sequence, sync + kTicksPerSync / 2 + 300 * a));
        }
        sync += kTicksPerSync;
    }
    state.SetItemsProcessed(state.iterations() * 8);
}
BENCHMARK(BM_SyncsAndPings);

// A tick then an announcement of an unknown device: its admission, its
// 0x0104 item and its commands for the master.
void BM_Admissions(benchmark::State& state) {
    Engine engine;
    SilencedStdout quiet;
    const uint32_t period = engine.dpu.GetSyncPeriod();
    uint32_t networkTime = 10 * period;
    vex_data_discovery_t discovery{};
    discovery.serial_number = 0x0BADBEEF;
    const VexDataItem announce(VexType::kDiscovery, sizeof(discovery), &discovery);
    for (auto _ : state) {
        networkTime += period;
        engine.dpu.RxVexTick(kMaster, Tick(networkTime, networkTime));
        engine.dpu.RxVexDiscovery(kAnchors[0], announce);
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_Admissions);

}  // namespace
