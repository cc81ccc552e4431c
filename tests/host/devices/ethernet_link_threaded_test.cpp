// Ethernet links over loopback UDP: the test plays the device with a socket
// of its own, reads the configuration datagram the link sends, sends SSP
// frames to the address and port it names and reads the 0x12 datagrams the
// link sends back. Each test uses ports of its own (ctest runs them at once).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QHostAddress>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/network_socket_settings.h"
#include "host/devices/ethernet_link.h"
#include "host/devices/worker_thread.h"
#include "protocol/vex/vex_data_types.h"
#include "support/device_payloads.h"
#include "support/link_test_support.h"
#include "support/stdout_capture.h"

namespace {

using namespace test_devices;
using namespace link_test;

sockaddr_in Ipv4(const char* address, uint16_t port) {
    sockaddr_in socket_address{};
    socket_address.sin_family = AF_INET;
    socket_address.sin_port = htons(port);
    inet_pton(AF_INET, address, &socket_address.sin_addr);
    return socket_address;
}

// A UDP endpoint on loopback served by a thread of its own, which keeps
// every datagram it receives.
class UdpDevice {
  public:
    UdpDevice(const char* address, uint16_t port) : address_(address), port_(port) { Open(); }
    ~UdpDevice() { Close(); }

    void Open() {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(fd_, 0);
        const int reuse = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
        const sockaddr_in local = Ipv4(address_, port_);
        ASSERT_EQ(bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof(local)), 0) << port_;
        stop_ = false;
        server_ = std::thread([this] { Serve(); });
    }
    void Close() {
        if (fd_ < 0) {
            return;
        }
        stop_ = true;
        server_.join();
        close(fd_);
        fd_ = -1;
    }

    void SendTo(const Bytes& datagram, uint16_t port) {
        const sockaddr_in to = Ipv4("127.0.0.1", port);
        sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    }
    std::vector<Bytes> Datagrams() {
        std::lock_guard<std::mutex> lock(mutex_);
        return datagrams_;
    }

  private:
    void Serve() {
        uint8_t buffer[65536];
        while (!stop_) {
            pollfd poll_fd{fd_, POLLIN, 0};
            if (poll(&poll_fd, 1, 20) <= 0) {
                continue;
            }
            const ssize_t n = recv(fd_, buffer, sizeof(buffer), 0);
            if (n >= 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                datagrams_.emplace_back(buffer, buffer + n);
            }
        }
    }

    const char* address_;
    const uint16_t port_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread server_;
    std::mutex mutex_;  // guards datagrams_
    std::vector<Bytes> datagrams_;
};

// Holds the link's thread in its first publication until opened; counts
// every publication.
class HoldingPublisher : public VexInputPublisher {
  public:
    void PublishInputVex(VexPacket&) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (published_++ == 0) {
            changed_.notify_all();
            changed_.wait_for(lock, kWait, [this] { return open_; });
        }
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    int Published() {
        std::lock_guard<std::mutex> lock(mutex_);
        return published_;
    }

  private:
    // Guards the fields below: taken by the link's thread and the test's.
    std::mutex mutex_;
    std::condition_variable changed_;
    int published_ = 0;
    bool open_ = false;
};

// The system's cap on a socket's receive buffer; 0 when it cannot be read.
long MaxReceiveBufferBytes() {
    std::ifstream cap("/proc/sys/net/core/rmem_max");
    long bytes = 0;
    return cap >> bytes ? bytes : 0;
}

class EthernetLinkTest : public ::testing::Test {
  protected:
    // The link publishes to the recorder unless given another publisher.
    void StartLink(uint16_t device_port, const QHostAddress& local_address, uint16_t local_port, int vlan,
                   std::shared_ptr<VexInputPublisher> publisher = nullptr) {
        link_ = new EthernetLink();
        ASSERT_TRUE(link_->SetNetworkInterface("lo", vlan));
        link_->SetLocalAddress(local_address);
        link_->SetLocalPort(local_port);
        link_->SetSerialNumber(kLinkDevice);
        ASSERT_TRUE(link_->Init(MakeRegistry(), publisher ? publisher : recorder_,
                                QString("udpm://127.0.0.1:%1").arg(device_port)));
        connections_ = CountConnections(link_);
        thread_ = WorkerThread::Create<NodeLink>(link_, &NodeLink::Run, &NodeLink::QuitThread,
                                                 &NodeLink::Shutdown, "Ethernet link");
        thread_.Start();
    }
    void TearDown() override { EXPECT_TRUE(StopAndJoin(thread_)); }

    // The configuration datagram, once the device has it.
    static Bytes Configuration(UdpDevice& device) {
        EXPECT_TRUE(SpinUntil([&] { return !device.Datagrams().empty(); }));
        const auto datagrams = device.Datagrams();
        return datagrams.empty() ? Bytes() : datagrams.front();
    }

