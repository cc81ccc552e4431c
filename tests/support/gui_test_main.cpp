// Shared main of the user interface's test executables: a QApplication on the
// offscreen platform (no display needed) exists for the whole run.
#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>

#include "support/sanitizer_options.h"

#if defined(__SANITIZE_ADDRESS__)
// The offscreen platform plugin keeps its screen objects past the
// application object; full stacks let the suppression see the plugin's frames
// (the plugin has no frame pointers for the fast unwinder).
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libqoffscreen.so\n";
}
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
