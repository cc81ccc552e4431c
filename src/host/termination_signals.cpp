#include "host/termination_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>

static int signal_pipe_read_ = -1;
static int signal_pipe_write_ = -1;
// True from the installation of the handler until the event loop has
// returned: signals go into the pipe. Set in the main thread, read by the
// handler in whatever thread the signal lands.
static std::atomic<bool> loop_takes_signals_{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read inside a signal handler");
// Main thread only.
static QPointer<QSocketNotifier> signal_notifier_;

bool InstallSigHandler() {
    if (signal_pipe_read_ < 0) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            signal_pipe_read_ = fds[0];
            signal_pipe_write_ = fds[1];
        }
    }
    // Without a pipe no loop can take a signal: the handler then ends the process.
    loop_takes_signals_.store(signal_pipe_read_ >= 0);

    struct sigaction action = {};
    action.sa_handler = SigHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigset_t handled;
    sigemptyset(&handled);
    for (int signal : {SIGINT, SIGABRT, SIGTERM}) {
        sigaction(signal, &action, nullptr);
        sigaddset(&handled, signal);
    }
    // A parent may have left them blocked; threads started later inherit this mask.
    pthread_sigmask(SIG_UNBLOCK, &handled, nullptr);
    return signal_pipe_read_ >= 0;
}

void SigHandler(int signal) {
    const int saved_errno = errno;
    if (loop_takes_signals_.load()) {
        const unsigned char number = static_cast<unsigned char>(signal);
        // A full pipe already holds a pending quit, so a failed write loses nothing.
        const ssize_t written = write(signal_pipe_write_, &number, 1);
        (void)written;
        errno = saved_errno;
        return;
    }
    static const char message[] =
        "\nmain: could not get signal to application; forcing program termination...\n";
    const ssize_t written = write(STDOUT_FILENO, message, sizeof(message) - 1);
    (void)written;
    _exit(1);
}

static void TakeSignalsFromPipe() {
    unsigned char numbers[16];
    ssize_t got;
    while ((got = read(signal_pipe_read_, numbers, sizeof(numbers))) > 0) {
        for (ssize_t i = 0; i < got; ++i) {
            printf("\n");
            fflush(stdout);
        }
        // Running inside exec() (the notifier exists only from right before it), so
        // the quit reaches the loop: from a nested loop too, as quit() ends every
        // loop of the thread.
        QCoreApplication::quit();
    }
}

void AttachSignalsToEventLoop(QCoreApplication* app) {
    if (signal_pipe_read_ < 0)
        return;
    signal_notifier_ = new QSocketNotifier(signal_pipe_read_, QSocketNotifier::Read, app);
    QObject::connect(signal_notifier_.data(), &QSocketNotifier::activated, app, &TakeSignalsFromPipe);
}

void DetachSignalsFromEventLoop() {
    loop_takes_signals_.store(false);
    delete signal_notifier_.data();
}
