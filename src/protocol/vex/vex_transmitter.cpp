#include "protocol/vex/vex_transmitter.h"

#include <QAbstractSocket>
#include <QMetaObject>
#include <QThread>
#include <cstdio>
#include <memory>

#include "base/thread_annotations.h"
#include "protocol/vex/vex_meta_types.h"

namespace {

// The interface's first address of the group's protocol: binding an IPv4
// group's sender to an IPv6 address (or the reverse) would make every send fail.
QHostAddress SourceAddress(const QNetworkInterface& iface, const QHostAddress& group) {
    const auto entries = iface.addressEntries();
    for (const auto& entry : entries) {
        if (entry.ip().protocol() == group.protocol()) {
            return entry.ip();
        }
    }
    return entries.isEmpty() ? QHostAddress() : entries.first().ip();
}

}  // namespace

VexTransmitter::VexTransmitter(QString group, uint16_t port, uint8_t ttl, QNetworkInterface iface,
                               QObject* parent)
    : QObject(parent), port_(port), ttl_(ttl), sequence_(0), slots_connected_(false) {
    RegisterVexMetaTypes();
    _Init(group, port, ttl, iface);
}

VexTransmitter::~VexTransmitter() {
    blockSignals(true);
    disconnect(this, &VexTransmitter::DataReady, this, &VexTransmitter::_PublishData);
    disconnect(this, &VexTransmitter::PortUpdate, this, &VexTransmitter::_UpdatePort);
    disconnect(this, &VexTransmitter::MulticastAddrUpdate, this, &VexTransmitter::_UpdateMulticastAddr);
    if (socket_ && socket_->isOpen()) {
        socket_->close();
    }
    if (socket_) {
        socket_->deleteLater();
    }
    AnnotatedMutexLocker lock(&pending_mutex_);
    for (const uint8_t* buffer : pending_buffers_) {
        delete[] buffer;
    }
    pending_buffers_.clear();
}

void VexTransmitter::_Init(const QString& group, uint16_t port, uint8_t ttl, const QNetworkInterface& iface) {
    port_ = port;
    if (socket_) {
        socket_->close();
        delete socket_;
    }
    socket_ = new QUdpSocket(this);
    group_ = QHostAddress(group);
    ttl_.store(ttl);
    sequence_.store(0);

    const QHostAddress source = SourceAddress(iface, group_);
    // An interface without an address leaves the socket unbound: the first
    // send then binds it to any address and the routing table picks the way.
    if (source.isNull() || !socket_->bind(source, 0)) {
        std::printf("Error binding output socket!!\n");
        std::fflush(stdout);
    }
    socket_->open(QIODevice::WriteOnly);

    if (!slots_connected_) {
        // Automatic connections: a DataReady emitted in another thread is
        // queued to this object's thread, where the socket lives.
        connect(this, &VexTransmitter::PortUpdate, this, &VexTransmitter::_UpdatePort);
        connect(this, &VexTransmitter::MulticastAddrUpdate, this, &VexTransmitter::_UpdateMulticastAddr);
        connect(this, &VexTransmitter::DataReady, this, &VexTransmitter::_PublishData);
        connect(this, &VexTransmitter::NetworkInterfaceUpdate, this,
                &VexTransmitter::_UpdateNetworkInterface);
        slots_connected_ = true;
    }
    ApplyTtl();
}

void VexTransmitter::ApplyTtl() {
    if (socket_) {
        socket_->setSocketOption(QAbstractSocket::MulticastTtlOption, static_cast<int>(ttl_.load()));
    }
}

void VexTransmitter::Publish(VexPacket& packet) {
    const uint32_t sequence = sequence_.fetch_add(1);
    uint16_t size = 0;
    const uint8_t* buffer = packet.CreateBufferWithSequenceNumber(sequence, &size);
    {
        AnnotatedMutexLocker lock(&pending_mutex_);
        pending_buffers_.insert(buffer);
    }
    AnnotateHandOver(buffer);
    emit DataReady(buffer, size);
}

void VexTransmitter::_PublishData(const uint8_t* buffer, uint16_t size) {
    AnnotateTakeOver(buffer);
    {
        AnnotatedMutexLocker lock(&pending_mutex_);
        pending_buffers_.erase(buffer);
    }
    const std::unique_ptr<const uint8_t[]> owned(buffer);
    if (socket_ && socket_->isOpen()) {
        socket_->writeDatagram(reinterpret_cast<const char*>(buffer), size, group_, port_);
        socket_->flush();
    }
}

void VexTransmitter::SetTtl(uint8_t ttl) {
    ttl_.store(ttl);
    // The socket belongs to this object's thread and may be rebuilt there at
    // any moment, so another thread hands the change over instead of
    // touching the socket itself.
    if (QThread::currentThread() == thread()) {
        ApplyTtl();
    } else {
        QMetaObject::invokeMethod(
            this, [this] { ApplyTtl(); }, Qt::QueuedConnection);
    }
}

void VexTransmitter::_UpdatePort(quint16 port) {
    port_ = port;
}

void VexTransmitter::_UpdateMulticastAddr(QString group) {
    group_ = QHostAddress(group);
}

void VexTransmitter::_UpdateNetworkInterface(QNetworkInterface iface) {
    if (socket_) {
        socket_->close();
    }
    _Init(group_.toString(), port_, ttl_.load(), iface);
}
