#pragma once
// Test helpers for what code prints.
//
// StdoutCapture captures what is written to the process's standard output (printf,
// puts, std::cout and writes to file descriptor 1) between construction and Stop(),
// through a temporary file that file descriptor 1 points at meanwhile.
//
// QtMessagesToStdout routes Qt's debug, warning and other messages to standard output
// as "<message>\n" while it exists, as the program's own message handler does, so that
// one StdoutCapture sees printf lines and qDebug lines in the order they were written.

#include <QtGlobal>
#include <cstdio>
#include <string>

class StdoutCapture {
  public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Restores standard output and returns everything captured (binary, byte for
    // byte). Later calls return the same text.
    std::string Stop();

    // False when the redirection could not be set up; Stop() then returns "".
    bool IsActive() const { return active_; }

  private:
    FILE* file_ = nullptr;
    int saved_fd_ = -1;
    bool active_ = false;
    bool stopped_ = false;
    std::string text_;
};

class QtMessagesToStdout {
  public:
    QtMessagesToStdout();
    ~QtMessagesToStdout();
    QtMessagesToStdout(const QtMessagesToStdout&) = delete;
    QtMessagesToStdout& operator=(const QtMessagesToStdout&) = delete;

  private:
    QtMessageHandler previous_;
};
