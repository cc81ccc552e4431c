#pragma once
// Sanitizer settings shared by the test mains. Defined in a header that each
// main includes (not in a library), so the definitions are linked into every
// test executable: the sanitizer runtime only looks them up, it does not pull
// them out of an archive.

#include "base/thread_annotations.h"

#ifdef VORAV_THREAD_SANITIZER
// Qt is not built with ThreadSanitizer: the futex-based mutexes inside it that
// order its event queue, its thread start and end and its main-loop wake-ups
// are invisible to the sanitizer. These entries name only such Qt internals
// (posted events and the arguments of queued calls, made in one thread and
// used and freed in another; thread data and wait conditions of QThread;
// glib's wake-up descriptor). Our own locks and hand-overs are annotated
// (protocol/thread_annotations.h), so the sanitizer still checks them.
// Accesses made inside Qt's own code (its event lists, its allocations) are
// left out for the same reason.
// No entry names a call frame that our own code runs beneath (such as the
// frame through which Qt calls a queued slot): that would hide races inside
// the slot itself.
extern "C" const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}

extern "C" const char* __tsan_default_suppressions() {
    return "race:QCoreApplicationPrivate::sendPostedEvents\n"
           "race:QCoreApplication::postEvent\n"
           "race:QCoreApplicationPrivate::cleanupThreadData\n"
           "race:QWaitCondition::~QWaitCondition\n"
           "race:QArrayData::allocate\n"
           "race:QObjectPrivate::Connection::~Connection\n"
           "race:QCoreApplication::removePostedEvents\n"
           "race:libglib-2.0.so\n"
           "race:QMetaType::create\n";
}
#endif
