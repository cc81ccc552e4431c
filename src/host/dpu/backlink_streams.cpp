#include "host/dpu/backlink_streams.h"

#include <mutex>
#include <utility>

BacklinkStreams::BacklinkStreams(const NetworkSocketSettings& output, const NetworkSocketSettings& input)
    : output_(new VexConnection(output)) {
    if (!(input == output)) {
        input_.reset(new VexConnection(input));
    }
}

BacklinkStreams::~BacklinkStreams() {
    Close();
}

void BacklinkStreams::PublishOutputVex(VexPacket& packet) {
    std::shared_lock<std::shared_mutex> lock(lock_);
    if (output_) {
        output_->Publish(packet);
    }
}

void BacklinkStreams::PublishInputVex(VexPacket& packet) {
    std::shared_lock<std::shared_mutex> lock(lock_);
    VexConnection* input = input_ ? input_.get() : output_.get();
    if (input) {
        input->Publish(packet);
    }
}

void BacklinkStreams::Subscribe(uint16_t type, VexSubscriberCallback callback) {
    std::shared_lock<std::shared_mutex> lock(lock_);
    VexConnection* input = input_ ? input_.get() : output_.get();
    if (input) {
        input->Subscribe(type, std::move(callback));
    }
}

void BacklinkStreams::ClearSubscriptions() {
    // Shared: a callback being waited for may itself publish.
    std::shared_lock<std::shared_mutex> lock(lock_);
    if (input_) {
        input_->ClearSubscriptions();
    }
    if (output_) {
        output_->ClearSubscriptions();
    }
}

void BacklinkStreams::Close() {
    // No callback runs after this, so none can be publishing while the
    // exclusive lock is waited for.
    ClearSubscriptions();
    std::unique_ptr<VexConnection> output;
    std::unique_ptr<VexConnection> input;
    {
        std::unique_lock<std::shared_mutex> lock(lock_);
        output = std::move(output_);
        input = std::move(input_);
    }
    // Destroyed outside the lock: a connection waits for its receive thread.
}

bool BacklinkStreams::IsOneConnection() {
    std::shared_lock<std::shared_mutex> lock(lock_);
    return output_ && !input_;
}

bool BacklinkStreams::IsClosed() {
    std::shared_lock<std::shared_mutex> lock(lock_);
    return !output_;
}
