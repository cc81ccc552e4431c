// The simulator's devices seen from the server's side of their links: the
// bytes a USB device answers on its pseudo-terminal, a master's syncs, a
// cable pulled and plugged back, and an Ethernet device's announce,
// configuration and data, unicast and multicast.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QSerialPort>

#include "base/byte_order.h"
#include "base/device_time.h"
#include "protocol/packets/announce_response_packet.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/ethernet_announce_packet.h"
#include "protocol/packets/ethernet_config2_packet.h"
#include "protocol/packets/ssp_cmd_start_sync_packet.h"
#include "protocol/packets/sync_packet.h"
#include "protocol/packets/tx_passthrough_data_packet.h"
#include "protocol/vex/vex_data_types.h"
#include "protocol/vex/vex_packet.h"
#include "server_side.h"
#include "simulator/device_simulator.h"
#include "support/spin_until.h"

namespace {

namespace dp = device_protocol;

constexpr uint32_t kMaster = 0x01000001;
constexpr uint32_t kWiredAnchor = 0x01000011;
constexpr uint32_t kEthernetAnchor = 0x01000012;
// This file's UDP ports.
constexpr uint16_t kConfigPort = 43000;
constexpr uint16_t kServerPort = 43001;
constexpr uint16_t kInternalPort = 43002;

sim_device_t Device(uint32_t serial, SimRole role, SimLinkKind link, const std::string& name = "") {
    sim_device_t device;
    device.serial_number = serial;
    device.role = role;
    device.link = link;
    device.usb_path = name.empty() ? "" : "/tmp/" + ProcessUnique(name);
    device.clock_offset_ticks = 1e6;
    device.clock_drift_ppm = 0.0;
    return device;
}

sim_site_t LinkSite() {
    sim_site_t site;
    site.devices.push_back(Device(kMaster, SimRole::kMaster, SimLinkKind::kUsb, "vorav-sim-test-master"));
    site.devices.push_back(
        Device(kWiredAnchor, SimRole::kAnchor, SimLinkKind::kUsb, "vorav-sim-test-anchor"));
    sim_device_t ethernet = Device(kEthernetAnchor, SimRole::kAnchor, SimLinkKind::kEthernet);
    site.devices.push_back(ethernet);
    site.config_group = ProcessGroup();
    site.config_port = kConfigPort;
    site.announce_period_ms = 100;
    return site;
}

bool IsType(const Payload& payload, uint8_t type, uint8_t second) {
    return payload.size() >= 2 && payload[0] == type && payload[1] == second;
}

Payload StartSync(uint32_t period) {
    ssp_cmd_start_sync_t start{dp::kSspTypeCommand, dp::kSspCmdStartSync, period, 1, 1234, 127, 2};
    Payload bytes(dp::kSspCmdStartSyncSize);
    SspCmdStartSync_ToBuff(bytes.data(), &start);
    return bytes;
}

// The sync inside a transmit passthrough payload.
bool DecodeSync(const Payload& payload, packet_sync_t* sync) {
    if (payload.size() < 4u + dp::kPacketSyncSize || payload[0] != dp::kSspTypeTxPassthrough)
        return false;
    ssp_cmd_set_tx_passthrough_data_t header;
    SspCmdSetTxPassthrough_Data_FromBuff(payload.data(), &header);
    if (header.rf_packet_length != payload.size() - 4)
        return false;
    PacketSync_FromBuff(payload.data() + 4, sync);
    return sync->type == dp::kRfPacketSync;
}

class SimulatorLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        site_ = LinkSite();
        simulator_ = std::make_unique<DeviceSimulator>(site_);
        std::string error;
        ASSERT_TRUE(simulator_->Start(&error)) << error;
    }
    void TearDown() override { simulator_->Stop(); }

    sim_site_t site_;
    std::unique_ptr<DeviceSimulator> simulator_;
};

