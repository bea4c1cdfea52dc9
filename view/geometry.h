#pragma once

#include "view/point_store.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace kav {

// How far, on each axis, a click may lie from a stored point to offer it.
inline constexpr int kJoinReach = 4;

// Index of the earliest point that lies within `reach` pixels of `at` on
// both axes, or -1 when none does.
std::ptrdiff_t FindNearIndex(std::span<const Point> points, Point at, int reach = kJoinReach);

} // namespace kav
