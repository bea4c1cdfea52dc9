#pragma once

#include "view/point_store.h"

#include <cmath>
#include <cstdint>

namespace kav {

// Where the view looks at the figure: 2^zoom view pixels per figure unit,
// with the figure point `origin` at the view's top-left corner. Powers of
// two keep both directions exact in integers. At zoom 0 with the origin at
// (0, 0) it is the plain view, one pixel per unit.
struct ViewMapping {
    static constexpr int kMinZoom = -10; // 1/1024
    static constexpr int kMaxZoom = 6;   // 64

    int zoom = 0;
    std::int64_t originX = 0;
    std::int64_t originY = 0;

    friend bool operator==(const ViewMapping&, const ViewMapping&) = default;
    bool Plain() const { return *this == ViewMapping{}; }
    double Scale() const { return std::ldexp(1.0, zoom); }

    // The figure unit under view pixel `px`: zoomed out, the one at the
    // top-left corner of the pixel's cell.
    std::int64_t FigureX(std::int64_t px) const { return originX + ToFigure(px); }
    std::int64_t FigureY(std::int64_t py) const { return originY + ToFigure(py); }
    // The view pixel that shows figure coordinate x or y.
    std::int64_t ViewX(std::int64_t x) const { return ToView(x - originX); }
    std::int64_t ViewY(std::int64_t y) const { return ToView(y - originY); }

    // Figure units [low, high] on one axis whose view pixel lies within
    // `reach` of view pixel `p`.
    struct Span {
        std::int64_t low;
        std::int64_t high;
    };
    Span NearX(std::int64_t px, int reach) const { return Near(px, reach, originX); }
    Span NearY(std::int64_t py, int reach) const { return Near(py, reach, originY); }

    // `pixels` view pixels measured in figure units (zoomed in, rounded down).
    std::int64_t ToFigure(std::int64_t pixels) const { return zoom >= 0 ? pixels >> zoom : pixels << -zoom; }
    // `units` figure units in view pixels, rounded down.
    std::int64_t ToView(std::int64_t units) const { return zoom >= 0 ? units << zoom : units >> -zoom; }

private:
    Span Near(std::int64_t p, int reach, std::int64_t origin) const
    {
        if (zoom >= 0) // units whose first pixel is within reach
            return {origin - ((reach - p) >> zoom), origin + ((p + reach) >> zoom)};
        const int m = -zoom;
        return {origin + ((p - reach) << m), origin + ((p + reach + 1) << m) - 1};
    }
};

} // namespace kav
