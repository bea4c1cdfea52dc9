#pragma once

// Where the point store's buffers come from. Every buffer carries a small
// header in front of it with its size and kind, so that it can be grown and
// released without being told either.

#include <cstddef>

namespace kav {

struct Point;

// Grows `points` (nullptr for a new array) to hold `count` points, keeping
// its contents and releasing the old array, like std::realloc; nullptr on
// failure, with `points` untouched. Any array from these functions may be
// passed to any of them.
using PointReallocator = Point* (*)(Point* points, std::size_t count);

// Pages of their own, from mmap: growing remaps the pages instead of copying
// them, and large buffers take huge pages. The heap where there is no mmap.
Point* ReallocateMapped(Point* points, std::size_t count);
// From malloc and realloc, which AddressSanitizer watches.
Point* ReallocateHeap(Point* points, std::size_t count);
// The program's choice: mapped on Linux, the heap under AddressSanitizer;
// KAV_POINT_MEMORY=mapped in the environment takes the mapped pages always.
Point* ReallocatePoints(Point* points, std::size_t count);

// Releases an array from any of the above; nullptr is ignored.
void FreePoints(Point* points);

// Bytes that all arrays from the above take now, and that `points` takes
// (0 for nullptr).
std::size_t PointBytesInUse();
std::size_t PointArrayBytes(Point* points);

} // namespace kav
