// Shared main of every test executable: a QCoreApplication exists for the
// whole run, so tests that need Qt's event loop, timers or sockets work.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QThread>

#include "support/sanitizer_options.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    // Worker threads a test stopped delete their QThread objects later in this
    // thread: give those deletions a moment to run, so that the leak check at
    // exit does not depend on how fast the last threads ended.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 300) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    return result;
}
