// Receiver-thread cost of a tag's reports and pings: time-of-arrival report
// assembly (16 anchors answer each transmission; sanity check with the
// range-difference vote, anchor status items, encoding and the hand-over to
// the receiver included), and the ping's user data (repeats, and new pings
// trickling accelerometer records).
#include <benchmark/benchmark.h>

#include <QByteArray>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "base/device_time.h"
#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "host/devices/dw_node.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/sensor_data_accel_packet.h"
#include "protocol/trickle/trickle_buffer_consumer.h"

namespace {

constexpr int kAnchorCount = 16;
constexpr uint32_t kSyncPeriodMs = 100;
// The solver takes the tag's packet once per report; here once every this
// many reports, so that the packet stays small.
constexpr int kReportsPerPacketTake = 8;

// Keeps the size of what it is handed, as the engine keeps the report.
class CountingReceiver : public ToaReportReceiver {
  public:
    void ToaRxCallback(QByteArray report) override { bytes += report.size(); }
    int64_t bytes = 0;
};

struct site_t {
    DwNodeMap anchors;
    std::shared_ptr<DwTag> tag;
    // TOA offset of each anchor from the transmit time, for a tag at (9, 4, 1).
    std::vector<int64_t> flight_ticks;
};

site_t MakeSite() {
    Settings defaults;
    Settings::GlobalSettings()->CopyFromOtherSettings(&defaults);
    FlatSettingsInterface settings(Settings::GlobalSettings());
    settings.GetHostSettings()->SetUseRdoaSanityCheck(true);
    // Reports here come microseconds apart, so any finite velocity would
    // allow no move at all and strip every report down to one response. An
    // unlimited velocity keeps the reports whole, as plausible reports are in
    // service, while every step of the check still runs.
    settings.GetHostSettings()->SetMaxTagVelocity(std::numeric_limits<double>::infinity());
    const double speed_of_light = settings.GetSpeedOfLight();
    site_t site;
    for (int i = 0; i < kAnchorCount; ++i) {
        const double angle = 2.0 * M_PI * i / kAnchorCount;
        AnchorSettings anchor;
        anchor.SetSerialNumber(0x01030000 + i);
        anchor.SetX(9.0 + 15.0 * std::cos(angle));
        anchor.SetY(4.0 + 10.0 * std::sin(angle));
        anchor.SetZ(2.5 + (i % 3));
        site.anchors[anchor.GetSerialNumber()] =
            std::make_shared<DwAnchor>(anchor, static_cast<uint16_t>(2 + i), kSyncPeriodMs);
        const double metres = std::sqrt(std::pow(anchor.GetX() - 9.0, 2) + std::pow(anchor.GetY() - 4.0, 2) +
                                        std::pow(anchor.GetZ() - 1.0, 2));
        site.flight_ticks.push_back(std::llround(metres / speed_of_light * kDeviceTicksPerSecond));
    }
    TagSettings tag;
    tag.SetSerialNumber(0x01040000);
    site.tag = std::make_shared<DwTag>(tag, 30, kSyncPeriodMs);
    site.tag->SetInitialPosition(9.0, 4.0, 1.0);
    return site;
}

void BM_ReportAssembly(benchmark::State& state) {
    site_t site = MakeSite();
    CountingReceiver receiver;
    uint32_t sequence = 0;
    int64_t transmit = 1000000;
    int reports = 0;
    for (auto _ : state) {
        ++sequence;
        transmit = static_cast<int64_t>(DeviceTimeMask(static_cast<uint64_t>(transmit) + 6389760000));
        for (int i = 0; i < kAnchorCount; ++i) {
            const int64_t toa =
                static_cast<int64_t>(DeviceTimeMask(static_cast<uint64_t>(transmit + site.flight_ticks[i])));
            site.tag->ProcessReportResponse(&receiver, sequence, static_cast<int16_t>(2 + i), 0x01030000 + i,
                                            toa, site.anchors, -80.0, -78.0, kAnchorCount);
        }
        if (++reports % kReportsPerPacketTake == 0) {
            benchmark::DoNotOptimize(site.tag->GetVexPacket());
        }
    }
    state.SetItemsProcessed(state.iterations() * kAnchorCount);
    state.counters["report_bytes"] =
        benchmark::Counter(static_cast<double>(receiver.bytes), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReportAssembly);

// The user data of consecutive pings: accelerometer records trickled through
// chunks of `chunk_size` bytes (a record continued into the next chunk opens
// it with its continuation header).
std::vector<std::vector<uint8_t>> AccelerometerChunks(size_t chunk_size, size_t count) {
    std::vector<uint8_t> record(device_protocol::kSensorDataAccelSize);
    sensor_data_accel_t accel{
        {device_protocol::kSensorDataAccelSize, device_protocol::kSensorAccelerometer}, 0x1200, 1, -2, 3};
    SensorDataAccel_ToBuff(record.data(), &accel);
    std::vector<std::vector<uint8_t>> chunks;
    size_t carried = 0;  // bytes of the current record already sent
    while (chunks.size() < count) {
        std::vector<uint8_t> chunk;
        if (carried != 0) {
            const size_t rest = std::min(record.size() - carried, chunk_size - 2);
            chunk.push_back(static_cast<uint8_t>(2 + rest));
            chunk.push_back(kTrickleContinuationMarker);
            chunk.insert(chunk.end(), record.begin() + carried, record.begin() + carried + rest);
            carried = (carried + rest) % record.size();
        }
        while (carried == 0 && chunk.size() < chunk_size) {
            const size_t taken = std::min(record.size(), chunk_size - chunk.size());
            chunk.insert(chunk.end(), record.begin(), record.begin() + taken);
            carried = taken % record.size();
        }
        chunks.push_back(chunk);
    }
    return chunks;
}

void BM_UpdatePayloadNewPing(benchmark::State& state) {
    site_t site = MakeSite();
    // 256 chunks: the sequence wraps where the chunk list does.
    const auto chunks = AccelerometerChunks(static_cast<size_t>(state.range(0)), 256);
    vex_data_ping_t ping{};
    size_t next = 0;
    int64_t packets = 0;
    for (auto _ : state) {
        ping.sequence = static_cast<uint8_t>(next);
        const auto& chunk = chunks[next];
        next = (next + 1) % chunks.size();
        const auto packet =
            site.tag->UpdatePayload(&ping, chunk.data(), static_cast<uint16_t>(chunk.size()), 0x12345678);
        packets += packet ? 1 : 0;
        benchmark::DoNotOptimize(packet);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["sensor_packets"] =
        benchmark::Counter(static_cast<double>(packets), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_UpdatePayloadNewPing)->Arg(8)->Arg(32);

// The same ping again, as every anchor that heard it reports it.
void BM_UpdatePayloadRepeat(benchmark::State& state) {
    site_t site = MakeSite();
    const auto chunks = AccelerometerChunks(12, 1);
    vex_data_ping_t ping{};
    ping.sequence = 5;
    site.tag->UpdatePayload(&ping, chunks[0].data(), static_cast<uint16_t>(chunks[0].size()), 0x12345678);
    for (auto _ : state) {
        benchmark::DoNotOptimize(site.tag->UpdatePayload(
            &ping, chunks[0].data(), static_cast<uint16_t>(chunks[0].size()), 0x12345678));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UpdatePayloadRepeat);

}  // namespace
