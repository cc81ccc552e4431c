// Garbage thrown at a running server: 10,000 datagrams a second on the
// Internal stream, the External stream, the device configuration port and an
// Ethernet link's input port, one after the other, while random bytes (and
// SSP frames around random payloads) pour into a serial link the whole time.
// The server must not crash or leak, its memory must stay bounded, the real
// site's positions must go on, and what it prints about the garbage must be
// throttled.
//
// Each target gets 3 s of garbage by default, so that the test stays short in
// CI; VORAV_GARBAGE_SECONDS=10 gives the full 10 s each. The garbage is drawn
// from a seed that is printed (VORAV_GARBAGE_SEED repeats a run).
#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <QRegularExpression>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <thread>

#include "fault_site.h"
#include "host/devices/ethernet_link.h"
#include "host/dpu/backlink.h"
#include "protocol/packets/ethernet_config2_packet.h"
#include "protocol/ssp/ssp_protocol.h"
#include "support/stdout_capture.h"

namespace {

// This file's UDP ports: the Internal stream and, next to it, the External.
constexpr uint16_t kInternalPort = 45810;
constexpr int kDatagramsPerSecond = 10000;
// A serial number no configuration names, for garbage that needs one.
constexpr uint32_t kStranger = 0xEE00EEEE;

using Bytes = std::vector<uint8_t>;

int EnvironmentInt(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

// Resident memory of this process, kB.
long ResidentKb() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VORAV_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VORAV_SANITIZER_ALLOCATOR 1
#endif
#endif
#ifdef VORAV_SANITIZER_ALLOCATOR
// The sanitizer runtimes' own count of live heap bytes.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

// Heap bytes in use. Resident memory would not do under the sanitizers,
// whose allocators hold freed blocks back (AddressSanitizer's quarantine
// alone takes 256 MB).
long HeapInUseKb() {
#ifdef VORAV_SANITIZER_ALLOCATOR
    return static_cast<long>(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
#endif
}

void PutLe(Bytes* bytes, uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        bytes->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Garbage of several kinds: plain random bytes, and random contents behind a
// valid Vuv header, a valid announce or valid SSP framing, so that it gets
// past the first checks into the decoders behind them.
class Garbage {
  public:
    explicit Garbage(uint32_t seed) : random_(seed) { ssp_init(&ssp_, SSP_MAX_PAYLOAD_LENGTH); }

    Bytes Random(size_t max_length) {
        Bytes bytes(Below(max_length + 1));
        for (auto& byte : bytes)
            byte = static_cast<uint8_t>(random_());
        return bytes;
    }

    // A Vuv packet from a stranger with items of real and made-up types, whose
    // sizes sometimes lie.
    Bytes Vuv() {
        Bytes bytes = {'L', 'C', '0', '2'};
        PutLe(&bytes, static_cast<uint32_t>(random_()), 4);
        for (char c : std::string("VEX0002"))
            bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(0);
        PutLe(&bytes, Below(4) == 0 ? static_cast<uint32_t>(random_()) : kStranger, 4);
        const uint16_t types[] = {0x0100, 0x8000, 0x8001, 0x8002, 0x8003,
                                  0x8004, 0x8005, 0x8006, 0x8007, 0x8008};
        for (size_t items = Below(6); items > 0; --items) {
            const uint16_t type = Below(5) == 0 ? static_cast<uint16_t>(random_())
                                                : types[Below(sizeof(types) / sizeof(types[0]))];
            const Bytes payload = Random(120);
            PutLe(&bytes, type, 2);
            PutLe(&bytes,
                  Below(8) == 0 ? static_cast<uint32_t>(random_()) : static_cast<uint32_t>(payload.size()),
                  2);
            bytes.insert(bytes.end(), payload.begin(), payload.end());
        }
        return bytes;
    }

    // An announce of a device no configuration names, or a near miss.
    Bytes Announce() {
        Bytes bytes = {0x11};
        PutLe(&bytes, kStranger ^ static_cast<uint32_t>(Below(256)), 4);
        PutLe(&bytes, static_cast<uint32_t>(random_()), 4);
        PutLe(&bytes, static_cast<uint32_t>(random_()), 2);
        bytes.push_back(static_cast<uint8_t>(random_()));
        if (Below(3) == 0)
            bytes.resize(Below(20));
        return bytes;
    }

    // One SSP frame around a random payload whose first byte is that of a
    // device packet (never a bridge answer naming a configured device).
    Bytes SspFrame() {
        const uint8_t kinds[] = {0x10, 0x12, 0x13, 0x14, 0x15, 0x16, 0x20};
        Bytes payload = Random(300);
        if (payload.empty())
            payload.push_back(0);
        payload[0] = Below(6) == 0 ? static_cast<uint8_t>(random_()) : kinds[Below(sizeof(kinds))];
        if (payload[0] == 0x10) {
            payload.resize(5);
            payload[1] = 0xEE;  // vendor 0xEE: a stranger
        }
        std::memcpy(ssp_.tx_buffer + SSP_HEADER_SIZE, payload.data(), payload.size());
        const uint16_t length = ssp_tx_wrap(&ssp_, static_cast<uint16_t>(payload.size()));
        Bytes frame(ssp_.tx_buffer, ssp_.tx_buffer + length);
        if (Below(5) == 0)
            frame[Below(frame.size())] ^= static_cast<uint8_t>(1u << Below(8));  // a damaged frame
        return frame;
    }

    size_t Below(size_t bound) { return bound == 0 ? 0 : static_cast<size_t>(random_() % bound); }

  private:
    std::mt19937 random_;
    ssp_state_t ssp_;
};

class UdpSender {
  public:
    UdpSender() {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        in_addr loopback{};
        inet_pton(AF_INET, "127.0.0.1", &loopback);
        setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof(loopback));
    }
    ~UdpSender() { close(fd_); }
    void Send(const std::string& address, uint16_t port, const Bytes& bytes) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &to.sin_addr);
        sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    }
    int Fd() const { return fd_; }

  private:
    int fd_ = -1;
};

// A pseudo-terminal of the test's, named in the server's serial ports: the
// server's serial link opens its other end, and the test writes noise into it.
class NoisyPort {
  public:
    NoisyPort() : path_("/tmp/vorav-faults-" + std::to_string(getpid()) + "-noise") {
        fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0)
            return;
        termios attributes;
        tcgetattr(fd_, &attributes);
        cfmakeraw(&attributes);
        tcsetattr(fd_, TCSANOW, &attributes);
        unlink(path_.c_str());
        ok_ = symlink(ptsname(fd_), path_.c_str()) == 0;
    }
    ~NoisyPort() {
        Stop();
        unlink(path_.c_str());
        if (fd_ >= 0)
            close(fd_);
    }
    bool Ok() const { return ok_; }
    const std::string& Path() const { return path_; }

