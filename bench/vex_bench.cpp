// Vuv packet encoding, validated decoding and loopback throughput of one
// connection on "lo", beside plain sockets sending the same datagrams.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/vex/vex_connection.h"
#include "protocol/vex/vex_data_types.h"
#include "protocol/vex/vex_packet.h"
#include "support/loopback_streams.h"

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

// Each loopback case runs its batches through the same driver, so the Vuv
// connection and the raw-socket baseline differ only in how a datagram is
// sent and counted on arrival.
constexpr uint32_t kLoopbackBatch = 2000;
// Ports of the two cases, each on this process's own group: a connection's
// receiver and the baseline's never share a socket, so neither counts the
// other's datagrams, nor those of another process running the same cases.
constexpr uint16_t kConnectionPort = 44900;
constexpr uint16_t kRawSocketPort = 44901;

// The receiving thread's processor time and how often it went to sleep
// waiting for a datagram (each sleep costs the sender a wake-up). It makes
// itself known from that thread: the connection's receive thread is Qt's own.
class ReceivingThread {
  public:
    void RegisterCallingThread() {
        clockid_t clock;
        if (pthread_getcpuclockid(pthread_self(), &clock) == 0) {
            clock_.store(clock);
            thread_id_.store(static_cast<pid_t>(syscall(SYS_gettid)));
            known_.store(true);
        }
    }
    bool Known() const { return known_.load(); }
    double CpuSeconds() const {
        timespec now{};
        if (!known_.load() || clock_gettime(clock_.load(), &now) != 0) {
            return 0.0;
        }
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    }
    // Voluntary context switches so far; 0 when they cannot be read.
    uint64_t Sleeps() const {
        if (!known_.load()) {
            return 0;
        }
        std::ifstream status("/proc/self/task/" + std::to_string(thread_id_.load()) + "/status");
        std::string line;
        const std::string key = "voluntary_ctxt_switches:";
        while (std::getline(status, line)) {
            if (line.compare(0, key.size(), key) == 0) {
                return std::strtoull(line.c_str() + key.size(), nullptr, 10);
            }
        }
        return 0;
    }

  private:
    std::atomic<clockid_t> clock_{};
    std::atomic<pid_t> thread_id_{0};
    std::atomic<bool> known_{false};
};

