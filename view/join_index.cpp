#include "view/join_index.h"

#include "view/target_clones.h"

#include <algorithm>
#include <limits>
#include <thread>

namespace kav {

namespace {

// Fill no more than three quarters of the slots, so that a search for an
// empty position ends after a few probes.
constexpr std::size_t kMaxLoadPercent = 75;
constexpr std::size_t kMinSlots = 1024;

std::uint32_t Load(const std::uint32_t& slot)
{
    // A load that only reads, though atomic_ref takes no const.
    return std::atomic_ref<std::uint32_t>(const_cast<std::uint32_t&>(slot)).load(std::memory_order_relaxed);
}

void Store(std::uint32_t& slot, std::uint32_t index)
{
    std::atomic_ref<std::uint32_t>(slot).store(index, std::memory_order_relaxed);
}

void Release(std::vector<std::uint32_t>&& slots)
{
    const std::size_t bytes = slots.size() * sizeof(std::uint32_t);
    ReleaseOnThread(std::move(slots), bytes);
}

} // namespace

// As a run of coordinates, x and y by turns, in lanes that the compiler
// keeps in vector registers: a scalar loop over the points runs at a
// third of the speed.
KAV_TARGET_CLONES("avx2", "default") JoinIndex::Bounds JoinIndex::BlockBounds(const Point* block)
{
    constexpr std::size_t kLanes = 16;
    static_assert(sizeof(Point) == 2 * sizeof(std::int32_t) && kBlock * 2 % kLanes == 0);
    const auto* v = reinterpret_cast<const std::int32_t*>(block);
    std::int32_t low[kLanes], high[kLanes];
    for (std::size_t k = 0; k < kLanes; ++k)
        low[k] = high[k] = v[k];
    for (std::size_t j = kLanes; j < 2 * kBlock; j += kLanes) {
        for (std::size_t k = 0; k < kLanes; ++k) {
            low[k] = std::min(low[k], v[j + k]);
            high[k] = std::max(high[k], v[j + k]);
        }
    }
    Bounds b{low[0], low[1], high[0], high[1]};
    for (std::size_t k = 2; k < kLanes; k += 2) {
        b.minX = std::min(b.minX, low[k]);
        b.minY = std::min(b.minY, low[k + 1]);
        b.maxX = std::max(b.maxX, high[k]);
        b.maxY = std::max(b.maxY, high[k + 1]);
    }
    return b;
}

std::size_t JoinIndex::Home(std::int64_t x, std::int64_t y, std::size_t size)
{
    std::uint64_t h = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(x)) << 32) | static_cast<std::uint32_t>(y);
    h *= 0x9E3779B97F4A7C15ULL;
    h ^= h >> 29;
    // The high half, scaled to the table without a division.
    return static_cast<std::size_t>(((h >> 32) * size) >> 32);
}

std::size_t JoinIndex::Probe(const std::vector<std::uint32_t>& slots, std::span<const Point> points, std::int64_t x,
                             std::int64_t y)
{
    std::size_t slot = Home(x, y, slots.size());
    for (;;) {
        const std::uint32_t index = Load(slots[slot]);
        if (index == kEmpty || (index < points.size() && points[index].x == x && points[index].y == y))
            return slot;
        if (++slot == slots.size())
            slot = 0;
    }
}

std::size_t JoinIndex::Bytes() const
{
    const std::lock_guard lock(m_swap);
    return m_slots.size() * sizeof(std::uint32_t);
}

std::ptrdiff_t JoinIndex::FindIn(std::span<const Point> points, const NearBox& wanted) const
{
    const NearBox box = wanted.Clipped();
    if (box.Empty())
        return -1;
    std::ptrdiff_t best = -1;
    // Every point before this count is in the table; later ones may be too,
    // while a thread fills it, and are passed over.
    const std::lock_guard lock(m_swap);
    std::size_t indexed = std::min(Indexed(), points.size());
    const std::int64_t positions = (box.maxX - box.minX + 1) * (box.maxY - box.minY + 1);
    if (positions > kMaxLookups)
        indexed = 0;
    if (indexed > 0 && !m_slots.empty()) {
        for (std::int64_t y = box.minY; y <= box.maxY; ++y) {
            for (std::int64_t x = box.minX; x <= box.maxX; ++x) {
                const std::uint32_t index = Load(m_slots[Probe(m_slots, points, x, y)]);
                if (index != kEmpty && index < indexed && (best < 0 || index < best))
                    best = index;
            }
        }
    }
    // A point in the table comes before every point after it.
    return best >= 0 ? best : Walk(points, indexed, box);
}

