#pragma once

#include "view/point_store.h"
#include "view/view_mapping.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kav {

// A 32-bit pixel image in memory: `stride` is in pixels.
struct Canvas {
    std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;
};

// Draws the figure's parts onto a canvas of device pixels, `scale` of them
// per pixel of the view, the view showing the figure through `mapping`: the
// figure point (x, y) is the device pixel (floor((x - originX) * s),
// floor((y - originY) * s)) with s = scale * 2^zoom, and lines stay one
// device pixel wide, so that a high-density screen shows them sharp. Any
// coordinates are safe: segments are clipped to the canvas and nothing is
// written outside it. The end marker keeps its size in view pixels.
class Rasterizer {
public:
    explicit Rasterizer(const Canvas& canvas, double scale = 1.0, const ViewMapping& mapping = {});

    // One pixel; pixels outside the canvas are ignored.
    void Pixel(Point p, std::uint32_t colour) const;
    // The segments that end at points[from] to points[to - 1], each drawn
    // from the point before it, whose pixel the segment before it (or the
    // first point's Pixel) has drawn already.
    void Segments(std::span<const Point> points, std::size_t from, std::size_t to, std::uint32_t colour) const;
    // Coverage: Pixel and Segments in `ink` that also keep, per pixel (one
    // entry per canvas pixel, at the canvas's stride), the earliest part
    // that drew it: the pixel is 0, the segment ending at points[i] is i,
    // and kUncovered marks a pixel none drew. The Uncover calls take the
    // newest part back exactly, walking the same pixels: a pixel whose
    // earliest part it was gets `background`, and any other keeps its ink
    // for the earlier part that drew it too. Undo takes the newest part
    // only, so that is every pixel a redraw would leave.
    // Every index fits: the store holds fewer than 2^31 points.
    static constexpr std::uint32_t kUncovered = 0xFFFFFFFF;
    void CoverPixel(Point p, std::uint32_t* firsts, std::uint32_t ink) const;
    void CoverSegments(std::span<const Point> points, std::size_t from, std::size_t to, std::uint32_t* firsts,
                       std::uint32_t ink) const;
    void UncoverPixel(Point p, std::uint32_t* firsts, std::uint32_t background) const;
    void UncoverSegment(std::span<const Point> points, std::size_t i, std::uint32_t* firsts,
                        std::uint32_t background) const;

    // The marker of the newest point: the circle in the box (x-4, y-4) to
    // (x+4, y+4) of the view, right and bottom edges excluded, outlined and
    // filled.
    void EndMarker(Point centre, std::uint32_t outline, std::uint32_t fill) const;

    // The square of device pixels that the end marker at `centre` covers.
    struct Box {
        std::int64_t left;
        std::int64_t top;
        int size;
    };
    Box MarkerBox(Point centre) const;

    struct Device {
        std::int64_t x;
        std::int64_t y;
    };

private:
    Device ToDevice(Point p) const;
    // The walks behind every drawing call: plot(y * stride + x) per pixel.
    template <class Plot> void PlotPixel(Point p, Plot& plot) const;
    template <class Plot>
    void PlotSegments(std::span<const Point> points, std::size_t from, std::size_t to, Plot& plot) const;
    template <class Plot, class Map>
    void PlotMapped(std::span<const Point> points, std::size_t from, std::size_t to, Plot& plot, Map map) const;

    // The pixels of every segment of up to 7 pixels per axis, as offsets,
    // padded to eight by repeating the last one: eight plain stores draw
    // any of them, with no loop whose end mispredicts.
    static constexpr int kReach = 7;
    static constexpr int kSide = 2 * kReach + 1;
    std::array<std::array<std::ptrdiff_t, 8>, kSide * kSide> m_short;

    Canvas m_canvas;
    double m_scale; // device pixels per figure unit
    std::int64_t m_originX;
    std::int64_t m_originY;
    int m_wholeScale; // the scale when it is a whole number, else 0
    bool m_plain; // one device pixel per unit from (0, 0)
    std::optional<int> m_shift; // log2 of the scale, when it is a power of two
    int m_markerSize; // the marker's box in device pixels
    std::vector<char> m_marker; // its rows: 'o' outline, '.' inside, ' ' untouched
};

// The polyline through `points`: the first point's pixel, then 1-pixel
// segments between consecutive points.
void DrawPolyline(const Canvas& canvas, std::span<const Point> points, std::uint32_t colour);

// The end marker at `centre`, at the scale of 1.
void DrawEndMarker(const Canvas& canvas, Point centre, std::uint32_t outline, std::uint32_t fill);

// Sets one pixel; pixels outside the canvas are ignored.
void SetPixel(const Canvas& canvas, std::int64_t x, std::int64_t y, std::uint32_t colour);

} // namespace kav
