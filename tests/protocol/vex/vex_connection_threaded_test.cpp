// Vuv streams over loopback multicast on "lo": publishing, subscribing,
// clearing, destroying and concurrent publishers. Each test uses a port of
// its own so that no datagram of one test reaches another.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QString>
#include <QThread>
#include <QUdpSocket>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/byte_order.h"
#include "base/network_socket_settings.h"
#include "base/thread_annotations.h"
#include "protocol/vex/vex_connection.h"
#include "protocol/vex/vex_data_types.h"
#include "support/process_multicast_group.h"
#include "support/spin_until.h"
#include "support/stdout_capture.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 10s;
const QString kGroup = ProcessMulticastGroup();

// The transmitter sends from the test thread's event loop, which the wait runs.
using test_support::SpinUntil;

// Lets the deferred deletions of a destroyed connection (its thread object,
// its transmitter) run, so that nothing outlives the test.
void FlushDeferredDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

struct Delivery {
    uint32_t serial;
    uint32_t sequence;
    uint16_t type;
    std::vector<uint8_t> payload;
    int tag;
};

// Collects what callbacks receive on the receiver's thread.
class Recorder {
  public:
    VexSubscriberCallback Callback(int tag) {
        return [this, tag](uint32_t serial, uint32_t sequence, const VexDataItem& item) {
            std::vector<uint8_t> payload;
            if (item.GetData() != nullptr) {
                payload.assign(item.GetData(), item.GetData() + item.GetDataSize());
            }
            std::lock_guard<std::mutex> lock(mutex_);
            deliveries_.push_back({serial, sequence, item.GetType(), std::move(payload), tag});
        };
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return deliveries_.size();
    }
    std::vector<Delivery> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return deliveries_;
    }

  private:
    std::mutex mutex_;
    std::vector<Delivery> deliveries_;
};

// A gate that a callback waits at, bounded, until the test opens it.
class Gate {
  public:
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    bool WaitOpen() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kWait, [this] { return open_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

VexPacket PacketWith(uint32_t serial, uint16_t type, uint32_t value) {
    VexPacket packet(serial);
    uint8_t payload[4];
    wire::write_le32(payload, value);
    packet.AddDataItem(type, sizeof(payload), payload);
    return packet;
}

TEST(VexConnectionTest, PublishedPacketReachesSubscriberWithSequenceZeroThenOne) {
    // Declared first: callbacks may run until the connection is gone.
    Recorder recorder;
    VexConnection connection(LoopbackStream(41001));
    connection.Subscribe(VexType::kPosition, recorder.Callback(1));

    VexPacket first = PacketWith(0x01030005, VexType::kPosition, 11);
    // An item of a type nobody subscribed to is skipped.
    first.AddDataItem(VexType::kTimeReservation, 0, nullptr);
    connection.Publish(first);
    EXPECT_EQ(first.GetSequence(), 0u);
    VexPacket second = PacketWith(0x01030006, VexType::kPosition, 22);
    connection.Publish(second);
    EXPECT_EQ(second.GetSequence(), 1u);

    ASSERT_TRUE(SpinUntil([&] { return recorder.Count() >= 2; }));
    const auto deliveries = recorder.Take();
    ASSERT_EQ(deliveries.size(), 2u);
    EXPECT_EQ(deliveries[0].serial, 0x01030005u);
    EXPECT_EQ(deliveries[0].sequence, 0u);
    EXPECT_EQ(deliveries[0].payload, (std::vector<uint8_t>{11, 0, 0, 0}));
    EXPECT_EQ(deliveries[1].serial, 0x01030006u);
    EXPECT_EQ(deliveries[1].sequence, 1u);
    EXPECT_EQ(deliveries[1].payload, (std::vector<uint8_t>{22, 0, 0, 0}));
}

TEST(VexConnectionTest, CallbacksOfOneTypeFireInSubscriptionOrderOncePerSubscription) {
    // Declared first: callbacks may run until the connection is gone.
    Recorder recorder;
    VexConnection connection(LoopbackStream(41002));
    const VexSubscriberCallback twice = recorder.Callback(1);
    connection.Subscribe(VexType::kTick, twice);
    connection.Subscribe(VexType::kTick, recorder.Callback(2));
    connection.Subscribe(VexType::kTick, twice);

    VexPacket packet = PacketWith(7, VexType::kTick, 1);
    packet.AddDataItem(VexType::kTick, 0, nullptr);
    connection.Publish(packet);

    ASSERT_TRUE(SpinUntil([&] { return recorder.Count() >= 6; }));
    const auto deliveries = recorder.Take();
    ASSERT_EQ(deliveries.size(), 6u);
    const std::vector<int> expected_tags = {1, 2, 1, 1, 2, 1};
    for (size_t i = 0; i < deliveries.size(); ++i) {
        EXPECT_EQ(deliveries[i].tag, expected_tags[i]) << i;
        EXPECT_EQ(deliveries[i].payload.size(), i < 3 ? 4u : 0u) << i;
    }
}

TEST(VexConnectionTest, BadDatagramsAreDroppedWithoutCallbackOrMessage) {
    // Declared first: callbacks may run until the connection is gone.
    Recorder recorder;
    VexConnection connection(LoopbackStream(41003));
    connection.Subscribe(VexType::kPosition, recorder.Callback(1));

    VexPacket good = PacketWith(1, VexType::kPosition, 5);
    uint16_t size = 0;
    const std::unique_ptr<uint8_t[]> encoded(good.CreateBufferWithSequenceNumber(99, &size));
    const std::vector<uint8_t> valid(encoded.get(), encoded.get() + size);
    std::vector<std::vector<uint8_t>> bad(4, valid);
    bad[0][0] = 'X';    // magic
    bad[1][15] = '!';   // the tag's zero byte
    bad[2][22] = 5;     // the item runs past the end
    bad[3].resize(19);  // shorter than a header

    QUdpSocket sender;
    ASSERT_TRUE(sender.bind(QHostAddress("127.0.0.1"), 0));
    StdoutCapture capture;
    for (const auto& datagram : bad) {
        sender.writeDatagram(reinterpret_cast<const char*>(datagram.data()),
                             static_cast<qint64>(datagram.size()), QHostAddress(kGroup), 41003);
    }
    // Loopback keeps the order: once the valid datagram arrives, the bad ones
    // before it have been read and dropped.
    sender.writeDatagram(reinterpret_cast<const char*>(valid.data()), static_cast<qint64>(valid.size()),
                         QHostAddress(kGroup), 41003);
    ASSERT_TRUE(SpinUntil([&] { return recorder.Count() >= 1; }));
    EXPECT_EQ(capture.Stop(), "");
    const auto deliveries = recorder.Take();
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].sequence, 99u);
}

