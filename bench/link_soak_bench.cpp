// Loopback soak of the Ethernet device links: ten links in unicast mode, each
// fed by a fake device (a UDP socket served by a thread of its own) that sends
// receive passthroughs of syncs at a fixed rate, paced by the monotonic clock.
// The links publish their timed receptions (0x8001) on a real Internal stream
// (a multicast BacklinkStreams on "lo"), whose own receiver, as the Backlink's
// does, hands every item to a subscriber. The subscriber counts the items per
// device and checks the Vuv sequence numbers for gaps.
//
// Each payload carries what the receiver needs in fields the timed reception
// keeps: the sync's transmit time is the device's send counter, the receive
// header's time the send time (CLOCK_MONOTONIC nanoseconds since the soak
// began, modulo 2^40, so latencies up to 18 minutes read right). Latency runs
// from just before the device's sendto to the subscriber's call.
//
// One iteration is the whole soak. VORAV_SOAK_SECONDS and VORAV_SOAK_RATE
// (payloads per second per device) override the defaults of 10 s and 2000/s.
//
// Where a loss happens shows in the counters: a gap in a device's counter
// with no gap in the Vuv sequence numbers was lost before the Internal stream
// (at the link's socket); a sequence gap was lost on the stream. The kernel's
// drop counts of the links' receive sockets and of the Internal stream's
// receive socket (from /proc/net/udp) name the cause when it is a full
// receive buffer.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QHostAddress>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/device_time.h"
#include "host/devices/ethernet_link.h"
#include "host/devices/worker_thread.h"
#include "host/dpu/backlink_streams.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/vex/vex_data_types.h"
#include "support/device_payloads.h"
#include "support/process_multicast_group.h"
// Under ThreadSanitizer: the tests' view of Qt's unannotated internals.
#include "support/sanitizer_options.h"

namespace {

namespace dp = device_protocol;
using test_devices::Bytes;

constexpr int kDevices = 10;
constexpr double kDefaultSeconds = 10.0;
constexpr double kDefaultRate = 2000.0;
// The devices' ports, then the two Vuv streams' ports (on this process's own group).
constexpr uint16_t kFirstDevicePort = 46200;
constexpr uint16_t kInternalStreamPort = 46300;
constexpr uint16_t kExternalStreamPort = 46301;
constexpr uint32_t kFirstDeviceSerial = test_devices::kAnchor1;
// The links open within a second; generous for a loaded machine.
constexpr int kConfigurationWaitMs = 10000;
// Sending starts this long after the last link is configured.
constexpr uint64_t kStartDelayNs = 50000000;
// The soak ends when every item is in, or when none has come for this long
// after the devices stopped.
constexpr int kQuietEndMs = 1000;
constexpr unsigned long kLinkJoinMs = 5000;

uint64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

void SleepUntilNs(uint64_t deadline) {
    timespec until{};
    until.tv_sec = static_cast<time_t>(deadline / 1000000000u);
    until.tv_nsec = static_cast<long>(deadline % 1000000000u);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

double EnvironmentNumber(const char* name, double fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr) {
        return fallback;
    }
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    return end != text && std::isfinite(value) && value > 0 ? value : fallback;
}

struct soak_settings_t {
    double seconds;
    double rate;
    uint64_t payloads_per_device;
};

soak_settings_t SettingsFromEnvironment() {
    soak_settings_t settings{EnvironmentNumber("VORAV_SOAK_SECONDS", kDefaultSeconds),
                             EnvironmentNumber("VORAV_SOAK_RATE", kDefaultRate), 0};
    settings.payloads_per_device = static_cast<uint64_t>(std::llround(settings.seconds * settings.rate));
    return settings;
}

void EnsureApplication() {
    static int argc = 1;
    static char name[] = "link_soak_bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

// Runs the calling thread's event loop (the Internal stream's transmitter
// sends there) until the condition holds or the bound passes; sleeps between
// checks rather than spinning, as the server's thread would.
bool RunEventLoopUntil(const std::function<bool()>& condition, int bound_ms) {
    if (condition()) {
        return true;
    }
    QEventLoop loop;
    QTimer check;
    bool held = false;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (condition()) {
            held = true;
            loop.quit();
        }
    });
    QTimer::singleShot(bound_ms, &loop, &QEventLoop::quit);
    check.start(20);
    loop.exec();
    return held || condition();
}