    // Writes noise until Stop(), reading away what the server writes.
    void Start(uint32_t seed) {
        thread_ = std::thread([this, seed] {
            Garbage garbage(seed);
            uint8_t sink[4096];
            while (!stop_.load()) {
                Bytes bytes = garbage.Below(2) == 0 ? garbage.Random(512) : garbage.SspFrame();
                if (write(fd_, bytes.data(), bytes.size()) > 0)
                    written_ += bytes.size();
                while (read(fd_, sink, sizeof(sink)) > 0) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    void Stop() {
        stop_.store(true);
        if (thread_.joinable())
            thread_.join();
    }
    size_t Written() const { return written_; }

  private:
    std::string path_;
    int fd_ = -1;
    bool ok_ = false;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    size_t written_ = 0;  // the noise thread's until Stop()
};

// Sends `make()`'s datagrams to one target at the given rate for `seconds`,
// in a thread of its own, while the calling thread runs its events (the
// Host and the engine live there).
size_t Flood(const std::string& address, uint16_t port, int seconds, const std::function<Bytes()>& make) {
    std::atomic<bool> done{false};
    size_t sent = 0;
    std::thread sender([&] {
        UdpSender udp;
        const auto start = std::chrono::steady_clock::now();
        const auto end = start + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < end) {
            // Catch up to the rate, 100 datagrams at a time at most.
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const size_t due = static_cast<size_t>(elapsed * kDatagramsPerSecond);
            for (int i = 0; i < 100 && sent < due; ++i, ++sent)
                udp.Send(address, port, make());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        done.store(true);
    });
    SpinUntil([&] { return done.load(); }, std::chrono::seconds(seconds + 60));
    sender.join();
    return sent;
}

// The most frequent lines of `printed`, digits and hex numbers taken out, with
// their counts: what was not throttled enough.
std::string MostFrequentLines(const std::string& printed) {
    std::map<QString, int> counts;
    for (const QString& line : QString::fromStdString(printed).split('\n'))
        ++counts[QString(line).replace(QRegularExpression("[0-9A-Fa-f]+"), "#")];
    std::vector<std::pair<int, QString>> sorted;
    for (const auto& entry : counts)
        sorted.emplace_back(entry.second, entry.first);
    std::sort(sorted.rbegin(), sorted.rend());
    std::string text;
    for (size_t i = 0; i < sorted.size() && i < 12; ++i)
        text += std::to_string(sorted[i].first) + " x " + sorted[i].second.toStdString() + "\n";
    return text;
}

class GarbageTest : public FaultSiteTest {};

TEST_F(GarbageTest, ServerSurvivesGarbageOnEveryInputAndKeepsLocating) {
    const int seconds = EnvironmentInt("VORAV_GARBAGE_SECONDS", 3);
    const uint32_t seed = static_cast<uint32_t>(
        EnvironmentInt("VORAV_GARBAGE_SEED", static_cast<int>(std::random_device()() & 0x7FFFFFFF)));
    printf("garbage: seed %u (VORAV_GARBAGE_SEED), %d s per target (VORAV_GARBAGE_SECONDS)\n", seed, seconds);
    fflush(stdout);

    NoisyPort noisy;
    ASSERT_TRUE(noisy.Ok());
    StartSite(kInternalPort, {noisy.Path()});
    ASSERT_TRUE(WaitForMorePositions(10, std::chrono::seconds(90)));

    // An Ethernet link with an input port of its own (a device that sends to
    // the host's address rather than to a group), for a device of the test's.
    UdpSender device;
    sockaddr_in device_address{};
    device_address.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &device_address.sin_addr);
    ASSERT_EQ(bind(device.Fd(), reinterpret_cast<sockaddr*>(&device_address), sizeof(device_address)), 0);
    socklen_t size = sizeof(device_address);
    getsockname(device.Fd(), reinterpret_cast<sockaddr*>(&device_address), &size);
    auto* link = new EthernetLink();
    link->SetSerialNumber(kStranger);
    link->SetLocalAddress(QHostAddress("127.0.0.1"));
    link->SetLocalPort(0);
    link->SetNetworkInterface("lo", 0);
    ASSERT_TRUE(host_->GetBacklink());
    ASSERT_TRUE(link->Init(host_->GetNodeManager(), host_->GetBacklink()->GetStreams(),
                           QString("udpm://127.0.0.1:%1").arg(ntohs(device_address.sin_port))));
    WorkerThread link_thread = WorkerThread::Create<NodeLink>(link, &NodeLink::Run, &NodeLink::QuitThread,
                                                              &NodeLink::Shutdown, QString("EthernetLink"));
    link_thread.Start();
    // The link tells the device where to send: its input port.
    uint16_t link_port = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (link_port == 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd pfd{device.Fd(), POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0)
            continue;
        uint8_t datagram[64];
        const ssize_t got = recv(device.Fd(), datagram, sizeof(datagram), 0);
        ethernet_config_packet2_t config{};
        if (got == EthernetConfigPacket2_Size() && datagram[0] == 0x13 &&
            EthernetConfigPacket2_FromBuff(datagram, &config) >= 0)
            link_port = config.host_port;
    }
    ASSERT_NE(link_port, 0) << "the link sent its configuration datagram";

    const std::string group = ProcessMulticastGroup().toStdString();
    Garbage garbage(seed);
    struct target_t {
        const char* name;
        std::string address;
        uint16_t port;
        std::function<Bytes()> make;
    };
    const std::vector<target_t> targets = {
        {"Internal stream", group, kInternalPort,
         [&] { return garbage.Below(2) == 0 ? garbage.Vuv() : garbage.Random(1400); }},
        {"External stream", group, static_cast<uint16_t>(kInternalPort + 1),
         [&] { return garbage.Below(2) == 0 ? garbage.Vuv() : garbage.Random(1400); }},
        {"configuration port", group, kDeviceConfigStreamPort,
         [&] { return garbage.Below(2) == 0 ? garbage.Announce() : garbage.Random(64); }},
        {"link input port", "127.0.0.1", link_port,
         [&] {
             Bytes bytes = garbage.Below(2) == 0 ? garbage.SspFrame() : garbage.Random(600);
             return bytes;
         }},
    };

    const long memory_before = ResidentKb();
    const long heap_before = HeapInUseKb();
    size_t sent = 0;
    std::string printed;
    {
        StdoutCapture capture;
        QtMessagesToStdout messages;
        noisy.Start(seed + 1);
        for (const target_t& target : targets) {
            const size_t before = log_.Positions(kStandingTag) + log_.Positions(kCirclingTag);
            const size_t count = Flood(target.address, target.port, seconds, target.make);
            sent += count;
            const size_t after = log_.Positions(kStandingTag) + log_.Positions(kCirclingTag);
            fprintf(stderr, "garbage: %zu datagrams on the %s; %zu new positions meanwhile\n", count,
                    target.name, after - before);
            EXPECT_GT(after, before) << "positions went on during the garbage on the " << target.name;
        }
        noisy.Stop();
        printed = capture.Stop();
    }
    const long memory_after = ResidentKb();
    const long heap_after = HeapInUseKb();
    const long lines = std::count(printed.begin(), printed.end(), '\n');
    printf(
        "garbage: %zu datagrams and %zu serial bytes; %ld lines printed meanwhile; resident memory %ld kB "
        "before, %ld kB after; heap in use %ld kB before, %ld kB after\n",
        sent, noisy.Written(), lines, memory_before, memory_after, heap_before, heap_after);
    fflush(stdout);

    EXPECT_GE(sent,
              static_cast<size_t>(kDatagramsPerSecond) * static_cast<size_t>(seconds) * targets.size() / 2);
    EXPECT_GT(noisy.Written(), 10000u);
    // Every kind of garbage that earns a message is throttled: far fewer lines
    // than datagrams.
    EXPECT_LT(static_cast<size_t>(lines), sent / 50 + 200) << MostFrequentLines(printed);
    // Bounded: the garbage itself, had it all been kept, would be tens of MB.
    ASSERT_GT(heap_before, 0);
    EXPECT_LT(heap_after - heap_before, 64 * 1024);

    EXPECT_TRUE(WaitForMorePositions(10)) << "positions go on after the garbage";
    EXPECT_TRUE(host_->IsStarted());
    link_thread.RequestStop();
    EXPECT_TRUE(link_thread.Join(5000));
}

}  // namespace
