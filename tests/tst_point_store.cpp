#include "view/point_store.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

using kav::Point;
using kav::PointStore;

// Sets buffer A's count and capacity without allocating what they claim.
struct kav::PointStoreProbe {
    static void PretendA(PointStore& store, std::int32_t count, std::int32_t capacity)
    {
        store.m_countA = count;
        store.m_capacityA = capacity;
    }
};

namespace {

Point Nth(int i)
{
    return Point{i, -i};
}

void AppendMany(PointStore& store, int from, int count)
{
    for (int i = from; i < from + count; ++i)
        ASSERT_TRUE(store.AppendPoint(Nth(i)));
}

void ExpectPointsInOrder(const PointStore& store, int count)
{
    const auto points = store.ActivePoints();
    ASSERT_EQ(points.size(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(points[i], Nth(i)) << "at " << i;
}

using Members = PointStore::Layout;

Members Snapshot(const PointStore& s) { return s.State(); }

std::size_t g_allocationLimit = std::numeric_limits<std::size_t>::max();

Point* LimitedAllocator(Point* points, std::size_t count)
{
    return count > g_allocationLimit ? nullptr : kav::ReallocatePoints(points, count);
}

} // namespace

TEST(PointStore, StartsWithAActiveAndEmpty)
{
    PointStore store;
    EXPECT_EQ(Snapshot(store), (Members{0, 0, 256, 256, true, true, false}));
    EXPECT_TRUE(store.ActivePoints().empty());
    EXPECT_FALSE(store.HasPoints());
}

TEST(PointStore, SwitchesBuffersAtEveryDoublingAndKeepsClickOrder)
{
    PointStore store;
    AppendMany(store, 0, 255);
    EXPECT_EQ(Snapshot(store), (Members{255, 0, 256, 256, true, true, false}));

    AppendMany(store, 255, 1);
    EXPECT_EQ(Snapshot(store), (Members{0, 256, 256, 512, false, false, true}));
    ExpectPointsInOrder(store, 256);

    AppendMany(store, 256, 256);
    EXPECT_EQ(Snapshot(store), (Members{512, 0, 1024, 512, true, true, false}));
    ExpectPointsInOrder(store, 512);

    AppendMany(store, 512, 512);
    EXPECT_EQ(Snapshot(store), (Members{0, 1024, 1024, 2048, false, false, true}));
    ExpectPointsInOrder(store, 1024);
}

TEST(PointStore, UndoRemovesNewestWithoutSwitchingBack)
{
    PointStore store;
    store.RemoveLastPoint();
    EXPECT_EQ(Snapshot(store), (Members{0, 0, 256, 256, true, true, false}));

    AppendMany(store, 0, 256);
    store.RemoveLastPoint();
    EXPECT_EQ(Snapshot(store), (Members{0, 255, 256, 512, false, false, true}));
    ExpectPointsInOrder(store, 255);

    for (int i = 0; i < 300; ++i)
        store.RemoveLastPoint();
    EXPECT_EQ(Snapshot(store), (Members{0, 0, 256, 512, false, false, true}));
}

TEST(PointStore, ClearKeepsTheActiveBufferAndItsCapacity)
{
    PointStore store;
    AppendMany(store, 0, 300);
    store.ClearPoints();
    EXPECT_EQ(Snapshot(store), (Members{0, 0, 256, 512, false, false, true}));
    EXPECT_FALSE(store.HasPoints());

    AppendMany(store, 0, 3);
    EXPECT_FALSE(store.State().useA);
    EXPECT_EQ(store.State().countB, 3);
    ExpectPointsInOrder(store, 3);
}

TEST(PointStore, RefusesAGrowthBeyond32BitsAndChangesNothing)
{
    // Pretend A is nearly full at the largest capacity that doubles no more.
    // The refused append must not touch the buffer, so this is safe.
    PointStore store;
    kav::PointStoreProbe::PretendA(store, (1 << 30) - 1, 1 << 30);
    const Members before = Snapshot(store);
    EXPECT_FALSE(store.AppendPoint({1, 2}));
    EXPECT_EQ(Snapshot(store), before);

    const Point two[2] = {{1, 2}, {3, 4}};
    EXPECT_FALSE(store.AppendPoints(two));
    EXPECT_EQ(Snapshot(store), before);

    kav::PointStoreProbe::PretendA(store, 0, 256); // what the real buffer holds
}

TEST(PointStore, RefusesWhenMemoryRunsOutAndChangesNothing)
{
    g_allocationLimit = 512;
    PointStore store(&LimitedAllocator);
    AppendMany(store, 0, 511); // into B (512)
    const Members before = Snapshot(store);
    EXPECT_FALSE(store.AppendPoint(Nth(511))); // would need 1024
    EXPECT_EQ(Snapshot(store), before);
    ExpectPointsInOrder(store, 511);

    std::vector<Point> more(10, Point{7, 7});
    EXPECT_FALSE(store.AppendPoints(more));
    EXPECT_EQ(Snapshot(store), before);
    ExpectPointsInOrder(store, 511);
    g_allocationLimit = std::numeric_limits<std::size_t>::max();
}

// Where the buffers come from: the mapped pages that ship, and the heap that
// the sanitizers watch.
const kav::PointReallocator kAllocators[] = {&kav::ReallocateMapped, &kav::ReallocateHeap};

static std::string AllocatorName(kav::PointReallocator allocate)
{
    return allocate == &kav::ReallocateMapped ? "Mapped" : "Heap";
}

// Starting points on both buffers (300: a cleared B) and batches that cross
// zero, one and several switches.
class BulkAppend : public testing::TestWithParam<std::tuple<int, int, kav::PointReallocator>> { };

TEST_P(BulkAppend, EndsInTheSameStateAsSingleAppends)
{
    const auto [start, batch, allocate] = GetParam();
    PointStore single(allocate);
    PointStore bulk(allocate);
    AppendMany(single, 0, start);
    AppendMany(bulk, 0, start);
    if (start == 300) {
        single.ClearPoints();
        bulk.ClearPoints();
    }
    std::vector<Point> points;
    for (int i = 0; i < batch; ++i)
        points.push_back(Nth(1000000 + i));
    for (const Point& p : points)
        ASSERT_TRUE(single.AppendPoint(p));
    ASSERT_TRUE(bulk.AppendPoints(points));

    ASSERT_EQ(Snapshot(bulk), Snapshot(single));
    const auto a = single.ActivePoints();
    const auto b = bulk.ActivePoints();
    ASSERT_TRUE(std::equal(a.begin(), a.end(), b.begin(), b.end()));
}

INSTANTIATE_TEST_SUITE_P(Starts, BulkAppend,
                         testing::Combine(testing::Values(0, 1, 255, 256, 300, 511, 700),
                                          testing::Values(0, 1, 2, 255, 256, 257, 767, 2000, 5000),
                                          testing::ValuesIn(kAllocators)),
                         [](const auto& info) {
                             return "From" + std::to_string(std::get<0>(info.param)) + "Add"
                                 + std::to_string(std::get<1>(info.param)) + AllocatorName(std::get<2>(info.param));
                         });

// The same for the points of another store, whose buffer an empty store
// takes over; the two stores' buffers may come from different allocators.
class StoreAppend
    : public testing::TestWithParam<std::tuple<int, int, bool, kav::PointReallocator, kav::PointReallocator>> { };

TEST_P(StoreAppend, MatchesAppendingItsPoints)
{
    const auto [start, batch, cleared, allocate, donorAllocate] = GetParam();
    PointStore bySpan(allocate);
    PointStore byStore(allocate);
    AppendMany(bySpan, 0, start);
    AppendMany(byStore, 0, start);
    if (cleared) { // an empty store whose B is active
        bySpan.ClearPoints();
        byStore.ClearPoints();
    }
    PointStore donor(donorAllocate);
    AppendMany(donor, 1000, batch);
    const auto donated = donor.ActivePoints();
    ASSERT_TRUE(bySpan.AppendPoints(donated));
    ASSERT_TRUE(byStore.AppendPoints(std::move(donor)));
    ASSERT_EQ(Snapshot(byStore), Snapshot(bySpan));
    const auto a = bySpan.ActivePoints();
    const auto b = byStore.ActivePoints();
    ASSERT_TRUE(std::equal(a.begin(), a.end(), b.begin(), b.end()));
}

static std::string StoreAppendName(const StoreAppend::ParamType& param)
{
    const auto& [start, batch, cleared, allocate, donorAllocate] = param;
    return "From" + std::to_string(start) + "Add" + std::to_string(batch) + (cleared ? "Cleared" : "")
        + AllocatorName(allocate) + "From" + AllocatorName(donorAllocate);
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreAppend,
                         testing::Combine(testing::Values(0, 5, 300), testing::Values(1, 255, 256, 3000),
                                          testing::Bool(), testing::ValuesIn(kAllocators),
                                          testing::ValuesIn(kAllocators)),
                         [](const auto& info) { return StoreAppendName(info.param); });

TEST(PointStore, AnEmptyStoreAdoptsTheDonorsBuffer)
{
    PointStore donor;
    AppendMany(donor, 0, 1000);
    PointStore store;
    ASSERT_TRUE(store.AppendPoints(std::move(donor)));
    ExpectPointsInOrder(store, 1000);
    // The donor holds nothing and refuses points instead of writing anywhere.
    EXPECT_TRUE(donor.ActivePoints().empty());
    EXPECT_FALSE(donor.HasPoints());
    EXPECT_FALSE(donor.AppendPoint({1, 1}));
    donor.RemoveLastPoint();
    donor.ClearPoints();
}

TEST(PointStore, ReplacingIsClearAndAppendOrNothing)
{
    for (const int start : {3, 300}) {
        PointStore expected;
        PointStore store;
        AppendMany(expected, 0, start);
        AppendMany(store, 0, start);
        PointStore donor;
        AppendMany(donor, 5000, 700);
        expected.ClearPoints();
        ASSERT_TRUE(expected.AppendPoints(donor.ActivePoints()));
        ASSERT_TRUE(store.ReplacePoints(std::move(donor)));
        EXPECT_EQ(Snapshot(store), Snapshot(expected)) << start;
    }

    g_allocationLimit = 512;
    PointStore limited(&LimitedAllocator);
    AppendMany(limited, 0, 10);
    const Members before = Snapshot(limited);
    PointStore tooMany;
    AppendMany(tooMany, 0, 600);
    EXPECT_FALSE(limited.ReplacePoints(std::move(tooMany)));
    EXPECT_EQ(Snapshot(limited), before);
    ExpectPointsInOrder(limited, 10);
    g_allocationLimit = std::numeric_limits<std::size_t>::max();
}

// Appending the store's own points, across the growth that moves them.
TEST(PointStore, AppendsItsOwnPointsAcrossAGrowth)
{
    for (const kav::PointReallocator allocate : kAllocators) {
        PointStore store(allocate);
        AppendMany(store, 0, 200);
        ASSERT_TRUE(store.AppendPoints(store.ActivePoints())); // 400: grows into B
        ASSERT_TRUE(store.AppendPoints(store.ActivePoints().subspan(100, 300))); // 700: grows into A
        const auto points = store.ActivePoints();
        ASSERT_EQ(points.size(), std::size_t{700});
        for (int i = 0; i < 700; ++i) {
            const int original = i < 400 ? i % 200 : (i - 300) % 200;
            ASSERT_EQ(points[i], Nth(original)) << AllocatorName(allocate) << " at " << i;
        }
    }
}

// ReallocatePoints takes the mapped pages, or the heap under AddressSanitizer
// unless KAV_POINT_MEMORY=mapped (as CI sets it for one run). Mapped arrays
// all start at the same offset into a page; heap arrays do not.
TEST(PointMemory, ReallocatePointsTakesTheChosenPages)
{
#if !defined(__linux__)
    GTEST_SKIP() << "no mapped pages here";
#endif
    const char* choice = std::getenv("KAV_POINT_MEMORY");
    bool mapped = choice != nullptr && std::string_view(choice) == "mapped";
#if !defined(__SANITIZE_ADDRESS__)
    mapped = true;
#endif
    std::vector<Point*> arrays;
    for (const std::size_t count : {1, 100, 1000, 3000}) {
        arrays.push_back(kav::ReallocatePoints(nullptr, count));
        ASSERT_NE(arrays.back(), nullptr);
    }
    const auto offset = [](const Point* p) { return reinterpret_cast<std::uintptr_t>(p) % 4096; };
    int sameOffset = 0;
    for (const Point* p : arrays)
        sameOffset += offset(p) == offset(arrays.front());
    for (Point* p : arrays)
        kav::FreePoints(p);
    if (mapped)
        EXPECT_EQ(sameOffset, 4);
    else
        EXPECT_LT(sameOffset, 4);
}
