#include "host/devices/configuration_server.h"

#include <sys/socket.h>

#include <cstdio>
#include <vector>

#include "host/devices/node_manager.h"
#include "protocol/packets/device_protocol.h"

namespace dp = device_protocol;

namespace {

// Anyone on the network can send to the group: bad datagrams are reported
// in a burst and then a few a second.
constexpr uint32_t kDatagramMessageBurst = 32;
constexpr uint32_t kDatagramMessagesPerSecond = 4;

constexpr QAbstractSocket::BindMode kBindMode =
    QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;

}  // namespace

ConfigurationServer::ConfigurationServer(const QString& address, quint16 port, const QNetworkInterface& iface,
                                         QObject* parent)
    : QObject(parent),
      port_(port),
      interface_(iface),
      group_address_(address),
      datagram_messages_("ConfigurationServer", kDatagramMessageBurst, kDatagramMessagesPerSecond) {
    qRegisterMetaType<ethernet_announce_t>("ethernet_announce_t");
}

ConfigurationServer::~ConfigurationServer() {
    QUdpSocket* socket = socket_.exchange(nullptr);
    if (socket != nullptr && socket->isOpen()) {
        socket->close();
    }
    delete socket;
}

void ConfigurationServer::Run() {
    if (IsShuttingDown()) {
        return;
    }
    if (socket_.load() == nullptr) {
        socket_.store(new QUdpSocket());
    }
    if (!JoinMulticastGroup()) {
        Shutdown();
    }
}

bool ConfigurationServer::JoinMulticastGroup() {
    QUdpSocket* socket = socket_.load();
    socket->bind(group_address_, port_, kBindMode);
    const int reuse = 1;
    if (socket->socketDescriptor() != -1) {
        setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_REUSEADDR, &reuse,
                   sizeof(reuse));
    }
    if (socket->state() != QAbstractSocket::BoundState && !socket->bind(group_address_, port_, kBindMode)) {
        std::printf("Error binding input socket!!\n");
    } else {
        std::printf("Input socket successfully bound\n");
    }
    std::fflush(stdout);
    connect(socket, &QUdpSocket::readyRead, this, &ConfigurationServer::ProcessPendingDatagrams,
            Qt::UniqueConnection);
    const bool joined = socket->joinMulticastGroup(group_address_, interface_);
    if (!joined) {
        std::printf("Error joining multicast group!!\n");
        std::fflush(stdout);
    }
    return joined;
}

void ConfigurationServer::ProcessPendingDatagrams() {
    QUdpSocket* socket = socket_.load();
    if (IsShuttingDown() || socket == nullptr) {
        return;
    }
    std::vector<uint8_t> datagram;
    while (!IsShuttingDown() && socket->hasPendingDatagrams()) {
        const qint64 pending = socket->pendingDatagramSize();
        datagram.resize(pending > 0 ? static_cast<size_t>(pending) : 1);
        QHostAddress sender;
        quint16 sender_port = 0;
        const qint64 size = socket->readDatagram(reinterpret_cast<char*>(datagram.data()),
                                                 static_cast<qint64>(datagram.size()), &sender, &sender_port);
        if (size < 0) {
            break;
        }
        // A datagram of the wrong length ends this pass; the ones still
        // pending are read at the next readyRead.
        if (ProcessDatagram(datagram.data(), static_cast<size_t>(size), sender, sender_port) ==
            AnnounceResult::kBadLength) {
            break;
        }
    }
}

ConfigurationServer::AnnounceResult ConfigurationServer::ProcessDatagram(const uint8_t* data, size_t size,
                                                                         const QHostAddress& sender,
                                                                         quint16 sender_port) {
    if (size != static_cast<size_t>(dp::kEthernetAnnouncePacketSize)) {
        datagram_messages_.Print("ConfigurationServer: received packet of bad length %d\n",
                                 static_cast<int>(size));
        return AnnounceResult::kBadLength;
    }
    if (data[0] != dp::kEthernetAnnounce) {
        datagram_messages_.Print("ConfigurationServer: received packet of unknown type %hhu\n", data[0]);
        return AnnounceResult::kUnknownType;
    }
    ethernet_announce_t announce{};
    EthernetAnnouncePacket_FromBuff(data, &announce);
    if (announced_.count(announce.serial_number) == 0) {
        if (announced_.size() < kMaxLoggedSerialNumbers) {
            announced_[announce.serial_number] = true;
            LogFirstAnnounce(announce.serial_number);
        } else {
            // A table full of strangers: the line goes through the throttle.
            datagram_messages_.Print(
                "ConfigurationServer: Received announce from device with serial number %08X\n",
                announce.serial_number);
        }
    }
    emit SignalEthernetAnnounceReceived(announce, sender.toString(), sender_port);
    return AnnounceResult::kReported;
}

void ConfigurationServer::LogFirstAnnounce(uint32_t serial_number) {
    std::printf("ConfigurationServer: Received announce from device with serial number %08X\n",
                serial_number);
    if (registry_ != nullptr) {
        const std::shared_ptr<DwNode> node = registry_->FindNodeBySerialNumber(serial_number);
        if (node->IsNullNode()) {
            std::printf(
                "ConfigurationServer: device %08X is not configured (or disabled); its announces are "
                "ignored\n",
                serial_number);
        } else if (node->IsAlienNode()) {
            std::printf(
                "ConfigurationServer: device %08X belongs to another network; its announces are ignored\n",
                serial_number);
        }
    }
    std::fflush(stdout);
}

void ConfigurationServer::Shutdown() {
    shutting_down_.store(true, std::memory_order_release);
    if (QUdpSocket* socket = socket_.load()) {
        disconnect(socket, &QUdpSocket::readyRead, this, &ConfigurationServer::ProcessPendingDatagrams);
    }
    std::printf("ConfigurationServer: Shut down\n");
    std::fflush(stdout);
    emit QuitThread();
}
