#pragma once
// Helpers for tests that use Vuv streams over loopback multicast.

#include <QHostAddress>
#include <QNetworkInterface>
#include <QString>
#include <QUdpSocket>
#include <vector>

#include "protocol/vex/vex_packet.h"
#include "support/process_multicast_group.h"
#include "support/spin_until.h"

using test_support::SpinUntil;

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
