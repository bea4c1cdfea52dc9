#include "app/memory_limit.h"

#include <cstdlib>
#include <fstream>
#include <limits>
#include <string>

namespace kav {

namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
// Left to the desktop and the rest of the program.
constexpr std::uint64_t kReserve = 256 * kMiB;

// MemAvailable from /proc/meminfo; nothing known: no limit.
std::uint64_t AvailableMemory()
{
    if (const char* stand_in = std::getenv("KAV_MEMORY_AVAILABLE_MB"))
        return std::strtoull(stand_in, nullptr, 10) * kMiB;
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kib = 0;
    std::string unit;
    while (meminfo >> key >> kib >> unit) {
        if (key == "MemAvailable:")
            return kib * 1024;
    }
    return std::numeric_limits<std::uint64_t>::max();
}

} // namespace

std::uint64_t MemoryForPoints()
{
    const std::uint64_t available = AvailableMemory();
    return available > kReserve ? available - kReserve : 0;
}

Point* ReallocateWithinMemory(Point* points, std::size_t count)
{
    // Asked only when a buffer doubles, so reading the system's figure
    // each time costs nothing that matters.
    // A new store's first small buffer is always granted.
    if (count <= PointStore::kInitialCapacity)
        return ReallocatePoints(points, count);
    // Every other buffer that lives meanwhile counts too: an Open that
    // appends holds the loaded points and the grown figure at once. The
    // system's own figure already leaves out what they take.
    const std::uint64_t others = PointBytesInUse() - PointArrayBytes(points);
    const bool standIn = std::getenv("KAV_MEMORY_AVAILABLE_MB") != nullptr;
    const std::uint64_t budget = MemoryForPoints() + (standIn ? 0 : others);
    const std::uint64_t need = std::uint64_t{count} * sizeof(Point) + others;
    if (need > budget)
        return nullptr;
    return ReallocatePoints(points, count);
}

} // namespace kav
