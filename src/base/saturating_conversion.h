#pragma once
// Floating-point to integer conversions that are defined for every input:
// truncation toward zero, values beyond the target range saturate, NaN gives 0
// (a plain cast of such values is undefined behaviour).

#include <cmath>
#include <cstdint>
#include <limits>

inline int32_t TruncateToInt32(double value) {
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

inline int64_t TruncateToInt64(double value) {
    if (std::isnan(value))
        return 0;
    // 2^63 is exact in double; every double below it in magnitude converts.
    if (value >= 9223372036854775808.0)
        return std::numeric_limits<int64_t>::max();
    if (value <= -9223372036854775808.0)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

inline uint64_t TruncateToUint64(double value) {
    // NaN and negative values give 0; 2^64 is exact in double.
    if (!(value > 0.0))
        return 0;
    if (value >= 18446744073709551616.0)
        return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(value);
}