// Sends batches through send() and counts what `received` (advanced by the
// receiving thread) shows arriving. range(0) bounds the datagrams in flight
// (sent and not yet received); 0 sends without any bound. An iteration's time
// runs from its first send to its last arrival (or its last send, when
// nothing arrives after it): the quiet wait that tells a loss is not part of
// the throughput.
template <typename Send>
void RunLoopbackBatches(benchmark::State& state, const std::atomic<uint32_t>& received,
                        const ReceivingThread& receiving_thread, Send send) {
    // One datagram through first: the stream works and the receiving thread
    // has made itself known before anything is counted.
    const uint32_t warm_up_start = received.load(std::memory_order_acquire);
    const auto warm_up_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (received.load(std::memory_order_acquire) == warm_up_start &&
           std::chrono::steady_clock::now() < warm_up_deadline) {
        send();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (received.load(std::memory_order_acquire) == warm_up_start || !receiving_thread.Known()) {
        state.SkipWithError("no datagram came back on lo");
        return;
    }
    // Stragglers of the warm-up are not counted in the first batch.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    const uint32_t window = static_cast<uint32_t>(state.range(0));
    uint64_t sent = 0;
    uint64_t lost = 0;
    std::chrono::steady_clock::duration sending{};
    const double receiver_cpu_before = receiving_thread.CpuSeconds();
    const uint64_t receiver_sleeps_before = receiving_thread.Sleeps();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const uint32_t before = received.load(std::memory_order_acquire);
        for (uint32_t i = 0; i < kLoopbackBatch; ++i) {
            if (window != 0) {
                // A lost datagram never comes back: after a second the
                // window is taken as drained and sending goes on.
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
                while (i - (received.load(std::memory_order_acquire) - before) >= window &&
                       std::chrono::steady_clock::now() < deadline) {
                    std::this_thread::yield();
                }
            }
            const auto send_start = std::chrono::steady_clock::now();
            send();
            sending += std::chrono::steady_clock::now() - send_start;
        }
        sent += kLoopbackBatch;
        // Wait until the batch is in or nothing more arrives for 50 ms.
        uint32_t seen = received.load(std::memory_order_acquire);
        auto last_change = std::chrono::steady_clock::now();
        while (seen - before < kLoopbackBatch &&
               std::chrono::steady_clock::now() - last_change < std::chrono::milliseconds(50)) {
            std::this_thread::yield();
            const uint32_t now = received.load(std::memory_order_acquire);
            if (now != seen) {
                seen = now;
                last_change = std::chrono::steady_clock::now();
            }
        }
        state.SetIterationTime(std::chrono::duration<double>(last_change - start).count());
        // Datagrams of another sender on the group would count as received;
        // never report more than were sent.
        lost += kLoopbackBatch - std::min<uint32_t>(seen - before, kLoopbackBatch);
    }
    const double receiver_cpu = receiving_thread.CpuSeconds() - receiver_cpu_before;
    const uint64_t receiver_sleeps = receiving_thread.Sleeps() - receiver_sleeps_before;
    state.SetItemsProcessed(static_cast<int64_t>(sent - lost));
    // Where the time goes: the sending thread's time inside one send, the
    // receiving thread's processor time and sleeps per datagram it received.
    state.counters["tx_us"] = benchmark::Counter(
        sent == 0 ? 0.0 : std::chrono::duration<double, std::micro>(sending).count() / sent);
    state.counters["rx_cpu_us"] =
        benchmark::Counter(sent == lost ? 0.0 : receiver_cpu * 1e6 / static_cast<double>(sent - lost));
    state.counters["rx_sleeps_per_dgram"] = benchmark::Counter(
        sent == lost ? 0.0 : static_cast<double>(receiver_sleeps) / static_cast<double>(sent - lost));
    state.counters["sent"] = benchmark::Counter(static_cast<double>(sent), benchmark::Counter::kIsRate);
    state.counters["received"] =
        benchmark::Counter(static_cast<double>(sent - lost), benchmark::Counter::kIsRate);
    state.counters["lost"] = benchmark::Counter(static_cast<double>(lost));
    state.counters["lost_pct"] =
        benchmark::Counter(sent == 0 ? 0.0 : 100.0 * static_cast<double>(lost) / sent);
}

// Tag position packets published on one connection and counted by a
// subscriber of its own receiver.
void BM_LoopbackThroughput(benchmark::State& state) {
    EnsureApplication();
    // Declared first: the callback may run until the connection is gone.
    std::atomic<uint32_t> received{0};
    ReceivingThread receiving_thread;
    VexConnection connection(LoopbackStream(kConnectionPort));
    connection.Subscribe(VexType::kPosition,
                         [&received, &receiving_thread](uint32_t, uint32_t, const VexDataItem&) {
                             if (!receiving_thread.Known()) {
                                 receiving_thread.RegisterCallingThread();
                             }
                             received.fetch_add(1, std::memory_order_release);
                         });
    VexPacket packet = TagPositionPacket();
    state.counters["datagram_bytes"] = benchmark::Counter(packet.GetPacketSize());
    RunLoopbackBatches(state, received, receiving_thread,
                       [&connection, &packet] { connection.Publish(packet); });
}
BENCHMARK(BM_LoopbackThroughput)->Arg(0)->Arg(64)->Arg(256)->UseManualTime()->Unit(benchmark::kMillisecond);

