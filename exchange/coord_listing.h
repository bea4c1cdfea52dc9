#pragma once

#include "view/point_store.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kav {

// The listing "x1,y1,x2,y2,...": every coordinate relative to the centre
// (cx, cy), written in full however large the difference; no spaces, no line
// breaks, no comma at the end.
std::string FormatListing(std::span<const Point> points, std::int32_t cx, std::int32_t cy);

// The same listing, written a piece at a time into the caller's own
// characters, so that millions of points need no copy of the whole text.
class ListingWriter {
public:
    ListingWriter(std::span<const Point> points, std::int32_t cx, std::int32_t cy);

    // Writes the next characters, `room` of them or up to the end, and
    // returns how many it wrote.
    std::size_t Write(char16_t* out, std::size_t room);
    bool AtEnd() const { return m_next == m_points.size() && m_pendingAt == m_pendingEnd; }

private:
    std::span<const Point> m_points;
    std::int32_t m_cx;
    std::int32_t m_cy;
    std::size_t m_next = 0; // the next point to write
    char m_pending[48]; // a pair that did not fit the last piece
    std::size_t m_pendingAt = 0;
    std::size_t m_pendingEnd = 0;
};

} // namespace kav
