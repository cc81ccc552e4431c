#pragma once
// A device on Ethernet, reached over UDP. The device announced itself with
// its serial number (so the link counts as identified from the start); the
// link "connects" a transmit socket to the device and tells it, with the
// configuration datagram 0x13, where to send its SSP frames:
//
// - unicast (the local address is not a multicast group): to the link's own
//   receive socket, bound to an IPv4 address of the link's interface and a
//   free port; only datagrams from the device's address are read;
// - multicast (the local address is the Internal stream's group): to that
//   group and port; the receive socket stays unbound.
//
// Payloads leave as 0x12 followed by one SSP frame. Everything runs in the
// link's thread; Run creates both sockets there.

#include <QHostAddress>
#include <QNetworkInterface>
#include <QPointer>
#include <QUdpSocket>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "host/devices/node_link.h"

class EthernetLink : public NodeLink {
    Q_OBJECT

  public:
    // The VLAN id travels in one byte of the configuration datagram.
    static constexpr int kMaxVlanId = 255;

    EthernetLink();
    ~EthernetLink() override;

    // `name` is "udpm://<IPv4 address>:<port>" of the device; a name that is
    // not of that form is refused (false, with a message) and the link stays
    // uninitialised.
    bool Init(std::shared_ptr<const NodeManager> registry, std::shared_ptr<VexInputPublisher> publisher,
              const QString& name) override;
    // Set before the thread starts: the device's serial number from its
    // announce, the local port and address (the Internal stream's).
    void SetSerialNumber(uint32_t serialNumber) { NodeLink::SetSerialNumber(serialNumber); }
    void SetLocalPort(uint16_t port) { local_port_ = port; }
    void SetLocalAddress(const QHostAddress& address) { local_address_ = address; }
    // Takes the last interface of that name, else the loopback interface
    // (with a message), and the VLAN id. A VLAN id outside 0 to 255, which
    // the configuration datagram cannot carry, is refused: false, nothing
    // changed, no message (the caller knows how often to report it).
    bool SetNetworkInterface(const QString& name, int vlan);
    static bool AddressIsMulticast(const QHostAddress& address);
    // Any thread: has the link's thread send the configuration datagram again
    // when the link is open. A device announces itself until it is
    // configured, so an announce from a device that has its link means that
    // the datagram was lost or the device restarted.
    void ResendConfiguration();

    std::string GetPortName() const override;
    void Open() override;
    void Close() override;
    bool WaitForBytesWritten(int msecs) override;
    bool WaitForReadyRead(int msecs) override;

  public slots:
    void Run() override;
    void PublishData(QByteArray payload) override;
    void ReadDatagram();
    void OnSocketConnected();
    void OnSocketDisconnected();

  private slots:
    void SendConfigurationAgain();

  private:
    bool ConnectToDevice();
    // Binds the receive socket when needed; false when it cannot be bound.
    bool BindReceiveSocket();
    void SendConfiguration(const QHostAddress& host_address, uint16_t host_port);
    void CountFailure();

    QPointer<QUdpSocket> transmit_socket_;
    QPointer<QUdpSocket> receive_socket_;
    // Set before the thread starts, then read in the link's thread only
    // (GetPortName, which the host calls, reads the immutable device fields).
    QHostAddress device_address_;
    uint16_t device_port_ = 0;
    QNetworkInterface network_interface_;
    QHostAddress local_address_;
    uint16_t local_port_ = 0;
    int vlan_id_ = 0;
    // Link's thread: the address and port the configuration datagram names,
    // set when the link opens.
    QHostAddress host_address_;
    uint16_t host_port_ = 0;
    // Link's thread: the buffer datagrams are read into.
    std::vector<uint8_t> datagram_;
    MessageThrottle network_messages_;

    // Failures to connect, over all Ethernet links; paces the failure message.
    static std::atomic<uint8_t> __connect_failures;
};
