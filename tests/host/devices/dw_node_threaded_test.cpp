// Solver threads store and read a tag's positions and take its output packet
// while the Internal stream's receiver thread adds items to that packet; a
// thread publishes through a node while the engine replaces and deletes its
// link.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "base/thread_annotations.h"
#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "host/devices/dw_node.h"
#include "host/devices/node_link.h"

// Adds an item as the report and payload paths do: under the packet lock.
class DwNodeTestPeer {
  public:
    static bool AddItem(DwNode& node, uint32_t value) {
        AnnotatedMutexLocker lock(&node.packet_mutex_);
        return node.vex_packet_.AddDataItem(VexType::kAnchorStatus, sizeof(value), &value);
    }
};

namespace {

constexpr int kStores = 20000;
constexpr int kReaders = 3;
constexpr int kMinimumReadsPerReader = 2000;
constexpr uint32_t kSmoothingFactor = 3;
// Try-locks of a second: no store or read is dropped on a loaded machine.
constexpr uint32_t kSyncPeriodMs = 2000;

derazud_pos3_t Position(int k) {
    derazud_pos3_t position{};
    position.data_tag.type = 0x0100;
    position.data_tag.length = 0x0020;
    position.x = static_cast<float>(k);
    position.y = static_cast<float>(k);
    position.z = static_cast<float>(k);
    position.quality = static_cast<float>(k);
    position.sequence = static_cast<uint16_t>(k);
    position.creation_time = k;
    return position;
}

// Counts the payloads sent to it, in the sending thread; never opens a port.
class CountingLink : public NodeLink {
  public:
    CountingLink() {
        QObject::connect(
            this, &NodeLink::DataToPublish, &context_,
            [this](QByteArray) { count_.fetch_add(1, std::memory_order_relaxed); }, Qt::DirectConnection);
    }
    std::string GetPortName() const override { return "counting-port"; }
    bool WaitForBytesWritten(int) override { return true; }
    bool WaitForReadyRead(int) override { return false; }
    void PublishData(QByteArray) override {}
    int Count() const { return count_.load(std::memory_order_relaxed); }

