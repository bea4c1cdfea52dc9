#include "view/point_store.h"

#include <algorithm>
#include <limits>
#include <new>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace kav {

namespace {

constexpr std::int64_t kMaxCapacity = std::numeric_limits<std::int32_t>::max();

} // namespace

PointStore::PointStore(PointAllocator allocate)
    : m_pointsA(allocate(kInitialCapacity))
    , m_allocate(allocate)
{
    if (!m_pointsA)
        throw std::bad_alloc();
}

Point* PointStore::AllocatePoints(std::size_t count)
{
    // Raw storage: `new Point[n]` would zero every slot, and every slot is
    // written before it is read. Points are implicit-lifetime objects.
    const std::size_t bytes = count * sizeof(Point);
    void* memory = ::operator new[](bytes, std::nothrow);
#if defined(__linux__)
    // A large buffer is filled soon after it is made (a switch copies half
    // of it at once); huge pages spare most of the page faults.
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    if (memory && bytes >= 4 * kHuge) {
        const auto at = reinterpret_cast<std::uintptr_t>(memory);
        const std::uintptr_t begin = (at + kHuge - 1) & ~(kHuge - 1);
        const std::uintptr_t end = (at + bytes) & ~(kHuge - 1);
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
#endif
    return static_cast<Point*>(memory);
}

bool PointStore::AppendAndGrow(Point p)
{
    std::int32_t& count = m_useA ? m_countA : m_countB;
    const std::int32_t capacity = m_useA ? m_capacityA : m_capacityB;
    if (count >= capacity)
        return false; // only a store whose members were set by hand gets here
    // This append fills the buffer; refuse before writing when the switch
    // that follows could not double it.
    if (count + 1 == capacity && 2 * std::int64_t{capacity} > kMaxCapacity)
        return false;
    (m_useA ? m_pointsA : m_pointsB)[count] = p;
    ++count;
    if (!GrowIfFull()) {
        --count;
        return false;
    }
    return true;
}

bool PointStore::GrowIfFull()
{
    const bool full = m_useA ? m_countA >= m_capacityA : m_countB >= m_capacityB;
    if (!full)
        return true;

    const std::int32_t n = m_useA ? m_capacityA : m_capacityB;
    if (2 * std::int64_t{n} > kMaxCapacity)
        return false;
    PointBuffer fresh(m_allocate(2 * static_cast<std::size_t>(n)));
    if (!fresh)
        return false;

    if (m_useA) {
        std::copy_n(m_pointsA.get(), n, fresh.get());
        m_pointsB = std::move(fresh);
        m_pointsA.reset(); // never used again: the next switch allocates anew
        m_countB = m_countA;
        m_capacityB = 2 * n;
        m_countA = 0;
        m_useA = false;
    } else {
        std::copy_n(m_pointsB.get(), n, fresh.get());
        m_pointsA = std::move(fresh);
        m_pointsB.reset();
        m_countA = m_countB;
        m_capacityA = 2 * n;
        m_countB = 0;
        m_useA = true;
    }
    return true;
}

bool PointStore::AppendPoints(std::span<const Point> points)
{
    if (points.empty())
        return true;

    // Walk the switches that one append at a time would make. Only the last
    // buffer survives them, so it is the only one allocated.
    const bool startA = m_useA;
    const std::int64_t count = startA ? m_countA : m_countB;
    const std::int64_t total = count + static_cast<std::int64_t>(points.size());
    std::int64_t capacity = startA ? m_capacityA : m_capacityB;
    std::int64_t otherCapacity = startA ? m_capacityB : m_capacityA;
    bool useA = startA;
    while (total >= capacity) {
        if (2 * capacity > kMaxCapacity)
            return false;
        otherCapacity = std::exchange(capacity, 2 * capacity);
        useA = !useA;
    }

    Point* active = startA ? m_pointsA.get() : m_pointsB.get();
    if (useA == startA && capacity == (startA ? m_capacityA : m_capacityB)) {
        std::copy(points.begin(), points.end(), active + count);
        (startA ? m_countA : m_countB) = static_cast<std::int32_t>(total);
        return true;
    }

    PointBuffer fresh(m_allocate(static_cast<std::size_t>(capacity)));
    if (!fresh)
        return false;
    std::copy_n(active, count, fresh.get());
    std::copy(points.begin(), points.end(), fresh.get() + count);

    const auto cap32 = static_cast<std::int32_t>(capacity);
    const auto other32 = static_cast<std::int32_t>(otherCapacity);
    if (useA) {
        m_pointsA = std::move(fresh);
        m_pointsB.reset();
        m_countA = static_cast<std::int32_t>(total);
        m_countB = 0;
        m_capacityA = cap32;
        m_capacityB = other32;
    } else {
        m_pointsB = std::move(fresh);
        m_pointsA.reset();
        m_countB = static_cast<std::int32_t>(total);
        m_countA = 0;
        m_capacityB = cap32;
        m_capacityA = other32;
    }
    m_useA = useA;
    return true;
}

void PointStore::RemoveLastPoint()
{
    if (m_useA && m_countA > 0)
        --m_countA;
    else if (m_countB > 0)
        --m_countB;
}

void PointStore::ClearPoints()
{
    m_countA = 0;
    m_countB = 0;
}

} // namespace kav
