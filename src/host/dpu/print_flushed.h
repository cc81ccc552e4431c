#pragma once
// The location engine's diagnostics: printf to standard output, flushed at
// once so that the lines keep their order with other threads' output.

#include <cstdarg>
#include <cstdio>

__attribute__((format(printf, 1, 2))) inline void PrintFlushed(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}
