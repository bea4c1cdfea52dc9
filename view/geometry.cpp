#include "view/geometry.h"

#include <algorithm>

namespace kav {

namespace {

bool Within(std::int32_t a, std::int64_t b, std::int64_t reach)
{
    const std::int64_t d = std::int64_t{a} - b;
    return d >= -reach && d <= reach;
}

} // namespace

std::ptrdiff_t FindNearIndex(std::span<const Point> points, Point at, int reach)
{
    const std::size_t n = points.size();
    // Blocks are screened with 32-bit wrap-around arithmetic, which the
    // compiler vectorises. It never misses a near point (it may let a far one
    // through near the ends of the range), so hits are confirmed exactly.
    constexpr std::size_t kBlock = 64;
    const auto r = static_cast<std::uint32_t>(reach);
    const auto ax = static_cast<std::uint32_t>(at.x);
    const auto ay = static_cast<std::uint32_t>(at.y);
    std::size_t i = 0;
    while (i < n) {
        const std::size_t end = std::min(n, i + kBlock);
        bool maybe = false;
        for (std::size_t j = i; j < end; ++j) {
            const std::uint32_t dx = static_cast<std::uint32_t>(points[j].x) - ax + r;
            const std::uint32_t dy = static_cast<std::uint32_t>(points[j].y) - ay + r;
            maybe |= (dx <= 2 * r) & (dy <= 2 * r);
        }
        if (maybe) {
            for (std::size_t j = i; j < end; ++j) {
                if (Within(points[j].x, at.x, reach) && Within(points[j].y, at.y, reach))
                    return static_cast<std::ptrdiff_t>(j);
            }
        }
        i = end;
    }
    return -1;
}

} // namespace kav
