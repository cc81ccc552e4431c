#include "base/geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

BoundingBox Box(Coordinates minimum, Coordinates maximum) {
    BoundingBox box;
    box.SetMinCoordinates(minimum);
    box.SetMaxCoordinates(maximum);
    return box;
}

void ExpectPoint(const Coordinates& point, double x, double y, double z) {
    EXPECT_DOUBLE_EQ(point.GetX(), x);
    EXPECT_DOUBLE_EQ(point.GetY(), y);
    EXPECT_DOUBLE_EQ(point.GetZ(), z);
}

TEST(CoordinatesTest, Arithmetic) {
    const Coordinates a(1.0, 2.0, 3.0);
    const Coordinates b(0.5, -4.0, 10.0);
    ExpectPoint(a + b, 1.5, -2.0, 13.0);
    ExpectPoint(a - b, 0.5, 6.0, -7.0);
    ExpectPoint(a * -2.0, -2.0, -4.0, -6.0);
    Coordinates c = a;
    Coordinates& sum = (c += b);
    EXPECT_EQ(&sum, &c);
    ExpectPoint(c, 1.5, -2.0, 13.0);
    Coordinates& scaled = (c *= 2.0);
    EXPECT_EQ(&scaled, &c);
    ExpectPoint(c, 3.0, -4.0, 26.0);
}

TEST(CoordinatesTest, DistanceIsEuclidean) {
    EXPECT_DOUBLE_EQ(Coordinates(1, 2, 3).CalculateDistanceBetween(Coordinates(4, 6, 15)), 13.0);
    EXPECT_DOUBLE_EQ(Coordinates(4, 6, 15).CalculateDistanceBetween(Coordinates(1, 2, 3)), 13.0);
    EXPECT_DOUBLE_EQ(Coordinates(1, 1, 1).CalculateDistanceBetween(Coordinates(1, 1, 1)), 0.0);
}

TEST(CoordinatesTest, GetDataRoundsHalvesAwayFromZero) {
    const coordinates_data_t data = Coordinates(1.5, -1.5, 2.4999).GetData();
    EXPECT_EQ(data.x, 2);
    EXPECT_EQ(data.y, -2);
    EXPECT_EQ(data.z, 2);
    const coordinates_data_t more = Coordinates(-0.5, 0.4999, -2.5001).GetData();
    EXPECT_EQ(more.x, -1);
    EXPECT_EQ(more.y, 0);
    EXPECT_EQ(more.z, -3);
}

TEST(CoordinatesTest, GetDataSaturatesOutOfRangeAndMapsNanToZero) {
    const double inf = std::numeric_limits<double>::infinity();
    const coordinates_data_t data = Coordinates(1e12, -inf, std::nan("")).GetData();
    EXPECT_EQ(data.x, INT32_MAX);
    EXPECT_EQ(data.y, INT32_MIN);
    EXPECT_EQ(data.z, 0);
    const coordinates_data_t edge = Coordinates(2147483646.6, -2147483647.6, inf).GetData();
    EXPECT_EQ(edge.x, INT32_MAX);
    EXPECT_EQ(edge.y, INT32_MIN);
    EXPECT_EQ(edge.z, INT32_MAX);
}

TEST(BoundingBoxTest, StartsAtOriginAndReturnsCopies) {
    BoundingBox box;
    ExpectPoint(box.GetMinCoordinates(), 0, 0, 0);
    ExpectPoint(box.GetMaxCoordinates(), 0, 0, 0);
    box.SetMinCoordinates(Coordinates(-1, -2, -3));
    box.SetMaxCoordinates(Coordinates(1, 2, 3));
    ExpectPoint(box.GetMinCoordinates(), -1, -2, -3);
    ExpectPoint(box.GetMaxCoordinates(), 1, 2, 3);
}

TEST(MoveInsideBoundsTest, PointInsideIsUnchanged) {
    Coordinates point(1.0, -2.0, 3.0);
    point.MoveInsideBounds(Box(Coordinates(-5, -5, -5), Coordinates(5, 5, 5)));
    ExpectPoint(point, 1.0, -2.0, 3.0);
}

TEST(MoveInsideBoundsTest, EachAxisIsClampedOnItsOwn) {
    const BoundingBox box = Box(Coordinates(-5, -5, -5), Coordinates(5, 5, 5));
    Coordinates above_y(1.0, 7.0, 3.0);
    above_y.MoveInsideBounds(box);
    ExpectPoint(above_y, 1.0, 5.0, 3.0);
    Coordinates below_x_above_z(-9.0, 0.0, 6.0);
    below_x_above_z.MoveInsideBounds(box);
    ExpectPoint(below_x_above_z, -5.0, 0.0, 5.0);
}

TEST(MoveInsideBoundsTest, NanComponentStaysNan) {
    Coordinates point(std::nan(""), 9.0, -9.0);
    point.MoveInsideBounds(Box(Coordinates(-5, -5, -5), Coordinates(5, 5, 5)));
    EXPECT_TRUE(std::isnan(point.GetX()));
    EXPECT_DOUBLE_EQ(point.GetY(), 5.0);
    EXPECT_DOUBLE_EQ(point.GetZ(), -5.0);
}

TEST(MoveInsideBoundsTest, InvertedBoxChecksMaximumFirst) {
    // Minimum 10 above maximum 0: values above the maximum end at the maximum,
    // values not above it end at the minimum.
    const BoundingBox box = Box(Coordinates(10, 10, 10), Coordinates(0, 0, 0));
    Coordinates point(5.0, -1.0, 20.0);
    point.MoveInsideBounds(box);
    ExpectPoint(point, 0.0, 10.0, 0.0);
}

}  // namespace
