#pragma once

#include "view/point_memory.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <functional>

namespace kav {

// One clicked or loaded point, in client pixels of the view (y grows downwards).
struct Point {
    std::int32_t x = 0;
    std::int32_t y = 0;

    friend bool operator==(const Point&, const Point&) = default;
};

struct PointBufferDeleter {
    void operator()(Point* points) const { FreePoints(points); }
};
using PointBuffer = std::unique_ptr<Point[], PointBufferDeleter>;

// Runs `release` on the one releasing thread, which lives until the program
// ends and frees in the order given.
void ReleaseLater(std::function<void()> release);

// Frees what `owner` holds, `bytes` of it, on the releasing thread when it
// is large, at once when not: unmapping hundreds of megabytes takes longer
// than a frame. Point buffers and the join index's tables go this way.
template <class Owner> void ReleaseOnThread(Owner owner, std::size_t bytes)
{
    constexpr std::size_t kOnThreadBytes = std::size_t{64} << 20;
    if (bytes >= kOnThreadBytes)
        ReleaseLater([old = std::make_shared<Owner>(std::move(owner))]() mutable { old.reset(); });
}
void ReleaseOnThread(PointBuffer buffer);

struct PointStoreProbe;

// The view's points in click order, kept in two buffers that take turns:
// when the active one fills up, the other is allocated at twice the size,
// the points move across and it becomes the active one.
//
// Counts and capacities are signed 32-bit, so the store holds at most
// 2^30 - 1 points. An append that would need a larger or an unobtainable
// buffer is refused and leaves the store exactly as it was.
class PointStore {
public:
    static constexpr std::int32_t kInitialCapacity = 256;

    explicit PointStore(PointReallocator reallocate = &ReallocatePoints);
    PointStore(const PointStore&) = delete;
    PointStore& operator=(const PointStore&) = delete;

    std::span<const Point> ActivePoints() const
    {
        return m_useA ? std::span<const Point>(m_pointsA.get(), static_cast<std::size_t>(m_countA))
                      : std::span<const Point>(m_pointsB.get(), static_cast<std::size_t>(m_countB));
    }

    bool HasPoints() const { return m_countA > 0 || m_countB > 0; }
    // Whether appending `count` points writes them into the active buffer
    // after the points there, moving nothing: the rule that AppendPoint and
    // AppendPoints follow.
    bool AppendsInPlace(std::size_t count) const
    {
        const std::int64_t capacity = m_useA ? m_capacityA : m_capacityB;
        return static_cast<std::int64_t>(ActivePoints().size()) + static_cast<std::int64_t>(count) < capacity;
    }
    // Where this store's buffers come from.
    PointReallocator Reallocator() const { return m_reallocate; }

    // Stores p after the newest point. False when the store cannot grow;
    // nothing has changed then.
    [[nodiscard]] bool AppendPoint(Point p)
    {
        std::int32_t& count = m_useA ? m_countA : m_countB;
        const std::int32_t at = count;
        if (at + 1 < (m_useA ? m_capacityA : m_capacityB)) [[likely]] {
            Point* buffer = m_useA ? m_pointsA.get() : m_pointsB.get();
            count = at + 1;
            buffer[at] = p;
            return true;
        }
        return AppendAndGrow(p);
    }

    // Appends all of `points` with the same end state as one AppendPoint
    // each, or none of them (false) when the store cannot grow that far.
    [[nodiscard]] bool AppendPoints(std::span<const Point> points);
    // Room for `count` more points, which the caller writes, with the end
    // state of AppendPoints of as many; empty when the store cannot grow
    // that far, and nothing has changed then.
    [[nodiscard]] std::span<Point> AppendRoom(std::size_t count);
    // The same for the points of `donor`. An empty store takes over the
    // donor's buffer instead of copying it; the donor is then left empty,
    // refuses further points, and holds this store's old buffers until it
    // goes.
    [[nodiscard]] bool AppendPoints(PointStore&& donor);
    // Clears the store and appends the donor's points, as one step: when the
    // points do not fit, the store keeps its own.
    [[nodiscard]] bool ReplacePoints(PointStore&& donor);

    void RemoveLastPoint();
    void ClearPoints();
    // Drops the points and the buffers, large ones on the releasing
    // thread; the store then refuses further points, as a donor does.
    void DropBuffers();

    // The two buffers' counts, capacities and which one is active: the
    // point count readout names the buffer.
    struct Layout {
        std::int32_t countA, countB, capacityA, capacityB;
        bool useA;
        bool bufferA, bufferB; // whether each is allocated
        friend bool operator==(const Layout&, const Layout&) = default;
    };
    Layout State() const
    {
        return {m_countA, m_countB, m_capacityA, m_capacityB, m_useA, m_pointsA != nullptr, m_pointsB != nullptr};
    }

private:
    // A test pretends a nearly full buffer of 2^30 points through it.
    friend struct PointStoreProbe;

    PointBuffer m_pointsA;
    PointBuffer m_pointsB;
    std::int32_t m_countA = 0;
    std::int32_t m_countB = 0;
    std::int32_t m_capacityA = kInitialCapacity;
    std::int32_t m_capacityB = kInitialCapacity;
    bool m_useA = true;

    bool AppendAndGrow(Point p);
    // Appends `size` points from `from`, or leaves them to be written when
    // it is nullptr.
    bool Append(const Point* from, std::size_t size, PointStore* donor, bool replace);
    // Makes `buffer` the active one, holding `count` points; the other
    // buffer is released.
    void Install(bool useA, PointBuffer buffer, std::int32_t count, std::int32_t capacity, std::int32_t otherCapacity);
    // The capacity check that follows every append: a full active buffer
    // moves into the other one at twice the size. False when that buffer
    // cannot be had; nothing has changed then.
    bool GrowIfFull();

    PointReallocator m_reallocate;
};

} // namespace kav
