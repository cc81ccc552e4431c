#pragma once
// Listens on the device configuration stream (a UDP multicast group) for the
// 12-byte announces of Ethernet devices and reports each valid one, with the
// address and port it came from, through SignalEthernetAnnounceReceived.
//
// Threads: the server lives in a thread of its own (see WorkerThread); Run
// creates the socket there and the datagrams are read there. Shutdown is
// called from the host's thread and stops reading at once.

#include <QHostAddress>
#include <QMetaType>
#include <QNetworkInterface>
#include <QObject>
#include <QString>
#include <QUdpSocket>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>

#include "host/devices/message_throttle.h"
#include "protocol/packets/ethernet_announce_packet.h"

Q_DECLARE_METATYPE(ethernet_announce_t)

class NodeManager;

class ConfigurationServer : public QObject {
    Q_OBJECT

  public:
    // Serial numbers whose first announce is logged, at most: a stranger
    // sending announces of ever new serial numbers must not grow the table
    // without end. Announces beyond it are still reported.
    static constexpr size_t kMaxLoggedSerialNumbers = 4096;

    // What became of one datagram.
    enum class AnnounceResult { kReported, kBadLength, kUnknownType };

    ConfigurationServer(const QString& address, quint16 port, const QNetworkInterface& iface,
                        QObject* parent = nullptr);
    ~ConfigurationServer() override;

    // Set before the thread starts: the registry through which the first
    // announce of each device is said to come from a device that is not
    // configured, or from one of another network. Every valid announce is
    // reported all the same; the host decides.
    void SetRegistry(std::shared_ptr<const NodeManager> registry) { registry_ = std::move(registry); }
    // Stops reading at once and asks the thread to quit; any thread.
    void Shutdown();
    QNetworkInterface GetInterface() const { return interface_; }
    bool IsShuttingDown() const { return shutting_down_.load(std::memory_order_acquire); }

    // Checks one datagram and reports it when it is a valid announce. The
    // reading slot calls it for every datagram; exposed for tests and fuzzing.
    AnnounceResult ProcessDatagram(const uint8_t* data, size_t size, const QHostAddress& sender,
                                   quint16 sender_port);

  public slots:
    void Run();
    void ProcessPendingDatagrams();

  signals:
    void QuitThread();
    void SignalEthernetAnnounceReceived(ethernet_announce_t announce, QString addr, quint16 port);

  private:
    bool JoinMulticastGroup();
    void LogFirstAnnounce(uint32_t serial_number);

    // Created by Run in the server's thread; read by Shutdown in another
    // thread only to disconnect it, so the pointer is atomic.
    std::atomic<QUdpSocket*> socket_{nullptr};
    const quint16 port_;
    const QNetworkInterface interface_;
    const QHostAddress group_address_;
    std::atomic<bool> shutting_down_{false};
    std::shared_ptr<const NodeManager> registry_;
    // Server's thread only.
    std::map<uint32_t, bool> announced_;
    MessageThrottle datagram_messages_;
};
