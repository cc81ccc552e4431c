#pragma once
// Where the device links send the Vuv packets they make of device reports:
// the Internal stream. The location engine's Backlink provides it; a link
// holds it by shared pointer, so it stays valid for as long as the link's
// thread may still publish, whatever the host tears down meanwhile.

#include <QMutex>
#include <cstddef>
#include <vector>

#include "protocol/vex/vex_packet.h"

class VexInputPublisher {
  public:
    virtual ~VexInputPublisher() = default;

    // Sends the packet on the Internal stream. Called from device link
    // threads, several at once.
    virtual void PublishInputVex(VexPacket& packet) = 0;
};

// Keeps every packet published to it, in order, for whoever wants to look at
// what the links made of the device's bytes (tests, fuzzing, benchmarks, a
// recording).
class VexPacketRecorder : public VexInputPublisher {
  public:
    void PublishInputVex(VexPacket& packet) override;

    std::vector<VexPacket> Packets() const;
    size_t PacketCount() const;
    void Clear();

  private:
    // Guards packets_; taken by publishing link threads and by readers.
    mutable QMutex mutex_;
    std::vector<VexPacket> packets_;
};
