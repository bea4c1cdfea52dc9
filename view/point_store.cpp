#include "view/point_store.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <new>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace kav {

namespace {

// Counts are signed 32-bit, so no buffer holds more.
constexpr std::int64_t kMaxCapacity = std::numeric_limits<std::int32_t>::max();

} // namespace

namespace {

// One thread for every large release, joined when the program ends.
class Releaser {
public:
    Releaser()
        : m_thread([this] { Run(); })
    {
    }
    ~Releaser()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    void Add(std::function<void()> release)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_queue.push_back(std::move(release));
        }
        m_wake.notify_one();
    }

private:
    void Run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_queue.empty())
                return; // stopped, and nothing left to free
            std::function<void()> release = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            release();
            release = nullptr; // what it held goes here, off the lock
            lock.lock();
        }
    }

    std::mutex m_mutex; // guards m_queue and m_stop
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace

void ReleaseLater(std::function<void()> release)
{
    static Releaser releaser;
    releaser.Add(std::move(release));
}

void ReleaseOnThread(PointBuffer buffer)
{
    const std::size_t bytes = PointArrayBytes(buffer.get());
    ReleaseOnThread(std::move(buffer), bytes);
}

void PointStore::DropBuffers()
{
    ReleaseOnThread(std::move(m_pointsA));
    ReleaseOnThread(std::move(m_pointsB));
    m_countA = m_countB = 0;
    m_capacityA = m_capacityB = 0;
}

PointStore::PointStore(PointReallocator reallocate)
    : m_pointsA(reallocate(nullptr, kInitialCapacity))
    , m_reallocate(reallocate)
{
    if (!m_pointsA)
        throw std::bad_alloc();
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
    // The other buffer is the old one grown: its points stay where they are
    // and the old array is released with it.
    PointBuffer& from = m_useA ? m_pointsA : m_pointsB;
    Point* grown = m_reallocate(from.get(), 2 * static_cast<std::size_t>(n));
    if (!grown)
        return false;
    (void)from.release();
    // The points moved with the buffer, so nothing is copied.
    Install(!m_useA, PointBuffer(grown), n, 2 * n, n);
    return true;
}

bool PointStore::AppendPoints(std::span<const Point> points)
{
    return Append(points.data(), points.size(), nullptr, false);
}

std::span<Point> PointStore::AppendRoom(std::size_t count)
{
    if (count == 0 || !Append(nullptr, count, nullptr, false))
        return {};
    const std::span<const Point> points = ActivePoints();
    return {const_cast<Point*>(points.data()) + (points.size() - count), count};
}

bool PointStore::AppendPoints(PointStore&& donor)
{
    return Append(donor.ActivePoints().data(), donor.ActivePoints().size(), &donor, false);
}

bool PointStore::ReplacePoints(PointStore&& donor)
{
    return Append(donor.ActivePoints().data(), donor.ActivePoints().size(), &donor, true);
}

bool PointStore::Append(const Point* from, std::size_t size, PointStore* donor, bool replace)
{
    if (size == 0) {
        if (replace)
            ClearPoints();
        return true;
    }

    // Walk the switches that one append at a time would make. Only the last
    // buffer survives them, so it is the only one allocated.
    const bool startA = m_useA;
    // Replacing appends to a cleared store; the counts change only once
    // the new buffer is certain.
    const std::int64_t count = replace ? 0 : startA ? m_countA : m_countB;
    if (size > static_cast<std::size_t>(kMaxCapacity))
        return false;
    const std::int64_t total = count + static_cast<std::int64_t>(size);
    std::int64_t capacity = startA ? m_capacityA : m_capacityB;
    std::int64_t otherCapacity = startA ? m_capacityB : m_capacityA;
    bool useA = startA;
    while (total >= capacity) {
        if (2 * capacity > kMaxCapacity)
            return false;
        otherCapacity = std::exchange(capacity, 2 * capacity);
        useA = !useA;
    }

    // An empty store takes the donor's buffer as it is, resized: no copy,
    // and no second buffer of the same size.
    const bool adopt = donor != nullptr && count == 0;
    PointBuffer& active = startA ? m_pointsA : m_pointsB;
    if (!adopt && useA == startA && capacity == (startA ? m_capacityA : m_capacityB)) {
        if (from != nullptr)
            std::copy(from, from + size, active.get() + count);
        (startA ? m_countA : m_countB) = static_cast<std::int32_t>(total);
        return true;
    }

    PointBuffer& source = adopt ? (donor->m_useA ? donor->m_pointsA : donor->m_pointsB) : active;
    // Points taken from this store's own buffer move with it when it grows.
    const std::less<const Point*> before;
    const Point* const old = active.get();
    const std::int32_t oldCapacity = startA ? m_capacityA : m_capacityB;
    const bool own = !adopt && from != nullptr && !before(from, old) && before(from, old + oldCapacity);
    Point* grown = m_reallocate(source.get(), static_cast<std::size_t>(capacity));
    if (!grown)
        return false;
    (void)source.release();
    PointBuffer fresh(grown);
    if (adopt) {
        // Left holding no points, and refusing appends rather than writing
        // into a buffer it no longer has. It takes this store's old buffers,
        // so that its owner decides where their release costs time.
        donor->m_pointsA = std::move(active);
        donor->m_pointsB = std::move(startA ? m_pointsB : m_pointsA);
        donor->m_countA = donor->m_countB = 0;
        donor->m_capacityA = donor->m_capacityB = 0;
        donor->m_useA = true;
    } else if (from != nullptr) {
        const Point* source = own ? grown + (from - old) : from;
        std::copy(source, source + size, fresh.get() + count);
    }

    Install(useA, std::move(fresh), static_cast<std::int32_t>(total), static_cast<std::int32_t>(capacity),
            static_cast<std::int32_t>(otherCapacity));
    return true;
}

void PointStore::Install(bool useA, PointBuffer buffer, std::int32_t count, std::int32_t capacity,
                         std::int32_t otherCapacity)
{
    (useA ? m_pointsA : m_pointsB) = std::move(buffer);
    (useA ? m_pointsB : m_pointsA).reset();
    (useA ? m_countA : m_countB) = count;
    (useA ? m_countB : m_countA) = 0;
    (useA ? m_capacityA : m_capacityB) = capacity;
    (useA ? m_capacityB : m_capacityA) = otherCapacity;
    m_useA = useA;
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
