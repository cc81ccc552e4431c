#include "host/devices/ethernet_link.h"

#include <QMetaObject>
#include <QStringList>
#include <QtEndian>
#include <cstdio>

#include "base/network_socket_settings.h"
#include "base/serial_number.h"
#include "base/thread_annotations.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/ethernet_config2_packet.h"

namespace dp = device_protocol;

namespace {

constexpr int kRetryMs = 200;
constexpr int kConnectWaitMs = 200;
constexpr char kPortNamePrefix[] = "udpm://";

// Datagrams from strangers or a failing device can come thousands a second.
constexpr uint32_t kNetworkMessageBurst = 16;
constexpr uint32_t kNetworkMessagesPerSecond = 2;

QHostAddress FirstIpv4Address(const QNetworkInterface& iface) {
    for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
        if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol) {
            return entry.ip();
        }
    }
    return QHostAddress();
}

bool SameIpv4Address(const QHostAddress& a, const QHostAddress& b) {
    bool a_ok = false;
    bool b_ok = false;
    const quint32 a4 = a.toIPv4Address(&a_ok);
    const quint32 b4 = b.toIPv4Address(&b_ok);
    return a_ok && b_ok && a4 == b4;
}

}  // namespace

std::atomic<uint8_t> EthernetLink::__connect_failures{0};

EthernetLink::EthernetLink()
    : NodeLink(nullptr), network_messages_("EthernetLink", kNetworkMessageBurst, kNetworkMessagesPerSecond) {}

EthernetLink::~EthernetLink() {
    if (GetLinkState() == kStateOpen) {
        Close();
    }
    delete transmit_socket_.data();
    delete receive_socket_.data();
}

bool EthernetLink::Init(std::shared_ptr<const NodeManager> registry,
                        std::shared_ptr<VexInputPublisher> publisher, const QString& name) {
    if (GetLinkState() != kStateNotInitialised) {
        return false;
    }
    // "udpm://a.b.c.d:port": split at ':' the address follows "//" in the
    // second part and the port is the third.
    const QStringList parts = name.split(':');
    bool port_ok = false;
    const uint port = parts.size() == 3 ? parts[2].toUInt(&port_ok, 10) : 0;
    const QHostAddress address(parts.size() == 3 ? parts[1].mid(2) : QString());
    if (!name.startsWith(kPortNamePrefix) || !port_ok || port == 0 || port > 0xFFFF ||
        address.protocol() != QAbstractSocket::IPv4Protocol) {
        std::printf("EthernetLink: %s is not a device address of the form udpm://<IPv4 address>:<port>\n",
                    qPrintable(name));
        std::fflush(stdout);
        return false;
    }
    device_address_ = address;
    device_port_ = static_cast<uint16_t>(port);
    return NodeLink::Init(std::move(registry), std::move(publisher), name);
}

bool EthernetLink::SetNetworkInterface(const QString& name, int vlan) {
    if (vlan < 0 || vlan > kMaxVlanId) {
        return false;
    }
    bool found = false;
    for (const QNetworkInterface& candidate : QNetworkInterface::allInterfaces()) {
        if (candidate.name() == name) {
            network_interface_ = candidate;
            found = true;
        }
    }
    if (!found) {
        std::printf("EthernetLink: Interface either not specified or not found; defaulting to loopback\n");
        std::fflush(stdout);
        network_interface_ = QNetworkInterface::interfaceFromName("lo");
    }
    vlan_id_ = vlan;
    return true;
}

bool EthernetLink::AddressIsMulticast(const QHostAddress& address) {
    bool ipv4 = false;
    const quint32 value = address.toIPv4Address(&ipv4);
    return ipv4 && (value >> 28) == 0xE;
}

std::string EthernetLink::GetPortName() const {
    return kPortNamePrefix + device_address_.toString().toStdString() + ":" + std::to_string(device_port_);
}

