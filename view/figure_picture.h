#pragma once

#include "view/geometry.h"
#include "view/point_document.h"
#include "view/raster.h"

#include <chrono>
#include <optional>
#include <span>
#include <vector>

namespace kav {

class JoinIndex;

// The figure as drawn so far, kept between paints: a paint with nothing new
// only shows it again, a new point adds only its own segment, and a redraw
// too long for one paint goes on where it stopped. The end marker is not
// part of it, since it moves with every point; it is put on top only while
// the picture is shown. Each pixel keeps the earliest part that drew it, so
// that Undo takes back the last segment alone and leaves exactly the pixels
// that a redraw would give.
class FigurePicture final : public PointObserver {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::uint32_t kInk = 0xFF000000;
    static constexpr std::uint32_t kBackground = 0xFFFFFFFF;

    // The size in device pixels, how many of them make a pixel of the view,
    // and where the view looks at the figure. A change starts the picture
    // over; true when it changed.
    bool Resize(int width, int height, double scale, const ViewMapping& mapping = {});
    const ViewMapping& Mapping() const { return m_mapping; }
    // Starts the picture over: the points changed other than by new ones at
    // the end.
    void Restart() { m_stale = true; }

    // Draws what `points` has that the picture lacks, stopping once
    // `deadline` has passed. True when the picture shows every point. The
    // bounds in `index`, when given, pass over the blocks out of view.
    bool Update(std::span<const Point> points, Clock::time_point deadline, const JoinIndex* index = nullptr);
    // The figure units that the picture can show, with a unit to spare.
    NearBox FigureBox() const;
    // Takes back the last of `before` (the points before it goes). When it
    // cannot (the picture is stale) it starts the picture over and returns
    // false.
    bool RemoveLast(std::span<const Point> before);
    bool Shows(std::size_t count) const { return !m_stale && m_drawn == count; }

    // Undo takes back its segment, and a change of more than the end starts
    // the picture over; new points are drawn at the next Update.
    void PointsChanging(const PointChange& change, std::span<const Point> before) override;
    void PointsChanged(const PointChange&, std::span<const Point>) override {}

    Canvas Pixels() { return {m_pixels.data(), m_width, m_height, m_width}; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // The end marker at `centre`, on the picture for as long as the object
    // lives; what was under it comes back afterwards.
    class Marker {
    public:
        Marker(FigurePicture& picture, Point centre);
        ~Marker();
        Marker(const Marker&) = delete;
        Marker& operator=(const Marker&) = delete;
        // The device pixels it covers.
        Rasterizer::Box Box() const { return m_box; }

    private:
        template <class Visit> void ForEachPixel(Visit visit);

        FigurePicture& m_picture;
        Rasterizer::Box m_box{0, 0, 0};
        std::vector<std::uint32_t> m_under;
    };

private:
    std::vector<std::uint32_t> m_pixels;
    std::vector<std::uint32_t> m_firsts; // the earliest part that drew each pixel
    int m_width = 0;
    int m_height = 0;
    double m_scale = 1.0;
    ViewMapping m_mapping;
    std::optional<Rasterizer> m_raster;
    std::size_t m_drawn = 0; // the points drawn, from the first
    bool m_stale = true; // the pixels show something else: clear first
};

} // namespace kav