TEST_F(SimulatorLinkTest, UsbDeviceAnswersTheBridgeQueryAndEveryCommandAsTheLinkExpects) {
    PtyServerSide port;
    ASSERT_TRUE(port.Open(site_.devices[1].usb_path));
    Payload answer;
    port.Send({dp::kSspTypeBridge, dp::kBridgeSerialNumberQuery});
    ASSERT_TRUE(port.WaitFor([](const Payload& p) { return p[0] == dp::kSspTypeBridge; }, &answer));
    ASSERT_EQ(answer.size(), 5u);
    packet_announce_response_t bridge;
    PacketAnnounceResponse_FromBuff(answer.data(), &bridge);
    EXPECT_EQ(bridge.serial_number, kWiredAnchor);

    // Each command with the response the link checks: 0x12, the sub-id and the
    // command's own fields, as long as the command's fixed part.
    const std::vector<std::pair<Payload, Payload>> exchanges = {
        {{0x11, 0x02, 0x01}, {0x12, 0x02, 0x01}},
        {{0x11, 0x03, 0x00}, {0x12, 0x03, 0x00}},
        {{0x11, 0x04, 0x00, 0x04, 0x01, 0x13, 0x04, 0x00, 0x07}, {0x12, 0x04, 0x00, 0x04, 0x01}},
        {{0x11, 0x05, 0x00, 0x04, 0x01, 0x13, 0x04, 0x00, 0x07}, {0x12, 0x05, 0x00, 0x04, 0x01}},
        {{0x11, 0x06}, {0x12, 0x06}},
        {StartSync(97500),
         [] {
             Payload response = StartSync(97500);
             response[0] = 0x12;
             return response;
         }()},
        // A command this device does not know is answered with itself.
        {{0x11, 0x09, 0xAA, 0xBB}, {0x12, 0x09, 0xAA, 0xBB}},
    };
    for (const auto& exchange : exchanges) {
        port.Send(exchange.first);
        Payload response;
        ASSERT_TRUE(port.WaitFor([](const Payload& p) { return p[0] == dp::kSspTypeResponse; }, &response));
        EXPECT_EQ(response, exchange.second);
    }
    // Receive passthrough on reached the device; an anchor never syncs, whatever it is told.
    const sim_device_status_t status = simulator_->GetStatus(kWiredAnchor);
    EXPECT_TRUE(status.rx_passthrough);
    EXPECT_FALSE(status.syncing);
    EXPECT_GE(status.commands_received, exchanges.size());
}

TEST_F(SimulatorLinkTest, MasterSendsSyncsWithTheStartedPeriodOnItsClockUntilStopped) {
    PtyServerSide port;
    ASSERT_TRUE(port.Open(site_.devices[0].usb_path));
    constexpr uint32_t kPeriod = 48751;  // 50 ms of network time
    port.Send({0x11, 0x03, 0x01});
    port.Send(StartSync(kPeriod));
    ASSERT_TRUE(port.WaitFor([](const Payload& p) { return IsType(p, 0x12, 0x00); }, nullptr));

    std::vector<packet_sync_t> syncs;
    while (syncs.size() < 6) {
        Payload payload;
        ASSERT_TRUE(
            port.WaitFor([](const Payload& p) { return p[0] == dp::kSspTypeTxPassthrough; }, &payload));
        packet_sync_t sync;
        ASSERT_TRUE(DecodeSync(payload, &sync));
        syncs.push_back(sync);
    }
    for (size_t k = 0; k < syncs.size(); ++k) {
        // Network time restarts at 0 with the start and grows by one period per sync.
        EXPECT_EQ(syncs[k].network_time, k * kPeriod);
        EXPECT_EQ(syncs[k].sequence, static_cast<uint8_t>(k));
        EXPECT_EQ(syncs[k].field_9, 1234u);
        if (k > 0) {
            // This master's clock runs true: a period is 65536 ticks per unit of network time.
            const uint64_t ticks = DeviceTimeForward(syncs[k - 1].transmit_time, syncs[k].transmit_time);
            EXPECT_NEAR(static_cast<double>(ticks), kPeriod * 65536.0, 2.0);
        }
    }
    port.Send({0x11, 0x06});
    ASSERT_TRUE(port.WaitFor([](const Payload& p) { return IsType(p, 0x12, 0x06); }, nullptr));
    test_support::SpinUntil([this] { return !simulator_->GetStatus(kMaster).syncing; }, kBound);
    EXPECT_FALSE(simulator_->GetStatus(kMaster).syncing);
}

