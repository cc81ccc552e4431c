#pragma once
// One Vuv stream (a multicast group and port on one interface): a transmitter
// that sends in the thread that built the connection and a receiver that
// reads and calls the subscribers in a thread of its own.

#include <QMutex>
#include <QPointer>
#include <QThread>
#include <cstdint>

#include "base/network_socket_settings.h"
#include "protocol/vex/vex_packet.h"
#include "protocol/vex/vex_receiver.h"
#include "protocol/vex/vex_transmitter.h"

class VexConnection {
  public:
    explicit VexConnection(const NetworkSocketSettings& settings);
    // Clears the subscriptions (waiting for a running callback), shuts the
    // receiver down and ends its thread, waiting a bounded time for it.
    ~VexConnection();
    VexConnection(const VexConnection&) = delete;
    VexConnection& operator=(const VexConnection&) = delete;

    void Subscribe(uint16_t type, VexSubscriberCallback callback);
    // Safe from any thread; from a thread other than the constructing one the
    // datagram is queued to that thread's event loop.
    void Publish(VexPacket& packet);
    void ClearSubscriptions();
    // Transmitter first (interface, group, port, TTL), then receiver
    // (interface, port, group): the receiver's interface must be in place
    // before the re-binds that move its group membership.
    void UpdateSocket(const NetworkSocketSettings& settings);

  private:
    QPointer<VexTransmitter> transmitter_;
    QPointer<VexReceiver> receiver_;
    QPointer<QThread> thread_;
    // Serialises UpdateSocket's changes to the transmitter; taken by whichever
    // thread re-targets the connection, never by Publish.
    QMutex mutex_;
};
