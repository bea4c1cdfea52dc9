#include "view/figure_picture.h"

#include "view/join_index.h"

#include <algorithm>
#include <cmath>

namespace kav {

namespace {

// Segments drawn between looks at the clock.
constexpr std::size_t kSlice = 8192;

} // namespace

bool FigurePicture::Resize(int width, int height, double scale, const ViewMapping& mapping)
{
    if (m_raster && width == m_width && height == m_height && scale == m_scale && mapping == m_mapping)
        return false;
    m_width = std::max(width, 0);
    m_height = std::max(height, 0);
    m_scale = scale;
    m_mapping = mapping;
    const std::size_t size = static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height);
    m_pixels.assign(size, kBackground);
    m_firsts.assign(size, Rasterizer::kUncovered);
    m_raster.emplace(Pixels(), scale, mapping);
    m_drawn = 0;
    m_stale = false;
    return true;
}

NearBox FigurePicture::FigureBox() const
{
    const double scale = m_scale * m_mapping.Scale();
    // Past the last pixel's unit, with one more for the rounding.
    const auto across = [scale](int pixels) { return static_cast<std::int64_t>(std::ceil(pixels / scale)) + 1; };
    return {m_mapping.originX, m_mapping.originX + across(m_width), m_mapping.originY,
            m_mapping.originY + across(m_height)};
}

bool FigurePicture::Update(std::span<const Point> points, Clock::time_point deadline, const JoinIndex* index)
{
    if (!m_raster)
        Resize(0, 0, 1.0);
    if (m_stale || points.size() < m_drawn) {
        std::fill(m_pixels.begin(), m_pixels.end(), kBackground);
        std::fill(m_firsts.begin(), m_firsts.end(), Rasterizer::kUncovered);
        m_drawn = 0;
        m_stale = false;
    }
    if (m_drawn == 0 && !points.empty()) {
        m_raster->CoverPixel(points[0], m_firsts.data(), kInk);
        m_drawn = 1;
    }
    const NearBox box = FigureBox();
    const auto draw = [&](std::size_t from, std::size_t to) {
        m_raster->CoverSegments(points, from, to, m_firsts.data(), kInk);
    };
    while (m_drawn < points.size()) {
        const std::size_t to = std::min(points.size(), m_drawn + kSlice);
        if (index)
            index->ForSegmentsIn(points, m_drawn, to, box, draw);
        else
            draw(m_drawn, to);
        m_drawn = to;
        if (Clock::now() >= deadline)
            break;
    }
    return m_drawn == points.size();
}

bool FigurePicture::RemoveLast(std::span<const Point> before)
{
    if (m_stale || !m_raster || before.empty() || m_drawn > before.size()) {
        Restart();
        return false;
    }
    const std::size_t last = before.size() - 1;
    if (m_drawn <= last)
        return true; // not drawn yet
    if (last == 0)
        m_raster->UncoverPixel(before[0], m_firsts.data(), kBackground);
    else
        m_raster->UncoverSegment(before, last, m_firsts.data(), kBackground);
    m_drawn = last;
    return true;
}

FigurePicture::Marker::Marker(FigurePicture& picture, Point centre)
    : m_picture(picture)
{
    if (!picture.m_raster)
        return;
    m_box = picture.m_raster->MarkerBox(centre);
    m_under.resize(static_cast<std::size_t>(m_box.size * m_box.size));
    ForEachPixel([](std::uint32_t& pixel, std::uint32_t& under) { under = pixel; });
    picture.m_raster->EndMarker(centre, kInk, kBackground);
}

FigurePicture::Marker::~Marker()
{
    ForEachPixel([](std::uint32_t& pixel, std::uint32_t& under) { pixel = under; });
}

// Calls visit(pixel, saved) for each pixel of the box that lies on the picture.
template <class Visit> void FigurePicture::Marker::ForEachPixel(Visit visit)
{
    const Canvas c = m_picture.Pixels();
    for (int row = 0; row < m_box.size; ++row) {
        for (int col = 0; col < m_box.size; ++col) {
            const std::int64_t x = m_box.left + col;
            const std::int64_t y = m_box.top + row;
            if (x >= 0 && y >= 0 && x < c.width && y < c.height)
                visit(c.pixels[y * c.stride + x], m_under[static_cast<std::size_t>(row * m_box.size + col)]);
        }
    }
}

void FigurePicture::PointsChanging(const PointChange& change, std::span<const Point> before)
{
    using Kind = PointChange::Kind;
    switch (change.kind) {
    case Kind::RemoveLast:
        RemoveLast(before);
        break;
    case Kind::Clear:
    case Kind::ReplaceAll:
    case Kind::Recovered:
        Restart();
        break;
    case Kind::Append:
    case Kind::AppendAll:
    case Kind::Redo:
        break;
    }
}

} // namespace kav
