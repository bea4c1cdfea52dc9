#include "view/point_memory.h"

#include "view/point_store.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>

#if defined(__linux__)
#define KAV_HAVE_MMAP 1
#include <sys/mman.h>
#else
#define KAV_HAVE_MMAP 0
#endif

namespace kav {

namespace {

// What every array from here takes together, for limits that count them all.
std::atomic<std::size_t> g_bytesInUse = 0;

// In front of every array; 64 bytes keep the points cache-line aligned.
struct Header {
    std::size_t bytes; // the whole block, header included
    std::size_t asked; // what the points need of it, header included
    bool mapped;
};
constexpr std::size_t kHeader = 64;
static_assert(sizeof(Header) <= kHeader);

[[maybe_unused]] constexpr std::size_t kPage = 4096;
[[maybe_unused]] constexpr std::size_t kHugePage = std::size_t{2} << 20;

Header* HeaderOf(Point* points)
{
    return reinterpret_cast<Header*>(reinterpret_cast<unsigned char*>(points) - kHeader);
}

// Takes over `block` for points; `old` is what the array took before, if
// it was grown.
Point* PointsOf(void* block, std::size_t bytes, std::size_t asked, std::size_t old, bool mapped)
{
    *static_cast<Header*>(block) = Header{bytes, asked, mapped};
    g_bytesInUse += asked - old;
    // Points are implicit-lifetime objects: raw storage holds them.
    return reinterpret_cast<Point*>(static_cast<unsigned char*>(block) + kHeader);
}

bool BytesFor(std::size_t count, std::size_t& bytes)
{
    if (count > (std::numeric_limits<std::size_t>::max() - kHeader) / sizeof(Point))
        return false;
    bytes = kHeader + count * sizeof(Point);
    return true;
}

// An array of the other kind moves into a new one of this kind.
template <class Allocate> Point* Convert(Point* points, std::size_t count, Allocate allocate)
{
    Point* fresh = allocate(nullptr, count);
    if (fresh == nullptr)
        return nullptr;
    const std::size_t old = (HeaderOf(points)->bytes - kHeader) / sizeof(Point);
    std::memcpy(static_cast<void*>(fresh), points, std::min(old, count) * sizeof(Point));
    FreePoints(points);
    return fresh;
}

} // namespace

Point* ReallocateHeap(Point* points, std::size_t count)
{
    if (points != nullptr && HeaderOf(points)->mapped)
        return Convert(points, count, &ReallocateHeap);
    std::size_t bytes;
    if (!BytesFor(count, bytes))
        return nullptr;
    const std::size_t old = points ? HeaderOf(points)->asked : 0;
    void* block = std::realloc(points ? HeaderOf(points) : nullptr, bytes);
    return block ? PointsOf(block, bytes, bytes, old, false) : nullptr;
}

Point* ReallocateMapped(Point* points, std::size_t count)
{
#if KAV_HAVE_MMAP
    if (points != nullptr && !HeaderOf(points)->mapped)
        return Convert(points, count, &ReallocateMapped);
    std::size_t need;
    if (!BytesFor(count, need))
        return nullptr;
    const std::size_t unit = need >= kHugePage ? kHugePage : kPage;
    if (need > std::numeric_limits<std::size_t>::max() - unit)
        return nullptr;
    const std::size_t bytes = (need + unit - 1) / unit * unit;
    const std::size_t old = points ? HeaderOf(points)->asked : 0;
    void* block = points == nullptr ? mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                                    : mremap(HeaderOf(points), HeaderOf(points)->bytes, bytes, MREMAP_MAYMOVE);
    if (block == MAP_FAILED)
        return nullptr;
    // Huge pages spare most of the page faults of filling a large buffer.
    if (bytes >= kHugePage)
        madvise(block, bytes, MADV_HUGEPAGE);
    return PointsOf(block, bytes, need, old, true);
#else
    return ReallocateHeap(points, count);
#endif
}

namespace {

PointReallocator ChosenReallocator()
{
    // Lets a sanitizer build run the mapped pages that ship as well.
    const char* choice = std::getenv("KAV_POINT_MEMORY");
    if (choice != nullptr && std::strcmp(choice, "mapped") == 0)
        return &ReallocateMapped;
#if KAV_HAVE_MMAP && !defined(__SANITIZE_ADDRESS__)
    return &ReallocateMapped;
#else
    return &ReallocateHeap;
#endif
}

} // namespace

Point* ReallocatePoints(Point* points, std::size_t count)
{
    static const PointReallocator chosen = ChosenReallocator();
    return chosen(points, count);
}

void FreePoints(Point* points)
{
    if (points == nullptr)
        return;
    Header* header = HeaderOf(points);
    g_bytesInUse -= header->asked;
#if KAV_HAVE_MMAP
    if (header->mapped) {
        munmap(header, header->bytes);
        return;
    }
#endif
    std::free(header);
}

std::size_t PointBytesInUse()
{
    return g_bytesInUse;
}

std::size_t PointArrayBytes(Point* points)
{
    return points ? HeaderOf(points)->asked : 0;
}

} // namespace kav
