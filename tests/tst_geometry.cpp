#include "view/geometry.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using kav::FindNearIndex;
using kav::FormatListing;
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

TEST(Listing, CoordinatesAreRelativeToTheCentre)
{
    // A 400 x 300 area has its centre at (200, 150).
    EXPECT_EQ(FormatListing(std::vector<Point>{{200, 150}, {0, 0}, {399, 299}}, 200, 150), "0,0,-200,-150,199,149");
    EXPECT_EQ(FormatListing(std::vector<Point>{{200, 150}}, 200, 150), "0,0");
    EXPECT_EQ(FormatListing(std::vector<Point>{{0, 0}}, 400, 300), "-400,-300");
    EXPECT_EQ(FormatListing(std::vector<Point>{{500, 20}}, 150, 100), "350,-80");
    EXPECT_EQ(FormatListing({}, 10, 10), "");
}

TEST(Listing, LongCoordinatesAreWrittenInFull)
{
    EXPECT_EQ(FormatListing(std::vector<Point>{{kMin, kMax}}, 400, 300), "-2147484048,2147483347");
    EXPECT_EQ(FormatListing(std::vector<Point>{{123456, -98765}, {1, 2}}, 0, 0), "123456,-98765,1,2");
}