TEST(VexConnectionTest, DestroyingAConnectionWaitsForARunningCallback) {
    auto connection = std::make_unique<VexConnection>(LoopbackStream(41004));
    Gate gate;
    std::atomic<bool> entered{false};
    std::atomic<bool> returned{false};
    connection->Subscribe(VexType::kPosition, [&](uint32_t, uint32_t, const VexDataItem&) {
        entered = true;
        gate.WaitOpen();
        returned = true;
    });
    VexPacket packet = PacketWith(1, VexType::kPosition, 1);
    connection->Publish(packet);
    ASSERT_TRUE(SpinUntil([&] { return entered.load(); }));

    std::atomic<bool> destroyed{false};
    std::atomic<bool> destroyed_before_open{false};
    std::thread opener([&] {
        // Give a destructor that does not wait the chance to return early;
        // the gate opens in any case.
        const auto until = std::chrono::steady_clock::now() + 200ms;
        while (std::chrono::steady_clock::now() < until && !destroyed.load()) {
            std::this_thread::yield();
        }
        destroyed_before_open = destroyed.load();
        gate.Open();
    });
    connection.reset();
    const bool callback_returned_first = returned.load();
    destroyed = true;
    opener.join();
    EXPECT_TRUE(callback_returned_first);
    EXPECT_FALSE(destroyed_before_open.load());
    FlushDeferredDeletes();
}

