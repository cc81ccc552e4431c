#include "host/devices/message_throttle.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

MessageThrottle::MessageThrottle(const char* owner, uint32_t burst, uint32_t per_second)
    : owner_(owner),
      burst_(burst),
      per_second_(per_second),
      tokens_(burst),
      last_refill_(std::chrono::steady_clock::now()) {}

bool MessageThrottle::Take() {
    const auto now = std::chrono::steady_clock::now();
    const std::chrono::duration<double> elapsed = now - last_refill_;
    last_refill_ = now;
    tokens_ = std::min(burst_, tokens_ + elapsed.count() * per_second_);
    if (tokens_ < 1.0) {
        return false;
    }
    tokens_ -= 1.0;
    return true;
}

void MessageThrottle::Print(const char* format, ...) {
    if (!Take()) {
        ++suppressed_since_print_;
        ++suppressed_total_;
        return;
    }
    if (suppressed_since_print_ != 0) {
        std::printf("%s: %u similar messages were not printed\n", owner_, suppressed_since_print_);
        suppressed_since_print_ = 0;
    }
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}
