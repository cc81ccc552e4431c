#pragma once
// A fuzz target's own invariant: a failed one stops the run where the fuzzer
// (and the corpus replay in ctest) reports it as a crash with this input.

#include <cstdlib>

inline void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}
