// The configuration server on a multicast group of this process on "lo":
// announces sent to the group reach SignalEthernetAnnounceReceived with the
// sender's address and port; wrong lengths and types do not.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QNetworkInterface>
#include <QString>
#include <mutex>
#include <string>
#include <vector>

#include "host/devices/configuration_server.h"
#include "host/devices/worker_thread.h"
#include "protocol/packets/ethernet_announce_packet.h"
#include "support/device_payloads.h"
#include "support/link_test_support.h"
#include "support/process_multicast_group.h"
#include "support/stdout_capture.h"

namespace {

using namespace link_test;
using Bytes = std::vector<uint8_t>;

Bytes Announce(uint32_t serial_number, uint8_t type = 0x11) {
    const ethernet_announce_t announce{type, serial_number, 0x0A01A8C0, 0x8A1D, 7};
    Bytes datagram(12);
    EthernetAnnouncePacket_ToBuff(datagram.data(), &announce);
    return datagram;
}

struct Report {
    ethernet_announce_t announce;
    QString address;
    quint16 port;
};

// Sends to the group from 127.0.0.1 and a port of its own.
class AnnounceSender {
  public:
    AnnounceSender(const std::string& group, uint16_t group_port, uint16_t own_port) {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(own_port);
        inet_pton(AF_INET, "127.0.0.1", &local.sin_addr);
        EXPECT_EQ(bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof(local)), 0);
        in_addr loopback{};
        inet_pton(AF_INET, "127.0.0.1", &loopback);
        setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof(loopback));
        const unsigned char loop = 1;
        setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof(loop));
        to_.sin_family = AF_INET;
        to_.sin_port = htons(group_port);
        inet_pton(AF_INET, group.c_str(), &to_.sin_addr);
    }
    ~AnnounceSender() { close(fd_); }
    void Send(const Bytes& datagram) {
        sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to_),
               sizeof(to_));
    }

  private:
    int fd_;
    sockaddr_in to_{};
};

class ConfigurationServerTest : public ::testing::Test {
  protected:
    void Start(uint16_t port) {
        server_ = new ConfigurationServer(ProcessMulticastGroup(), port,
                                          QNetworkInterface::interfaceFromName("lo"));
        QObject::connect(
            server_, &ConfigurationServer::SignalEthernetAnnounceReceived, server_,
            [this](ethernet_announce_t announce, QString address, quint16 sender_port) {
                std::lock_guard<std::mutex> lock(mutex_);
                reports_.push_back({announce, address, sender_port});
            },
            Qt::DirectConnection);
        thread_ = WorkerThread::Create(server_, &ConfigurationServer::Run, &ConfigurationServer::QuitThread,
                                       &ConfigurationServer::Shutdown, "configuration server");
        thread_.Start();
    }
    void TearDown() override { EXPECT_TRUE(StopAndJoin(thread_)); }
    std::vector<Report> Reports() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }

    ConfigurationServer* server_ = nullptr;
    WorkerThread thread_;
    std::mutex mutex_;  // guards reports_, filled in the server's thread
    std::vector<Report> reports_;
};

TEST_F(ConfigurationServerTest, EveryValidAnnounceIsReportedWithItsSender) {
    StdoutCapture capture;
    Start(42450);
    AnnounceSender sender(ProcessMulticastGroup().toStdString(), 42450, 42451);
    // The server joins the group in its own thread: announce until it hears.
    ASSERT_TRUE(SpinUntil([&] {
        sender.Send(Announce(0x0100002A));
        return !Reports().empty();
    }));
    sender.Send(Bytes(13, 0x11));
    sender.Send(Announce(0x0100002A, 0x12));
    sender.Send(Announce(0));
    sender.Send(Announce(0xFFFFFFFF));
    sender.Send(Announce(0x0100002B));
    ASSERT_TRUE(SpinUntil([&] { return Reports().back().announce.serial_number == 0x0100002B; }));
    ASSERT_TRUE(StopAndJoin(thread_));

    for (const Report& report : Reports()) {
        EXPECT_EQ(report.address, "127.0.0.1");
        EXPECT_EQ(report.port, 42451);
        EXPECT_EQ(report.announce.host_ipv4_address, 0x0A01A8C0u);
        EXPECT_EQ(report.announce.host_port, 0x8A1D);
        EXPECT_EQ(report.announce.vlan_id, 7);
        EXPECT_TRUE(report.announce.serial_number == 0x0100002A ||
                    report.announce.serial_number == 0x0100002B || report.announce.serial_number == 0 ||
                    report.announce.serial_number == 0xFFFFFFFF);
    }
    // Whether a serial number names a device is the host's to judge (it
    // links none of these): every announce of the right length and type
    // is reported.
    std::vector<uint32_t> after_first;
    for (const Report& report : Reports()) {
        if (report.announce.serial_number != 0x0100002A) {
            after_first.push_back(report.announce.serial_number);
        }
    }
    EXPECT_EQ(after_first, (std::vector<uint32_t>{0, 0xFFFFFFFF, 0x0100002B}));
    const std::string text = capture.Stop();
    const std::string first =
        "ConfigurationServer: Received announce from device with serial number 0100002A\n";
    EXPECT_NE(text.find(first), std::string::npos) << text;
    EXPECT_EQ(text.find(first), text.rfind(first)) << "one log line per serial number";
    EXPECT_NE(text.find("ConfigurationServer: received packet of bad length 13\n"), std::string::npos);
    EXPECT_NE(text.find("ConfigurationServer: received packet of unknown type 18\n"), std::string::npos);
    EXPECT_NE(text.find("ConfigurationServer: Received announce from device with serial number 00000000\n"),
              std::string::npos);
    EXPECT_NE(text.find("ConfigurationServer: Received announce from device with serial number FFFFFFFF\n"),
              std::string::npos);
    EXPECT_NE(text.find("ConfigurationServer: Shut down\n"), std::string::npos);
}

