#pragma once
// Captures what is written to the process's standard output (printf, puts, std::cout
// and writes to file descriptor 1) between construction and Stop(), through a
// temporary file that file descriptor 1 is pointed at meanwhile.

#include <cstdio>
#include <string>

class StdoutCapture {
  public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Restores standard output and returns everything captured (binary, byte for byte).
    // Later calls return the same text.
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
