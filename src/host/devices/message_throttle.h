#pragma once
// Paces the messages that outside input triggers (a device or a stranger on
// the network can send thousands of bad datagrams a second): a burst prints
// at once, after that about `per_second` messages a second; what is held back
// is counted and the count printed with the next message that passes.
//
// Not thread-safe: one throttle per thread that prints through it.

#include <chrono>
#include <cstdint>

class MessageThrottle {
  public:
    // `owner` prefixes the line that reports held-back messages.
    MessageThrottle(const char* owner, uint32_t burst, uint32_t per_second);

    // printf to standard output, flushed, unless the budget is spent.
    void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Messages held back since construction.
    uint64_t SuppressedTotal() const { return suppressed_total_; }

  private:
    bool Take();

    const char* owner_;
    double burst_;
    double per_second_;
    double tokens_;
    std::chrono::steady_clock::time_point last_refill_;
    uint32_t suppressed_since_print_ = 0;
    uint64_t suppressed_total_ = 0;
};
