#pragma once
// One way to run a worker object (a device link, the configuration server,
// the Backlink) in a thread of its own:
//
// - the worker has no parent and is moved into a new QThread; whatever it
//   creates in its run slot (sockets, serial ports) lives in that thread;
// - the thread's started() runs the worker's run slot; the worker's quit
//   signal ends the thread's event loop;
// - when the thread finishes, the worker is deleted in that thread (its
//   deferred deletion runs as the thread ends) and the QThread object is
//   deleted later in the thread that created it;
// - RequestStop() calls the worker's stop operation from any thread, for as
//   long as the worker exists; Join() waits a bounded time for the worker to
//   be gone and says when it was not.
//
// The handle is cheap to copy; every copy refers to the same thread. It never
// deletes the worker or the thread itself, so dropping every handle while the
// thread runs is harmless.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>

class WorkerThread {
  public:
    WorkerThread() = default;

    // Moves `worker` into a new thread and wires it as described above; the
    // thread is not started. `name` names the worker in messages. A worker
    // with a parent cannot be moved: the result is then an empty handle
    // (with a message) and the worker is left as it was.
    template <typename Worker>
    static WorkerThread Create(Worker* worker, void (Worker::*run)(), void (Worker::*quit_signal)(),
                               void (Worker::*stop)(), const QString& name);

    bool IsEmpty() const { return control_ == nullptr; }
    // The thread, while it exists (it is deleted later once finished).
    QThread* Thread() const;

    // Starts the thread with the inherited priority.
    void Start() const;
    // Calls the worker's stop operation in the calling thread unless the
    // thread has already finished (then the worker is gone or about to be).
    // The worker cannot be deleted while its stop operation runs here.
    void RequestStop() const;
    // Waits up to `timeout_ms` for the thread to finish and the worker to be
    // deleted. True at once for an empty handle; false, with a message, when
    // the bound passed first.
    bool Join(unsigned long timeout_ms) const;
    // True once the thread has finished and the worker has been deleted.
    bool IsFinished() const;

  private:
    struct Control {
        // Guards everything below but `thread`. Taken by callers of
        // RequestStop/Join/IsFinished (any thread) and, as the thread ends,
        // by the worker's thread.
        std::mutex mutex;
        std::condition_variable worker_gone_changed;
        bool thread_finished = false;
        bool worker_gone = false;
        // Calls the worker's stop operation; emptied when the thread finishes.
        std::function<void()> stop;
        QString name;
        // Read only in the thread that created the handle, which is also the
        // thread whose event loop deletes the QThread object.
        QPointer<QThread> thread;
        QThread* creator = nullptr;
    };

    static std::shared_ptr<Control> Wire(QObject* worker, QThread* thread, const QString& name);

    std::shared_ptr<Control> control_;
};

template <typename Worker>
WorkerThread WorkerThread::Create(Worker* worker, void (Worker::*run)(), void (Worker::*quit_signal)(),
                                  void (Worker::*stop)(), const QString& name) {
    WorkerThread handle;
    if (worker == nullptr || worker->parent() != nullptr) {
        std::printf("WorkerThread: %s cannot be moved to a thread of its own (it has a parent)\n",
                    qPrintable(name));
        std::fflush(stdout);
        return handle;
    }
    auto* thread = new QThread();
    worker->moveToThread(thread);
    // Automatic: the worker lives in the thread, so started() calls the run
    // slot directly in that thread.
    QObject::connect(thread, &QThread::started, worker, run, Qt::UniqueConnection);
    // Direct: QThread::quit is thread-safe, and a queued call would wait for
    // the event loop of the creating thread, which may be busy or gone.
    QObject::connect(worker, quit_signal, thread, &QThread::quit, Qt::DirectConnection);
    handle.control_ = Wire(worker, thread, name);
    handle.control_->stop = [worker, stop] { (worker->*stop)(); };
    return handle;
}
