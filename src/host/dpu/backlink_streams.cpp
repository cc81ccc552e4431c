#include "host/dpu/backlink_streams.h"

#include <QCoreApplication>
#include <QEvent>
#include <future>
#include <mutex>
#include <utility>

#include "base/thread_annotations.h"

namespace {

// One piece of work for the sender thread. Posted as an event of our own
// rather than a queued functor: the event is filled in here before it is
// posted, so the hand-over can be annotated (ThreadSanitizer cannot see the
// one inside Qt, which fills a queued functor in within the posting call).
class SenderWorkEvent : public QEvent {
  public:
    static QEvent::Type Kind() {
        static const QEvent::Type kind = static_cast<QEvent::Type>(QEvent::registerEventType());
        return kind;
    }
    explicit SenderWorkEvent(std::function<void()> work) : QEvent(Kind()), work_(std::move(work)) {}
    void Run() { work_(); }

  private:
    std::function<void()> work_;
};

// Lives in the sender thread and runs the work posted to it.
class SenderContext : public QObject {
  public:
    bool event(QEvent* event) override {
        // Before the event is read at all: its type too was written by the poster.
        AnnotateTakeOver(event);
        if (event->type() != SenderWorkEvent::Kind())
            return QObject::event(event);
        static_cast<SenderWorkEvent*>(event)->Run();
        return true;
    }
};

}  // namespace

BacklinkStreams::BacklinkStreams(const NetworkSocketSettings& output, const NetworkSocketSettings& input)
    : sender_context_(new SenderContext()) {
    sender_thread_.setObjectName("VuvSender");
    sender_context_->moveToThread(&sender_thread_);
    sender_thread_.start();
    RunInSenderThread([this, &output, &input] {
        output_.reset(new VexConnection(output));
        if (!(input == output)) {
            input_.reset(new VexConnection(input));
        }
    });
}

BacklinkStreams::~BacklinkStreams() {
    Close();
}

void BacklinkStreams::RunInSenderThread(const std::function<void()>& work) {
    if (sender_context_ == nullptr || !sender_thread_.isRunning()) {
        return;
    }
    // Waited for with a standard promise rather than a blocking queued call:
    // ThreadSanitizer sees the hand-over through it, not through Qt's
    // semaphore.
    std::promise<void> done;
    auto* event = new SenderWorkEvent([&work, &done] {
        work();
        done.set_value();
    });
    AnnotateHandOver(event);
    QCoreApplication::postEvent(sender_context_, event);
    done.get_future().wait();
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
    // and in the sender thread, whose event loop then deletes the
    // transmitters, sending what was queued before them.
    std::lock_guard<std::mutex> closing(close_mutex_);
    RunInSenderThread([&output, &input] {
        input.reset();
        output.reset();
    });
    if (sender_thread_.isRunning()) {
        sender_thread_.quit();
        sender_thread_.wait();
    }
    // The thread has ended: nothing can be queued to the context any more.
    delete sender_context_;
    sender_context_ = nullptr;
}

bool BacklinkStreams::IsOneConnection() {
    std::shared_lock<std::shared_mutex> lock(lock_);
    return output_ && !input_;
}

bool BacklinkStreams::IsClosed() {
    std::shared_lock<std::shared_mutex> lock(lock_);
    return !output_;
}