  private:
    QObject context_;
    std::atomic<int> count_{0};
};

std::shared_ptr<DwTag> MakeTag() {
    TagSettings settings;
    settings.SetSerialNumber(0x01040003);
    auto tag = std::make_shared<DwTag>(settings, 3, kSyncPeriodMs);
    tag->SetInitialPosition(0.0, 0.0, 0.0);
    return tag;
}

TEST(DwNodeThreaded, PositionsReadWhileStoredAreWholeAndInOrder) {
    FlatSettingsInterface(Settings::GlobalSettings()).SetSmoothingFactor(kSmoothingFactor);
    auto tag = MakeTag();
    std::atomic<bool> writer_done{false};
    std::atomic<int> torn{0};
    std::atomic<int> backwards{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r) {
        readers.emplace_back([&] {
            float last_current = -1.0f;
            int reads = 0;
            while (reads < kMinimumReadsPerReader || !writer_done.load(std::memory_order_acquire)) {
                const derazud_pos3_t current = tag->GetCurrentPos3();
                if (current.x != current.y || current.x != current.z)
                    torn.fetch_add(1, std::memory_order_relaxed);
                // Before the first store: the initial position and its marker.
                if (current.creation_time != 0 && current.quality != current.x)
                    torn.fetch_add(1, std::memory_order_relaxed);
                if (current.x < last_current)
                    backwards.fetch_add(1, std::memory_order_relaxed);
                last_current = current.x;

                const vex_data_position_t item = tag->GetSmoothedPositionData();
                if (item.x != item.y || item.x != item.z || item.smoothing_count > kSmoothingFactor)
                    torn.fetch_add(1, std::memory_order_relaxed);
                const derazud_pos3_t smoothed = tag->GetSmoothedPos3();
                if (smoothed.x != smoothed.y || smoothed.x != smoothed.z ||
                    smoothed.smoothing_count > kSmoothingFactor)
                    torn.fetch_add(1, std::memory_order_relaxed);
                ++reads;
            }
        });
    }
    for (int k = 1; k <= kStores; ++k)
        tag->SetCurrentPos3(Position(k));
    writer_done.store(true, std::memory_order_release);
    for (std::thread& reader : readers)
        reader.join();

    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(backwards.load(), 0);
    EXPECT_EQ(tag->GetCurrentPos3().x, static_cast<float>(kStores));
    // The newest four positions: kStores - 3 .. kStores.
    const vex_data_position_t last = tag->GetSmoothedPositionData();
    EXPECT_EQ(last.smoothing_count, kSmoothingFactor);
    EXPECT_EQ(last.x, (kStores - 1) * 1000 - 500);
}

TEST(DwNodeThreaded, EveryItemAddedLeavesInExactlyOnePacket) {
    constexpr uint32_t kItems = 30000;
    constexpr int kTakers = 2;
    auto tag = MakeTag();
    std::atomic<bool> producer_done{false};
    std::vector<std::vector<uint32_t>> taken(kTakers + 1);
    std::vector<std::thread> takers;
    auto collect = [&tag](std::vector<uint32_t>& into) {
        const std::shared_ptr<VexPacket> packet = tag->GetVexPacket();
        for (const auto& item : packet->GetDataItems()) {
            uint32_t value = 0;
            std::memcpy(&value, item->GetData(), sizeof(value));
            into.push_back(value);
        }
        return packet->GetSerialNumber();
    };
    std::atomic<int> wrong_serial{0};
    for (int t = 0; t < kTakers; ++t) {
        takers.emplace_back([&, t] {
            while (!producer_done.load(std::memory_order_acquire)) {
                if (collect(taken[t]) != tag->GetSerialNumber())
                    wrong_serial.fetch_add(1, std::memory_order_relaxed);
            }
        });
    }
    for (uint32_t i = 0; i < kItems; ++i) {
        // A full packet refuses the item; the takers empty it soon.
        while (!DwNodeTestPeer::AddItem(*tag, i))
            std::this_thread::yield();
    }
    producer_done.store(true, std::memory_order_release);
    for (std::thread& taker : takers)
        taker.join();
    collect(taken[kTakers]);

    std::vector<int> seen(kItems, 0);
    for (const auto& values : taken) {
        for (uint32_t value : values) {
            ASSERT_LT(value, kItems);
            ++seen[value];
        }
    }
    for (uint32_t i = 0; i < kItems; ++i)
        ASSERT_EQ(seen[i], 1) << "item " << i;
    EXPECT_EQ(wrong_serial.load(), 0);
}

TEST(DwNodeThreaded, NoPublishIsLeftInALinkOnceItIsReplaced) {
    constexpr int kReplacements = 2000;
    auto tag = MakeTag();
    auto* link = new CountingLink();
    tag->SetNodeLink(link);
    std::atomic<bool> done{false};
    std::atomic<int> published{0};
    std::thread publisher([&] {
        const uint8_t payload[2] = {0x11, 0x05};
        while (!done.load(std::memory_order_acquire)) {
            tag->Publish(payload, sizeof(payload));
            published.fetch_add(1, std::memory_order_relaxed);
        }
    });
    // Once the node points elsewhere the old link's count is final and the
    // link may be deleted: a publish still inside it would be counted late or
    // touch freed memory.
    int counted = 0;
    // At least kReplacements, and on until the publisher has published a
    // good many times (it may not even have started after the first ones).
    for (int i = 0; i < kReplacements || published.load(std::memory_order_relaxed) < kReplacements; ++i) {
        auto* next = new CountingLink();
        tag->SetNodeLink(next);
        counted += link->Count();
        delete link;
        link = next;
    }
    done.store(true, std::memory_order_release);
    publisher.join();
    counted += link->Count();
    tag->SetNodeLink(nullptr);
    delete link;
    EXPECT_EQ(counted, published.load());
    EXPECT_GT(counted, 0);
}

}  // namespace
