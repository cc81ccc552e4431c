// The start-up pieces that run without a server process: the stdout message
// handler.
#include "host/startup.h"

#include <gtest/gtest.h>

#include <QString>

#include "support/stdout_capture.h"

namespace {

// Each message on a line of its own, as UTF-8; only the exact text of the
// event loop's warning (printed once the application object is gone) becomes
// an empty line.
TEST(StartupMessageHandlerTest, PrintsEachMessageOnALineAndTheEventLoopWarningAsAnEmptyOne) {
    StdoutCapture capture;
    const QMessageLogContext context;
    for (const char* message : {"QEventLoop: Cannot be used without QApplication",
                                "QEventLoop: cannot be used without QApplication",
                                "QEventLoop: Cannot be used without QApplication.", "h\xC3\xA9llo"})
        RedirectQdebugToStdout(QtWarningMsg, context, QString::fromUtf8(message));
    EXPECT_EQ(capture.Stop(),
              "\n"
              "QEventLoop: cannot be used without QApplication\n"
              "QEventLoop: Cannot be used without QApplication.\n"
              "h\xC3\xA9llo\n");
}

}  // namespace