// One fake device: a UDP socket on 127.0.0.1 that learns from the link's
// configuration datagram where to send, then sends its payloads from a thread
// of its own.
class FakeDevice {
  public:
    FakeDevice(int index, uint16_t port) : index_(index), port_(port) {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        if (fd_ < 0) {
            return;
        }
        const int reuse = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bound_ = bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0;
    }
    ~FakeDevice() {
        Join();
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    bool IsBound() const { return bound_; }
    uint16_t Port() const { return port_; }
    uint32_t Serial() const { return kFirstDeviceSerial + static_cast<uint32_t>(index_); }
    // The port of the link's receive socket, from its configuration datagram.
    uint16_t LinkPort() const { return ntohs(link_.sin_port); }

    // Waits (bounded) for the configuration datagram; false when none came.
    bool AwaitConfiguration(int timeout_ms) {
        const uint64_t deadline = MonotonicNs() + static_cast<uint64_t>(timeout_ms) * 1000000u;
        const timeval poll_interval{0, 100000};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &poll_interval, sizeof(poll_interval));
        uint8_t datagram[64];
        while (MonotonicNs() < deadline) {
            const ssize_t n = recv(fd_, datagram, sizeof(datagram), 0);
            if (n == static_cast<ssize_t>(dp::kEthernetConfigPacket2Size) &&
                datagram[0] == dp::kEthernetConfig) {
                // Address and port travel least significant byte first.
                uint32_t address = 0;
                for (int i = 3; i >= 0; --i) {
                    address = (address << 8) | datagram[2 + i];
                }
                link_.sin_family = AF_INET;
                link_.sin_addr.s_addr = htonl(address);
                link_.sin_port = htons(static_cast<uint16_t>(datagram[6] | (datagram[7] << 8)));
                return true;
            }
        }
        return false;
    }

    // Sends `count` payloads, the k-th due at start + k / rate.
    void StartSending(uint64_t epoch_ns, uint64_t start_ns, double rate, uint64_t count) {
        sender_ = std::thread([=] { Send(epoch_ns, start_ns, rate, count); });
    }
    void Join() {
        if (sender_.joinable()) {
            sender_.join();
        }
    }
    bool Done() const { return done_.load(std::memory_order_acquire); }
    // Read after Join.
    uint64_t Sent() const { return sent_; }
    uint64_t SendFailures() const { return send_failures_; }

  private:
    // Runs in the device's thread.
    void Send(uint64_t epoch_ns, uint64_t start_ns, double rate, uint64_t count) {
        test_devices::FrameWriter writer;
        const double period_ns = 1e9 / rate;
        for (uint64_t k = 0; k < count; ++k) {
            SleepUntilNs(start_ns + static_cast<uint64_t>(static_cast<double>(k) * period_ns));
            const uint64_t now = MonotonicNs();
            packet_sync_t sync = test_devices::Sync(static_cast<uint8_t>(k), test_devices::kMasterId);
            sync.transmit_time = DeviceTimeMask(k);
            const Bytes frame = writer.Frame(test_devices::RxPassthrough(test_devices::SyncPacket(sync),
                                                                         DeviceTimeMask(now - epoch_ns),
                                                                         static_cast<uint16_t>(index_)));
            Bytes datagram;
            datagram.reserve(frame.size() + 1);
            datagram.push_back(dp::kEthernetSspFrame);
            datagram.insert(datagram.end(), frame.begin(), frame.end());
            if (sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&link_),
                       sizeof(link_)) == static_cast<ssize_t>(datagram.size())) {
                ++sent_;
            } else {
                ++send_failures_;
            }
        }
        done_.store(true, std::memory_order_release);
    }

    const int index_;
    const uint16_t port_;
    int fd_ = -1;
    bool bound_ = false;
    sockaddr_in link_{};
    std::thread sender_;
    std::atomic<bool> done_{false};
    // Device thread only until Join.
    uint64_t sent_ = 0;
    uint64_t send_failures_ = 0;
};

