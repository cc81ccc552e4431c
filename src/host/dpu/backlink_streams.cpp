#include "host/dpu/backlink_streams.h"

#include <QMetaObject>
#include <mutex>
#include <utility>

SenderThread::SenderThread(const char* name) : context_(new SenderContext()) {
    thread_.setObjectName(name);
    context_->moveToThread(&thread_);
    thread_.start();
}

SenderThread::~SenderThread() {
    Stop();
}

void SenderThread::Run(const std::function<void()>& work) {
    if (context_ != nullptr && thread_.isRunning()) {
        context_->Run(work);
    }
}

void SenderThread::Stop() {
    if (thread_.isRunning()) {
        thread_.quit();
        thread_.wait();
    }
    // The thread has ended: nothing can be queued to the context any more.
    delete context_;
    context_ = nullptr;
}

BacklinkStreams::BacklinkStreams(const NetworkSocketSettings& output, const NetworkSocketSettings& input)
    : output_thread_("VuvOutSender"), input_thread_("VuvInSender") {
    output_thread_.Run([this, &output] { output_.reset(new VexConnection(output)); });
    if (!(input == output)) {
        input_thread_.Run([this, &input] { input_.reset(new VexConnection(input)); });
    }
}

BacklinkStreams::~BacklinkStreams() {
    Close();
}

void SenderContext::Run(const std::function<void()>& work) {
    std::unique_lock<std::mutex> lock(mutex_);
    pending_ = &work;
    done_ = false;
    QMetaObject::invokeMethod(this, "RunPending", Qt::QueuedConnection);
    finished_.wait(lock, [this] { return done_; });
}

void SenderContext::RunPending() {
    std::unique_lock<std::mutex> lock(mutex_);
    const std::function<void()>* work = pending_;
    pending_ = nullptr;
    lock.unlock();
    if (work != nullptr) {
        (*work)();
    }
    lock.lock();
    done_ = true;
    finished_.notify_all();
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
    // Destroyed outside the lock (a connection waits for its receive thread)
    // and each in its sender thread, whose event loop then deletes the
    // transmitter, sending what was queued before it.
    std::lock_guard<std::mutex> closing(close_mutex_);
    input_thread_.Run([&input] { input.reset(); });
    output_thread_.Run([&output] { output.reset(); });
    input_thread_.Stop();
    output_thread_.Stop();
}

bool BacklinkStreams::IsOneConnection() {
    std::shared_lock<std::shared_mutex> lock(lock_);
    return output_ && !input_;
}

bool BacklinkStreams::IsClosed() {
    std::shared_lock<std::shared_mutex> lock(lock_);
    return !output_;
}