void EthernetLink::Run() {
    NodeLink::Run();
    if (!transmit_socket_) {
        transmit_socket_ = new QUdpSocket(this);
    }
    if (!receive_socket_) {
        receive_socket_ = new QUdpSocket(this);
    }
    connect(receive_socket_, &QUdpSocket::readyRead, this, &EthernetLink::ReadDatagram, Qt::UniqueConnection);
    while (!IsShuttingDown()) {
        if (GetLinkState() == kStateOpen) {
            emit DeviceConnected(this);
            return;
        }
        SleepUnlessShuttingDown(kRetryMs);
        if (GetLinkState() == kStateClosed) {
            Open();
        }
    }
}

void EthernetLink::CountFailure() {
    // Shared by every Ethernet link: the first failure is reported, then one in 256.
    if (__connect_failures.fetch_add(1) == 0) {
        std::printf("EthernetLink: Failed to connect to device at %s\n", GetPortName().c_str());
        std::fflush(stdout);
    }
    SleepUnlessShuttingDown(kRetryMs);
}

bool EthernetLink::ConnectToDevice() {
    connect(transmit_socket_, &QUdpSocket::connected, this, &EthernetLink::OnSocketConnected,
            Qt::UniqueConnection);
    if (transmit_socket_->state() != QAbstractSocket::UnconnectedState) {
        transmit_socket_->abort();
    }
    transmit_socket_->connectToHost(device_address_, device_port_, QIODevice::ReadWrite);
    if (!transmit_socket_->waitForConnected(kConnectWaitMs)) {
        std::printf("EthernetLink: Unable to connect to host\n");
        std::fflush(stdout);
        return false;
    }
    connect(transmit_socket_, &QUdpSocket::disconnected, this, &EthernetLink::OnSocketDisconnected,
            Qt::UniqueConnection);
    return true;
}

bool EthernetLink::BindReceiveSocket() {
    connect(receive_socket_, &QUdpSocket::readyRead, this, &EthernetLink::ReadDatagram, Qt::UniqueConnection);
    if (receive_socket_->state() == QAbstractSocket::BoundState) {
        return true;
    }
    // IPv4: the configuration datagram carries an IPv4 address.
    const QHostAddress address = FirstIpv4Address(network_interface_);
    if (address.isNull() || !receive_socket_->bind(address, 0)) {
        std::printf("EthernetLink: Unable to bind input socket\n");
        std::fflush(stdout);
        return false;
    }
    // The socket buffers what the device sends while the link's thread is held up.
    RequestSocketReceiveBuffer(static_cast<int>(receive_socket_->socketDescriptor()));
    return true;
}

void EthernetLink::Open() {
    if (GetLinkState() != kStateClosed || IsShuttingDown() || !transmit_socket_ || !receive_socket_) {
        return;
    }
    if (!ConnectToDevice()) {
        CountFailure();
        return;
    }
    QHostAddress host_address = local_address_;
    uint16_t host_port = local_port_;
    if (!AddressIsMulticast(local_address_)) {
        if (!BindReceiveSocket()) {
            CountFailure();
            return;
        }
        local_port_ = receive_socket_->localPort();
        host_port = local_port_;
        host_address = receive_socket_->localAddress();
    }
    std::printf("EthernetLink: succesfully opened the connection to: %s\n", GetPortName().c_str());
    std::fflush(stdout);
    NodeLink::Open();
    host_address_ = host_address;
    host_port_ = host_port;
    SendConfiguration(host_address, host_port);
}

void EthernetLink::ResendConfiguration() {
    QMetaObject::invokeMethod(this, &EthernetLink::SendConfigurationAgain, Qt::QueuedConnection);
}

void EthernetLink::SendConfigurationAgain() {
    // A link that is not open yet sends the datagram as it opens.
    if (GetLinkState() != kStateOpen || IsShuttingDown() || !transmit_socket_) {
        return;
    }
    SendConfiguration(host_address_, host_port_);
}

void EthernetLink::SendConfiguration(const QHostAddress& host_address, uint16_t host_port) {
    ethernet_config_packet2_t config{};
    config.type = dp::kEthernetConfig;
    config.version = dp::kEthernetConfigVersion;
    // The codec writes big-endian, the device reads address and port least
    // significant byte first: swap them before encoding.
    config.host_ipv4_address = qbswap(host_address.toIPv4Address());
    config.host_port = qbswap(host_port);
    config.vlan_id = static_cast<uint8_t>(vlan_id_);
    uint8_t datagram[dp::kEthernetConfigPacket2Size];
    EthernetConfigPacket2_ToBuff(datagram, &config);
    if (transmit_socket_->write(reinterpret_cast<const char*>(datagram), sizeof(datagram)) > 0) {
        transmit_socket_->flush();
    }
}

