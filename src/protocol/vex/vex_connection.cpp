#include "protocol/vex/vex_connection.h"

#include <QNetworkInterface>
#include <QString>
#include <algorithm>

#include "base/thread_annotations.h"

namespace {

// How long the destructor waits for the receive thread to end. The thread
// only has to finish the event it is in: subscriptions are already cleared.
constexpr unsigned long kThreadStopWaitMs = 5000;

QNetworkInterface InterfaceOf(const NetworkSocketSettings& settings) {
    return QNetworkInterface::interfaceFromName(QString::fromStdString(settings.GetNetworkIface()));
}

// The settings carry a 16-bit TTL, the socket option only 8 bits: larger
// values keep the widest reach rather than wrapping to a small one.
uint8_t TtlOf(const NetworkSocketSettings& settings) {
    return static_cast<uint8_t>(std::min<uint16_t>(settings.GetTtl(), 255));
}

}  // namespace

VexConnection::VexConnection(const NetworkSocketSettings& settings) {
    const QNetworkInterface iface = InterfaceOf(settings);
    const QString group = QString::fromStdString(settings.GetAddress());
    transmitter_ = new VexTransmitter(group, settings.GetPort(), TtlOf(settings), iface);
    receiver_ = new VexReceiver(group, settings.GetPort(), iface);
    thread_ = new QThread();
    receiver_->moveToThread(thread_);
    QObject::connect(thread_, &QThread::started, receiver_, &VexReceiver::Run, Qt::UniqueConnection);
    // Direct: finished() is emitted in the receive thread, and a call queued to
    // the thread object's own thread would be lost when that thread ends right
    // after destroying the connection (a stream owner in a thread of its own);
    // deleteLater itself may be called from any thread.
    QObject::connect(thread_, &QThread::finished, thread_, &QObject::deleteLater, Qt::DirectConnection);
    QObject::connect(thread_, &QThread::finished, receiver_, &QObject::deleteLater);
    thread_->start(QThread::InheritPriority);
}

VexConnection::~VexConnection() {
    if (receiver_) {
        receiver_->ClearSubscriptions();
        receiver_->Shutdown();
        // Everything done here with the receiver happens before its deletion
        // in its own thread, which ends after the quit below.
        AnnotateHandOver(receiver_.data());
    }
    if (thread_) {
        thread_->quit();
        // Joined with a bound so that no receive thread outlives its
        // connection; the thread object itself is deleted later, on finished().
        thread_->wait(kThreadStopWaitMs);
    }
    if (transmitter_) {
        transmitter_->deleteLater();
    }
}

void VexConnection::Subscribe(uint16_t type, VexSubscriberCallback callback) {
    if (receiver_) {
        receiver_->Subscribe(type, std::move(callback));
    }
}

void VexConnection::Publish(VexPacket& packet) {
    if (transmitter_) {
        transmitter_->Publish(packet);
    }
}

void VexConnection::ClearSubscriptions() {
    if (receiver_) {
        receiver_->ClearSubscriptions();
    }
}

void VexConnection::UpdateSocket(const NetworkSocketSettings& settings) {
    const QNetworkInterface iface = InterfaceOf(settings);
    const QString group = QString::fromStdString(settings.GetAddress());
    if (transmitter_) {
        AnnotatedMutexLocker lock(&mutex_);
        transmitter_->SetNetworkInterface(iface);
        transmitter_->SetMulticastAddr(group);
        transmitter_->SetPort(settings.GetPort());
        transmitter_->SetTtl(TtlOf(settings));
    }
    if (receiver_) {
        receiver_->SetNetworkInterface(iface);
        receiver_->SetPort(settings.GetPort());
        receiver_->SetMulticastAddr(group);
    }
}