// The recording: nothing before it is switched on; then every payload the
// devices take, in arrival order with their devices, and every sync the master
// sends, with the commands it carried, at its transmission time.
TEST_F(SimulatorLinkTest, RecordingKeepsThePayloadsTakenAndTheSyncsSentInOrder) {
    PtyServerSide master;
    PtyServerSide anchor;
    ASSERT_TRUE(master.Open(site_.devices[0].usb_path));
    ASSERT_TRUE(anchor.Open(site_.devices[1].usb_path));
    anchor.Send({0x11, 0x02, 0x01});
    ASSERT_TRUE(anchor.WaitFor([](const Payload& p) { return IsType(p, 0x12, 0x02); }, nullptr));
    EXPECT_TRUE(simulator_->TakeRecords().empty());

    simulator_->SetRecording(true);
    const double before = simulator_->Now();
    const Payload setCommands = {0x11, 0x04, 0x00, 0x04, 0x01, 0x13, 0x04, 0x00, 0x07};
    master.Send({0x11, 0x03, 0x01});
    master.Send(StartSync(48751));
    ASSERT_TRUE(master.WaitFor([](const Payload& p) { return IsType(p, 0x12, 0x00); }, nullptr));
    anchor.Send({0x11, 0x02, 0x00});
    ASSERT_TRUE(anchor.WaitFor([](const Payload& p) { return IsType(p, 0x12, 0x02); }, nullptr));
    master.Send(setCommands);
    // Two syncs after the set: the first carries the command, the second nothing.
    std::vector<sim_record_t> records;
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    size_t syncsAfterSet = 0;
    while (syncsAfterSet < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (auto& record : simulator_->TakeRecords())
            records.push_back(std::move(record));
        syncsAfterSet = 0;
        bool setSeen = false;
        for (const auto& record : records) {
            setSeen = setSeen || record.bytes == setCommands;
            syncsAfterSet += setSeen && record.kind == sim_record_t::Kind::kSync ? 1 : 0;
        }
    }
    simulator_->SetRecording(false);

    std::vector<std::pair<uint32_t, Payload>> taken;
    std::vector<const sim_record_t*> syncs;
    double last = before;
    for (const auto& record : records) {
        EXPECT_GE(record.time_s, before);
        if (record.kind == sim_record_t::Kind::kFromServer) {
            EXPECT_GE(record.time_s, last) << "payloads in arrival order";
            last = record.time_s;
            taken.emplace_back(record.serial_number, record.bytes);
        } else {
            EXPECT_EQ(record.serial_number, kMaster);
            syncs.push_back(&record);
        }
    }
    const std::vector<std::pair<uint32_t, Payload>> expected = {
        {kMaster, {0x11, 0x03, 0x01}},
        {kMaster, StartSync(48751)},
        {kWiredAnchor, {0x11, 0x02, 0x00}},
        {kMaster, setCommands},
    };
    EXPECT_EQ(taken, expected);
    ASSERT_EQ(syncsAfterSet, 2u);
    int carrying = 0;
    for (size_t k = 0; k < syncs.size(); ++k) {
        packet_sync_t sync;
        PacketSync_FromBuff(syncs[k]->bytes.data(), &sync);
        EXPECT_EQ(sync.network_time, k * 48751u);
        if (k > 0) {
            EXPECT_GT(syncs[k]->time_s, syncs[k - 1]->time_s);
        }
        const Payload carried(syncs[k]->bytes.begin() + dp::kPacketSyncSize, syncs[k]->bytes.end());
        if (!carried.empty()) {
            ++carrying;
            EXPECT_EQ(carried, Payload(setCommands.begin() + 5, setCommands.end()));
            EXPECT_EQ(sync.byte_24, 1);
        }
    }
    EXPECT_EQ(carrying, 1);
}

TEST_F(SimulatorLinkTest, UnpluggedDeviceVanishesAndComesBackUnderTheSameNameOnANewTerminal) {
    const std::string path = site_.devices[0].usb_path;
    PtyServerSide port;
    ASSERT_TRUE(port.Open(path));
    port.Send({dp::kSspTypeBridge, dp::kBridgeSerialNumberQuery});
    ASSERT_TRUE(port.WaitFor([](const Payload& p) { return p[0] == dp::kSspTypeBridge; }, nullptr));
    const std::string first_terminal = simulator_->GetStatus(kMaster).port_name;

    ASSERT_TRUE(simulator_->Unplug(kMaster));
    EXPECT_TRUE(port.WaitForHangUp());  // what the serial port library reports as a resource error
    struct stat info;
    EXPECT_NE(lstat(path.c_str(), &info), 0) << "the name goes away with the device";
    EXPECT_FALSE(simulator_->GetStatus(kMaster).plugged);

    ASSERT_TRUE(simulator_->Plug(kMaster));
    EXPECT_TRUE(simulator_->GetStatus(kMaster).plugged);
    PtyServerSide again;
    ASSERT_TRUE(again.Open(path));
    again.Send({dp::kSspTypeBridge, dp::kBridgeSerialNumberQuery});
    Payload answer;
    ASSERT_TRUE(again.WaitFor([](const Payload& p) { return p[0] == dp::kSspTypeBridge; }, &answer));
    EXPECT_EQ(wire::read_be32(answer.data() + 1), kMaster);
    EXPECT_FALSE(first_terminal.empty());
    // Unplugging a device without a link is refused.
    EXPECT_FALSE(simulator_->Unplug(0x01010099));
}