// The floor under the connection: plain sockets with the same group, port
// style, interface, TTL and datagram (the encoded tag position packet), one
// sendto per datagram from the benchmark's thread and one blocking recv per
// datagram in a receiving thread of its own, with the default receive buffer
// as the connection's receiver has. Nothing is encoded or decoded.
class RawMulticastLoopback {
  public:
    RawMulticastLoopback(const std::string& group, uint16_t port) {
        destination_.sin_family = AF_INET;
        destination_.sin_port = htons(port);
        if (inet_pton(AF_INET, group.c_str(), &destination_.sin_addr) != 1) {
            return;
        }
        receive_socket_ = socket(AF_INET, SOCK_DGRAM, 0);
        send_socket_ = socket(AF_INET, SOCK_DGRAM, 0);
        if (receive_socket_ < 0 || send_socket_ < 0) {
            return;
        }
        // As the connection's receiver: bound to the group, the address shareable.
        const int reuse = 1;
        setsockopt(receive_socket_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
        if (bind(receive_socket_, reinterpret_cast<const sockaddr*>(&destination_), sizeof(destination_)) !=
            0) {
            return;
        }
        ip_mreqn membership{};
        membership.imr_multiaddr = destination_.sin_addr;
        membership.imr_ifindex = static_cast<int>(if_nametoindex("lo"));
        if (setsockopt(receive_socket_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof(membership)) !=
            0) {
            return;
        }
        // The receiving thread wakes this often to see whether to stop.
        const timeval stop_poll{0, 100000};
        setsockopt(receive_socket_, SOL_SOCKET, SO_RCVTIMEO, &stop_poll, sizeof(stop_poll));

        // As the connection's transmitter: bound to the interface's address, TTL 1.
        sockaddr_in source{};
        source.sin_family = AF_INET;
        source.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int ttl = 1;
        if (bind(send_socket_, reinterpret_cast<const sockaddr*>(&source), sizeof(source)) != 0 ||
            setsockopt(send_socket_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof(ttl)) != 0) {
            return;
        }
        receiving_ = std::thread([this] { Receive(); });
        ready_ = true;
    }

    ~RawMulticastLoopback() {
        stop_.store(true);
        if (receiving_.joinable()) {
            receiving_.join();
        }
        if (receive_socket_ >= 0) {
            close(receive_socket_);
        }
        if (send_socket_ >= 0) {
            close(send_socket_);
        }
    }
    RawMulticastLoopback(const RawMulticastLoopback&) = delete;
    RawMulticastLoopback& operator=(const RawMulticastLoopback&) = delete;

    bool Ready() const { return ready_; }
    const std::atomic<uint32_t>& Received() const { return received_; }
    const ReceivingThread& Receiving() const { return receiving_thread_; }

    void Send(const uint8_t* datagram, size_t size) {
        sendto(send_socket_, datagram, size, 0, reinterpret_cast<const sockaddr*>(&destination_),
               sizeof(destination_));
    }

  private:
    // Runs in the receiving thread.
    void Receive() {
        // Large enough for any datagram, as the connection's receiver reads into.
        std::vector<uint8_t> buffer(VexPacket::kMaxPacketSize + 1);
        receiving_thread_.RegisterCallingThread();
        while (!stop_.load()) {
            if (recv(receive_socket_, buffer.data(), buffer.size(), 0) >= 0) {
                received_.fetch_add(1, std::memory_order_release);
            }
        }
    }

    sockaddr_in destination_{};
    int receive_socket_ = -1;
    int send_socket_ = -1;
    bool ready_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<uint32_t> received_{0};
    ReceivingThread receiving_thread_;
    std::thread receiving_;
};

void BM_LoopbackRawSocketBaseline(benchmark::State& state) {
    uint16_t size = 0;
    const std::unique_ptr<uint8_t[]> datagram = EncodedTagPositionPacket(&size);
    RawMulticastLoopback loopback(ProcessMulticastGroup().toStdString(), kRawSocketPort);
    if (!loopback.Ready()) {
        state.SkipWithError("raw multicast sockets on lo could not be set up");
        return;
    }
    state.counters["datagram_bytes"] = benchmark::Counter(size);
    RunLoopbackBatches(state, loopback.Received(), loopback.Receiving(),
                       [&loopback, &datagram, size] { loopback.Send(datagram.get(), size); });
}
BENCHMARK(BM_LoopbackRawSocketBaseline)
    ->Arg(0)
    ->Arg(64)
    ->Arg(256)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