TEST(VexConnectionTest, ConcurrentPublishersNeverShareASequenceNumberAndLoseNothing) {
    constexpr int kPublishers = 4;
    constexpr uint32_t kPacketsEach = 250;
    constexpr uint32_t kTotal = kPublishers * kPacketsEach;
    // Packets sent but not yet received, kept low so the socket never overflows.
    constexpr uint32_t kWindow = 32;

    std::mutex mutex;
    std::condition_variable received_changed;
    std::set<uint32_t> sequences;
    std::set<uint32_t> values;
    uint32_t received = 0;
    VexConnection connection(LoopbackStream(41005));
    connection.Subscribe(VexType::kPosition, [&](uint32_t, uint32_t sequence, const VexDataItem& item) {
        std::lock_guard<std::mutex> lock(mutex);
        sequences.insert(sequence);
        values.insert(wire::read_le32(item.GetData()));
        ++received;
        received_changed.notify_all();
    });

    std::atomic<uint32_t> published{0};
    std::vector<std::thread> publishers;
    for (int publisher = 0; publisher < kPublishers; ++publisher) {
        publishers.emplace_back([&, publisher] {
            for (uint32_t i = 0; i < kPacketsEach; ++i) {
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    if (!received_changed.wait_for(lock, kWait,
                                                   [&] { return published.load() < received + kWindow; })) {
                        return;
                    }
                }
                VexPacket packet = PacketWith(static_cast<uint32_t>(publisher), VexType::kPosition,
                                              static_cast<uint32_t>(publisher) * kPacketsEach + i);
                published.fetch_add(1);
                connection.Publish(packet);
            }
        });
    }
    // Publishes from other threads are sent from this thread's event loop.
    const bool all_arrived = SpinUntil([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return received >= kTotal;
    });
    for (auto& publisher : publishers) {
        publisher.join();
    }
    ASSERT_TRUE(all_arrived) << "received " << received << " of " << kTotal;
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(received, kTotal) << sequences.size() << " sequences, " << values.size() << " values";
    EXPECT_EQ(sequences.size(), kTotal);
    EXPECT_EQ(*sequences.begin(), 0u);
    EXPECT_EQ(*sequences.rbegin(), kTotal - 1);
    EXPECT_EQ(values.size(), kTotal);
}