// Straight to the datagram check, in this thread: the outcomes of lengths
// and types, and a log table that stays bounded however many devices appear.
TEST_F(ConfigurationServerTest, DatagramChecksAndBoundedLog) {
    ConfigurationServer server(ProcessMulticastGroup(), 42460, QNetworkInterface());
    int reported = 0;
    QObject::connect(&server, &ConfigurationServer::SignalEthernetAnnounceReceived,
                     [&](ethernet_announce_t, QString, quint16) { ++reported; });
    using Result = ConfigurationServer::AnnounceResult;
    const QHostAddress sender("10.0.0.1");
    StdoutCapture capture;
    for (size_t length = 0; length < 20; ++length) {
        Bytes datagram(length, 0x11);
        const Result result = server.ProcessDatagram(datagram.data(), datagram.size(), sender, 1);
        EXPECT_EQ(result, length == 12 ? Result::kReported : Result::kBadLength) << length;
    }
    EXPECT_EQ(server.ProcessDatagram(Announce(5, 0x13).data(), 12, sender, 1), Result::kUnknownType);
    EXPECT_EQ(server.ProcessDatagram(Announce(0).data(), 12, sender, 1), Result::kReported);
    EXPECT_EQ(server.ProcessDatagram(Announce(0xFFFFFFFF).data(), 12, sender, 1), Result::kReported);
    for (uint32_t serial = 1; serial <= ConfigurationServer::kMaxLoggedSerialNumbers + 2000; ++serial) {
        EXPECT_EQ(server.ProcessDatagram(Announce(serial).data(), 12, sender, 1), Result::kReported);
    }
    const std::string text = capture.Stop();
    EXPECT_EQ(reported, 3 + static_cast<int>(ConfigurationServer::kMaxLoggedSerialNumbers) + 2000);
    size_t lines = 0;
    for (char c : text) {
        lines += c == '\n';
    }
    EXPECT_LT(lines, ConfigurationServer::kMaxLoggedSerialNumbers + 200);
}

TEST_F(ConfigurationServerTest, FirstAnnounceOfADeviceSaysWhetherTheHostWillIgnoreIt) {
    ConfigurationServer server(ProcessMulticastGroup(), 42461, QNetworkInterface());
    server.SetRegistry(test_devices::MakeRegistry());
    int reported = 0;
    QObject::connect(&server, &ConfigurationServer::SignalEthernetAnnounceReceived,
                     [&](ethernet_announce_t, QString, quint16) { ++reported; });
    const QHostAddress sender("10.0.0.1");
    StdoutCapture capture;
    for (int round = 0; round < 2; ++round) {
        for (uint32_t serial : {test_devices::kAnchor1, 0x0A0B0C0Du, test_devices::kAlien}) {
            server.ProcessDatagram(Announce(serial).data(), 12, sender, 1);
        }
    }
    EXPECT_EQ(reported, 6);
    EXPECT_EQ(
        capture.Stop(),
        "ConfigurationServer: Received announce from device with serial number 01030001\n"
        "ConfigurationServer: Received announce from device with serial number 0A0B0C0D\n"
        "ConfigurationServer: device 0A0B0C0D is not configured (or disabled); its announces are ignored\n"
        "ConfigurationServer: Received announce from device with serial number 0A0B0C0E\n"
        "ConfigurationServer: device 0A0B0C0E belongs to another network; its announces are ignored\n");
}

}  // namespace