    // The payloads of the 0x12 datagrams the device received.
    static std::vector<Bytes> Payloads(UdpDevice& device) {
        std::vector<Bytes> payloads;
        FrameReader reader;
        for (const Bytes& datagram : device.Datagrams()) {
            if (!datagram.empty() && datagram[0] == device_protocol::kEthernetSspFrame) {
                for (Bytes& payload : reader.Feed(datagram.data() + 1, datagram.size() - 1)) {
                    payloads.push_back(std::move(payload));
                }
            }
        }
        return payloads;
    }

    std::shared_ptr<VexPacketRecorder> recorder_ = std::make_shared<VexPacketRecorder>();
    EthernetLink* link_ = nullptr;
    std::shared_ptr<std::atomic<int>> connections_;
    WorkerThread thread_;
};

TEST_F(EthernetLinkTest, UnicastDeviceIsToldTheLinksOwnSocketAndSpeaksThroughIt) {
    UdpDevice device("127.0.0.1", 42400);
    StartLink(42400, QHostAddress("127.0.0.1"), 1, 7);
    EXPECT_EQ(link_->GetPortName(), "udpm://127.0.0.1:42400");
    const Bytes config = Configuration(device);
    ASSERT_EQ(config.size(), 9u);
    EXPECT_EQ(config[0], 0x13);
    EXPECT_EQ(config[1], 0x02);
    // Address and port least significant byte first.
    EXPECT_EQ((Bytes{config[2], config[3], config[4], config[5]}), (Bytes{1, 0, 0, 127}));
    const uint16_t link_port = static_cast<uint16_t>(config[6] | (config[7] << 8));
    EXPECT_NE(link_port, 0);
    EXPECT_EQ(config[8], 7);
    ASSERT_TRUE(SpinUntil([&] { return connections_->load() == 1; }));

    // Garbage before the frames is skipped; two frames in one datagram.
    FrameWriter writer;
    device.SendTo(Concat({{0x00, 0xC1, 0x55},
                          writer.Frame(RxPassthrough(SyncPacket(Sync(1, kMasterId)), 5, 0)),
                          writer.Frame(RxPassthrough(AnnounceResponse(0x0E0E0E0E), 6, 0))}),
                  link_port);
    // A stranger's frame on the same port is not the device's.
    UdpDevice stranger("127.0.0.2", 42401);
    stranger.SendTo(writer.Frame({0x12, 0x00}), link_port);
    device.SendTo(writer.Frame({0x12, 0x06}), link_port);
    ASSERT_TRUE(SpinUntil([&] { return ItemsOf(*recorder_).size() == 3; }));
    const auto items = ItemsOf(*recorder_);
    EXPECT_EQ(items[0].type, VexType::kTimedRx);
    EXPECT_EQ(items[1].type, VexType::kDiscovery);
    ASSERT_EQ(items[2].type, VexType::kSspResponse);
    EXPECT_EQ(items[2].payload, Bytes{0x06}) << "the stranger's response 0 was dropped";
    EXPECT_EQ(items[2].packet_serial, kLinkDevice);

    const Bytes command = {0x11, 0x06};
    link_->Publish(command.data(), static_cast<uint32_t>(command.size()));
    ASSERT_TRUE(SpinUntil([&] { return !Payloads(device).empty(); }));
    EXPECT_EQ(Payloads(device).front(), command);
}

TEST_F(EthernetLinkTest, MulticastDeviceIsToldTheInternalStreamsGroupAndPort) {
    UdpDevice device("127.0.0.1", 42410);
    StartLink(42410, QHostAddress("239.255.76.67"), 7667, 5);
    EXPECT_EQ(Configuration(device), (Bytes{0x13, 0x02, 0x43, 0x4C, 0xFF, 0xEF, 0xF3, 0x1D, 0x05}));
    ASSERT_TRUE(SpinUntil([&] { return connections_->load() == 1; }));
    const Bytes command = {0x11, 0x03, 0x01};
    link_->Publish(command.data(), static_cast<uint32_t>(command.size()));
    ASSERT_TRUE(SpinUntil([&] { return !Payloads(device).empty(); }));
    EXPECT_EQ(Payloads(device).front(), command);
}

