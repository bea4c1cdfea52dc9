#include "view/figure_picture.h"
#include "view/raster.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

using kav::Point;

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFFFF;
constexpr std::uint32_t kBlack = 0xFF000000;
constexpr std::uint32_t kGuard = 0x12345678;
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

// A canvas with a guard frame around it, to catch writes outside.
struct Image {
    int width, height;
    static constexpr int kFrame = 16;
    std::vector<std::uint32_t> memory;

    Image(int w, int h)
        : width(w)
        , height(h)
        , memory(static_cast<std::size_t>((w + 2 * kFrame) * (h + 2 * kFrame)), kGuard)
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                At(x, y) = kWhite;
    }
    std::uint32_t& At(int x, int y) { return memory[(y + kFrame) * Stride() + x + kFrame]; }
    std::ptrdiff_t Stride() const { return width + 2 * kFrame; }
    kav::Canvas Canvas() { return {&At(0, 0), width, height, Stride()}; }

    bool GuardIntact() const
    {
        std::size_t guards = 0;
        for (const std::uint32_t p : memory)
            guards += p == kGuard;
        return guards == memory.size() - static_cast<std::size_t>(width * height);
    }
    // Rows of '#' (black), '.' (white) and '?' (anything else).
    std::string Rows(int x0, int y0, int w, int h)
    {
        std::string text;
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x)
                text += At(x, y) == kBlack ? '#' : At(x, y) == kWhite ? '.' : '?';
            text += '\n';
        }
        return text;
    }
    int BlackCount()
    {
        int n = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                n += At(x, y) == kBlack;
        return n;
    }
};

} // namespace

TEST(Raster, SegmentsAreOnePixelLinesFromEndToEnd)
{
    Image image(20, 12);
    const std::vector<Point> points = {{1, 1}, {9, 1}, {9, 5}, {1, 9}};
    kav::DrawPolyline(image.Canvas(), points, kBlack);
    EXPECT_EQ(image.Rows(0, 0, 11, 11),
              "...........\n"
              ".#########.\n"
              ".........#.\n"
              ".........#.\n"
              ".........#.\n"
              "........##.\n"
              "......##...\n"
              "....##.....\n"
              "..##.......\n"
              ".#.........\n"
              "...........\n");
    EXPECT_TRUE(image.GuardIntact());
}

TEST(Raster, ASinglePointIsItsPixel)
{
    Image image(5, 5);
    kav::DrawPolyline(image.Canvas(), std::vector<Point>{{2, 3}}, kBlack);
    EXPECT_EQ(image.BlackCount(), 1);
    EXPECT_EQ(image.At(2, 3), kBlack);
}

TEST(Raster, EndMarkerIsAWhiteFilledCircleInTheHalfOpenBox)
{
    Image image(16, 16);
    kav::DrawPolyline(image.Canvas(), std::vector<Point>{{0, 8}, {8, 8}}, kBlack);
    kav::DrawEndMarker(image.Canvas(), {8, 8}, kBlack, kWhite);
    // Box (4,4)-(12,12) with x = 12 and y = 12 left out; the line's end and
    // the point's own pixel lie under the white inside.
    EXPECT_EQ(image.Rows(3, 3, 10, 10),
              "..........\n"
              "...####...\n"
              "..#....#..\n"
              ".#......#.\n"
              ".#......#.\n"
              "##......#.\n"
              ".#......#.\n"
              "..#....#..\n"
              "...####...\n"
              "..........\n");
    EXPECT_EQ(image.At(8, 8), kWhite);
}

TEST(Raster, ClipsLinesThatLeaveTheCanvas)
{
    Image image(10, 10);
    // A horizontal line through the canvas from far outside on both sides.
    kav::DrawPolyline(image.Canvas(), std::vector<Point>{{-1000, 4}, {1000, 4}}, kBlack);
    EXPECT_EQ(image.Rows(0, 4, 10, 1), "##########\n");
    EXPECT_EQ(image.BlackCount(), 10);
    EXPECT_TRUE(image.GuardIntact());

    // A diagonal entering at a corner keeps to the diagonal.
    Image diagonal(10, 10);
    kav::DrawPolyline(diagonal.Canvas(), std::vector<Point>{{-5, -5}, {20, 20}}, kBlack);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(diagonal.At(i, i), kBlack) << i;
    EXPECT_EQ(diagonal.BlackCount(), 10);
}

TEST(Raster, PointsAtTheEndsOfTheRangeDrawSafely)
{
    Image image(64, 48);
    const std::vector<Point> points
        = {{kMin, kMin}, {kMax, kMax}, {kMin, kMax}, {kMax, kMin}, {32, 24}, {kMax, 24}, {0, kMin}, {kMin, 0}};
    kav::DrawPolyline(image.Canvas(), points, kBlack);
    for (const Point& p : points)
        kav::DrawEndMarker(image.Canvas(), p, kBlack, kWhite);
    kav::DrawEndMarker(image.Canvas(), {-2, -2}, kBlack, kWhite);
    kav::DrawEndMarker(image.Canvas(), {63, 47}, kBlack, kWhite);
    EXPECT_TRUE(image.GuardIntact());
    // The line from the centre to far right is drawn across the visible part.
    for (int x = 37; x < 64; ++x)
        EXPECT_EQ(image.At(x, 24), kBlack) << x;
    // The main diagonal from corner to corner of the range crosses the canvas.
    EXPECT_EQ(image.At(10, 10), kBlack);
}

TEST(Raster, EmptyInputAndEmptyCanvasDrawNothing)
{
    Image image(4, 4);
    kav::DrawPolyline(image.Canvas(), {}, kBlack);
    EXPECT_EQ(image.BlackCount(), 0);
    kav::Canvas none{nullptr, 0, 0, 0};
    kav::DrawPolyline(none, std::vector<Point>{{0, 0}, {1, 1}}, kBlack);
    kav::DrawEndMarker(none, {0, 0}, kBlack, kWhite);
    // A picture sized to nothing at all, at the default density.
    kav::FigurePicture picture;
    picture.Resize(0, 0, 1.0);
    const std::vector<Point> points{{0, 0}, {5, 5}};
    EXPECT_TRUE(picture.Update(points, kav::FigurePicture::Clock::now()));
    const kav::FigurePicture::Marker marker(picture, points.back());
}

TEST(Raster, SegmentsOfEveryDirectionFollowBresenham)
{
    // Along the longer axis every pixel; across, the nearest pixel to the
    // ideal line, halves rounding towards the start. Both the table for
    // short segments and the general loop must give exactly these.
    for (int dy = -20; dy <= 20; ++dy) {
        for (int dx = -20; dx <= 20; ++dx) {
            Image image(48, 48);
            const Point from{24, 24};
            kav::DrawPolyline(image.Canvas(), std::vector<Point>{from, {from.x + dx, from.y + dy}}, kBlack);
            Image expected(48, 48);
            const int major = std::max(std::abs(dx), std::abs(dy));
            const int minor = std::min(std::abs(dx), std::abs(dy));
            for (int i = 0; i <= major; ++i) {
                const int across = major == 0 ? 0 : (2 * i * minor + major - 1) / (2 * major);
                const bool steep = std::abs(dy) > std::abs(dx);
                const int stepX = dx < 0 ? -1 : 1;
                const int stepY = dy < 0 ? -1 : 1;
                const int x = from.x + stepX * (steep ? across : i);
                const int y = from.y + stepY * (steep ? i : across);
                expected.At(x, y) = kBlack;
            }
            ASSERT_EQ(image.Rows(0, 0, 48, 48), expected.Rows(0, 0, 48, 48)) << dx << "," << dy;
        }
    }
}
