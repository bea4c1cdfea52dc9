#pragma once

// Reading a large text on several cores: it is cut into parts at separator
// bytes, each part's numbers are counted, which fixes where its pairs go
// (a part after an odd count of numbers starts mid-pair), and the parts are
// scanned into their places. What it must preserve: for every text and
// every set of cuts, exactly the pairs that PlainScanner finds.

#include "exchange/coordinate_format.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>

namespace kav {

class MappedFile;

// Fills `into` with the text's bytes from `offset` on; false when that fails.
using TextReader = std::function<bool(std::uint64_t offset, std::span<char> into)>;
// Room for all `count` pairs of the text, or nullptr to refuse them.
using PairPlace = std::function<Point*(std::size_t count)>;

enum class ParallelScanResult {
    Finished,
    ReadFailed,
    Refused, // the place gave no room
    Cancelled,
    Changed, // the text read differently the second time
};

struct ParallelScanOptions {
    unsigned threads = 1;
    std::size_t blockSize = PointScanner::kBlockSize; // bytes read at a time
    const std::atomic<bool>* cancelled = nullptr; // looked at between blocks
    std::atomic<std::int64_t>* progress = nullptr; // half of each pass's bytes
    std::atomic<std::int64_t>* pairsDone = nullptr;
};

// Whether this machine has a kernel for it (x86-64 does).
bool CanScanInParallel();

// The pairs of a text of `size` bytes, in the place that `place` gives.
// The text is cut at the first separator at or after each of `cuts`.
ParallelScanResult ScanInParallel(std::uint64_t size, const TextReader& read, std::span<const std::uint64_t> cuts,
                                  const PairPlace& place, const ParallelScanOptions& options);
// The same for a mapped file, read where it lies: no copies. A file cut
// short under the mapping is ReadFailed. Scanned pages are released as the
// parts go, so that the file and the pairs are not both held in full.
ParallelScanResult ScanInParallel(const MappedFile& text, std::span<const std::uint64_t> cuts, const PairPlace& place,
                                  const ParallelScanOptions& options);

} // namespace kav
