#include "view/figure_picture.h"
#include "view/join_index.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

using kav::FigurePicture;
using kav::Point;

namespace {

// What a redraw from nothing gives: the plain drawing calls, in one colour.
std::vector<std::uint32_t> Redrawn(std::span<const Point> points, int width, int height, double scale)
{
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width * height), FigurePicture::kBackground);
    const kav::Rasterizer raster({pixels.data(), width, height, width}, scale);
    if (!points.empty())
        raster.Pixel(points[0], FigurePicture::kInk);
    raster.Segments(points, 1, points.size(), FigurePicture::kInk);
    return pixels;
}

std::vector<std::uint32_t> Shown(FigurePicture& picture)
{
    const kav::Canvas c = picture.Pixels();
    return {c.pixels, c.pixels + static_cast<std::ptrdiff_t>(c.width) * c.height};
}

struct UndoRow {
    std::string name;
    int width, height;
    double scale;
    std::function<std::vector<Point>()> points;
};

void PrintTo(const UndoRow& row, std::ostream* out)
{
    *out << row.name;
}

std::vector<Point> RandomWalk(int count, int width, int height)
{
    std::mt19937 random(11);
    std::vector<Point> points{{width / 2, height / 2}};
    while (static_cast<int>(points.size()) < count) {
        const Point p = points.back();
        points.push_back({std::clamp(p.x + int(random() % 11) - 5, 0, width - 1),
                          std::clamp(p.y + int(random() % 11) - 5, 0, height - 1)});
    }
    return points;
}

// Long lines, all through the pixel (32, 24), and back and forth over each other.
std::vector<Point> Star(int count)
{
    std::mt19937 random(3);
    std::vector<Point> points;
    for (int i = 0; i < count; ++i) {
        points.push_back({32, 24});
        points.push_back({int(random() % 64), int(random() % 48)});
    }
    return points;
}

std::vector<Point> FarAndNear(int count)
{
    std::mt19937 random(5);
    std::vector<Point> points;
    for (int i = 0; i < count; ++i)
        points.push_back(i % 3 == 0 ? Point{int(random() % 4001) - 2000, int(random() % 4001) - 2000}
                                    : Point{int(random() % 80) - 8, int(random() % 64) - 8});
    return points;
}

class RemoveLast : public testing::TestWithParam<UndoRow> { };

// Undo after undo, down to nothing: each leaves exactly a redraw's pixels.
TEST_P(RemoveLast, EveryUndoLeavesTheRedrawsPixels)
{
    const UndoRow& row = GetParam();
    std::vector<Point> points = row.points();
    FigurePicture picture;
    picture.Resize(row.width, row.height, row.scale);
    ASSERT_TRUE(picture.Update(points, FigurePicture::Clock::time_point::max()));
    while (!points.empty()) {
        ASSERT_TRUE(picture.RemoveLast(points)) << points.size();
        points.pop_back();
        ASSERT_TRUE(picture.Shows(points.size()));
        ASSERT_EQ(Shown(picture), Redrawn(points, row.width, row.height, row.scale)) << points.size();
    }
}

INSTANTIATE_TEST_SUITE_P(Figures, RemoveLast,
                         testing::Values(UndoRow{"RandomWalk", 64, 48, 1.0, [] { return RandomWalk(3000, 64, 48); }},
                                         UndoRow{"LongLinesThroughOnePixel", 64, 48, 1.0, [] { return Star(600); }},
                                         UndoRow{"OffTheCanvas", 64, 48, 1.0, [] { return FarAndNear(900); }},
                                         UndoRow{"OnePointManyTimes", 16, 16, 1.0,
                                                 [] {
                                                     return std::vector<Point>(2000, Point{7, 7});
                                                 }},
                                         UndoRow{"DenseScreen", 128, 96, 2.0, [] { return Star(300); }},
                                         UndoRow{"FractionalScale", 96, 72, 1.5, [] { return FarAndNear(600); }}),
                         [](const testing::TestParamInfo<UndoRow>& info) { return info.param.name; });

struct MappedRow {
    std::string name;
    kav::ViewMapping mapping;
};

void PrintTo(const MappedRow& row, std::ostream* out)
{
    *out << row.name;
}

class Mapped : public testing::TestWithParam<MappedRow> { };

