#include "exchange/coord_listing.h"

#include <charconv>

namespace kav {

std::string FormatListing(std::span<const Point> points, std::int32_t cx, std::int32_t cy)
{
    std::string text;
    text.reserve(points.size() * 10);
    char pair[48];
    for (std::size_t i = 0; i < points.size(); ++i) {
        char* end = std::to_chars(pair, pair + 20, std::int64_t{points[i].x} - cx).ptr;
        *end++ = ',';
        end = std::to_chars(end, end + 20, std::int64_t{points[i].y} - cy).ptr;
        if (i + 1 < points.size())
            *end++ = ',';
        text.append(pair, end);
    }
    return text;
}

} // namespace kav