// What the subscriber saw. Record runs on the Internal stream's receiver
// thread only; the rest is read after the subscriptions are cleared (which
// waits for a running callback), except `delivered`, which the soak watches.
class DeliveryTally {
  public:
    DeliveryTally(uint64_t epoch_ns, uint64_t payloads_per_device)
        : epoch_ns_(epoch_ns),
          total_payloads_(payloads_per_device * kDevices),
          seen_(kDevices, std::vector<bool>(payloads_per_device, false)) {
        latencies_ns_.reserve(static_cast<size_t>(total_payloads_));
        sequence_seen_.reserve(static_cast<size_t>(total_payloads_));
    }

    void Record(uint32_t serial, uint32_t sequence, const VexDataItem& item) {
        const uint64_t now = MonotonicNs();
        vex_data_timed_rx_t reception{};
        const uint32_t device = serial - kFirstDeviceSerial;
        if (!VexData_Read(item, &reception) || device >= static_cast<uint32_t>(kDevices) ||
            reception.tx_time >= seen_[device].size()) {
            ++foreign_;
            return;
        }
        // Every packet holds one item, so the stream numbers no more packets
        // than the devices send; a number beyond that is not this soak's.
        if (sequence >= total_payloads_) {
            ++foreign_;
            return;
        }
        if (sequence >= sequence_seen_.size()) {
            sequence_seen_.resize(sequence + 1, false);
        }
        if (sequence_seen_[sequence] || seen_[device][reception.tx_time]) {
            ++duplicates_;
            return;
        }
        sequence_seen_[sequence] = true;
        seen_[device][reception.tx_time] = true;
        latencies_ns_.push_back(DeviceTimeForward(reception.rx_time, DeviceTimeMask(now - epoch_ns_)));
        delivered_.fetch_add(1, std::memory_order_release);
    }

    uint64_t Delivered() const { return delivered_.load(std::memory_order_acquire); }
    uint64_t Duplicates() const { return duplicates_; }
    uint64_t Foreign() const { return foreign_; }
    std::vector<uint64_t> SortedLatencies() const {
        std::vector<uint64_t> sorted = latencies_ns_;
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }
    // Sequence numbers below the highest one seen that never arrived. The
    // links share the stream's one transmitter, which numbers from 0.
    uint64_t SequenceGaps() const {
        return static_cast<uint64_t>(std::count(sequence_seen_.begin(), sequence_seen_.end(), false));
    }
    // Packets the transmitter numbered, as far as the receiver can tell.
    uint64_t HighestSequencePlusOne() const { return sequence_seen_.size(); }

  private:
    const uint64_t epoch_ns_;
    std::atomic<uint64_t> delivered_{0};
    uint64_t duplicates_ = 0;
    uint64_t foreign_ = 0;
    const uint64_t total_payloads_;
    // Indexed by Vuv sequence number; reserved up front for every payload of
    // the soak, so Record never reallocates it.
    std::vector<bool> sequence_seen_;
    std::vector<std::vector<bool>> seen_;
    std::vector<uint64_t> latencies_ns_;
};

