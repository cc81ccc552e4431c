// Shared main of the user interface's test executables: a QApplication on the
// offscreen platform (no display needed) exists for the whole run.
#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>

#include "support/sanitizer_options.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
