#pragma once
// Float-to-integer conversions that are defined for every input: a value
// beyond the target's range would make a plain cast undefined.

#include <cmath>
#include <cstdint>
#include <limits>

// Truncates toward zero; values beyond the int32 range saturate and NaN gives 0.
inline int32_t SaturatingTruncateToInt32(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
        return std::numeric_limits<int32_t>::max();
    }
    if (value <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(value);
}