// Waits for the device's announce on the configuration stream and returns its
// sender (the device's address and port).
bool ReceiveAnnounce(LoopbackSocket* stream, ethernet_announce_t* announce, std::string* address,
                     uint16_t* port) {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (std::chrono::steady_clock::now() < deadline) {
        const Payload datagram = stream->Receive(100, address, port);
        if (datagram.size() == static_cast<size_t>(dp::kEthernetAnnouncePacketSize) &&
            datagram[0] == dp::kEthernetAnnounce) {
            EthernetAnnouncePacket_FromBuff(datagram.data(), announce);
            return true;
        }
    }
    return false;
}

// The configuration stream joined, and the device's first announce with its
// sender (the device's address and port).
struct AnnouncedDevice {
    LoopbackSocket config_stream;
    ethernet_announce_t announce{};
    std::string address;
    uint16_t port = 0;
};

bool AwaitAnnounce(const sim_site_t& site, AnnouncedDevice* device) {
    return device->config_stream.Open(kConfigPort, site.config_group) &&
           ReceiveAnnounce(&device->config_stream, &device->announce, &device->address, &device->port);
}

Payload ConfigDatagram(const std::string& host, uint16_t port) {
    ethernet_config_packet2_t config{dp::kEthernetConfig, 2, 0, 0, 7};
    in_addr address{};
    inet_pton(AF_INET, host.c_str(), &address);
    // Least significant byte first on the wire, through a big-endian codec.
    config.host_ipv4_address = __builtin_bswap32(ntohl(address.s_addr));
    config.host_port = __builtin_bswap16(port);
    Payload datagram(dp::kEthernetConfigPacket2Size);
    EthernetConfigPacket2_ToBuff(datagram.data(), &config);
    return datagram;
}

TEST_F(SimulatorLinkTest, EthernetDeviceAnnouncesTakesItsConfigurationAndTalksSspToTheHost) {
    AnnouncedDevice device;
    ASSERT_TRUE(AwaitAnnounce(site_, &device));
    const ethernet_announce_t& announce = device.announce;
    const std::string& device_address = device.address;
    const uint16_t device_port = device.port;
    LoopbackSocket& config_stream = device.config_stream;
    EXPECT_EQ(announce.serial_number, kEthernetAnchor);
    EXPECT_EQ(announce.host_ipv4_address, 0u) << "no host before the configuration";
    EXPECT_EQ(device_address, "127.0.0.1");

    LoopbackSocket server;
    ASSERT_TRUE(server.Open(kServerPort));
    const Payload config = ConfigDatagram("127.0.0.1", kServerPort);
    ASSERT_TRUE(server.SendTo(device_address, device_port, config.data(), config.size()));
    UdpServerSide link(&server, device_address, device_port);
    link.Send({dp::kSspTypeBridge, dp::kBridgeSerialNumberQuery});
    Payload answer;
    ASSERT_TRUE(link.WaitFor([](const Payload& p) { return p[0] == dp::kSspTypeBridge; }, &answer));
    EXPECT_EQ(wire::read_be32(answer.data() + 1), kEthernetAnchor);
    link.Send({0x11, 0x02, 0x01});
    Payload response;
    ASSERT_TRUE(link.WaitFor([](const Payload& p) { return p[0] == dp::kSspTypeResponse; }, &response));
    EXPECT_EQ(response, (Payload{0x12, 0x02, 0x01}));

    // Later announces name the host the device now sends to, least significant byte first.
    ethernet_announce_t later;
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    do {
        ASSERT_TRUE(ReceiveAnnounce(&config_stream, &later, nullptr, nullptr));
    } while (later.host_port == 0 && std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(__builtin_bswap16(later.host_port), kServerPort);
    EXPECT_EQ(__builtin_bswap32(later.host_ipv4_address), 0x7F000001u);
    EXPECT_EQ(later.vlan_id, 7);
}

TEST_F(SimulatorLinkTest, EthernetDeviceInMulticastModePublishesItsResponsesAsVuvItems) {
    AnnouncedDevice device;
    ASSERT_TRUE(AwaitAnnounce(site_, &device));
    const std::string& device_address = device.address;
    const uint16_t device_port = device.port;

    LoopbackSocket internal_stream;
    ASSERT_TRUE(internal_stream.Open(kInternalPort, ProcessGroup()));
    LoopbackSocket server;
    ASSERT_TRUE(server.Open(0));
    const Payload config = ConfigDatagram(ProcessGroup(), kInternalPort);
    ASSERT_TRUE(server.SendTo(device_address, device_port, config.data(), config.size()));
    UdpServerSide link(&server, device_address, device_port);
    link.Send({0x11, 0x06});

    const auto deadline = std::chrono::steady_clock::now() + kBound;
    bool found = false;
    while (!found && std::chrono::steady_clock::now() < deadline) {
        const Payload datagram = internal_stream.Receive(100);
        VexPacket packet(0);
        if (datagram.empty() ||
            !packet.ConvertPacketBuffer(datagram.data(), static_cast<uint16_t>(datagram.size())))
            continue;
        for (const auto& item : packet.GetDataItems()) {
            if (item->GetType() == VexType::kSspResponse && item->GetDataSize() == 1) {
                EXPECT_EQ(packet.GetSerialNumber(), kEthernetAnchor);
                EXPECT_EQ(item->GetData()[0], dp::kSspCmdStopSync);
                found = true;
            }
        }
    }
    EXPECT_TRUE(found);
}

}  // namespace

