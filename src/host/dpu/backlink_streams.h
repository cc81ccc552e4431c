#pragma once
// The server's two Vuv streams: the External (output) stream and the
// Internal (input) stream, one connection for both when their settings are
// equal. Shared by pointer between the Backlink, the location engine and the
// device links, so that a publication in flight never meets a deleted
// connection: Close deletes the connections only after the publications in
// flight, and publications after it do nothing.
//
// Threads: each connection is built, sends and is deleted in a sender thread
// of its own, never in the constructing thread. A publication from any other
// thread is queued to a transmitter's thread; were that the host's or the
// main thread, which block in the network reset and in the quit-time stop,
// the Internal stream would go silent exactly while the engine waits for the
// master's acknowledgements on it. With one thread per stream, the positions
// of a sync period, which all complete at once, do not wait behind the
// devices' receptions forwarded on the Internal stream, nor the reverse.

#include <QObject>
#include <QThread>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "base/network_socket_settings.h"
#include "host/dpu/vex_publisher.h"
#include "protocol/vex/vex_connection.h"
#include "protocol/vex/vex_packet.h"
#include "protocol/vex/vex_receiver.h"

// Runs work handed to it from another thread in its own thread, one piece at
// a time, and lets the caller wait for it. The request travels as a queued
// call by name, and the work and its completion under mutex_: ThreadSanitizer
// sees the hand-over through the standard mutex, not through Qt's event queue.
class SenderContext : public QObject {
    Q_OBJECT

  public:
    // From a thread other than the context's, whose event loop runs.
    void Run(const std::function<void()>& work);

  private slots:
    void RunPending();

  private:
    // Guards pending_ and done_: the caller of Run and the context's thread.
    std::mutex mutex_;
    std::condition_variable finished_;
    const std::function<void()>* pending_ = nullptr;
    bool done_ = false;
};

// A thread whose event loop only sends and rebuilds sockets, so that it never
// blocks for long, and the context that runs work handed to it.
class SenderThread {
  public:
    explicit SenderThread(const char* name);
    // Stops the thread if Stop has not.
    ~SenderThread();
    SenderThread(const SenderThread&) = delete;
    SenderThread& operator=(const SenderThread&) = delete;

    // Runs the work in the thread and waits for it; nothing once stopped.
    void Run(const std::function<void()>& work);
    // Ends the thread after the events queued to it. Not concurrently with Run.
    void Stop();

  private:
    QThread thread_;
    // Lives in thread_; deleted by Stop once the thread has ended.
    SenderContext* context_;
};

class BacklinkStreams : public VexPublisher {
  public:
    // Starts the sender thread and builds the connections in it.
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
    // The transmitters' threads, of the output connection and of the input
    // one (idle when one connection serves both). Ended by Close.
    SenderThread output_thread_;
    SenderThread input_thread_;
    // Serialises Close (the Backlink's thread, and whichever thread drops the
    // last reference), and with it the ending of the sender threads.
    std::mutex close_mutex_;
    // Guards the two pointers: shared by publishers, subscribers and the
    // clearing of subscriptions (any thread), exclusive while Close takes the
    // connections away.
    std::shared_mutex lock_;
    std::unique_ptr<VexConnection> output_;
    // Null when the output connection serves both streams.
    std::unique_ptr<VexConnection> input_;
};
