#include "view/figure_picture.h"

#include <algorithm>
#include <cmath>

namespace kav {

namespace {

// Segments drawn between looks at the clock.
constexpr std::size_t kSlice = 8192;

} // namespace

bool FigurePicture::Resize(int width, int height, double scale)
{
    if (width == m_width && height == m_height && scale == m_scale)
        return false;
    m_width = std::max(width, 0);
    m_height = std::max(height, 0);
    m_scale = scale;
    m_pixels.assign(static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height), kBackground);
    m_raster.emplace(Pixels(), scale);
    m_drawn = 0;
    m_stale = false;
    return true;
}

bool FigurePicture::Update(std::span<const Point> points, Clock::time_point deadline)
{
    if (!m_raster)
        Resize(0, 0, 1.0);
    if (m_stale || points.size() < m_drawn) {
        std::fill(m_pixels.begin(), m_pixels.end(), kBackground);
        m_drawn = 0;
        m_stale = false;
    }
    if (m_drawn == 0 && !points.empty()) {
        m_raster->Pixel(points[0], kInk);
        m_drawn = 1;
    }
    while (m_drawn < points.size()) {
        const std::size_t to = std::min(points.size(), m_drawn + kSlice);
        m_raster->Segments(points, m_drawn, to, kInk);
        m_drawn = to;
        if (Clock::now() >= deadline)
            break;
    }
    return m_drawn == points.size();
}

FigurePicture::Marker::Marker(FigurePicture& picture, Point centre)
    : m_picture(picture)
{
    // The marker's box in device pixels, as the rasteriser places it.
    m_size = std::max(1, static_cast<int>(std::lround(8 * picture.m_scale)));
    const auto device
        = [&](std::int32_t v) { return static_cast<std::int64_t>(std::floor(v * picture.m_scale)) - m_size / 2; };
    const std::int64_t left = std::clamp<std::int64_t>(device(centre.x), -m_size, picture.m_width);
    const std::int64_t top = std::clamp<std::int64_t>(device(centre.y), -m_size, picture.m_height);
    m_left = static_cast<int>(left);
    m_top = static_cast<int>(top);
    m_under.resize(static_cast<std::size_t>(m_size * m_size));
    const Canvas c = picture.Pixels();
    for (int row = 0; row < m_size; ++row)
        for (int col = 0; col < m_size; ++col)
            if (m_left + col >= 0 && m_top + row >= 0 && m_left + col < c.width && m_top + row < c.height)
                m_under[static_cast<std::size_t>(row * m_size + col)]
                    = c.pixels[(m_top + row) * c.stride + m_left + col];
    if (picture.m_raster)
        picture.m_raster->EndMarker(centre, kInk, kBackground);
}

FigurePicture::Marker::~Marker()
{
    const Canvas c = m_picture.Pixels();
    for (int row = 0; row < m_size; ++row)
        for (int col = 0; col < m_size; ++col)
            if (m_left + col >= 0 && m_top + row >= 0 && m_left + col < c.width && m_top + row < c.height)
                c.pixels[(m_top + row) * c.stride + m_left + col]
                    = m_under[static_cast<std::size_t>(row * m_size + col)];
}

} // namespace kav
