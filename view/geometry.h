#pragma once

#include "view/point_store.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace kav {

// How far, on each axis, a click may lie from a stored point to offer it, in
// view pixels.
inline constexpr int kJoinReach = 4;

// The figure positions from (minX, minY) to (maxX, maxY), edges included.
struct NearBox {
    std::int64_t minX;
    std::int64_t maxX;
    std::int64_t minY;
    std::int64_t maxY;

    static NearBox Around(Point at, int reach)
    {
        return {std::int64_t{at.x} - reach, std::int64_t{at.x} + reach, std::int64_t{at.y} - reach,
                std::int64_t{at.y} + reach};
    }
    bool Empty() const { return minX > maxX || minY > maxY; }
    bool Holds(Point p) const { return p.x >= minX && p.x <= maxX && p.y >= minY && p.y <= maxY; }
    // Cut to what a point can hold.
    NearBox Clipped() const;
};

// Index of the earliest point in `box`, or -1 when none lies there.
std::ptrdiff_t FindInBox(std::span<const Point> points, const NearBox& box);

// Index of the earliest point that lies within `reach` pixels of `at` on
// both axes, or -1 when none does.
inline std::ptrdiff_t FindNearIndex(std::span<const Point> points, Point at, int reach = kJoinReach)
{
    return FindInBox(points, NearBox::Around(at, reach));
}

} // namespace kav
