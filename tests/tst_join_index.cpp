#include "view/geometry.h"
#include "view/join_index.h"
#include "view/view_mapping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

using kav::JoinIndex;
using kav::NearBox;
using kav::Point;
using kav::PointStore;

namespace {

// Where a run of edits puts its points.
struct Scene {
    std::string name;
    std::int64_t low, high; // the range of both coordinates
    int step = 0; // a walk in steps of at most this, which the blocks' bounds follow
    mutable Point last{};

    Point Anywhere(std::mt19937_64& random) const
    {
        std::uniform_int_distribution<std::int64_t> coordinate(low, high);
        return Point{static_cast<std::int32_t>(coordinate(random)), static_cast<std::int32_t>(coordinate(random))};
    }

    Point Random(std::mt19937_64& random) const
    {
        if (step == 0)
            return Anywhere(random);
        std::uniform_int_distribution<std::int64_t> move(-step, step);
        const auto next = [&](std::int32_t v) {
            return static_cast<std::int32_t>(std::clamp<std::int64_t>(v + move(random), low, high));
        };
        last = {next(last.x), next(last.y)};
        return last;
    }

    std::vector<Point> Many(std::size_t count, std::mt19937_64& random) const
    {
        std::vector<Point> points(count);
        for (Point& p : points)
            p = Random(random);
        return points;
    }
};

void PrintTo(const Scene& scene, std::ostream* out)
{
    *out << scene.name;
}

class JoinIndexMatchesTheWalk : public testing::TestWithParam<Scene> { };

// Clicks, undos, clears and pauses of every length, as the view makes them,
// with the blocks' bounds set now and then: after each, the index finds what
// walking every point finds.
TEST_P(JoinIndexMatchesTheWalk, ThroughEveryKindOfEdit)
{
    const Scene scene = GetParam();
    std::mt19937_64 random(20261207);
    auto at = [&] { return scene.Random(random); };
    PointStore store;
    JoinIndex index;
    for (int step = 0; step < 20000; ++step) {
        const int action = static_cast<int>(random() % 1000);
        const auto points = store.ActivePoints();
        if (action < 700) {
            ASSERT_TRUE(store.AppendPoint(at()));
        } else if (action < 800) {
            if (!points.empty()) {
                index.Forget(points, points.size() - 1);
                store.RemoveLastPoint();
            }
        } else if (action < 802) {
            index.Forget(points, 0);
            store.ClearPoints();
        } else if (action < 850) {
            index.BoundMore(points);
        } else {
            index.IndexMore(points, random() % 3000);
        }
        const Point click = at();
        const auto now = store.ActivePoints();
        ASSERT_EQ(index.Find(now, click), kav::FindNearIndex(now, click)) << "step " << step;
    }
    index.IndexMore(store.ActivePoints(), std::numeric_limits<std::size_t>::max());
    EXPECT_TRUE(index.Complete(store.ActivePoints()));
    EXPECT_LE(index.Bytes(), 8 * std::max<std::size_t>(store.ActivePoints().size(), 1024));
}

// While a worker fills the index, a click finds what the walk finds; a
// worker stopped part way leaves a prefix that answers as well, and more
// indexing completes it.
TEST_P(JoinIndexMatchesTheWalk, WhileAWorkerFillsIt)
{
    const Scene scene = GetParam();
    std::mt19937_64 random(20261208);
    auto at = [&] { return scene.Random(random); };
    std::vector<Point> points(300000);
    for (Point& p : points)
        p = at();

    JoinIndex index;
    kav::JoinIndexWorker worker(index);
    std::atomic<bool> done = false;
    worker.Start(points, {}, [&] { done = true; });
    int clicks = 0;
    while (!done || clicks < 50) {
        const Point click = at();
        ASSERT_EQ(index.Find(points, click), kav::FindNearIndex(points, click)) << "click " << clicks;
        ++clicks;
    }
    worker.Stop();
    EXPECT_TRUE(index.Complete(points));
    const auto walked = [&] {
        NearBox box{points[0].x, points[0].x, points[0].y, points[0].y};
        for (Point p : points)
            box = {std::min<std::int64_t>(box.minX, p.x), std::max<std::int64_t>(box.maxX, p.x),
                   std::min<std::int64_t>(box.minY, p.y), std::max<std::int64_t>(box.maxY, p.y)};
        return box;
    }();
    const auto extent = index.Extent(points, 0);
    ASSERT_TRUE(extent);
    EXPECT_EQ(std::tie(extent->minX, extent->maxX, extent->minY, extent->maxY),
              std::tie(walked.minX, walked.maxX, walked.minY, walked.maxY));

    JoinIndex partial;
    kav::JoinIndexWorker stopped(partial);
    stopped.Start(points, {}, {});
    stopped.Stop();
    // Stopped before its bounds were done, it reads the rest only when allowed to.
    const std::size_t whole = points.size() / JoinIndex::kBlock * JoinIndex::kBlock;
    if (partial.Bounded() < whole) {
        EXPECT_FALSE(partial.Extent(points, whole - partial.Bounded() - 1));
    }
    const auto read = partial.Extent(points, points.size());
    ASSERT_TRUE(read);
    EXPECT_EQ(std::tie(read->minX, read->maxX, read->minY, read->maxY),
              std::tie(walked.minX, walked.maxX, walked.minY, walked.maxY));
    for (int i = 0; i < 50; ++i) {
        const Point click = at();
        ASSERT_EQ(partial.Find(points, click), kav::FindNearIndex(points, click)) << "stopped, click " << i;
    }
    partial.IndexMore(points, std::numeric_limits<std::size_t>::max());
    EXPECT_TRUE(partial.Complete(points));
    EXPECT_LE(partial.Bytes(), 8 * points.size());
    EXPECT_LE(index.Bytes(), 8 * points.size());
}

// A prefix in the table and the rest walked through the blocks' bounds,
// then the end cut back, grown again and bounded again.
TEST_P(JoinIndexMatchesTheWalk, PastTheTableThroughTheBounds)
{
    const Scene scene = GetParam();
    std::mt19937_64 random(20261209);
    std::vector<Point> points = scene.Many(40000, random);
    JoinIndex index;
    std::size_t size = points.size();
    for (int round = 0; round < 20; ++round) {
        const std::span<const Point> now(points.data(), size);
        ASSERT_TRUE(index.BoundMore(now));
        index.IndexMore(now, random() % (size / 8 + 1));
        for (int i = 0; i < 300; ++i) {
            // Anywhere, or at the edge of a point's reach.
            const Point near = points[random() % size];
            const auto edge = [&](std::int64_t v) {
                return static_cast<std::int32_t>(std::clamp(v + (random() % 2 ? kav::kJoinReach : -kav::kJoinReach),
                                                            scene.low, scene.high));
            };
            const Point click = i % 2 ? scene.Anywhere(random) : Point{edge(near.x), edge(near.y)};
            ASSERT_EQ(index.Find(now, click), kav::FindNearIndex(now, click)) << "round " << round << ", click " << i;
        }
        const std::size_t cut = random() % size;
        index.Forget(now, cut);
        size = cut + random() % (points.size() - cut + 1);
    }
}

// A click as the view makes it at every scale: the earliest point whose
// view pixel lies within the reach of the clicked pixel on both axes, found
// through the mapping's figure box, is the one a walk finds that maps every
// point to the view.
TEST_P(JoinIndexMatchesTheWalk, AtEveryScaleAsTheViewSeesIt)
{
    const Scene scene = GetParam();
    std::mt19937_64 random(20261210);
    const std::vector<Point> points = scene.Many(10000, random);
    JoinIndex index;
    ASSERT_TRUE(index.BoundMore(points));
    index.IndexMore(points, points.size() / 2);
    for (const int zoom : {-10, -6, -3, -1, 0, 1, 2, 6}) {
        kav::ViewMapping mapping{zoom, 0, 0};
        const Point centre = points[random() % points.size()];
        mapping.originX = centre.x - mapping.ToFigure(200);
        mapping.originY = centre.y - mapping.ToFigure(150);
        const auto walk = [&](std::int64_t cx, std::int64_t cy) -> std::ptrdiff_t {
            for (std::size_t i = 0; i < points.size(); ++i) {
                if (std::abs(mapping.ViewX(points[i].x) - cx) <= kav::kJoinReach
                    && std::abs(mapping.ViewY(points[i].y) - cy) <= kav::kJoinReach)
                    return static_cast<std::ptrdiff_t>(i);
            }
            return -1;
        };
        for (int i = 0; i < 150; ++i) {
            // Anywhere in the view, or at the edge of a point's reach there.
            const Point near = points[random() % points.size()];
            const std::int64_t edge = random() % 2 ? kav::kJoinReach : -kav::kJoinReach - int(random() % 2);
            const std::int64_t cx = i % 2 ? std::int64_t(random() % 400) : mapping.ViewX(near.x) + edge;
            const std::int64_t cy = i % 2 ? std::int64_t(random() % 300) : mapping.ViewY(near.y) - edge;
            const kav::ViewMapping::Span x = mapping.NearX(cx, kav::kJoinReach);
            const kav::ViewMapping::Span y = mapping.NearY(cy, kav::kJoinReach);
            ASSERT_EQ(index.FindIn(points, {x.low, x.high, y.low, y.high}), walk(cx, cy))
                << "zoom " << zoom << ", click " << i << " at " << cx << ", " << cy;
        }
    }
}

constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();

INSTANTIATE_TEST_SUITE_P(Scenes, JoinIndexMatchesTheWalk,
                         testing::Values(Scene{"Crowded", 0, 30}, Scene{"Screen", 0, 800}, Scene{"Walk", 0, 3000, 3},
                                         Scene{"LowEdge", kMin, kMin + 20}, Scene{"HighEdge", kMax - 20, kMax}),
                         [](const auto& info) { return info.param.name; });

} // namespace