// Datagrams the kernel dropped at the sockets bound to these local ports,
// from /proc/net/udp (the last column); 0 when it cannot be read.
uint64_t KernelDrops(const std::vector<uint16_t>& ports) {
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);
    uint64_t drops = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::vector<std::string> columns;
        for (std::string column; fields >> column;) {
            columns.push_back(column);
        }
        if (columns.size() < 13) {
            continue;
        }
        const size_t colon = columns[1].find(':');
        if (colon == std::string::npos) {
            continue;
        }
        const auto port = static_cast<uint16_t>(std::strtoul(columns[1].c_str() + colon + 1, nullptr, 16));
        if (std::find(ports.begin(), ports.end(), port) != ports.end()) {
            drops += std::strtoull(columns.back().c_str(), nullptr, 10);
        }
    }
    return drops;
}

struct soak_result_t {
    uint64_t sent = 0;
    uint64_t send_failures = 0;
    uint64_t delivered = 0;
    uint64_t duplicates = 0;
    uint64_t foreign = 0;
    uint64_t sequence_gaps = 0;
    uint64_t published = 0;
    uint64_t link_socket_drops = 0;
    uint64_t stream_socket_drops = 0;
    std::vector<uint64_t> latencies_ns;
    std::string error;
};

struct link_handle_t {
    EthernetLink* link;
    WorkerThread thread;
};

void StopLinks(std::vector<link_handle_t>& links) {
    for (const link_handle_t& handle : links) {
        handle.thread.RequestStop();
    }
    for (const link_handle_t& handle : links) {
        handle.thread.Join(kLinkJoinMs);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    links.clear();
}

soak_result_t RunSoak(const soak_settings_t& settings) {
    soak_result_t result;
    auto streams = std::make_shared<BacklinkStreams>(LoopbackStream(kExternalStreamPort),
                                                     LoopbackStream(kInternalStreamPort));
    const uint64_t epoch_ns = MonotonicNs();
    DeliveryTally tally(epoch_ns, settings.payloads_per_device);
    streams->Subscribe(VexType::kTimedRx,
                       [&tally](uint32_t serial, uint32_t sequence, const VexDataItem& item) {
                           tally.Record(serial, sequence, item);
                       });

    std::vector<std::unique_ptr<FakeDevice>> devices;
    std::vector<link_handle_t> links;
    const auto registry = test_devices::MakeRegistry();
    for (int i = 0; i < kDevices; ++i) {
        devices.push_back(std::make_unique<FakeDevice>(i, static_cast<uint16_t>(kFirstDevicePort + i)));
        if (!devices.back()->IsBound()) {
            result.error = "a device port could not be bound";
            break;
        }
        auto* link = new EthernetLink();
        link->SetNetworkInterface("lo", 0);
        // Unicast: the device sends to the link's own receive socket.
        link->SetLocalAddress(QHostAddress(QHostAddress::LocalHost));
        link->SetLocalPort(kInternalStreamPort);
        link->SetSerialNumber(devices.back()->Serial());
        link->Init(registry, streams, QString("udpm://127.0.0.1:%1").arg(devices.back()->Port()));
        WorkerThread thread = WorkerThread::Create<NodeLink>(link, &NodeLink::Run, &NodeLink::QuitThread,
                                                             &NodeLink::Shutdown, "Ethernet link");
        thread.Start();
        links.push_back({link, thread});
    }
    std::vector<uint16_t> link_ports;
    for (const auto& device : devices) {
        if (!result.error.empty()) {
            break;
        }
        if (!device->AwaitConfiguration(kConfigurationWaitMs)) {
            result.error = "a link never sent its configuration datagram";
        }
        link_ports.push_back(device->LinkPort());
    }

    if (result.error.empty()) {
        const uint64_t start_ns = MonotonicNs() + kStartDelayNs;
        for (const auto& device : devices) {
            device->StartSending(epoch_ns, start_ns, settings.rate, settings.payloads_per_device);
        }
        const auto all_sent = [&devices] {
            return std::all_of(devices.begin(), devices.end(),
                               [](const auto& device) { return device->Done(); });
        };
        // The devices' own schedule plus a margin for a loaded machine.
        RunEventLoopUntil(all_sent, static_cast<int>(settings.seconds * 1000) + 30000);
        const uint64_t expected = settings.payloads_per_device * kDevices;
        uint64_t last_count = tally.Delivered();
        uint64_t last_change = MonotonicNs();
        RunEventLoopUntil(
            [&] {
                const uint64_t count = tally.Delivered();
                if (count != last_count) {
                    last_count = count;
                    last_change = MonotonicNs();
                }
                return count >= expected || MonotonicNs() - last_change > kQuietEndMs * 1000000ull;
            },
            60000);
        result.link_socket_drops = KernelDrops(link_ports);
        result.stream_socket_drops = KernelDrops({kInternalStreamPort});
    }

    StopLinks(links);
    for (const auto& device : devices) {
        device->Join();
        result.sent += device->Sent();
        result.send_failures += device->SendFailures();
    }
    streams->Close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    result.delivered = tally.Delivered();
    result.duplicates = tally.Duplicates();
    result.foreign = tally.Foreign();
    result.sequence_gaps = tally.SequenceGaps();
    result.published = tally.HighestSequencePlusOne();
    result.latencies_ns = tally.SortedLatencies();
    return result;
}

double PercentileMicroseconds(const std::vector<uint64_t>& sorted, double fraction) {
    if (sorted.empty()) {
        return 0.0;
    }
    const auto rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
    return static_cast<double>(sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1]) / 1000.0;
}

