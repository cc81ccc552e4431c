#pragma once
// Joins a Vuv multicast group, reads datagrams in a thread of its own and
// hands each item of a valid packet to the callbacks subscribed to its type.

#include <QHostAddress>
#include <QMutex>
#include <QNetworkInterface>
#include <QObject>
#include <QString>
#include <QUdpSocket>
#include <atomic>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include "protocol/vex/vex_data_item.h"
#include "protocol/vex/vex_packet.h"

// Called on the receiver's thread with the packet's serial number, its
// sequence number and the item; the item is valid only during the call. A
// callback must not subscribe, clear, re-target or shut down its own
// receiver: it runs under the receiver's mutexes.
using VexSubscriberCallback =
    std::function<void(uint32_t serial, uint32_t sequence, const VexDataItem& item)>;

class VexReceiver : public QObject {
    Q_OBJECT

  public:
    // Binds and joins at once, in the constructing thread.
    VexReceiver(QString group, uint16_t port, QNetworkInterface iface, QObject* parent = nullptr);
    ~VexReceiver() override;

    // The same callback subscribed twice is called twice per item.
    void Subscribe(uint16_t type, VexSubscriberCallback callback);
    // Waits for a running callback; no callback runs after it returns.
    void ClearSubscriptions();

    void SetPort(uint16_t port) { emit PortUpdate(port); }
    void SetMulticastAddr(QString group) { emit MulticastAddrUpdate(group); }
    void SetNetworkInterface(QNetworkInterface iface) { emit NetworkInterfaceUpdate(iface); }

  public slots:
    void Run();
    void Shutdown();

  signals:
    void PortUpdate(quint16 port);
    void MulticastAddrUpdate(QString group);
    void SignalThreadFinished();
    void SignalShutdown();
    void NetworkInterfaceUpdate(QNetworkInterface iface);

  private slots:
    void _ProcessPendingRxDatagrams();
    void _UpdatePort(quint16 port);
    void _UpdateMulticastAddr(QString group);
    void _UpdateNetworkInterface(QNetworkInterface iface);

  private:
    void _InitializeReceiver(const QString& group, uint16_t port, const QNetworkInterface& iface);
    void _ProcessPacket(const VexPacket& packet);
    void _AlertSubscribers(uint32_t serial, uint32_t sequence, const VexDataItem& item);

    // Guards socket_ and the group, port and interface: taken by the
    // receiver's thread for a whole reception run, a re-targeting or the
    // shut-down (the constructor binds before the thread starts).
    QMutex socket_mutex_;
    QUdpSocket* socket_;
    // Guards subscribers_: taken by Subscribe and ClearSubscriptions in the
    // caller's thread and by the receiver's thread around each item's callbacks.
    QMutex subscriber_mutex_;
    std::unordered_map<uint16_t, std::vector<VexSubscriberCallback>> subscribers_;
    QHostAddress group_;
    uint16_t port_;
    QNetworkInterface interface_;
    // Set by Shutdown in the receiver's thread; read after each datagram.
    std::atomic<bool> shutting_down_;
    // One datagram at a time, read in the receiver's thread; one byte more
    // than the largest packet, so an oversized datagram shows as such.
    std::vector<uint8_t> datagram_;
};
