#include "view/geometry.h"

#include <algorithm>
#include <limits>

namespace kav {

NearBox NearBox::Clipped() const
{
    constexpr std::int64_t kLow = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t kHigh = std::numeric_limits<std::int32_t>::max();
    return {std::max(minX, kLow), std::min(maxX, kHigh), std::max(minY, kLow), std::min(maxY, kHigh)};
}

std::ptrdiff_t FindInBox(std::span<const Point> points, const NearBox& wanted)
{
    const NearBox box = wanted.Clipped();
    if (box.Empty())
        return -1;
    const std::size_t n = points.size();
    // Blocks are screened with 32-bit wrap-around arithmetic, which the
    // compiler vectorises: a point is in the box when its distance from the
    // low corner, taken unsigned, is within the box's width.
    constexpr std::size_t kBlock = 64;
    const auto lowX = static_cast<std::uint32_t>(box.minX);
    const auto lowY = static_cast<std::uint32_t>(box.minY);
    const auto width = static_cast<std::uint32_t>(box.maxX - box.minX);
    const auto height = static_cast<std::uint32_t>(box.maxY - box.minY);
    std::size_t i = 0;
    while (i < n) {
        const std::size_t end = std::min(n, i + kBlock);
        bool maybe = false;
        for (std::size_t j = i; j < end; ++j) {
            const std::uint32_t dx = static_cast<std::uint32_t>(points[j].x) - lowX;
            const std::uint32_t dy = static_cast<std::uint32_t>(points[j].y) - lowY;
            maybe |= (dx <= width) & (dy <= height);
        }
        if (maybe) {
            for (std::size_t j = i; j < end; ++j) {
                if (box.Holds(points[j]))
                    return static_cast<std::ptrdiff_t>(j);
            }
        }
        i = end;
    }
    return -1;
}

} // namespace kav
