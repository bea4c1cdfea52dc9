#pragma once

#include "view/point_store.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace kav {

// A 32-bit pixel image in memory: `stride` is in pixels.
struct Canvas {
    std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;
};

// Sets one pixel; pixels outside the canvas are ignored.
void SetPixel(const Canvas& canvas, std::int64_t x, std::int64_t y, std::uint32_t colour);

// The polyline through `points`: the first point's pixel, then 1-pixel
// segments between consecutive points. Any coordinates are safe: segments
// are clipped to the canvas and nothing is written outside it.
void DrawPolyline(const Canvas& canvas, std::span<const Point> points, std::uint32_t colour);

// The marker of the newest point: the ellipse in the box (x-4, y-4) to
// (x+4, y+4), right and bottom edges excluded, outlined and filled.
void DrawEndMarker(const Canvas& canvas, Point centre, std::uint32_t outline, std::uint32_t fill);

} // namespace kav
