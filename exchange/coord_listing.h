#pragma once

#include "view/point_store.h"

#include <cstdint>
#include <span>
#include <string>

namespace kav {

// The listing "x1,y1,x2,y2,...": every coordinate relative to (cx, cy),
// written in full however large the difference.
std::string FormatListing(std::span<const Point> points, std::int32_t cx, std::int32_t cy);

} // namespace kav
