#pragma once
// Where the location engine sends its packets: the Backlink's two Vuv
// streams in the server, a recorder in tests. Held by shared pointer, so a
// publication in flight keeps it alive whatever is torn down meanwhile. The
// Internal stream side is the one the device links publish through.

#include "host/devices/vex_input_publisher.h"
#include "protocol/vex/vex_packet.h"

class VexPublisher : public VexInputPublisher {
  public:
    // Called from any thread (the Internal stream's receiver thread, the
    // thread pool, the engine's own thread) and must be safe for that.
    virtual void PublishOutputVex(VexPacket& packet) = 0;
};
