#include "exchange/coord_listing.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using kav::FormatListing;
using kav::Point;

namespace {
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
} // namespace

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