std::ptrdiff_t JoinIndex::Walk(std::span<const Point> points, std::size_t first, const NearBox& box) const
{
    std::size_t bounded = std::min(Bounded(), points.size());
    std::size_t i = first;
    while (i < points.size()) {
        if (i >= bounded && i + kBlock <= points.size()) {
            std::unique_lock lock(m_boundsMutex);
            m_boundsMoved.wait(lock, [&] { return !m_bounding || Bounded() > i; });
            bounded = std::min(Bounded(), points.size());
        }
        // Up to the next bound's block, or to the end past the bounds.
        std::size_t end = points.size();
        if (i < bounded) {
            end = (i / kBlock + 1) * kBlock;
            const Bounds& b = m_bounds[i / kBlock];
            if (box.maxX < b.minX || box.minX > b.maxX || box.maxY < b.minY || box.minY > b.maxY) {
                i = end;
                continue;
            }
        }
        const std::ptrdiff_t hit = FindInBox(points.subspan(i, end - i), box);
        if (hit >= 0)
            return hit + static_cast<std::ptrdiff_t>(i);
        i = end;
    }
    return -1;
}

std::optional<NearBox> JoinIndex::Extent(std::span<const Point> points, std::size_t maxWalk) const
{
    if (points.empty())
        return std::nullopt;
    const std::lock_guard lock(m_swap); // BoundMore resizes the bounds under it
    const std::size_t bounded = std::min(Bounded(), points.size());
    if (points.size() / kBlock * kBlock - bounded > maxWalk) // the last part block is always walked
        return std::nullopt;
    NearBox box{points.back().x, points.back().x, points.back().y, points.back().y};
    const auto take = [&box](std::int64_t minX, std::int64_t maxX, std::int64_t minY, std::int64_t maxY) {
        box = {std::min(box.minX, minX), std::max(box.maxX, maxX), std::min(box.minY, minY), std::max(box.maxY, maxY)};
    };
    for (std::size_t block = 0; block < bounded / kBlock; ++block) {
        const Bounds& b = m_bounds[block];
        take(b.minX, b.maxX, b.minY, b.maxY);
    }
    for (const Point& p : points.subspan(bounded))
        take(p.x, p.x, p.y, p.y);
    return box;
}

void JoinIndex::ForSegmentsIn(std::span<const Point> points, std::size_t from, std::size_t to, const NearBox& box,
                              const std::function<void(std::size_t, std::size_t)>& draw) const
{
    to = std::min(to, points.size());
    std::size_t run = from; // the first segment of the run not drawn yet
    {
        const std::lock_guard lock(m_swap);
        const std::size_t bounded = std::min(Bounded(), points.size()) / kBlock;
        for (std::size_t block = from / kBlock; block < bounded && block * kBlock < to; ++block) {
            const Bounds& b = m_bounds[block];
            if (box.maxX >= b.minX && box.minX <= b.maxX && box.maxY >= b.minY && box.minY <= b.maxY)
                continue;
            const std::size_t first = std::max(from, block * kBlock);
            if (run < first)
                draw(run, first);
            run = std::min(to, (block + 1) * kBlock);
        }
    }
    if (run < to)
        draw(run, to);
}

bool JoinIndex::BoundMore(std::span<const Point> points, const std::atomic<bool>* stop)
{
    const std::size_t blocks = points.size() / kBlock;
    std::size_t from = m_bounded.load(std::memory_order_relaxed);
    if (from >= blocks)
        return true;
    {
        const std::lock_guard lock(m_swap);
        m_bounds.resize(blocks);
        const std::lock_guard moving(m_boundsMutex);
        m_bounding = true;
    }
    const auto publish = [&](std::size_t count, bool ending) {
        {
            const std::lock_guard lock(m_boundsMutex);
            m_bounded.store(count, std::memory_order_release);
            m_bounding = !ending;
        }
        m_boundsMoved.notify_all();
    };
    // With the point before the block, where its first segment starts: a
    // drawing that passes over blocks need not read the points.
    const auto bound = [&](std::size_t first, std::size_t last) {
        for (std::size_t block = first; block < last; ++block) {
            Bounds b = BlockBounds(points.data() + block * kBlock);
            if (block > 0) {
                const Point before = points[block * kBlock - 1];
                b = {std::min(b.minX, before.x), std::min(b.minY, before.y), std::max(b.maxX, before.x),
                     std::max(b.maxY, before.y)};
            }
            m_bounds[block] = b;
        }
    };
    // Steps of a few milliseconds, each shared among the cores and then
    // shown to Find.
    constexpr std::size_t kStep = 8192;
    const std::size_t threads = std::max(1u, std::thread::hardware_concurrency());
    while (from < blocks) {
        if (stop && stop->load(std::memory_order_relaxed)) {
            publish(from, true);
            return false;
        }
        const std::size_t to = std::min(blocks, from + kStep);
        const std::size_t share = (to - from + threads - 1) / threads;
        std::vector<std::thread> helpers;
        for (std::size_t t = 1; t < threads && from + t * share < to; ++t)
            helpers.emplace_back(bound, from + t * share, std::min(to, from + (t + 1) * share));
        bound(from, std::min(to, from + share));
        for (std::thread& helper : helpers)
            helper.join();
        from = to;
        publish(from, from == blocks);
    }
    return true;
}

