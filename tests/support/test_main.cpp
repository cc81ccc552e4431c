// Shared main of every test executable: a QCoreApplication exists for the
// whole run, so tests that need Qt's event loop, timers or sockets work.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "support/sanitizer_options.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
