#pragma once
// Sends Vuv packets as UDP multicast datagrams. The transmitter lives in the
// thread that built it and sends there; Publish may be called from any
// thread and queues the encoded datagram to that thread.

#include <QHostAddress>
#include <QMutex>
#include <QNetworkInterface>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUdpSocket>
#include <atomic>
#include <cstdint>
#include <unordered_set>

#include "protocol/vex/vex_packet.h"

class VexTransmitter : public QObject {
    Q_OBJECT

  public:
    VexTransmitter(QString group, uint16_t port, uint8_t ttl, QNetworkInterface iface,
                   QObject* parent = nullptr);
    ~VexTransmitter() override;

    // Stamps the next sequence number into the packet and sends it. Safe from
    // several threads at once: each packet takes its own number.
    void Publish(VexPacket& packet);

    // New port and group take effect with the next datagram sent; a new
    // interface rebuilds the socket and restarts the numbering at 0.
    void SetPort(uint16_t port) { emit PortUpdate(port); }
    void SetMulticastAddr(QString group) { emit MulticastAddrUpdate(group); }
    void SetNetworkInterface(QNetworkInterface iface) { emit NetworkInterfaceUpdate(iface); }
    void SetTtl(uint8_t ttl);

  signals:
    void PortUpdate(quint16 port);
    void MulticastAddrUpdate(QString group);
    // The buffer was allocated with new[]; it passes to the slot, which frees it.
    void DataReady(const uint8_t* buffer, uint16_t size);
    void NetworkInterfaceUpdate(QNetworkInterface iface);

  private slots:
    void _UpdatePort(quint16 port);
    void _PublishData(const uint8_t* buffer, uint16_t size);
    void _UpdateMulticastAddr(QString group);
    void _UpdateNetworkInterface(QNetworkInterface iface);

  private:
    void _Init(const QString& group, uint16_t port, uint8_t ttl, const QNetworkInterface& iface);
    void ApplyTtl();

    QPointer<QUdpSocket> socket_;
    QHostAddress group_;
    uint16_t port_;
    // Written by SetTtl in any thread, applied to the socket in the transmitter's thread.
    std::atomic<uint8_t> ttl_;
    // Taken and incremented in one step by every publishing thread; reset by
    // _Init in the transmitter's thread.
    std::atomic<uint32_t> sequence_;
    bool slots_connected_;
    // Buffers handed to DataReady and not sent yet. A queued DataReady still
    // pending when the transmitter is deleted is dropped with it, so the
    // destructor frees what is left here.
    std::unordered_set<const uint8_t*> pending_buffers_;
    // Guards pending_buffers_: taken by every publishing thread and by the
    // transmitter's thread when it sends or is deleted.
    QMutex pending_mutex_;
};
