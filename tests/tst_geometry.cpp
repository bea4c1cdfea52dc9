#include "view/geometry.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using kav::FindNearIndex;
using kav::Point;

namespace {
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
} // namespace

TEST(JoinSearch, OffersOnlyPointsWithinFourPixelsOnBothAxes)
{
    const std::vector<Point> points = {{100, 100}};
    EXPECT_EQ(FindNearIndex(points, {104, 96}), 0);
    EXPECT_EQ(FindNearIndex(points, {96, 104}), 0);
    EXPECT_EQ(FindNearIndex(points, {105, 100}), -1);
    EXPECT_EQ(FindNearIndex(points, {100, 95}), -1);
    EXPECT_EQ(FindNearIndex(points, {104, 105}), -1);
    EXPECT_EQ(FindNearIndex({}, {0, 0}), -1);
}

TEST(JoinSearch, OffersTheEarliestPointInRange)
{
    std::vector<Point> points(1000, Point{500, 500});
    points[700] = {10, 10};
    points[900] = {12, 12};
    EXPECT_EQ(FindNearIndex(points, {11, 11}), 700);
    points[65] = {13, 9};
    EXPECT_EQ(FindNearIndex(points, {11, 11}), 65);
    EXPECT_EQ(FindNearIndex(points, {498, 503}), 0);
}

TEST(JoinSearch, FarPointsAtTheRangeEndsNeverMatch)
{
    // 32-bit wrap-around would put these within reach of each other.
    const std::vector<Point> points = {{kMin, kMin}, {kMax, 0}, {0, kMax}};
    EXPECT_EQ(FindNearIndex(points, {kMax - 2, kMax - 2}), -1);
    EXPECT_EQ(FindNearIndex(points, {kMin + 2, 1}), -1);
    EXPECT_EQ(FindNearIndex(points, {kMax - 3, 2}), 1);
    EXPECT_EQ(FindNearIndex(points, {kMin + 4, kMin}), 0);
}
