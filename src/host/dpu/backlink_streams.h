#pragma once
// The server's two Vuv streams: the External (output) stream and the
// Internal (input) stream, one connection for both when their settings are
// equal. Shared by pointer between the Backlink, the location engine and the
// device links, so that a publication in flight never meets a deleted
// connection: Close deletes the connections only after the publications in
// flight, and publications after it do nothing.

#include <cstdint>
#include <memory>
#include <shared_mutex>

#include "base/network_socket_settings.h"
#include "host/dpu/vex_publisher.h"
#include "protocol/vex/vex_connection.h"
#include "protocol/vex/vex_packet.h"
#include "protocol/vex/vex_receiver.h"

class BacklinkStreams : public VexPublisher {
  public:
    // The connections belong to the constructing thread, whose event loop
    // sends what other threads publish.
    BacklinkStreams(const NetworkSocketSettings& output, const NetworkSocketSettings& input);
    ~BacklinkStreams() override;
    BacklinkStreams(const BacklinkStreams&) = delete;
    BacklinkStreams& operator=(const BacklinkStreams&) = delete;

    // Any thread; nothing happens once closed.
    void PublishOutputVex(VexPacket& packet) override;
    void PublishInputVex(VexPacket& packet) override;

    // On the Internal stream; its callbacks run on that stream's receiver thread.
    void Subscribe(uint16_t type, VexSubscriberCallback callback);
    // Input stream first, then output; waits for a running callback.
    void ClearSubscriptions();
    // Clears the subscriptions, then deletes the connections once the
    // publications in flight are done.
    void Close();

    bool IsOneConnection();
    bool IsClosed();

  private:
    // Guards the two pointers: shared by publishers, subscribers and the
    // clearing of subscriptions (any thread), exclusive while Close takes the
    // connections away.
    std::shared_mutex lock_;
    std::unique_ptr<VexConnection> output_;
    // Null when the output connection serves both streams.
    std::unique_ptr<VexConnection> input_;
};
