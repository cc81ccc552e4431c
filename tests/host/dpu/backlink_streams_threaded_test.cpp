// The Backlink's streams send from threads of their own: what any thread
// publishes leaves even while the thread that built the streams is blocked
// without running its event loop (as the host's thread is in a network reset,
// and the main thread during the quit-time stop), and a close sends what was
// published before it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "host/dpu/backlink_streams.h"
#include "protocol/vex/vex_connection.h"
#include "protocol/vex/vex_data_types.h"
#include "support/loopback_streams.h"

namespace {

using namespace std::chrono_literals;

constexpr uint16_t kOutputPort = 45400;
constexpr uint16_t kInputPort = 45401;
constexpr uint16_t kClosePort = 45402;
constexpr uint16_t kCloseInputPort = 45403;

// Collects the sequence values of the tick items seen on one stream, on its
// receiver thread, and lets another thread wait for a count without running
// an event loop.
class TickCollector {
  public:
    explicit TickCollector(uint16_t port) : connection_(LoopbackStream(port)) {
        connection_.Subscribe(VexType::kTick, [this](uint32_t, uint32_t, const VexDataItem& item) {
            vex_data_tick_t tick;
            if (item.GetDataSize() < sizeof(tick))
                return;
            std::memcpy(&tick, item.GetData(), sizeof(tick));
            // Copied out: the record is packed, a reference to its field unaligned.
            const uint32_t value = tick.network_time;
            std::lock_guard<std::mutex> lock(mutex_);
            seen_.insert(value);
            changed_.notify_all();
        });
    }

    bool WaitForCount(size_t count, std::chrono::milliseconds bound = 10s) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, bound, [&] { return seen_.size() >= count; });
    }

    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_.size();
    }

  private:
    VexConnection connection_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<uint32_t> seen_;
};

VexPacket TickPacket(uint32_t value) {
    vex_data_tick_t tick{};
    tick.network_time = value;
    VexPacket packet(1);
    packet.AddDataItem(VexType::kTick, sizeof(tick), &tick);
    return packet;
}

TEST(BacklinkStreamsTest, PublicationsLeaveWhileTheBuildingThreadIsBlocked) {
    TickCollector internal(kInputPort);
    TickCollector external(kOutputPort);
    BacklinkStreams streams(LoopbackStream(kOutputPort), LoopbackStream(kInputPort));
    ASSERT_FALSE(streams.IsOneConnection());

    // Another thread publishes (a link answering the master's stop) while this
    // thread, which built the streams, waits without processing any event.
    std::atomic<bool> stop(false);
    std::thread publisher([&] {
        for (uint32_t value = 1; !stop.load(); ++value) {
            VexPacket input = TickPacket(value);
            streams.PublishInputVex(input);
            VexPacket output = TickPacket(value);
            streams.PublishOutputVex(output);
            std::this_thread::sleep_for(20ms);
        }
    });
    const bool internal_seen = internal.WaitForCount(3);
    const bool external_seen = external.WaitForCount(3);
    stop.store(true);
    publisher.join();
    EXPECT_TRUE(internal_seen);
    EXPECT_TRUE(external_seen);
    streams.Close();
    EXPECT_TRUE(streams.IsClosed());
}

// Published from another thread, then closed: everything published leaves,
// from one connection serving both streams and from two connections (each
// sending in a thread of its own).
void ExpectCloseSendsWhatWasPublishedBeforeIt(uint16_t output_port, uint16_t input_port) {
    TickCollector output_collector(output_port);
    TickCollector input_collector(input_port);
    constexpr uint32_t kPackets = 50;
    {
        BacklinkStreams streams(LoopbackStream(output_port), LoopbackStream(input_port));
        ASSERT_EQ(streams.IsOneConnection(), output_port == input_port);
        std::thread publisher([&] {
            for (uint32_t value = 1; value <= kPackets; ++value) {
                VexPacket output = TickPacket(value);
                streams.PublishOutputVex(output);
                VexPacket input = TickPacket(kPackets + value);
                streams.PublishInputVex(input);
            }
        });
        publisher.join();
        streams.Close();
        // Refused quietly after the close.
        VexPacket late = TickPacket(3 * kPackets);
        streams.PublishInputVex(late);
        streams.PublishOutputVex(late);
    }
    // One stream sees both kinds of publication; two see theirs each.
    const size_t each = output_port == input_port ? 2 * kPackets : kPackets;
    EXPECT_TRUE(output_collector.WaitForCount(each)) << output_collector.Count();
    EXPECT_TRUE(input_collector.WaitForCount(each)) << input_collector.Count();
    EXPECT_EQ(output_collector.Count(), each);
    EXPECT_EQ(input_collector.Count(), each);
}

TEST(BacklinkStreamsTest, CloseSendsWhatWasPublishedBeforeIt) {
    ExpectCloseSendsWhatWasPublishedBeforeIt(kClosePort, kClosePort);
    ExpectCloseSendsWhatWasPublishedBeforeIt(kClosePort, kCloseInputPort);
}

}  // namespace
