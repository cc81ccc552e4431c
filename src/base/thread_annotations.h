#pragma once
// Qt's mutexes wait on futexes inside the Qt library, and its queued signals
// hand their arguments over through Qt's own event queue; neither is visible
// to ThreadSanitizer when Qt itself is not built with it. These annotations
// state the ordering those give, so that the sanitizer checks the rest of
// the code instead of reporting these hand-overs. They cost nothing in other
// builds.

#include <QMutex>

#if defined(__SANITIZE_THREAD__)
#define VORAV_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VORAV_THREAD_SANITIZER 1
#endif
#endif

#ifdef VORAV_THREAD_SANITIZER
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

// Everything this thread did before AnnotateHandOver(token) happens before what
// another thread does after AnnotateTakeOver(token).
inline void AnnotateHandOver(const void* token) {
#ifdef VORAV_THREAD_SANITIZER
    __tsan_release(const_cast<void*>(token));
#else
    (void)token;
#endif
}

inline void AnnotateTakeOver(const void* token) {
#ifdef VORAV_THREAD_SANITIZER
    __tsan_acquire(const_cast<void*>(token));
#else
    (void)token;
#endif
}

// Holds a QMutex for its scope, with the ordering made visible.
class AnnotatedMutexLocker {
  public:
    explicit AnnotatedMutexLocker(QMutex* mutex) : mutex_(mutex) {
        mutex_->lock();
        AnnotateTakeOver(mutex_);
    }
    ~AnnotatedMutexLocker() {
        AnnotateHandOver(mutex_);
        mutex_->unlock();
    }
    AnnotatedMutexLocker(const AnnotatedMutexLocker&) = delete;
    AnnotatedMutexLocker& operator=(const AnnotatedMutexLocker&) = delete;

  private:
    QMutex* mutex_;
};

// Tries to take a QMutex for at most timeoutMs milliseconds (at least 1: a
// zero time-out would fail whenever another thread holds the lock even for a
// moment) and holds it for its scope when it got it. Test IsLocked().
class AnnotatedMutexTryLocker {
  public:
    AnnotatedMutexTryLocker(QMutex* mutex, int timeoutMs)
        : mutex_(mutex), locked_(mutex->tryLock(timeoutMs < 1 ? 1 : timeoutMs)) {
        if (locked_)
            AnnotateTakeOver(mutex_);
    }
    ~AnnotatedMutexTryLocker() {
        if (locked_) {
            AnnotateHandOver(mutex_);
            mutex_->unlock();
        }
    }
    AnnotatedMutexTryLocker(const AnnotatedMutexTryLocker&) = delete;
    AnnotatedMutexTryLocker& operator=(const AnnotatedMutexTryLocker&) = delete;

    bool IsLocked() const { return locked_; }

  private:
    QMutex* mutex_;
    bool locked_;
};
