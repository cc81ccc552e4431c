#pragma once
// SIGINT, SIGABRT and SIGTERM end the event loop. The handler itself only
// writes the signal number into a pipe (write() is async-signal-safe; printf
// and Qt are not); a socket notifier in the main thread reads the pipe while
// the event loop runs, prints the empty line and quits the loop.
//
// A signal that comes after the handler is installed but before the loop
// runs waits in the pipe and ends the loop as soon as it starts (a quit()
// called before exec() would be lost). Once the loop has returned, a signal
// cannot reach it: the handler then prints "main: could not get signal to
// application; forcing program termination..." and ends the process with
// code 1.

class QCoreApplication;

// Installs SigHandler for the three signals (empty mask, no flags) and
// unblocks them in the calling thread; from now on signals wait in the pipe
// for the loop. False when the pipe cannot be made (a signal then ends the
// process as above).
bool InstallSigHandler();

void SigHandler(int signal);

// Lets the running event loop of `app` take the signals (call right before
// exec()). The notifier is a child of `app`.
void AttachSignalsToEventLoop(QCoreApplication* app);
// After exec() has returned: from now on a signal ends the process.
void DetachSignalsFromEventLoop();
