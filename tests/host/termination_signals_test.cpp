// The termination signals in this process: signals that come before the event
// loop runs wait for it and end it; once the loop has returned a signal ends
// the process with code 1; a real abort() still ends the process.
#include "host/termination_signals.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <cstdlib>

#include "support/stdout_capture.h"

namespace {

TEST(TerminationSignalsTest, SignalsBeforeTheLoopEndItOnceItRuns) {
    ASSERT_TRUE(InstallSigHandler());
    StdoutCapture capture;
    raise(SIGTERM);
    raise(SIGINT);
    raise(SIGABRT);
    QCoreApplication* app = QCoreApplication::instance();
    AttachSignalsToEventLoop(app);
    // Should the signals be lost, the loop ends with another code.
    QTimer::singleShot(10000, app, [] { QCoreApplication::exit(99); });
    const int code = app->exec();
    DetachSignalsFromEventLoop();
    EXPECT_EQ(code, 0);
    // One empty line per signal.
    EXPECT_EQ(capture.Stop(), "\n\n\n");
}

TEST(TerminationSignalsDeathTest, SignalAfterTheLoopEndsTheProcessWithCodeOne) {
    EXPECT_EXIT(
        {
            // The message goes to stdout; the death test reads stderr.
            dup2(STDERR_FILENO, STDOUT_FILENO);
            InstallSigHandler();
            DetachSignalsFromEventLoop();
            raise(SIGTERM);
            std::exit(0);
        },
        ::testing::ExitedWithCode(1),
        "^\nmain: could not get signal to application; forcing program termination...\n$");
}

TEST(TerminationSignalsDeathTest, AbortStillEndsTheProcess) {
    EXPECT_EXIT(
        {
            InstallSigHandler();
            std::abort();
        },
        ::testing::KilledBySignal(SIGABRT), "");
}

}  // namespace