void EthernetLink::Close() {
    if (GetLinkState() != kStateOpen) {
        return;
    }
    if (transmit_socket_ && transmit_socket_->isOpen()) {
        transmit_socket_->disconnectFromHost();
        transmit_socket_->close();
    }
    if (receive_socket_ && receive_socket_->isOpen()) {
        receive_socket_->close();
    }
    NodeLink::Close();
    std::printf("EthernetLink: closed UDP connection\n");
    std::fflush(stdout);
}

bool EthernetLink::WaitForBytesWritten(int msecs) {
    return transmit_socket_ && transmit_socket_->waitForBytesWritten(msecs);
}

bool EthernetLink::WaitForReadyRead(int msecs) {
    return receive_socket_ && receive_socket_->waitForReadyRead(msecs);
}

void EthernetLink::PublishData(QByteArray payload) {
    AnnotateTakeOver(payload.constData());
    if (!transmit_socket_ || IsShuttingDown() || !transmit_socket_->isOpen()) {
        return;
    }
    const uint16_t frame_length = FramePayload(payload);
    if (frame_length == 0) {
        return;
    }
    QByteArray datagram;
    datagram.reserve(frame_length + 1);
    datagram.append(static_cast<char>(dp::kEthernetSspFrame));
    datagram.append(reinterpret_cast<const char*>(TransmitBuffer()), frame_length);
    const qint64 written = transmit_socket_->write(datagram);
    if (written < 1 && transmit_socket_->state() == QAbstractSocket::ConnectedState) {
        // The socket is fine: the device refused this one datagram (it is
        // rebooting, say). Drop it; the next one may well get through.
        network_messages_.Print("EthernetLink: device %s on %s did not take a packet; dropped\n",
                                SerialNumber_ToString(GetSerialNumber()).c_str(), GetPortName().c_str());
        return;
    }
    if (written < 1) {
        std::printf("EthernetLink: UDP Socket No Longer Open!!!\n");
        std::fflush(stdout);
        Shutdown();
    } else {
        transmit_socket_->flush();
    }
    if (written < static_cast<qint64>(datagram.size())) {
        std::printf("EthernetLink: packet publish FAIL (error = %d)\n",
                    transmit_socket_ ? static_cast<int>(transmit_socket_->error()) : -1);
        std::fflush(stdout);
    }
}

void EthernetLink::ReadDatagram() {
    if (!receive_socket_) {
        return;
    }
    while (!IsShuttingDown() && receive_socket_->hasPendingDatagrams()) {
        const qint64 size = receive_socket_->pendingDatagramSize();
        datagram_.resize(size > 0 ? static_cast<size_t>(size) : 1);
        QHostAddress sender;
        const qint64 read = receive_socket_->readDatagram(reinterpret_cast<char*>(datagram_.data()),
                                                          static_cast<qint64>(datagram_.size()), &sender);
        if (read < 0) {
            break;
        }
        // The port is bound on the interface; anyone who can reach it could
        // otherwise speak for the device.
        if (!SameIpv4Address(sender, device_address_)) {
            network_messages_.Print("EthernetLink: dropped a datagram from %s, which is not device %s\n",
                                    qPrintable(sender.toString()), GetPortName().c_str());
            continue;
        }
        ReceiveBytes(datagram_.data(), static_cast<size_t>(read));
    }
}

void EthernetLink::OnSocketConnected() {
    std::printf("EthernetLink: Successfully connected to device %s on %s\n",
                SerialNumber_ToString(GetSerialNumber()).c_str(), GetPortName().c_str());
    std::fflush(stdout);
}

void EthernetLink::OnSocketDisconnected() {
    std::printf("EthernetLink: Disconnected from device %s on %s\n",
                SerialNumber_ToString(GetSerialNumber()).c_str(), GetPortName().c_str());
    std::fflush(stdout);
}