bool JoinIndex::IndexMore(std::span<const Point> points, std::size_t count, const std::atomic<bool>* stop)
{
    std::size_t indexed = m_indexed.load(std::memory_order_relaxed);
    if (indexed > points.size()) {
        indexed = points.size(); // only a store changed behind the index's back
        m_indexed.store(indexed, std::memory_order_release);
    }
    const std::size_t end = count < points.size() - indexed ? indexed + count : points.size();
    const std::size_t needed = m_entries + (end - indexed);
    if (end > indexed && needed * 100 > m_slots.size() * kMaxLoadPercent && !Grow(points, needed, stop))
        return false;
    for (std::size_t i = indexed; i < end; ++i) {
        const Point p = points[i];
        std::uint32_t& slot = m_slots[Probe(m_slots, points, p.x, p.y)];
        if (Load(slot) == kEmpty) { // else an earlier point holds the position
            Store(slot, static_cast<std::uint32_t>(i));
            ++m_entries;
        }
    }
    m_indexed.store(end, std::memory_order_release);
    return end == points.size();
}

// Doubling keeps the table near the positions it holds, which for a dense
// figure are far fewer than its points, and so in the cache; it never
// passes two slots a point.
bool JoinIndex::Grow(std::span<const Point> points, std::size_t needed, const std::atomic<bool>* stop)
{
    const std::size_t most = std::max(kMinSlots, 2 * points.size());
    const std::size_t size
        = std::max({kMinSlots, std::min(2 * m_slots.size(), most), needed * 100 / kMaxLoadPercent + 1});
    std::vector<std::uint32_t> grown(size, kEmpty);
    constexpr std::size_t kStopCheck = 1 << 16;
    for (std::size_t slot = 0; slot < m_slots.size(); ++slot) {
        if (stop && slot % kStopCheck == 0 && stop->load(std::memory_order_relaxed)) {
            Release(std::move(grown));
            return false;
        }
        const std::uint32_t index = m_slots[slot];
        if (index != kEmpty) {
            const Point p = points[index];
            grown[Probe(grown, points, p.x, p.y)] = index;
        }
    }
    {
        const std::lock_guard lock(m_swap);
        m_slots.swap(grown);
    }
    Release(std::move(grown));
    return true;
}

void JoinIndex::Forget(std::span<const Point> points, std::size_t first)
{
    if (first / kBlock < m_bounded.load(std::memory_order_relaxed))
        m_bounded.store(first / kBlock, std::memory_order_release);
    std::size_t indexed = m_indexed.load(std::memory_order_relaxed);
    if (first >= indexed)
        return;
    // Many to forget: cheaper to start over.
    if (first == 0 || indexed - first > indexed / 2) {
        std::vector<std::uint32_t> old;
        {
            const std::lock_guard lock(m_swap);
            old.swap(m_slots); // sized again for the points there will be
            m_indexed.store(0, std::memory_order_release);
        }
        m_entries = 0;
        Release(std::move(old));
        return;
    }
    // Newest first: a point is in the table only if no earlier one shares
    // its position, and then it is the only one there.
    while (indexed > first) {
        --indexed;
        const Point p = points[indexed];
        const std::size_t slot = Probe(m_slots, points, p.x, p.y);
        if (m_slots[slot] == indexed)
            Erase(points, slot);
    }
    m_indexed.store(indexed, std::memory_order_release);
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
        const std::size_t home = Home(points[index].x, points[index].y, size);
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

namespace kav {

namespace {

// Points indexed between two looks at the stop flag: well under a
// millisecond.
constexpr std::size_t kWorkerStep = std::size_t{1} << 15;

} // namespace

void JoinIndexWorker::Start(std::span<const Point> points, std::function<void()> bounded, std::function<void()> done)
{
    Stop();
    m_stop.store(false);
    m_points = points;
    m_thread = std::thread([this, &index = m_index, points, bounded = std::move(bounded), done = std::move(done)] {
        if (!index.BoundMore(points, &m_stop))
            return;
        if (bounded)
            bounded();
        while (!m_stop.load(std::memory_order_relaxed)) {
            if (index.IndexMore(points, kWorkerStep, &m_stop)) {
                if (done)
                    done();
                return;
            }
        }
    });
}

void JoinIndexWorker::Stop()
{
    if (!m_thread.joinable())
        return;
    m_stop.store(true);
    m_thread.join();
    m_points = {};
}

void JoinIndexWorker::PointsChanging(const PointChange& change, std::span<const Point> before)
{
    using Kind = PointChange::Kind;
    switch (change.kind) {
    case Kind::RemoveLast:
        Stop(); // Forget and IndexMore never run together
        m_index.Forget(before, before.size() - 1);
        break;
    case Kind::Clear:
    case Kind::ReplaceAll:
    case Kind::Recovered:
        Stop();
        m_index.Forget(before, 0);
        break;
    case Kind::Append:
    case Kind::AppendAll:
    case Kind::Redo:
        break;
    }
}

} // namespace kav