namespace {

// The serial port library the server's USB link uses opens the simulated
// port by its configured name and reads the device's answer. A pulled cable
// hangs the pseudo-terminal up: reads then end (the library reports a read
// error) and the next write fails with a resource error, as for a vanished
// USB device.
TEST_F(SimulatorLinkTest, SerialPortLibraryTalksToTheSimulatedPortAndSeesTheUnplug) {
    QSerialPort port;
    port.setPortName(QString::fromStdString(site_.devices[0].usb_path));
    ASSERT_TRUE(port.open(QIODevice::ReadWrite)) << port.errorString().toStdString();
    port.setBaudRate(115200);
    port.clear();
    ssp_state_t ssp;
    ssp_init(&ssp, SSP_MAX_PAYLOAD_LENGTH);
    const uint8_t query[] = {dp::kSspTypeBridge, dp::kBridgeSerialNumberQuery};
    std::memcpy(ssp.tx_buffer + SSP_HEADER_SIZE, query, sizeof(query));
    const uint16_t frame = ssp_tx_wrap(&ssp, sizeof(query));
    port.write("\n", 1);
    port.write(reinterpret_cast<const char*>(ssp.tx_buffer), frame);
    port.flush();

    uint32_t serial = 0;
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (serial == 0 && std::chrono::steady_clock::now() < deadline && port.waitForReadyRead(200)) {
        const QByteArray bytes = port.readAll();
        for (const char byte : bytes) {
            const uint8_t* payload = ssp_rx_protocol(&ssp, static_cast<uint8_t>(byte));
            if (payload != nullptr && ssp.rx_length == 5 && payload[0] == dp::kSspTypeBridge)
                serial = wire::read_be32(payload + 1);
        }
    }
    EXPECT_EQ(serial, kMaster);

    QSerialPort::SerialPortError error = QSerialPort::NoError;
    QObject::connect(&port, &QSerialPort::errorOccurred, [&](QSerialPort::SerialPortError e) {
        if (e != QSerialPort::NoError)
            error = e;
    });
    ASSERT_TRUE(simulator_->Unplug(kMaster));
    const auto unplugged = std::chrono::steady_clock::now() + kBound;
    while (error == QSerialPort::NoError && std::chrono::steady_clock::now() < unplugged) {
        port.waitForReadyRead(100);
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(error == QSerialPort::ReadError || error == QSerialPort::ResourceError) << error;
    const auto written = std::chrono::steady_clock::now() + kBound;
    while (error != QSerialPort::ResourceError && std::chrono::steady_clock::now() < written) {
        port.write(reinterpret_cast<const char*>(ssp.tx_buffer), frame);
        port.waitForBytesWritten(100);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(error, QSerialPort::ResourceError);
}

}  // namespace
