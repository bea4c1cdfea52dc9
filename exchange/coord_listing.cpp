#include "exchange/coord_listing.h"

#include <algorithm>
#include <charconv>

namespace kav {

namespace {

// Point i's pair, with the comma that follows it unless it is the last;
// returns the end. Needs 46 characters of room.
char* WritePair(char* out, std::span<const Point> points, std::size_t i, std::int32_t cx, std::int32_t cy)
{
    out = std::to_chars(out, out + 20, std::int64_t{points[i].x} - cx).ptr;
    *out++ = ',';
    out = std::to_chars(out, out + 20, std::int64_t{points[i].y} - cy).ptr;
    if (i + 1 < points.size())
        *out++ = ',';
    return out;
}

} // namespace

std::string FormatListing(std::span<const Point> points, std::int32_t cx, std::int32_t cy)
{
    std::string text;
    char pair[48];
    for (std::size_t i = 0; i < points.size(); ++i)
        text.append(pair, WritePair(pair, points, i, cx, cy));
    return text;
}

ListingWriter::ListingWriter(std::span<const Point> points, std::int32_t cx, std::int32_t cy)
    : m_points(points)
    , m_cx(cx)
    , m_cy(cy)
{
}

std::size_t ListingWriter::Write(char16_t* out, std::size_t room)
{
    char16_t* const start = out;
    char16_t* const end = out + room;
    for (;;) {
        const std::size_t take = std::min<std::size_t>(m_pendingEnd - m_pendingAt, end - out);
        out = std::copy(m_pending + m_pendingAt, m_pending + m_pendingAt + take, out);
        m_pendingAt += take;
        if (m_pendingAt < m_pendingEnd || m_next == m_points.size())
            break;
        // Whole pairs go straight to `out` while they surely fit.
        while (end - out >= 48 && m_next < m_points.size()) {
            char pair[48];
            const char* pairEnd = WritePair(pair, m_points, m_next++, m_cx, m_cy);
            out = std::copy(static_cast<const char*>(pair), pairEnd, out);
        }
        if (m_next == m_points.size() || out == end)
            break;
        m_pendingAt = 0;
        m_pendingEnd = static_cast<std::size_t>(WritePair(m_pending, m_points, m_next++, m_cx, m_cy) - m_pending);
    }
    return static_cast<std::size_t>(out - start);
}

} // namespace kav
