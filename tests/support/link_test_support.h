#pragma once
// What the threaded link tests share: spinning the test thread's event loop
// until a condition holds (bounded), counting a link's DeviceConnected, and
// reading the items a recorder holds.

#include <QCoreApplication>
#include <QEvent>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "host/devices/node_link.h"
#include "host/devices/vex_input_publisher.h"
#include "host/devices/worker_thread.h"
#include "support/spin_until.h"

namespace link_test {

using namespace std::chrono_literals;

// Generous: CI may be a loaded two-core machine running sanitizers.
constexpr auto kWait = 15s;
constexpr unsigned long kJoinMs = 5000;

// The bounded wait, which also deletes the thread objects of finished links:
// processEvents outside a running event loop leaves deferred deletions alone.
inline bool SpinUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound = kWait) {
    return test_support::SpinUntil(
        [&condition] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return condition();
        },
        bound);
}

// Asks the worker to stop and waits for it, bounded; then lets this thread
// delete the finished thread object.
inline bool StopAndJoin(const WorkerThread& thread) {
    thread.RequestStop();
    const bool joined = thread.Join(kJoinMs);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return joined;
}

// Counts DeviceConnected of a link, whatever thread emits it.
inline std::shared_ptr<std::atomic<int>> CountConnections(NodeLink* link) {
    auto count = std::make_shared<std::atomic<int>>(0);
    QObject::connect(
        link, &NodeLink::DeviceConnected, link, [count](NodeLink*) { count->fetch_add(1); },
        Qt::DirectConnection);
    return count;
}

struct Item {
    uint32_t packet_serial;
    uint16_t type;
    std::vector<uint8_t> payload;
};

inline std::vector<Item> ItemsOf(const VexPacketRecorder& recorder) {
    std::vector<Item> items;
    for (const VexPacket& packet : recorder.Packets()) {
        for (const auto& item : packet.GetDataItems()) {
            const uint8_t* data = item->GetData();
            items.push_back(
                {packet.GetSerialNumber(), item->GetType(),
                 data ? std::vector<uint8_t>(data, data + item->GetDataSize()) : std::vector<uint8_t>()});
        }
    }
    return items;
}

}  // namespace link_test
