#pragma once
// Helpers for tests that use Vuv streams over loopback multicast.

#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QString>
#include <QUdpSocket>
#include <chrono>
#include <functional>
#include <vector>

#include "base/network_socket_settings.h"
#include "protocol/vex/vex_packet.h"

// A group of this process's own, so that the same test run by another
// process at the same time (another build tree) never sees its datagrams.
inline QString ProcessMulticastGroup() {
    const auto pid = static_cast<unsigned>(getpid());
    return QString("239.255.%1.%2").arg((pid >> 8) & 0xFF).arg(pid & 0xFF);
}

inline NetworkSocketSettings LoopbackStream(uint16_t port) {
    return NetworkSocketSettings(ProcessMulticastGroup().toStdString(), port, 1, "lo");
}

// Runs the calling thread's event loop until the condition holds or the bound
// passes.
inline bool SpinUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds bound = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Reads the raw datagrams of one stream and decodes them as Vuv packets, so a
// test sees how many packets and items were sent (a subscriber sees items only).
class DatagramReader {
  public:
    explicit DatagramReader(uint16_t port) {
        const QHostAddress group(ProcessMulticastGroup());
        socket_.bind(group, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
        socket_.joinMulticastGroup(group, QNetworkInterface::interfaceFromName("lo"));
    }

    bool IsReady() const { return socket_.state() == QAbstractSocket::BoundState; }

    // Waits (bounded) for the next datagram; false when none came or it is not
    // a valid packet.
    bool Next(VexPacket* packet) {
        if (!SpinUntil([this] { return socket_.hasPendingDatagrams(); }))
            return false;
        std::vector<uint8_t> datagram(static_cast<size_t>(socket_.pendingDatagramSize()));
        socket_.readDatagram(reinterpret_cast<char*>(datagram.data()), static_cast<qint64>(datagram.size()));
        return packet->ConvertPacketBuffer(datagram.data(), static_cast<uint16_t>(datagram.size()));
    }

  private:
    QUdpSocket socket_;
};
