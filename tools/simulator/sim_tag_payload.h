#pragma once
// A tag's sensor data and how it trickles them: samples of the enabled
// sensors at their configured rates, each one sensor record led by its
// length byte, cut into the user-data chunks its pings carry. A chunk either
// begins a new message or continues the last one (continuation header: the
// index of the next new message, then 0xFE).
#include <cstdint>
#include <deque>
#include <vector>

#include "protocol/packets/set_mpu_config_packet.h"
#include "simulator/sim_site.h"

class SimTagPayload {
  public:
    // Takes the samples due between two pings (true times, with the network
    // times of both pings for the samples' partial times). `restart` drops the
    // fractional samples carried over, after a long pause.
    void Sample(const sim_device_t& tag, const sensors_config_t& sensors, double from_s, double to_s,
                uint32_t from_network_time, uint32_t to_network_time, bool restart);
    // The next chunk of at most `capacity` bytes (at most 255, the reach of a
    // continuation header); empty when there is nothing to send.
    std::vector<uint8_t> NextChunk(uint16_t capacity);
    size_t PendingBytes() const { return pending_.size(); }

  private:
    void Queue(const uint8_t* record, size_t length);

    std::deque<uint8_t> pending_;  // whole messages back to back, the first possibly begun already
    size_t continued_ = 0;         // bytes of the first message still to send after an earlier chunk
    double due_[6] = {};           // fractional samples owed per sensor
};
