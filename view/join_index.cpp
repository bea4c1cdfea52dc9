#include "view/join_index.h"

#include <algorithm>
#include <limits>

namespace kav {

namespace {

// Fill no more than three quarters of the slots, so that a search for an
// empty position ends after a few probes.
constexpr std::size_t kMaxLoadPercent = 75;
constexpr std::size_t kMinSlots = 1024;

bool InRange(std::int64_t v)
{
    return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
}

} // namespace

std::size_t JoinIndex::Home(std::int64_t x, std::int64_t y) const
{
    std::uint64_t h = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(x)) << 32) | static_cast<std::uint32_t>(y);
    h *= 0x9E3779B97F4A7C15ULL;
    h ^= h >> 29;
    // The high half, scaled to the table without a division.
    return static_cast<std::size_t>(((h >> 32) * m_slots.size()) >> 32);
}

std::size_t JoinIndex::Probe(std::span<const Point> points, std::int64_t x, std::int64_t y) const
{
    std::size_t slot = Home(x, y);
    for (;;) {
        const std::uint32_t index = m_slots[slot];
        if (index == kEmpty || (index < points.size() && points[index].x == x && points[index].y == y))
            return slot;
        if (++slot == m_slots.size())
            slot = 0;
    }
}

std::ptrdiff_t JoinIndex::Find(std::span<const Point> points, Point at, int reach) const
{
    const std::size_t indexed = std::min(m_indexed, points.size());
    std::ptrdiff_t best = -1;
    if (m_entries > 0) {
        for (std::int64_t y = std::int64_t{at.y} - reach; y <= std::int64_t{at.y} + reach; ++y) {
            for (std::int64_t x = std::int64_t{at.x} - reach; x <= std::int64_t{at.x} + reach; ++x) {
                if (!InRange(x) || !InRange(y))
                    continue;
                const std::uint32_t index = m_slots[Probe(points, x, y)];
                if (index != kEmpty && index < indexed && (best < 0 || index < best))
                    best = index;
            }
        }
    }
    // A point in the table comes before every point after it.
    if (best >= 0)
        return best;
    const std::ptrdiff_t later = FindNearIndex(points.subspan(indexed), at, reach);
    return later < 0 ? -1 : later + static_cast<std::ptrdiff_t>(indexed);
}

bool JoinIndex::IndexMore(std::span<const Point> points, std::size_t count)
{
    if (m_indexed > points.size())
        m_indexed = points.size(); // only a store changed behind the index's back
    const std::size_t end = count < points.size() - m_indexed ? m_indexed + count : points.size();
    if (end > m_indexed && (m_entries + (end - m_indexed)) * 100 > m_slots.size() * kMaxLoadPercent) {
        // Too small for what is coming: a table for half as many points
        // again, filled anew from the first point, a slice at a time like
        // the rest. Until then the search walks what is not in it.
        const std::size_t planned = std::max(kMinSlots, points.size() + points.size() / 2);
        m_slots.assign(planned * 100 / kMaxLoadPercent, kEmpty);
        m_entries = 0;
        m_indexed = 0;
        return IndexMore(points, count);
    }
    for (; m_indexed < end; ++m_indexed) {
        const Point p = points[m_indexed];
        const std::size_t slot = Probe(points, p.x, p.y);
        if (m_slots[slot] == kEmpty) { // else an earlier point holds the position
            m_slots[slot] = static_cast<std::uint32_t>(m_indexed);
            ++m_entries;
        }
    }
    return m_indexed == points.size();
}

void JoinIndex::Forget(std::span<const Point> points, std::size_t first)
{
    if (first >= m_indexed)
        return;
    // Many to forget: cheaper to start over.
    if (first == 0 || m_indexed - first > m_indexed / 2) {
        std::vector<std::uint32_t>().swap(m_slots); // sized again for the points there will be
        m_entries = 0;
        m_indexed = 0;
        return;
    }
    // Newest first: a point is in the table only if no earlier one shares
    // its position, and then it is the only one there.
    while (m_indexed > first) {
        --m_indexed;
        const Point p = points[m_indexed];
        const std::size_t slot = Probe(points, p.x, p.y);
        if (m_slots[slot] == m_indexed)
            Erase(points, slot);
    }
}

// Linear probing's deletion: later entries of the run move back into the
// gap when their home allows, so that no search stops short of them.
void JoinIndex::Erase(std::span<const Point> points, std::size_t slot)
{
    const std::size_t size = m_slots.size();
    std::size_t gap = slot;
    std::size_t next = slot;
    for (;;) {
        if (++next == size)
            next = 0;
        const std::uint32_t index = m_slots[next];
        if (index == kEmpty)
            break;
        const std::size_t home = Home(points[index].x, points[index].y);
        // The entry may fill the gap unless its home lies after the gap, up
        // to and including its own slot, going round the table.
        const bool homeAfterGap = gap <= next ? (gap < home && home <= next) : (gap < home || home <= next);
        if (!homeAfterGap) {
            m_slots[gap] = index;
            gap = next;
        }
    }
    m_slots[gap] = kEmpty;
    --m_entries;
}

} // namespace kav
