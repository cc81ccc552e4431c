#include "protocol/vex/vex_receiver.h"

#include <sys/socket.h>

#include <QThread>
#include <cstdio>
#include <utility>

#include "base/network_socket_settings.h"
#include "base/thread_annotations.h"
#include "protocol/vex/vex_meta_types.h"

VexReceiver::VexReceiver(QString group, uint16_t port, QNetworkInterface iface, QObject* parent)
    : QObject(parent),
      socket_(new QUdpSocket(this)),
      port_(port),
      shutting_down_(false),
      datagram_(VexPacket::kMaxPacketSize + 1) {
    RegisterVexMetaTypes();
    {
        AnnotatedMutexLocker lock(&socket_mutex_);
        _InitializeReceiver(group, port, iface);
    }
    // Automatic connections: once the receiver lives in its own thread, a
    // call from any other thread runs the slot in the receiver's thread.
    connect(this, &VexReceiver::PortUpdate, this, &VexReceiver::_UpdatePort);
    connect(this, &VexReceiver::MulticastAddrUpdate, this, &VexReceiver::_UpdateMulticastAddr);
    connect(this, &VexReceiver::NetworkInterfaceUpdate, this, &VexReceiver::_UpdateNetworkInterface);
    connect(this, &VexReceiver::SignalShutdown, this, &VexReceiver::Shutdown);
}

VexReceiver::~VexReceiver() {
    // Deleted in its own thread after the thread ends; whoever ended it handed
    // the receiver over first (see VexConnection's destructor).
    AnnotateTakeOver(this);
    ClearSubscriptions();
}

void VexReceiver::_InitializeReceiver(const QString& group, uint16_t port, const QNetworkInterface& iface) {
    group_ = QHostAddress(group);
    port_ = port;
    interface_ = iface;

    // Bound to the group rather than the wildcard, so only the group's
    // datagrams arrive; several receivers may share the port.
    const auto mode = QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint;
    bool bound = socket_->bind(group_, port_, mode);
    const qintptr descriptor = socket_->socketDescriptor();
    if (descriptor != -1) {
        const int reuse = 1;
        setsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
    }
    if (socket_->state() != QAbstractSocket::BoundState) {
        bound = socket_->bind(group_, port_, mode);
    }
    // The socket buffers what arrives while the receiver's thread is held up.
    RequestSocketReceiveBuffer(static_cast<int>(socket_->socketDescriptor()));
    if (bound) {
        std::printf("Input socket successfully bound\n");
    } else {
        std::printf("Error binding input socket!!\n");
    }
    std::fflush(stdout);

    if (!socket_->joinMulticastGroup(group_, interface_)) {
        std::printf("Error joining multicast group!!\n");
        std::fflush(stdout);
    }
}

void VexReceiver::Run() {
    AnnotatedMutexLocker lock(&socket_mutex_);
    if (socket_ != nullptr) {
        connect(socket_, &QUdpSocket::readyRead, this, &VexReceiver::_ProcessPendingRxDatagrams,
                Qt::UniqueConnection);
    }
}

void VexReceiver::Subscribe(uint16_t type, VexSubscriberCallback callback) {
    AnnotatedMutexLocker lock(&subscriber_mutex_);
    subscribers_[type].push_back(std::move(callback));
}

void VexReceiver::ClearSubscriptions() {
    AnnotatedMutexLocker lock(&subscriber_mutex_);
    subscribers_.clear();
}

void VexReceiver::Shutdown() {
    if (QThread::currentThread() != thread()) {
        emit SignalShutdown();
        return;
    }
    shutting_down_.store(true);
    {
        AnnotatedMutexLocker lock(&socket_mutex_);
        if (socket_ != nullptr) {
            disconnect(socket_, &QUdpSocket::readyRead, this, &VexReceiver::_ProcessPendingRxDatagrams);
            delete socket_;
            socket_ = nullptr;
        }
    }
    std::printf("VexReceiver: Shut down\n");
    std::fflush(stdout);
    emit SignalThreadFinished();
}

void VexReceiver::_ProcessPendingRxDatagrams() {
    AnnotatedMutexLocker lock(&socket_mutex_);
    if (socket_ == nullptr || shutting_down_.load()) {
        return;
    }
    // Reads until the socket is empty rather than asking first whether a
    // datagram is pending: that question is a system call of its own for
    // every datagram. The read that finds the socket empty ends the run (Qt
    // reports it as a temporary error, which leaves the socket bound); so does
    // any other failed read, and the next readyRead retries.
    for (;;) {
        const qint64 length = socket_->readDatagram(reinterpret_cast<char*>(datagram_.data()),
                                                    static_cast<qint64>(datagram_.size()));
        if (length < 0) {
            break;
        }
        VexPacket packet(0);
        // A datagram longer than a packet cannot be one; the validation drops
        // every other bad datagram whole and silently.
        if (length <= static_cast<qint64>(VexPacket::kMaxPacketSize) &&
            packet.ConvertPacketBuffer(datagram_.data(), static_cast<uint16_t>(length))) {
            _ProcessPacket(packet);
        }
        if (shutting_down_.load()) {
            break;
        }
    }
}

void VexReceiver::_ProcessPacket(const VexPacket& packet) {
    const VexDataItemList items = packet.GetDataItems();
    for (const auto& item : items) {
        _AlertSubscribers(packet.GetSerialNumber(), packet.GetSequence(), *item);
    }
}

void VexReceiver::_AlertSubscribers(uint32_t serial, uint32_t sequence, const VexDataItem& item) {
    AnnotatedMutexLocker lock(&subscriber_mutex_);
    const auto found = subscribers_.find(item.GetType());
    if (found == subscribers_.end()) {
        return;
    }
    for (const auto& callback : found->second) {
        callback(serial, sequence, item);
    }
}

void VexReceiver::_UpdatePort(quint16 port) {
    AnnotatedMutexLocker lock(&socket_mutex_);
    if (socket_ == nullptr) {
        return;
    }
    socket_->close();
    _InitializeReceiver(group_.toString(), port, interface_);
}

void VexReceiver::_UpdateMulticastAddr(QString group) {
    AnnotatedMutexLocker lock(&socket_mutex_);
    if (socket_ == nullptr) {
        return;
    }
    socket_->close();
    _InitializeReceiver(group, port_, interface_);
}

void VexReceiver::_UpdateNetworkInterface(QNetworkInterface iface) {
    AnnotatedMutexLocker lock(&socket_mutex_);
    interface_ = iface;
    if (socket_ != nullptr) {
        socket_->setMulticastInterface(iface);
    }
}
