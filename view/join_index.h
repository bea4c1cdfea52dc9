#pragma once

#include "view/geometry.h"
#include "view/point_document.h"
#include "view/point_store.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

namespace kav {

// Answers the join search without walking every point: a hash table from
// each position that holds points to the earliest point there. A click
// looks up the (2 * reach + 1)^2 positions in reach and takes the earliest
// point found, which is what FindNearIndex would find.
//
// The table covers a prefix of the points, the first ones up to some count,
// and the points after it are walked, skipping the blocks whose bounds lie
// out of reach (BoundMore). Undo and New tell it what goes. Each
// slot is a point's index (the position is read from the point); the table
// grows with the positions it holds, up to two slots per point: at most 8
// bytes a point.
//
// One other thread may fill it (IndexMore) while this one calls Find,
// Indexed and Complete; Forget and a second IndexMore wait until it stops.
class JoinIndex {
public:
    JoinIndex() = default;
    JoinIndex(const JoinIndex&) = delete;
    JoinIndex& operator=(const JoinIndex&) = delete;

    // The earliest point within `reach` of `at` on both axes, or -1; the
    // same answer as FindNearIndex(points, at, reach).
    std::ptrdiff_t Find(std::span<const Point> points, Point at, int reach = kJoinReach) const
    {
        return FindIn(points, NearBox::Around(at, reach));
    }
    // The earliest point in `box`, or -1: FindInBox's answer. A box of more
    // positions than kMaxLookups (a click when zoomed out) is answered by
    // the walk alone, which the block bounds keep short.
    static constexpr std::int64_t kMaxLookups = 4096;
    std::ptrdiff_t FindIn(std::span<const Point> points, const NearBox& box) const;

    // Adds up to `count` more points to the table. True once every point is
    // in it. A thread that fills it passes its stop flag, which cuts short
    // a growth of the table.
    bool IndexMore(std::span<const Point> points, std::size_t count, const std::atomic<bool>* stop = nullptr);
    std::size_t Indexed() const { return m_indexed.load(std::memory_order_acquire); }
    bool Complete(std::span<const Point> points) const { return Indexed() == points.size(); }

    // Sets the bounds of every whole block of points, on as many threads
    // as there are cores, so that a click need not walk them all while the
    // table fills. False when `stop` was raised first.
    bool BoundMore(std::span<const Point> points, const std::atomic<bool>* stop = nullptr);
    std::size_t Bounded() const { return m_bounded.load(std::memory_order_acquire) * kBlock; }
    // The smallest box that holds every point, from the blocks' bounds and
    // a walk of the points after them; none when the whole blocks not
    // bounded yet hold more than `maxWalk` points, so that a large figure
    // is never read whole here.
    std::optional<NearBox> Extent(std::span<const Point> points, std::size_t maxWalk) const;

    // Calls draw(first, end) for the runs of segments in [from, to) (the
    // segment i ends at points[i]) that may cross `box`, leaving out every
    // bounded block whose points, with the one before them, all lie beyond
    // one side of it: no segment among them reaches into the box.
    void ForSegmentsIn(std::span<const Point> points, std::size_t from, std::size_t to, const NearBox& box,
                       const std::function<void(std::size_t, std::size_t)>& draw) const;

    // The points from `first` on are about to change or go; `points` are
    // still as they were.
    void Forget(std::span<const Point> points, std::size_t first);

    std::size_t Bytes() const;

    // Points a bound covers: a walk of a thousand points is a microsecond.
    static constexpr std::size_t kBlock = 1024;

private:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFF;

    struct Bounds {
        std::int32_t minX, minY, maxX, maxY;
    };
    static Bounds BlockBounds(const Point* block);
    // The first point within reach from `first` on, or -1.
    std::ptrdiff_t Walk(std::span<const Point> points, std::size_t first, const NearBox& box) const;

    static std::size_t Home(std::int64_t x, std::int64_t y, std::size_t size);
    // The slot of the point at (x, y), or of the empty slot that ends its run.
    static std::size_t Probe(const std::vector<std::uint32_t>& slots, std::span<const Point> points, std::int64_t x,
                             std::int64_t y);
    // A larger table for `needed` entries, holding what this one holds.
    // False when `stop` was raised first.
    bool Grow(std::span<const Point> points, std::size_t needed, const std::atomic<bool>* stop);
    void Erase(std::span<const Point> points, std::size_t slot);

    // Held by Find, and by the filling thread while it swaps in a grown
    // table or sizes the bounds.
    mutable std::mutex m_swap;
    std::vector<std::uint32_t> m_slots;
    std::size_t m_entries = 0;
    std::atomic<std::size_t> m_indexed = 0;
    // A block's bounds, with the point before it, for the blocks before
    // m_bounded: 16 bytes for 1024 points.
    std::vector<Bounds> m_bounds;
    std::atomic<std::size_t> m_bounded = 0;
    // While BoundMore runs, a walk follows behind it rather than reading
    // the same points beside it, which would slow both.
    mutable std::mutex m_boundsMutex;
    mutable std::condition_variable m_boundsMoved;
    bool m_bounding = false;
};

// Fills a JoinIndex on a thread of its own, so that a large figure is
// indexed while the user looks at it. It keeps the index in step with the
// figure (the document's JoinIndex observer), and reads the points it
// leased until a change that would disturb them stops it.
class JoinIndexWorker final : public PointObserver, public PointReader {
public:
    explicit JoinIndexWorker(JoinIndex& index)
        : m_index(index)
    {
    }
    ~JoinIndexWorker() override { Stop(); }
    JoinIndexWorker(const JoinIndexWorker&) = delete;
    JoinIndexWorker& operator=(const JoinIndexWorker&) = delete;

    // Indexes `points`, and then calls `done` on its thread; `bounded`
    // comes first, once every block has its bounds. Points appended after
    // them may be written meanwhile.
    void Start(std::span<const Point> points, std::function<void()> bounded, std::function<void()> done);
    // Ends the filling within a step and waits for the thread; what was
    // filled stays.
    void Stop();
    bool Running() const { return m_thread.joinable(); }

    // Undo and every change of more than the end make the index forget
    // what goes, with the worker stopped first.
    void PointsChanging(const PointChange& change, std::span<const Point> before) override;
    void PointsChanged(const PointChange&, std::span<const Point>) override {}
    std::span<const Point> Leased() const override { return Running() ? m_points : std::span<const Point>(); }
    void EndLease() override { Stop(); }

private:
    JoinIndex& m_index;
    std::thread m_thread;
    std::atomic<bool> m_stop = false;
    std::span<const Point> m_points;
};

} // namespace kav
