#pragma once
// Where the location engine sends its packets: the Backlink's two Vuv
// streams in the server, a recorder in tests. Held by shared pointer, so a
// publication in flight keeps it alive whatever is torn down meanwhile. The
// Internal stream side is the one the device links publish through.

#include <memory>
#include <mutex>
#include <utility>

#include "host/devices/vex_input_publisher.h"
#include "protocol/vex/vex_packet.h"

class VexPublisher : public VexInputPublisher {
  public:
    // Called from any thread (the Internal stream's receiver thread, the
    // thread pool, the engine's own thread) and must be safe for that.
    virtual void PublishOutputVex(VexPacket& packet) = 0;
};

// The publisher an engine sends through. Attached and detached from any
// thread; mutex_ guards publisher_ alone. A publication copies the pointer
// out with Get, so the publisher lives until that publication ends even when
// it is detached meanwhile.
class VexPublisherSlot {
  public:
    void Attach(std::shared_ptr<VexPublisher> publisher) {
        std::lock_guard<std::mutex> lock(mutex_);
        publisher_ = std::move(publisher);
    }
    // Only detaches `expected`, so an old Backlink cannot detach a newer one.
    void Detach(const VexPublisher* expected) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (publisher_.get() == expected) {
            publisher_.reset();
        }
    }
    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        publisher_.reset();
    }
    std::shared_ptr<VexPublisher> Get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return publisher_;
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<VexPublisher> publisher_;
};
