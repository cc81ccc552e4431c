// The worker-thread helper on its own: a worker that will not stop makes the
// bounded join say so, and stops once it agrees; a worker with a parent is
// refused; the worker is deleted in its own thread.
#include <gtest/gtest.h>

#include <QObject>
#include <QThread>
#include <atomic>
#include <memory>
#include <string>

#include "host/devices/worker_thread.h"
#include "support/link_test_support.h"
#include "support/stdout_capture.h"

namespace {

using namespace link_test;

class StubbornWorker : public QObject {
    Q_OBJECT

  public:
    explicit StubbornWorker(std::shared_ptr<std::atomic<bool>> deleted_in_own_thread)
        : deleted_in_own_thread_(std::move(deleted_in_own_thread)) {}
    ~StubbornWorker() override { deleted_in_own_thread_->store(QThread::currentThread() == run_thread_); }

    // Any thread; stops only once it has been asked twice.
    void Stop() {
        if (asked_.fetch_add(1) >= 1) {
            emit Done();
        }
    }

  public slots:
    void Run() {
        run_thread_ = QThread::currentThread();
        running_.store(true);
    }

  signals:
    void Done();

  public:
    std::atomic<bool> running_{false};

  private:
    std::shared_ptr<std::atomic<bool>> deleted_in_own_thread_;
    std::atomic<int> asked_{0};
    // Written in Run, read by the destructor; both in the worker's thread.
    QThread* run_thread_ = nullptr;
};

TEST(WorkerThreadTest, BoundedJoinSaysWhenTheWorkerDidNotStop) {
    auto deleted_in_own_thread = std::make_shared<std::atomic<bool>>(false);
    auto* worker = new StubbornWorker(deleted_in_own_thread);
    const WorkerThread thread = WorkerThread::Create(worker, &StubbornWorker::Run, &StubbornWorker::Done,
                                                     &StubbornWorker::Stop, "stubborn worker");
    ASSERT_FALSE(thread.IsEmpty());
    thread.Start();
    ASSERT_TRUE(SpinUntil([&] { return worker->running_.load(); }));

    thread.RequestStop();
    StdoutCapture capture;
    EXPECT_FALSE(thread.Join(50));
    EXPECT_EQ(capture.Stop(), "WorkerThread: stubborn worker did not finish within 50 ms\n");
    EXPECT_FALSE(thread.IsFinished());

    thread.RequestStop();
    EXPECT_TRUE(thread.Join(kJoinMs));
    EXPECT_TRUE(thread.IsFinished());
    EXPECT_TRUE(deleted_in_own_thread->load());
    // After the end a stop request reaches nobody and the join is immediate.
    thread.RequestStop();
    EXPECT_TRUE(thread.Join(0));
    SpinUntil([&] { return thread.Thread() == nullptr; });
    EXPECT_EQ(thread.Thread(), nullptr) << "the thread object was deleted in this thread";
}

TEST(WorkerThreadTest, AWorkerWithAParentIsNotMoved) {
    QObject parent;
    auto* worker = new StubbornWorker(std::make_shared<std::atomic<bool>>(false));
    worker->setParent(&parent);
    StdoutCapture capture;
    const WorkerThread thread = WorkerThread::Create(worker, &StubbornWorker::Run, &StubbornWorker::Done,
                                                     &StubbornWorker::Stop, "adopted worker");
    EXPECT_TRUE(thread.IsEmpty());
    EXPECT_EQ(capture.Stop(),
              "WorkerThread: adopted worker cannot be moved to a thread of its own (it has a parent)\n");
    EXPECT_EQ(worker->thread(), QThread::currentThread());
    EXPECT_TRUE(thread.Join(0));
}

}  // namespace

#include "worker_thread_threaded_test.moc"
