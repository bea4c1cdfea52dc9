#include "exchange/coord_listing.h"
#include "exchange/listing_index.h"
#include "exchange/listing_text.h"

#include <gtest/gtest.h>

#include <cstdint>

#include <limits>
#include <optional>
#include <random>
#include <atomic>
#include <string>
#include <thread>
#include <tuple>
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

// The index reads FormatListing's text a line at a time, for any number of
// points per block and any line length.
struct IndexCase {
    const char* name;
    std::vector<Point> points;
    std::size_t maxBlocks;
};

std::vector<Point> Walk(int count, int spread)
{
    std::vector<Point> points;
    for (int i = 0; i < count; ++i)
        points.push_back({int(std::int64_t{i} * 7919 % spread - spread / 3),
                          int(std::int64_t{i} * 104729 % (spread / 2 + 1))});
    return points;
}

std::vector<Point> Extremes(int count)
{
    std::vector<Point> points;
    for (int i = 0; i < count; ++i)
        points.push_back({i % 2 == 0 ? kMin : kMax, i % 3 == 0 ? kMax : kMin});
    return points;
}

const IndexCase kIndexCases[] = {
    {"empty", {}, kav::ListingIndex::kMaxBlocks},
    {"onePoint", {{200, 150}}, kav::ListingIndex::kMaxBlocks},
    {"oneWholeBlock", Walk(64, 100000), kav::ListingIndex::kMaxBlocks},
    {"oneBlockAndOnePoint", Walk(65, 100000), kav::ListingIndex::kMaxBlocks},
    {"smallestBlocks", Walk(1000, 30), 1000},
    {"longCoordinates", Extremes(500), 3},
    {"fewBlocksOfManyPoints", Walk(5000, 4000001), 7},
    {"oneBlock", Walk(3000, 999), 1},
};

class ListingIndexLines : public testing::TestWithParam<std::tuple<IndexCase, std::size_t>> { };

TEST_P(ListingIndexLines, AreTheListingCutIntoLines)
{
    const auto& [c, columns] = GetParam();
    const std::string oracle = FormatListing(c.points, 400, 300);
    kav::ListingIndex index(c.points, 400, 300, c.maxBlocks);
    EXPECT_TRUE(index.Build());
    ASSERT_TRUE(index.Complete());
    ASSERT_EQ(index.Size(), oracle.size());
    std::u16string line(columns, u'?');
    for (std::size_t from = 0; from < oracle.size() + columns; from += columns) {
        const std::optional<std::size_t> read = index.Read(from, line.data(), columns);
        ASSERT_TRUE(read.has_value()) << "from " << from;
        const std::string expected = from < oracle.size() ? oracle.substr(from, columns) : "";
        ASSERT_EQ(line.substr(0, *read), std::u16string(expected.begin(), expected.end())) << "from " << from;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ListingIndexLines,
                         testing::Combine(testing::ValuesIn(kIndexCases),
                                          testing::Values(std::size_t{3}, 46, 47, 48, 1000)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_"
                                 + std::to_string(std::get<1>(info.param));
                         });

TEST(ListingIndex, BeforeItsTableIsBuiltReadsOnlyTheFirstBlockAndGuessesTheSize)
{
    const std::vector<Point> points = Walk(5000, 4000001);
    const std::string oracle = FormatListing(points, 0, 0);
    kav::ListingIndex index(points, 0, 0, 50);
    const std::atomic<bool> stop = true;
    EXPECT_FALSE(index.Build(&stop));
    EXPECT_FALSE(index.Complete());
    EXPECT_NEAR(static_cast<double>(index.Size()), static_cast<double>(oracle.size()), oracle.size() * 0.05);
    char16_t line[40];
    ASSERT_EQ(index.Read(0, line, 40), std::optional<std::size_t>(40));
    EXPECT_EQ(std::u16string(line, 40), std::u16string(oracle.begin(), oracle.begin() + 40));
    EXPECT_EQ(index.Read(oracle.size() / 2, line, 40), std::nullopt);
}

// Read while another thread builds: each line is either not there yet, or
// exactly the listing's.
TEST(ListingIndex, ReadsWhatIsBuiltWhileItIsBeingBuilt)
{
    const std::vector<Point> points = Walk(200000, 4000001);
    const std::string oracle = FormatListing(points, 7, -7);
    kav::ListingIndex index(points, 7, -7, 2000);
    std::jthread builder([&index] { index.Build(); });
    char16_t line[50];
    std::size_t read = 0;
    for (std::size_t from = 0; from < oracle.size(); from += 50 * 997) {
        const std::optional<std::size_t> got = index.Read(from, line, 50);
        if (!got)
            continue;
        ++read;
        const std::string expected = oracle.substr(from, 50);
        ASSERT_EQ(std::u16string(line, *got), std::u16string(expected.begin(), expected.end())) << "from " << from;
    }
    builder.join();
    EXPECT_TRUE(index.Complete());
    EXPECT_GT(read, 0U);
}

// The listing edited at random: the text is always the plain string's that
// the same edits give, and its lines are that string's paragraphs cut every
// `columns` characters.
class EditedListing : public testing::TestWithParam<int> { };

TEST_P(EditedListing, IsThePlainTextEditedAlike)
{
    const int columns = GetParam();
    const std::vector<Point> points = Walk(400, 100000);
    kav::ListingIndex index(points, 400, 300, 5);
    ASSERT_TRUE(index.Build());
    const std::string listing = FormatListing(points, 400, 300);
    std::u16string plain(listing.begin(), listing.end());
    kav::ListingText text;
    text.Reset(&index);
    text.SetColumns(columns);
    std::mt19937 random(static_cast<std::uint32_t>(columns));
    const auto check = [&](int edit) {
        ASSERT_EQ(text.Size(), plain.size()) << "edit " << edit;
        ASSERT_EQ(text.Text(0, plain.size()), plain) << "edit " << edit;
        std::int64_t line = 0;
        for (std::size_t start = 0;; ++line) { // one paragraph per turn
            const std::size_t end = std::min(plain.find(u'\n', start), plain.size());
            for (std::size_t at = start; at == start || at < end; at += columns, ++line) {
                ASSERT_EQ(text.LineStart(line), at) << "edit " << edit << ", line " << line;
                ASSERT_EQ(text.LineLength(line), std::min<std::size_t>(columns, end - at)) << "edit " << edit;
                ASSERT_EQ(text.LineOf(at), line) << "edit " << edit << ", offset " << at;
            }
            --line;
            ASSERT_EQ(text.LineOf(end), line) << "the end of a paragraph stays on its last line";
            if (end == plain.size())
                break;
            start = end + 1;
        }
        ASSERT_EQ(text.LineCount(), line + 1) << "edit " << edit;
    };
    check(-1);
    const std::u16string typing = u"12,-7\n\n,4";
    for (int edit = 0; edit < 300; ++edit) {
        const std::size_t from = random() % (plain.size() + 1);
        const std::size_t to = std::min(plain.size(), from + random() % 3 * (random() % 40));
        const std::u16string typed = typing.substr(random() % typing.size(), random() % 4);
        plain.replace(from, to - from, typed);
        text.Replace(from, to, typed);
        check(edit);
    }
    text.Reset(&index);
    EXPECT_EQ(text.Text(0, text.Size()), std::u16string(listing.begin(), listing.end())) << "a new listing drops the edits";
}

INSTANTIATE_TEST_SUITE_P(Columns, EditedListing, testing::Values(1, 7, 48, 1000),
                         [](const auto& info) { return "columns" + std::to_string(info.param); });
