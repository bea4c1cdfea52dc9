#pragma once

#include "view/geometry.h"
#include "view/point_store.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kav {

// Answers the join search without walking every point: a hash table from
// each position that holds points to the earliest point there. A click
// looks up the (2 * reach + 1)^2 positions in reach and takes the earliest
// point found, which is what FindNearIndex would find.
//
// The table covers a prefix of the points, the first ones up to some count; it is filled
// a slice at a time while the user does nothing, and the points after it
// are walked. Undo and New tell it what goes. Each slot is a point's index
// (the position is read from the point), and the table holds at most two
// slots per point: at most 8 bytes a point.
class JoinIndex {
public:
    // The earliest point within `reach` of `at` on both axes, or -1; the
    // same answer as FindNearIndex(points, at, reach).
    std::ptrdiff_t Find(std::span<const Point> points, Point at, int reach = kJoinReach) const;

    // Adds up to `count` more points to the table. True once every point is
    // in it.
    bool IndexMore(std::span<const Point> points, std::size_t count);
    bool Complete(std::span<const Point> points) const { return m_indexed == points.size(); }

    // The points from `first` on are about to change or go; `points` are
    // still as they were.
    void Forget(std::span<const Point> points, std::size_t first);

    std::size_t Bytes() const { return m_slots.size() * sizeof(std::uint32_t); }

private:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFF;

    std::size_t Home(std::int64_t x, std::int64_t y) const;
    // The slot of the point at (x, y), or of the empty slot that ends its run.
    std::size_t Probe(std::span<const Point> points, std::int64_t x, std::int64_t y) const;
    void Erase(std::span<const Point> points, std::size_t slot);

    std::vector<std::uint32_t> m_slots;
    std::size_t m_entries = 0;
    std::size_t m_indexed = 0;
};

} // namespace kav
