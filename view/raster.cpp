#include "view/raster.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace kav {

namespace {

bool Inside(const Canvas& c, std::int64_t x, std::int64_t y)
{
    return x >= 0 && y >= 0 && x < c.width && y < c.height;
}

// Bresenham from (0, 0) by (dx, dy): calls visit(offset) for every pixel,
// with offsets measured in pixels along a row and `stride` per row.
template <class Visit> void WalkLine(int dx, int dy, std::ptrdiff_t stride, Visit&& visit)
{
    const int ax = std::abs(dx);
    const int ay = std::abs(dy);
    const std::ptrdiff_t stepX = dx >= 0 ? 1 : -1;
    const std::ptrdiff_t stepY = dy >= 0 ? stride : -stride;
    // Step along the longer axis; the shorter one steps when the error says
    // so. Written without a branch on the error, which mispredicts.
    const bool steep = ay > ax;
    const int major = steep ? ay : ax;
    const int minor = steep ? ax : ay;
    const std::ptrdiff_t majorStep = steep ? stepY : stepX;
    const std::ptrdiff_t minorStep = steep ? stepX : stepY;
    std::ptrdiff_t offset = 0;
    int error = 2 * minor - major;
    for (int i = 0; i < major; ++i) {
        visit(offset);
        const bool bump = error > 0;
        offset += majorStep + (bump ? minorStep : 0);
        error += 2 * minor - (bump ? 2 * major : 0);
    }
    visit(offset);
}

// Bresenham between two pixels that both lie on the canvas; every pixel in
// between then does too.
void LineInside(const Canvas& c, int x0, int y0, int x1, int y1, std::uint32_t colour)
{
    std::uint32_t* p = c.pixels + y0 * c.stride + x0;
    WalkLine(x1 - x0, y1 - y0, c.stride, [p, colour](std::ptrdiff_t offset) { p[offset] = colour; });
}

// Short segments, which are most of a hand-drawn or loaded figure, drawn
// from a table: the pixels of every segment of up to 7 pixels per axis, as
// offsets, padded to eight by repeating the last one. Eight plain stores
// then draw any of them, with no loop whose end mispredicts.
class ShortSegments {
public:
    static constexpr int kReach = 7;
    static constexpr int kSide = 2 * kReach + 1;

    explicit ShortSegments(std::ptrdiff_t stride)
    {
        for (int dy = -kReach; dy <= kReach; ++dy) {
            for (int dx = -kReach; dx <= kReach; ++dx) {
                auto& entry = m_offsets[Index(dx, dy)];
                int n = 0;
                WalkLine(dx, dy, stride, [&](std::ptrdiff_t offset) { entry[n++] = offset; });
                for (; n < 8; ++n)
                    entry[n] = entry[n - 1];
            }
        }
    }

    static bool Covers(int dx, int dy)
    {
        return static_cast<unsigned>(dx + kReach) < kSide && static_cast<unsigned>(dy + kReach) < kSide;
    }

    void Draw(std::uint32_t* from, int dx, int dy, std::uint32_t colour) const
    {
        const auto& entry = m_offsets[Index(dx, dy)];
        for (const std::ptrdiff_t offset : entry)
            from[offset] = colour;
    }

private:
    static int Index(int dx, int dy) { return (dy + kReach) * kSide + dx + kReach; }

    std::array<std::array<std::ptrdiff_t, 8>, kSide * kSide> m_offsets;
};

// Clips the segment to the canvas (Liang-Barsky). Doubles hold every 32-bit
// coordinate exactly, so nothing overflows.
bool Clip(const Canvas& c, double& x0, double& y0, double& x1, double& y1)
{
    const double dx = x1 - x0;
    const double dy = y1 - y0;
    double t0 = 0.0;
    double t1 = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x0, (c.width - 1) - x0, y0, (c.height - 1) - y0};
    for (int k = 0; k < 4; ++k) {
        if (p[k] == 0.0) {
            if (q[k] < 0.0)
                return false;
            continue;
        }
        const double t = q[k] / p[k];
        if (p[k] < 0.0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1)
            return false;
    }
    const double sx = x0;
    const double sy = y0;
    x0 = sx + t0 * dx;
    y0 = sy + t0 * dy;
    x1 = sx + t1 * dx;
    y1 = sy + t1 * dy;
    return true;
}

int ToPixel(double v, int limit)
{
    return static_cast<int>(std::clamp(std::lround(v), 0L, static_cast<long>(limit - 1)));
}

void Segment(const Canvas& c, const ShortSegments& shortSegments, Point a, Point b, std::uint32_t colour)
{
    if (Inside(c, a.x, a.y) && Inside(c, b.x, b.y)) {
        const int dx = b.x - a.x;
        const int dy = b.y - a.y;
        std::uint32_t* from = c.pixels + a.y * c.stride + a.x;
        if (ShortSegments::Covers(dx, dy))
            shortSegments.Draw(from, dx, dy, colour);
        else
            LineInside(c, a.x, a.y, b.x, b.y, colour);
        return;
    }
    // Wholly beyond one edge: nothing to draw.
    if ((a.x < 0 && b.x < 0) || (a.y < 0 && b.y < 0) || (a.x >= c.width && b.x >= c.width)
        || (a.y >= c.height && b.y >= c.height))
        return;
    double x0 = a.x, y0 = a.y, x1 = b.x, y1 = b.y;
    if (!Clip(c, x0, y0, x1, y1))
        return;
    LineInside(c, ToPixel(x0, c.width), ToPixel(y0, c.height), ToPixel(x1, c.width), ToPixel(y1, c.height), colour);
}

// The 8x8 ellipse: 'o' outline, '.' inside, ' ' untouched.
constexpr const char* kMarker[8] = {
    "  oooo  ", " o....o ", "o......o", "o......o", "o......o", "o......o", " o....o ", "  oooo  ",
};

} // namespace

void SetPixel(const Canvas& canvas, std::int64_t x, std::int64_t y, std::uint32_t colour)
{
    if (Inside(canvas, x, y))
        canvas.pixels[y * canvas.stride + x] = colour;
}

void DrawPolyline(const Canvas& canvas, std::span<const Point> points, std::uint32_t colour)
{
    if (points.empty() || canvas.width <= 0 || canvas.height <= 0)
        return;
    SetPixel(canvas, points[0].x, points[0].y, colour);
    const ShortSegments shortSegments(canvas.stride);
    for (std::size_t i = 1; i < points.size(); ++i)
        Segment(canvas, shortSegments, points[i - 1], points[i], colour);
}

void DrawEndMarker(const Canvas& canvas, Point centre, std::uint32_t outline, std::uint32_t fill)
{
    for (int row = 0; row < 8; ++row) {
        for (int col = 0; col < 8; ++col) {
            const char cell = kMarker[row][col];
            if (cell != ' ')
                SetPixel(canvas, std::int64_t{centre.x} - 4 + col, std::int64_t{centre.y} - 4 + row,
                         cell == 'o' ? outline : fill);
        }
    }
}

} // namespace kav
