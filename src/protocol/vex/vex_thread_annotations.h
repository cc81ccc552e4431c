#pragma once
// Qt's mutexes wait on futexes inside the Qt library, and its queued signals
// hand their arguments over through Qt's own event queue; neither is visible
// to ThreadSanitizer when Qt itself is not built with it. These annotations
// state the ordering those give, so that the sanitizer checks the rest of
// the code instead of reporting these hand-overs. They cost nothing in other
// builds.

#include <QMutex>

#if defined(__SANITIZE_THREAD__)
#define VORAV_VEX_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VORAV_VEX_TSAN 1
#endif
#endif

#ifdef VORAV_VEX_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

// Everything this thread did before VexHandOver(token) happens before what
// another thread does after VexTakeOver(token).
inline void VexHandOver(const void* token) {
#ifdef VORAV_VEX_TSAN
    __tsan_release(const_cast<void*>(token));
#else
    (void)token;
#endif
}

inline void VexTakeOver(const void* token) {
#ifdef VORAV_VEX_TSAN
    __tsan_acquire(const_cast<void*>(token));
#else
    (void)token;
#endif
}

// Holds a QMutex for its scope, with the ordering made visible.
class VexMutexLocker {
  public:
    explicit VexMutexLocker(QMutex* mutex) : mutex_(mutex) {
        mutex_->lock();
        VexTakeOver(mutex_);
    }
    ~VexMutexLocker() {
        VexHandOver(mutex_);
        mutex_->unlock();
    }
    VexMutexLocker(const VexMutexLocker&) = delete;
    VexMutexLocker& operator=(const VexMutexLocker&) = delete;

  private:
    QMutex* mutex_;
};
