#include "base/saturating_conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

TEST(SaturatingConversion, Int32TruncatesAndSaturatesAtBothEnds) {
    EXPECT_EQ(TruncateToInt32(-2.9), -2);
    EXPECT_EQ(TruncateToInt32(2147483646.9), 2147483646);
    EXPECT_EQ(TruncateToInt32(2147483647.0), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(TruncateToInt32(-2147483648.5), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(TruncateToInt32(kInfinity), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(TruncateToInt32(-kInfinity), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(TruncateToInt32(kNaN), 0);
}

TEST(SaturatingConversion, Int64SaturatesFromTwoToTheSixtyThree) {
    const double two_to_63 = std::ldexp(1.0, 63);
    EXPECT_EQ(TruncateToInt64(std::nextafter(two_to_63, 0.0)), std::numeric_limits<int64_t>::max() - 1023);
    EXPECT_EQ(TruncateToInt64(two_to_63), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(TruncateToInt64(-two_to_63), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(TruncateToInt64(-1e300), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(TruncateToInt64(kNaN), 0);
}

TEST(SaturatingConversion, Uint64GivesZeroBelowOneAndSaturatesFromTwoToTheSixtyFour) {
    const double two_to_64 = std::ldexp(1.0, 64);
    EXPECT_EQ(TruncateToUint64(0.999), 0u);
    EXPECT_EQ(TruncateToUint64(-5.0), 0u);
    EXPECT_EQ(TruncateToUint64(-kInfinity), 0u);
    EXPECT_EQ(TruncateToUint64(kNaN), 0u);
    EXPECT_EQ(TruncateToUint64(299792458000.7), 299792458000u);
    EXPECT_EQ(TruncateToUint64(std::nextafter(two_to_64, 0.0)), ~uint64_t{0} - 2047);
    EXPECT_EQ(TruncateToUint64(two_to_64), std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(TruncateToUint64(kInfinity), std::numeric_limits<uint64_t>::max());
}

}  // namespace