// The picture through a mapping, its blocks out of view passed over by the
// index's bounds, against the plain 1:1 drawing of points mapped one by one
// to device pixels; then again after some undos.
TEST_P(Mapped, ThePictureIsThePlainDrawingOfTheMappedPoints)
{
    const kav::ViewMapping mapping = GetParam().mapping;
    std::mt19937 random(17);
    std::vector<Point> points{{0, 0}};
    while (points.size() < 40 * kav::JoinIndex::kBlock) {
        const Point p = points.back();
        points.push_back({std::clamp(p.x + int(random() % 81) - 40, -6000, 6000),
                          std::clamp(p.y + int(random() % 81) - 40, -6000, 6000)});
    }
    // Every other block far to the right: the lines between blocks cross
    // the view while neither block lies in it.
    for (std::size_t i = 0; i < points.size(); ++i)
        points[i].x += (i / kav::JoinIndex::kBlock) % 2 ? 30000 : 0;
    kav::JoinIndex index;
    ASSERT_TRUE(index.BoundMore(points));
    const auto oracle = [&] {
        std::vector<Point> device;
        for (const Point p : points)
            device.push_back({int(mapping.ViewX(p.x)), int(mapping.ViewY(p.y))});
        return Redrawn(device, 64, 48, 1.0);
    };
    FigurePicture picture;
    picture.Resize(64, 48, 1.0, mapping);
    ASSERT_TRUE(picture.Update(points, FigurePicture::Clock::time_point::max(), &index));
    EXPECT_EQ(Shown(picture), oracle());
    for (int undo = 0; undo < 300; ++undo) {
        ASSERT_TRUE(picture.RemoveLast(points));
        index.Forget(points, points.size() - 1);
        points.pop_back();
    }
    EXPECT_EQ(Shown(picture), oracle());
}

INSTANTIATE_TEST_SUITE_P(
    Scales, Mapped,
    testing::Values(MappedRow{"Plain", {}}, MappedRow{"OnePixelPanned", {0, -30, 20}},
                    MappedRow{"ZoomedIn", {3, -5, -4}}, MappedRow{"ZoomedOut", {-4, -500, -380}},
                    MappedRow{"FarOut", {-8, -6000, -6000}}, MappedRow{"FarFromTheFigure", {1, 20000, 0}}),
    [](const testing::TestParamInfo<MappedRow>& info) { return info.param.name; });

TEST(RemoveLastFallback, PartsNotYetDrawnAndStalePicturesNeedNoPixels)
{
    std::vector<Point> points = RandomWalk(50, 32, 32);
    FigurePicture picture;
    picture.Resize(32, 32, 1.0);
    ASSERT_TRUE(picture.Update(std::span(points).first(20), FigurePicture::Clock::time_point::max()));
    // The picture lacks the last point: nothing to take back.
    EXPECT_TRUE(picture.RemoveLast(points));
    points.pop_back();
    ASSERT_TRUE(picture.Update(points, FigurePicture::Clock::time_point::max()));
    EXPECT_EQ(Shown(picture), Redrawn(points, 32, 32, 1.0));
    // A picture that is to start over anyway says it did not take it back.
    picture.Restart();
    EXPECT_FALSE(picture.RemoveLast(points));
    points.pop_back();
    ASSERT_TRUE(picture.Update(points, FigurePicture::Clock::time_point::max()));
    EXPECT_EQ(Shown(picture), Redrawn(points, 32, 32, 1.0));
}

// A pixel drawn by 70000 segments, then one across them: every Undo takes
// back exactly its own pixels, with no redraw.
TEST(RemoveLastMany, APixelDrawnByManySegmentsStaysUntilTheFirstGoes)
{
    std::vector<Point> points;
    for (int i = 0; i < 35000; ++i)
        points.insert(points.end(), {Point{0, 5}, Point{30, 5}});
    points.insert(points.end(), {Point{10, 0}, Point{10, 15}});
    FigurePicture picture;
    picture.Resize(32, 16, 1.0);
    ASSERT_TRUE(picture.Update(points, FigurePicture::Clock::time_point::max()));
    for (const std::size_t keep : {points.size() - 1, std::size_t{3}, std::size_t{1}}) {
        while (points.size() > keep) {
            ASSERT_TRUE(picture.RemoveLast(points));
            points.pop_back();
        }
        ASSERT_TRUE(picture.Shows(points.size()));
        EXPECT_EQ(Shown(picture), Redrawn(points, 32, 16, 1.0)) << keep << " points left";
    }
}

} // namespace
