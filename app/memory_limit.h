#pragma once

#include "view/point_store.h"

#include <cstdint>

namespace kav {

// The allocator that the application gives its point stores: it refuses a
// buffer larger than the memory the machine can spare, so that a huge or
// endless file ends in a message instead of in swapping or the kernel's
// out-of-memory killer.
Point* ReallocateWithinMemory(Point* points, std::size_t count);

// Bytes that one buffer of points may take: the memory the system reports
// as available, less a reserve for the desktop. KAV_MEMORY_AVAILABLE_MB, for
// tests, stands in for what the system reports.
std::uint64_t MemoryForPoints();

} // namespace kav