TEST_F(EthernetLinkTest, ARebootingDeviceCostsThePayloadsItRefusedNotTheLink) {
    UdpDevice device("127.0.0.1", 42420);
    StartLink(42420, QHostAddress("127.0.0.1"), 1, 0);
    Configuration(device);
    ASSERT_TRUE(SpinUntil([&] { return connections_->load() == 1; }));

    // While the device is away its port refuses datagrams; Qt mostly meets
    // that as a read error of the socket, sometimes as a failed send.
    StdoutCapture capture;
    device.Close();
    const Bytes lost = {0x11, 0x06};
    for (int i = 0; i < 4; ++i) {
        link_->Publish(lost.data(), static_cast<uint32_t>(lost.size()));
    }
    device.Open();
    const Bytes kept = {0x11, 0x02, 0x01};
    ASSERT_TRUE(SpinUntil([&] {
        link_->Publish(kept.data(), static_cast<uint32_t>(kept.size()));
        const auto payloads = Payloads(device);
        return !payloads.empty() && payloads.back() == kept;
    }));
    EXPECT_FALSE(thread_.IsFinished());
    EXPECT_EQ(link_->GetLinkState(), NodeLink::kStateOpen);
    const std::string text = capture.Stop();
    EXPECT_EQ(text.find("No Longer Open"), std::string::npos) << text;
}

// What the device sends while the link's thread is held up waits in the
// receive socket's buffer; the system's default holds a few hundred small
// datagrams, a burst of thousands must be kept.
TEST_F(EthernetLinkTest, ABurstArrivingWhileTheLinksThreadIsHeldUpIsKept) {
    constexpr int kBurst = 2000;
    if (MaxReceiveBufferBytes() < kSocketReceiveBufferBytes) {
        GTEST_SKIP() << "net.core.rmem_max caps receive buffers below " << kSocketReceiveBufferBytes;
    }
    auto publisher = std::make_shared<HoldingPublisher>();
    UdpDevice device("127.0.0.1", 46360);
    StartLink(46360, QHostAddress("127.0.0.1"), 1, 0, publisher);
    const Bytes config = Configuration(device);
    ASSERT_EQ(config.size(), 9u);
    const uint16_t link_port = static_cast<uint16_t>(config[6] | (config[7] << 8));

    // Responses to "execute sync commands": one item each, no message.
    FrameWriter writer;
    const Bytes response = {0x12, 0x05};
    device.SendTo(writer.Frame(response), link_port);
    ASSERT_TRUE(SpinUntil([&] { return publisher->Published() == 1; }));
    for (int i = 0; i < kBurst; ++i) {
        device.SendTo(writer.Frame(response), link_port);
    }
    publisher->Open();
    EXPECT_TRUE(SpinUntil([&] { return publisher->Published() == kBurst + 1; })) << publisher->Published();
}

TEST_F(EthernetLinkTest, SettingsThatCannotWorkAreRefused) {
    EthernetLink link;
    StdoutCapture capture;
    // Refused without a message: the host reports it, once.
    EXPECT_FALSE(link.SetNetworkInterface("lo", 256));
    EXPECT_FALSE(link.SetNetworkInterface("lo", -1));
    EXPECT_TRUE(link.SetNetworkInterface("lo", 255));
    EXPECT_TRUE(link.SetNetworkInterface("no-such-interface", 0));
    EXPECT_FALSE(link.Init(nullptr, nullptr, "udpm://192.168.1.20"));
    EXPECT_FALSE(link.Init(nullptr, nullptr, "udpm://not-an-address:7671"));
    EXPECT_FALSE(link.Init(nullptr, nullptr, "udpm://192.168.1.20:70000"));
    EXPECT_EQ(link.GetLinkState(), NodeLink::kStateNotInitialised);
    EXPECT_TRUE(link.Init(nullptr, nullptr, "udpm://192.168.1.20:7671"));
    EXPECT_EQ(link.GetPortName(), "udpm://192.168.1.20:7671");
    EXPECT_EQ(
        capture.Stop(),
        "EthernetLink: Interface either not specified or not found; defaulting to loopback\n"
        "EthernetLink: udpm://192.168.1.20 is not a device address of the form udpm://<IPv4 address>:<port>\n"
        "EthernetLink: udpm://not-an-address:7671 is not a device address of the form udpm://<IPv4 "
        "address>:<port>\n"
        "EthernetLink: udpm://192.168.1.20:70000 is not a device address of the form udpm://<IPv4 "
        "address>:<port>\n");
    EXPECT_TRUE(EthernetLink::AddressIsMulticast(QHostAddress("224.0.0.1")));
    EXPECT_TRUE(EthernetLink::AddressIsMulticast(QHostAddress("239.255.255.255")));
    EXPECT_FALSE(EthernetLink::AddressIsMulticast(QHostAddress("240.0.0.0")));
    EXPECT_FALSE(EthernetLink::AddressIsMulticast(QHostAddress("127.0.0.1")));
    EXPECT_FALSE(EthernetLink::AddressIsMulticast(QHostAddress("ff02::1")));
}

}  // namespace