void BM_TenEthernetLinksSoak(benchmark::State& state) {
    EnsureApplication();
    const soak_settings_t settings = SettingsFromEnvironment();
    soak_result_t total;
    for (auto _ : state) {
        soak_result_t result = RunSoak(settings);
        if (!result.error.empty()) {
            state.SkipWithError(result.error.c_str());
            return;
        }
        total.sent += result.sent;
        total.send_failures += result.send_failures;
        total.delivered += result.delivered;
        total.duplicates += result.duplicates;
        total.foreign += result.foreign;
        total.sequence_gaps += result.sequence_gaps;
        total.published += result.published;
        total.link_socket_drops += result.link_socket_drops;
        total.stream_socket_drops += result.stream_socket_drops;
        total.latencies_ns.insert(total.latencies_ns.end(), result.latencies_ns.begin(),
                                  result.latencies_ns.end());
    }
    std::sort(total.latencies_ns.begin(), total.latencies_ns.end());
    const auto counter = [](uint64_t value) { return benchmark::Counter(static_cast<double>(value)); };
    state.counters["devices"] = counter(kDevices);
    state.counters["rate_per_device"] = benchmark::Counter(settings.rate);
    state.counters["seconds"] = benchmark::Counter(settings.seconds);
    state.counters["sent"] = counter(total.sent);
    state.counters["send_failures"] = counter(total.send_failures);
    state.counters["delivered"] = counter(total.delivered);
    state.counters["lost"] = counter(total.sent - std::min(total.sent, total.delivered));
    // Lost on the Internal stream: numbered by its transmitter, never received.
    state.counters["lost_seq_gaps"] = counter(total.sequence_gaps);
    // Lost before the stream: sent by a device, never numbered (a loss at
    // the tail of the stream would count here too; the socket drops tell).
    state.counters["lost_before_stream"] = counter(total.sent - std::min(total.sent, total.published));
    state.counters["link_sock_drops"] = counter(total.link_socket_drops);
    state.counters["stream_sock_drops"] = counter(total.stream_socket_drops);
    state.counters["duplicates"] = counter(total.duplicates);
    state.counters["foreign"] = counter(total.foreign);
    state.counters["p50_us"] = benchmark::Counter(PercentileMicroseconds(total.latencies_ns, 0.50));
    state.counters["p99_us"] = benchmark::Counter(PercentileMicroseconds(total.latencies_ns, 0.99));
    state.counters["max_us"] = benchmark::Counter(PercentileMicroseconds(total.latencies_ns, 1.0));
}
BENCHMARK(BM_TenEthernetLinksSoak)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