TEST(VexConnectionTest, RetargetingRestartsTheNumberingAndMovesTheStream) {
    // Declared first: callbacks may run until the connection is gone.
    Recorder recorder;
    VexConnection connection(LoopbackStream(41006));
    connection.Subscribe(VexType::kPosition, recorder.Callback(1));
    VexPacket packet = PacketWith(3, VexType::kPosition, 1);
    connection.Publish(packet);
    connection.Publish(packet);
    EXPECT_EQ(packet.GetSequence(), 1u);
    ASSERT_TRUE(SpinUntil([&] { return recorder.Count() >= 2; }));

    StdoutCapture capture;
    connection.UpdateSocket(LoopbackStream(41007));
    connection.Publish(packet);
    EXPECT_EQ(packet.GetSequence(), 0u);

    // The receiver re-binds in its own thread; publish until a packet gets through.
    const size_t before = recorder.Count();
    ASSERT_TRUE(SpinUntil([&] {
        if (recorder.Count() > before) {
            return true;
        }
        connection.Publish(packet);
        return false;
    }));
    const std::string printed = capture.Stop();
    EXPECT_NE(printed.find("Input socket successfully bound\n"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("Error"), std::string::npos) << printed;
}

TEST(VexConnectionTest, ConstructionBindsAndJoinsWithItsMessages) {
    StdoutCapture capture;
    { VexConnection connection(LoopbackStream(41008)); }
    const std::string printed = capture.Stop();
    EXPECT_EQ(printed.find("Input socket successfully bound\n"), 0u) << printed;
    EXPECT_EQ(printed.find("Error"), std::string::npos) << printed;
    FlushDeferredDeletes();
}

TEST(VexConnectionTest, BindAndJoinFailuresArePrintedAndTheConnectionCarriesOn) {
    StdoutCapture capture;
    {
        // An interface that does not exist has no address to send from, and a
        // unicast address that is not ours can neither be bound nor joined.
        VexConnection connection(NetworkSocketSettings("10.255.255.1", 41011, 1, "nosuchif0"));
        VexPacket packet = PacketWith(1, VexType::kPosition, 1);
        connection.Publish(packet);
        EXPECT_EQ(packet.GetSequence(), 0u);
        QCoreApplication::processEvents();
    }
    const std::string printed = capture.Stop();
    EXPECT_NE(printed.find("Error binding output socket!!\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Error binding input socket!!\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Error joining multicast group!!\n"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("successfully bound"), std::string::npos) << printed;
    FlushDeferredDeletes();
}

TEST(VexConnectionTest, QueuedSignalTypesAreRegistered) {
    VexConnection connection(LoopbackStream(41012));
    EXPECT_NE(QMetaType::type("uint16_t"), 0);
    EXPECT_NE(QMetaType::type("QNetworkInterface"), 0);
    EXPECT_EQ(QMetaType::type("vex_data_position_t"), qMetaTypeId<vex_data_position_t>());
}

TEST(VexConnectionTest, ConnectionOfAWorkerThreadLeavesNothingBehindWhenThatThreadEnds) {
    // As a stream's owner running in a thread of its own does: the connection
    // is built and destroyed on that thread, which then ends at once. The
    // receive thread's object must not wait for an event loop that no longer
    // runs; the address sanitizer build's leak checker reports it otherwise.
    QThread owner;
    QObject context;
    context.moveToThread(&owner);
    owner.start();
    // The call travels through Qt's event queue, which the thread sanitizer
    // cannot see: it captures nothing and reports through an atomic.
    static std::atomic<bool> done;
    done = false;
    QMetaObject::invokeMethod(
        &context,
        [] {
            { VexConnection connection(LoopbackStream(42001)); }
            QThread::currentThread()->quit();
            done = true;
        },
        Qt::QueuedConnection);
    ASSERT_TRUE(SpinUntil([] { return done.load(); }));
    ASSERT_TRUE(owner.wait(10000));
}

TEST(VexTransmitterTest, DatagramsStillQueuedWhenTheTransmitterIsDeletedAreFreed) {
    // Built in this thread, whose event loop does not run before the deletion:
    // the publishes from the other thread stay queued and are dropped with
    // the transmitter. The leak checker of the address sanitizer build
    // reports their buffers unless the transmitter frees them.
    auto* transmitter = new VexTransmitter(kGroup, 42000, 1, QNetworkInterface::interfaceFromName("lo"));
    std::thread publisher([transmitter] {
        VexPacket packet = PacketWith(1, VexType::kPosition, 1);
        for (int i = 0; i < 3; ++i) {
            transmitter->Publish(packet);
        }
        AnnotateHandOver(transmitter);
    });
    publisher.join();
    AnnotateTakeOver(transmitter);
    delete transmitter;
}

struct BlockRequest {
    Gate* gate;
    std::atomic<bool>* blocked;
};

// A receiver in a thread of its own, built as a connection builds it, so that
// a test can hold the receive thread still while datagrams queue up.
class ReceiverInThread {
  public:
    explicit ReceiverInThread(uint16_t port)
        : receiver_(new VexReceiver(kGroup, port, QNetworkInterface::interfaceFromName("lo"))),
          thread_(new QThread) {
        // Connected before the thread starts: SignalThreadFinished is emitted in the receiver's thread.
        QObject::connect(
            receiver_, &VexReceiver::SignalThreadFinished, receiver_,
            [finished = finished_] { *finished = true; }, Qt::DirectConnection);
        receiver_->moveToThread(thread_);
        QObject::connect(thread_, &QThread::started, receiver_, &VexReceiver::Run, Qt::UniqueConnection);
        QObject::connect(thread_, &QThread::finished, receiver_, &QObject::deleteLater);
        thread_->start();
    }
    ~ReceiverInThread() {
        receiver_->ClearSubscriptions();
        receiver_->Shutdown();
        AnnotateHandOver(receiver_);
        thread_->quit();
        thread_->wait();
        delete thread_;
    }
    VexReceiver* Get() { return receiver_; }
    bool Finished() const { return finished_->load(); }
    // Occupies the receive thread's event loop until the gate opens.
    void Block(Gate* gate, std::atomic<bool>* blocked) {
        // The call travels through Qt's event queue, which the thread
        // sanitizer cannot see: the request is stored and handed over before
        // the call is queued, and the call captures nothing.
        static BlockRequest request;
        request = {gate, blocked};
        AnnotateHandOver(&request);
        QMetaObject::invokeMethod(
            receiver_,
            [] {
                AnnotateTakeOver(&request);
                *request.blocked = true;
                request.gate->WaitOpen();
            },
            Qt::QueuedConnection);
    }

  private:
    VexReceiver* receiver_;
    QThread* thread_;
    // Shared with the receiver thread's slot, which may outlive this object briefly.
    std::shared_ptr<std::atomic<bool>> finished_ = std::make_shared<std::atomic<bool>>(false);
};

TEST(VexReceiverTest, NothingFiresAfterClearingEvenForDatagramsAlreadyQueued) {
    VexTransmitter transmitter(kGroup, 41009, 1, QNetworkInterface::interfaceFromName("lo"));
    Recorder recorder;
    Recorder marker;
    ReceiverInThread receiver(41009);
    receiver.Get()->Subscribe(VexType::kPosition, recorder.Callback(1));

    // Delivery works before the clearing.
    VexPacket packet = PacketWith(1, VexType::kPosition, 1);
    transmitter.Publish(packet);
    ASSERT_TRUE(SpinUntil([&] { return recorder.Count() >= 1; }));

    Gate gate;
    std::atomic<bool> blocked{false};
    receiver.Block(&gate, &blocked);
    ASSERT_TRUE(SpinUntil([&] { return blocked.load(); }));
    for (int i = 0; i < 5; ++i) {
        transmitter.Publish(packet);
    }
    receiver.Get()->ClearSubscriptions();
    // A new subscription to another type marks when the queue has been read.
    receiver.Get()->Subscribe(VexType::kTick, marker.Callback(2));
    VexPacket last = PacketWith(1, VexType::kTick, 2);
    transmitter.Publish(last);
    gate.Open();

    ASSERT_TRUE(SpinUntil([&] { return marker.Count() >= 1; }));
    EXPECT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(marker.Take()[0].sequence, 6u);
}

TEST(VexReceiverTest, ShutdownFromAnotherThreadRunsInTheReceiverThread) {
    Recorder recorder;
    StdoutCapture capture;
    {
        ReceiverInThread receiver(41010);
        receiver.Get()->Subscribe(VexType::kPosition, recorder.Callback(1));
        receiver.Get()->Shutdown();
        ASSERT_TRUE(SpinUntil([&] { return receiver.Finished(); }));

        VexTransmitter transmitter(kGroup, 41010, 1, QNetworkInterface::interfaceFromName("lo"));
        VexPacket packet = PacketWith(1, VexType::kPosition, 1);
        transmitter.Publish(packet);
    }
    const std::string printed = capture.Stop();
    EXPECT_NE(printed.find("VexReceiver: Shut down\n"), std::string::npos) << printed;
    EXPECT_EQ(recorder.Count(), 0u);
}

// The system's cap on a socket's receive buffer; 0 when it cannot be read.
long MaxReceiveBufferBytes() {
    std::ifstream cap("/proc/sys/net/core/rmem_max");
    long bytes = 0;
    return cap >> bytes ? bytes : 0;
}

// While the receiver's thread is held up (here in a callback), arriving
// datagrams wait in the socket's receive buffer. The system's default buffer
// holds only a few hundred small ones; a burst of thousands must be kept, and
// still after a re-bind, which gives the receiver a new socket.
TEST(VexReceiverTest, ABurstArrivingWhileTheSubscriberIsHeldUpIsKeptAlsoAfterARebind) {
    constexpr uint32_t kBurst = 2000;
    if (MaxReceiveBufferBytes() < kSocketReceiveBufferBytes) {
        GTEST_SKIP() << "net.core.rmem_max caps receive buffers below " << kSocketReceiveBufferBytes;
    }
    // Outlive the connection, whose destruction waits for a held callback.
    std::deque<Gate> gates;
    std::atomic<Gate*> hold_next{nullptr};
    std::atomic<bool> held{false};
    std::atomic<uint32_t> received{0};
    VexConnection connection(LoopbackStream(46350));
    connection.Subscribe(VexType::kPosition, [&](uint32_t, uint32_t, const VexDataItem&) {
        if (Gate* gate = hold_next.exchange(nullptr)) {
            held = true;
            gate->WaitOpen();
        }
        received.fetch_add(1);
    });
    VexPacket packet = PacketWith(1, VexType::kPosition, 1);
    // Holds the callback at one packet, sends the burst, lets it go; returns
    // how many of the burst arrived.
    const auto burst = [&]() -> uint32_t {
        gates.emplace_back();
        held = false;
        hold_next = &gates.back();
        const uint32_t before = received.load();
        connection.Publish(packet);
        const bool was_held = SpinUntil([&] { return held.load(); });
        for (uint32_t i = 0; was_held && i < kBurst; ++i) {
            connection.Publish(packet);
        }
        gates.back().Open();
        SpinUntil([&] { return received.load() - before == kBurst + 1; });
        // Whatever is still on its way arrives within the quiet wait.
        SpinUntil([] { return false; }, 100ms);
        return was_held ? received.load() - before - 1 : 0;
    };
    EXPECT_EQ(burst(), kBurst);

    connection.UpdateSocket(LoopbackStream(46351));
    // The receiver re-binds in its own thread: probe until the new port answers.
    const uint32_t before_probe = received.load();
    ASSERT_TRUE(SpinUntil([&] {
        connection.Publish(packet);
        return received.load() != before_probe;
    }));
    SpinUntil([] { return false; }, 100ms);
    EXPECT_EQ(burst(), kBurst);
}

}  // namespace
