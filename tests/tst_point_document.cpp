#include "view/point_document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using kav::Point;
using kav::PointChange;
using kav::PointDocument;

namespace {

// A reader that leases the points as they are when it starts.
struct Reader final : kav::PointReader {
    std::span<const Point> leased;
    int ended = 0;
    std::span<const Point> Leased() const override { return leased; }
    void EndLease() override
    {
        ++ended;
        leased = {};
    }
};

struct LeaseRow {
    const char* name;
    int pointsBefore; // in the document when the lease starts
    int removedAfter; // taken by Undo after it
    PointChange::Kind change;
    bool ends;
};

class LeaseTest : public ::testing::TestWithParam<LeaseRow> {};

// A lease ends before a change that writes over, moves or frees the points
// it covers, and only then.
TEST_P(LeaseTest, EndsOnlyBeforeAChangeThatWouldDisturbIt)
{
    const LeaseRow row = GetParam();
    PointDocument document;
    for (int i = 0; i < row.pointsBefore; ++i)
        ASSERT_TRUE(document.Apply(PointChange::Append({i, i})));
    Reader reader;
    reader.leased = document.Points();
    document.AddReader(&reader);
    for (int i = 0; i < row.removedAfter; ++i)
        ASSERT_TRUE(document.Apply(PointChange::RemoveLast()));
    ASSERT_EQ(reader.ended, 0);
    kav::PointStore donor;
    ASSERT_TRUE(donor.AppendPoint({7, 7}));
    const PointChange change = row.change == PointChange::Kind::ReplaceAll ? PointChange::ReplaceAll(donor)
        : row.change == PointChange::Kind::AppendAll                       ? PointChange::AppendAll(donor)
        : row.change == PointChange::Kind::Redo                            ? PointChange::Redo()
        : row.change == PointChange::Kind::Clear                           ? PointChange::Clear()
                                                                           : PointChange::Append({9, 9});
    ASSERT_TRUE(document.Apply(change));
    EXPECT_EQ(reader.ended, row.ends ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, LeaseTest,
    ::testing::Values(LeaseRow{"AppendPastTheLease", 10, 0, PointChange::Kind::Append, false},
                      // The store's first buffer holds 256: the 256th point moves them all.
                      LeaseRow{"AppendThatGrowsTheBuffer", 255, 0, PointChange::Kind::Append, true},
                      LeaseRow{"AppendIntoTheLeaseAfterUndo", 10, 1, PointChange::Kind::Append, true},
                      LeaseRow{"RedoIntoTheLease", 10, 1, PointChange::Kind::Redo, true},
                      LeaseRow{"Clear", 10, 0, PointChange::Kind::Clear, false},
                      LeaseRow{"ReplaceAll", 10, 0, PointChange::Kind::ReplaceAll, true},
                      LeaseRow{"AppendAllInPlace", 10, 0, PointChange::Kind::AppendAll, false},
                      LeaseRow{"AppendAllThatGrowsTheBuffer", 255, 0, PointChange::Kind::AppendAll, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Observers hear of a change in the order of their slots, before and after
// it, and a refused change is followed by no news of it.
TEST(PointDocumentTest, ObserversHearInTheOrderOfTheirSlots)
{
    struct Recorder final : kav::PointObserver {
        Recorder(std::vector<std::string>* log, std::string name)
            : log(log)
            , name(std::move(name))
        {
        }
        std::vector<std::string>* log;
        std::string name;
        void PointsChanging(const PointChange&, std::span<const Point>) override { log->push_back(name + " before"); }
        void PointsChanged(const PointChange&, std::span<const Point>) override { log->push_back(name + " after"); }
    };
    std::vector<std::string> log;
    Recorder repaint(&log, "repaint"), journal(&log, "journal"), picture(&log, "picture");
    PointDocument document([](Point* points, std::size_t count) -> Point* {
        return count > 256 ? nullptr : kav::ReallocatePoints(points, count);
    });
    document.SetObserver(PointDocument::Slot::Repaint, &repaint);
    document.SetObserver(PointDocument::Slot::Journal, &journal);
    document.SetObserver(PointDocument::Slot::Picture, &picture);
    ASSERT_TRUE(document.Apply(PointChange::Append({1, 1})));
    EXPECT_EQ(log, (std::vector<std::string>{"picture before", "journal before", "repaint before", "picture after",
                                             "journal after", "repaint after"}));
    for (int i = 1; i < 255; ++i)
        ASSERT_TRUE(document.Apply(PointChange::Append({i, i})));
    log.clear();
    EXPECT_FALSE(document.Apply(PointChange::Append({2, 2}))); // the store cannot grow
    EXPECT_EQ(log, (std::vector<std::string>{"picture before", "journal before", "repaint before"}));
    EXPECT_EQ(document.Points().size(), 255u);
}

} // namespace
