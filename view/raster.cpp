#include "view/raster.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

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
// between then does too. Plots take a pixel's index: y * stride + x.
template <class Plot> void LineInside(const Canvas& c, int x0, int y0, int x1, int y1, Plot& plot)
{
    const std::ptrdiff_t start = y0 * c.stride + x0;
    WalkLine(x1 - x0, y1 - y0, c.stride, [start, &plot](std::ptrdiff_t offset) { plot(start + offset); });
}

// Clips the segment to the canvas (Liang-Barsky). Doubles hold every device
// coordinate that matters here exactly enough, so nothing overflows.
[[gnu::always_inline]] inline bool Clip(const Canvas& c, double& x0, double& y0, double& x1, double& y1)
{
    const double dx = x1 - x0;
    const double dy = y1 - y0;
    double t0 = 0.0;
    double t1 = 1.0;
    // One edge: the part of the segment where p * t <= q stays.
    auto edge = [&](double p, double q) {
        if (p == 0.0)
            return q >= 0.0;
        const double t = q / p;
        if (p < 0.0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        return t0 <= t1;
    };
    if (!edge(-dx, x0) || !edge(dx, (c.width - 1) - x0) || !edge(-dy, y0) || !edge(dy, (c.height - 1) - y0))
        return false;
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

// A segment with at least one end off the canvas: the part on it, if any.
template <class Plot>
[[gnu::always_inline]] inline void PartlyOutside(const Canvas& c, std::int64_t ax, std::int64_t ay, std::int64_t bx,
                                                 std::int64_t by, Plot& plot)
{
    // Wholly beyond one edge: nothing to draw.
    if ((ax < 0 && bx < 0) || (ay < 0 && by < 0) || (ax >= c.width && bx >= c.width)
        || (ay >= c.height && by >= c.height))
        return;
    double x0 = static_cast<double>(ax), y0 = static_cast<double>(ay);
    double x1 = static_cast<double>(bx), y1 = static_cast<double>(by);
    if (!Clip(c, x0, y0, x1, y1))
        return;
    LineInside(c, ToPixel(x0, c.width), ToPixel(y0, c.height), ToPixel(x1, c.width), ToPixel(y1, c.height), plot);
}

// The plots. Part(i) comes before the pixels of the segment that ends at
// points[i]. Each takes one pixel by its index, or a short segment from the
// table: `start`, then its eight offsets, the last of its pixels repeated
// to fill them.
using ShortOffsets = std::array<std::ptrdiff_t, 8>;

// Draws in one colour; the repeats are plain stores, cheaper than a loop.
struct Paint {
    std::uint32_t* pixels;
    std::uint32_t colour;
    void Part(std::size_t) const {}
    void operator()(std::ptrdiff_t i) const { pixels[i] = colour; }
    void Short(std::ptrdiff_t start, const ShortOffsets& offsets) const
    {
        for (const std::ptrdiff_t offset : offsets)
            pixels[start + offset] = colour;
    }
};

// Draws in ink the pixels that no earlier part drew, and marks them with
// the part drawing. Most visits find a mark already, and so only read: a
// count per visit would chain every store on the one before.
struct Cover {
    std::uint32_t* pixels;
    std::uint32_t* firsts;
    std::uint32_t ink;
    std::uint32_t part = 0;
    void Part(std::size_t i) { part = static_cast<std::uint32_t>(i); }
    void operator()(std::ptrdiff_t i) const
    {
        if (firsts[i] == Rasterizer::kUncovered) {
            firsts[i] = part;
            pixels[i] = ink;
        }
    }
    // The repeats find their mark set by the first visit. The first pixel
    // is the end of what was drawn before, which covers it already.
    void Short(std::ptrdiff_t start, const ShortOffsets& offsets) const
    {
        for (int k = 1; k < 8; ++k)
            (*this)(start + offsets[k]);
    }
};

// Takes the newest part back: its own pixels are background again, and
// those an earlier part drew too keep their ink.
struct Uncover {
    std::uint32_t* pixels;
    std::uint32_t* firsts;
    std::uint32_t background;
    std::uint32_t part = 0;
    void Part(std::size_t i) { part = static_cast<std::uint32_t>(i); }
    void operator()(std::ptrdiff_t i) const
    {
        if (firsts[i] == part) {
            firsts[i] = Rasterizer::kUncovered;
            pixels[i] = background;
        }
    }
    void Short(std::ptrdiff_t start, const ShortOffsets& offsets) const
    {
        for (int k = 1; k < 8; ++k)
            (*this)(start + offsets[k]);
    }
};

// The marker's rows for a box of `size` device pixels: the pixels whose
// centres lie in the circle, and of those the ones next to a pixel outside
// it make the outline. At size 8 this is the marker of a plain screen.
std::vector<char> MarkerRows(int size)
{
    auto inside = [size](int col, int row) {
        if (col < 0 || row < 0 || col >= size || row >= size)
            return false;
        const double r = size / 2.0;
        const double dx = col + 0.5 - r;
        const double dy = row + 0.5 - r;
        return dx * dx + dy * dy <= r * r;
    };
    std::vector<char> rows(static_cast<std::size_t>(size * size), ' ');
    for (int row = 0; row < size; ++row) {
        for (int col = 0; col < size; ++col) {
            if (!inside(col, row))
                continue;
            const bool edge
                = !inside(col - 1, row) || !inside(col + 1, row) || !inside(col, row - 1) || !inside(col, row + 1);
            rows[static_cast<std::size_t>(row * size + col)] = edge ? 'o' : '.';
        }
    }
    return rows;
}

// log2 of a scale that is a power of two.
std::optional<int> ShiftOf(double scale)
{
    int exponent = 0;
    if (std::frexp(scale, &exponent) != 0.5)
        return std::nullopt;
    return exponent - 1;
}

} // namespace

Rasterizer::Rasterizer(const Canvas& canvas, double scale, const ViewMapping& mapping)
    : m_canvas(canvas)
    , m_scale(scale * mapping.Scale())
    , m_originX(mapping.originX)
    , m_originY(mapping.originY)
    , m_wholeScale(m_scale == std::floor(m_scale) && m_scale >= 1 ? static_cast<int>(m_scale) : 0)
    , m_plain(m_wholeScale == 1 && m_originX == 0 && m_originY == 0)
    , m_shift(ShiftOf(m_scale))
    , m_markerSize(std::max(1, static_cast<int>(std::lround(8 * scale))))
    , m_marker(MarkerRows(m_markerSize))
{
    for (int dy = -kReach; dy <= kReach; ++dy) {
        for (int dx = -kReach; dx <= kReach; ++dx) {
            auto& entry = m_short[static_cast<std::size_t>((dy + kReach) * kSide + dx + kReach)];
            int n = 0;
            WalkLine(dx, dy, canvas.stride, [&](std::ptrdiff_t offset) { entry[n++] = offset; });
            for (; n < 8; ++n)
                entry[n] = entry[n - 1];
        }
    }
}

Rasterizer::Device Rasterizer::ToDevice(Point p) const
{
    const std::int64_t x = p.x - m_originX;
    const std::int64_t y = p.y - m_originY;
    if (m_wholeScale != 0)
        return {x * m_wholeScale, y * m_wholeScale};
    // Exact for a power of two; otherwise as the screen's own density maps.
    return {static_cast<std::int64_t>(std::floor(static_cast<double>(x) * m_scale)),
            static_cast<std::int64_t>(std::floor(static_cast<double>(y) * m_scale))};
}

template <class Plot> void Rasterizer::PlotPixel(Point p, Plot& plot) const
{
    const Device d = ToDevice(p);
    if (Inside(m_canvas, d.x, d.y))
        plot(d.y * m_canvas.stride + d.x);
}

// How a point becomes a device pixel. The plain screen takes the point as
// it is; a power of two shifts, which floors exactly; any other density
// multiplies as ToDevice does.
namespace {

struct PlainMap {
    Rasterizer::Device operator()(Point p) const { return {p.x, p.y}; }
};

struct ShiftMap {
    std::int64_t originX, originY;
    int shift; // left when positive
    Rasterizer::Device operator()(Point p) const
    {
        const std::int64_t x = p.x - originX;
        const std::int64_t y = p.y - originY;
        return shift >= 0 ? Rasterizer::Device{x << shift, y << shift}
                          : Rasterizer::Device{x >> -shift, y >> -shift};
    }
};

} // namespace

template <class Plot>
void Rasterizer::PlotSegments(std::span<const Point> points, std::size_t from, std::size_t to, Plot& plot) const
{
    from = std::max<std::size_t>(from, 1);
    if (from >= to)
        return;
    if (m_plain)
        PlotMapped(points, from, to, plot, PlainMap{});
    else if (m_shift)
        PlotMapped(points, from, to, plot, ShiftMap{m_originX, m_originY, *m_shift});
    else
        PlotMapped(points, from, to, plot, [this](Point p) { return ToDevice(p); });
}

// Most of a figure is short segments on the canvas, drawn here with
// everything in registers; zoomed out, most have both ends on one pixel.
template <class Plot, class Map>
void Rasterizer::PlotMapped(std::span<const Point> points, std::size_t from, std::size_t to, Plot& plot,
                            Map map) const
{
    const Canvas c = m_canvas;
    const auto* shortSegments = m_short.data();
    Device a = map(points[from - 1]);
    bool aInside = Inside(c, a.x, a.y);
    for (std::size_t i = from; i < to; ++i) {
        plot.Part(i);
        const Device b = map(points[i]);
        const bool bInside = Inside(c, b.x, b.y);
        // Offsets into the table, wrapping harmlessly for far-apart points.
        const std::uint64_t column = static_cast<std::uint64_t>(b.x) - static_cast<std::uint64_t>(a.x) + kReach;
        const std::uint64_t row = static_cast<std::uint64_t>(b.y) - static_cast<std::uint64_t>(a.y) + kReach;
        if (aInside && bInside && column < kSide && row < kSide) [[likely]] {
            // Both ends on one pixel, which the segment before has drawn,
            // plots that pixel again: cheaper than a branch that zoomed out
            // would go either way.
            const auto entry = static_cast<unsigned>(row * kSide + column);
            plot.Short(a.y * c.stride + a.x, shortSegments[entry]);
        } else if (aInside && bInside) {
            LineInside(c, static_cast<int>(a.x), static_cast<int>(a.y), static_cast<int>(b.x), static_cast<int>(b.y),
                       plot);
        } else {
            PartlyOutside(c, a.x, a.y, b.x, b.y, plot);
        }
        a = b;
        aInside = bInside;
    }
}

void Rasterizer::Pixel(Point p, std::uint32_t colour) const
{
    Paint paint{m_canvas.pixels, colour};
    PlotPixel(p, paint);
}

void Rasterizer::Segments(std::span<const Point> points, std::size_t from, std::size_t to, std::uint32_t colour) const
{
    Paint paint{m_canvas.pixels, colour};
    PlotSegments(points, from, to, paint);
}

void Rasterizer::CoverPixel(Point p, std::uint32_t* firsts, std::uint32_t ink) const
{
    Cover cover{m_canvas.pixels, firsts, ink};
    PlotPixel(p, cover);
}

void Rasterizer::CoverSegments(std::span<const Point> points, std::size_t from, std::size_t to, std::uint32_t* firsts,
                               std::uint32_t ink) const
{
    Cover cover{m_canvas.pixels, firsts, ink};
    PlotSegments(points, from, to, cover);
}

void Rasterizer::UncoverPixel(Point p, std::uint32_t* firsts, std::uint32_t background) const
{
    Uncover uncover{m_canvas.pixels, firsts, background};
    PlotPixel(p, uncover);
}

void Rasterizer::UncoverSegment(std::span<const Point> points, std::size_t i, std::uint32_t* firsts,
                                std::uint32_t background) const
{
    Uncover uncover{m_canvas.pixels, firsts, background};
    PlotSegments(points, i, i + 1, uncover);
}

Rasterizer::Box Rasterizer::MarkerBox(Point centre) const
{
    const Device d = ToDevice(centre);
    return {d.x - m_markerSize / 2, d.y - m_markerSize / 2, m_markerSize};
}

void Rasterizer::EndMarker(Point centre, std::uint32_t outline, std::uint32_t fill) const
{
    const Box box = MarkerBox(centre);
    for (int row = 0; row < box.size; ++row) {
        for (int col = 0; col < box.size; ++col) {
            const char cell = m_marker[static_cast<std::size_t>(row * box.size + col)];
            if (cell != ' ')
                SetPixel(m_canvas, box.left + col, box.top + row, cell == 'o' ? outline : fill);
        }
    }
}

void SetPixel(const Canvas& canvas, std::int64_t x, std::int64_t y, std::uint32_t colour)
{
    if (Inside(canvas, x, y))
        canvas.pixels[y * canvas.stride + x] = colour;
}

void DrawPolyline(const Canvas& canvas, std::span<const Point> points, std::uint32_t colour)
{
    if (points.empty() || canvas.width <= 0 || canvas.height <= 0)
        return;
    const Rasterizer raster(canvas);
    raster.Pixel(points[0], colour);
    raster.Segments(points, 1, points.size(), colour);
}

void DrawEndMarker(const Canvas& canvas, Point centre, std::uint32_t outline, std::uint32_t fill)
{
    Rasterizer(canvas).EndMarker(centre, outline, fill);
}

} // namespace kav
