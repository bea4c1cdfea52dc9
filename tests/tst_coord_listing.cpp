#include "exchange/coord_listing.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
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

// Written in pieces of any size, the listing is the same text.
class ListingInPieces : public testing::TestWithParam<std::size_t> { };

TEST_P(ListingInPieces, IsTheWholeListing)
{
    std::vector<Point> points;
    for (int i = 0; i < 500; ++i)
        points.push_back({i * 7919 % 4001 - 2000, i % 2 == 0 ? kMin : kMax});
    const std::string whole = FormatListing(points, 400, 300);
    kav::ListingWriter writer(points, 400, 300);
    std::u16string pieces;
    std::vector<char16_t> piece(GetParam());
    while (!writer.AtEnd())
        pieces.append(piece.data(), writer.Write(piece.data(), piece.size()));
    EXPECT_EQ(pieces, std::u16string(whole.begin(), whole.end()));
}

INSTANTIATE_TEST_SUITE_P(Sizes, ListingInPieces, testing::Values(1, 2, 23, 47, 48, 49, 1000, 100000));
