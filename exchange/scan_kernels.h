#pragma once

// The fast way to read coordinate text: blocks are classified with SIMD into
// bit masks of digits, the starts and ends of the digit runs are listed, and
// each run is parsed several digits at a time.
//
// What every kernel must preserve: for every input, however it is split into
// blocks, exactly the pairs that PlainScanner finds, in the same order. The
// tests hold each kernel against PlainScanner on generated text.

#include "exchange/coordinate_format.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kav {

class KernelScanner {
public:
    // Bytes after a block that a kernel reads; Scan overwrites them.
    static constexpr std::size_t kPadding = 64;

    // The kernel asked for, or the best one the CPU has for Best; nothing
    // where the CPU has none, and for ScanKernel::Plain.
    static std::unique_ptr<KernelScanner> Make(ScanKernel kernel);

    // Room that Scan needs in `pairs` for a block of `size` bytes: every
    // pair takes at least four bytes, plus the pairs left open before.
    static std::size_t PairRoom(std::size_t size) { return size / 4 + 2; }

    // Scans data[0, size), which must be followed by kPadding writable bytes,
    // writes the pairs that it completes to `pairs` and returns their count.
    std::size_t Scan(unsigned char* data, std::size_t size, Point* pairs);
    // The same where the kPadding bytes after the block may only be read,
    // such as the rest of a mapped file: what they hold changes nothing.
    std::size_t ScanInPlace(const unsigned char* data, std::size_t size, Point* pairs);
    // The input has ended: writes the last pair, if one is open (0 or 1).
    std::size_t Finish(Point* pairs);

    // For a part of a text cut at a separator. A part that starts after an
    // odd count of numbers starts mid-pair: its first number is a y, and the
    // x of that pair (0 here) is the last number of the parts before.
    void StartMidPair();
    // The part has ended and a separator follows: ends an open number (0 or
    // 1 pairs written). An x then left open is the part's last number.
    std::size_t EndPart(Point* pairs);
    std::uint32_t OpenX() const { return m_pendingX; }

    // The digit runs that start in data[0, size), which must be followed by
    // kPadding readable bytes; `inRun` says whether the byte before data[0]
    // was a digit. The widest SIMD the CPU has.
    static std::size_t CountRuns(const unsigned char* data, std::size_t size, bool inRun);

    // Lists the positions in data[0, size) where a digit run starts or ends;
    // they alternate. `inRun` says whether the byte before data[0] was a
    // digit. `out` needs room for size + 128 entries.
    using BoundaryLister = std::size_t (*)(const unsigned char* data, std::size_t size, bool inRun, std::uint32_t* out);

    // Turns whole runs, two by two, into pairs from bounds[i] on, while
    // four bounds remain; moves i past them and returns the pairs written.
    using PairParser = std::size_t (*)(const unsigned char* data, const std::uint32_t* bounds, std::size_t& i,
                                       std::size_t boundCount, Point* pairs);

private:
    KernelScanner(BoundaryLister lister, PairParser parser);
    void Push(std::uint32_t number, Point* pairs, std::size_t& count);

    BoundaryLister m_listBoundaries;
    PairParser m_parsePairs;
    std::vector<std::uint32_t> m_bounds; // sized for the largest block so far
    bool m_inRun = false; // the last byte seen was a digit
    std::uint32_t m_run = 0; // the value of that open run so far
    bool m_havePendingX = false;
    std::uint32_t m_pendingX = 0;
};

} // namespace kav
