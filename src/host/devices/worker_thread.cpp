#include "host/devices/worker_thread.h"

#include <chrono>

std::shared_ptr<WorkerThread::Control> WorkerThread::Wire(QObject* worker, QThread* thread,
                                                          const QString& name) {
    auto control = std::make_shared<Control>();
    control->name = name;
    control->thread = thread;
    control->creator = QThread::currentThread();

    // finished() is emitted in the worker's thread before the deferred
    // deletions of that thread run, so after this no caller reaches the
    // worker's stop operation, and the worker is deleted only after it.
    QObject::connect(
        thread, &QThread::finished, thread,
        [control] {
            std::lock_guard<std::mutex> lock(control->mutex);
            control->thread_finished = true;
            control->stop = nullptr;
        },
        Qt::DirectConnection);
    // destroyed() is emitted by ~QObject in the worker's thread, once the
    // worker's own destructors have run.
    QObject::connect(
        worker, &QObject::destroyed, thread,
        [control] {
            std::lock_guard<std::mutex> lock(control->mutex);
            control->worker_gone = true;
            control->worker_gone_changed.notify_all();
        },
        Qt::DirectConnection);
    QObject::connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    // Direct: the deletion itself is posted to the creating thread's loop.
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater, Qt::DirectConnection);
    return control;
}

QThread* WorkerThread::Thread() const {
    if (control_ == nullptr || QThread::currentThread() != control_->creator) {
        return nullptr;
    }
    return control_->thread.data();
}

void WorkerThread::Start() const {
    if (QThread* thread = Thread()) {
        thread->start(QThread::InheritPriority);
    }
}

void WorkerThread::RequestStop() const {
    if (control_ == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(control_->mutex);
    if (!control_->thread_finished && control_->stop) {
        control_->stop();
    }
}

bool WorkerThread::Join(unsigned long timeout_ms) const {
    if (control_ == nullptr) {
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    {
        std::unique_lock<std::mutex> lock(control_->mutex);
        if (!control_->worker_gone_changed.wait_until(lock, deadline,
                                                      [this] { return control_->worker_gone; })) {
            std::printf("WorkerThread: %s did not finish within %lu ms\n", qPrintable(control_->name),
                        timeout_ms);
            std::fflush(stdout);
            return false;
        }
    }
    // The worker is gone; what is left of the thread is its exit. The thread
    // object is deleted by the creating thread's event loop, so it can only
    // be waited for safely from there.
    if (QThread* thread = Thread()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        thread->wait(left.count() > 0 ? static_cast<unsigned long>(left.count()) : 0);
    }
    return true;
}

bool WorkerThread::IsFinished() const {
    if (control_ == nullptr) {
        return true;
    }
    std::lock_guard<std::mutex> lock(control_->mutex);
    return control_->thread_finished && control_->worker_gone;
}
