#pragma once

// The recovery journal's file format, written down once; every journal
// written since the format began is still read.
//
// A journal file is a header, a snapshot of the figure and a log of small
// changes after it, all little-endian:
//
//   header (64 bytes): "KAVJRNL\n", version 1, the byte-order mark
//     0x01020304, the instance's start (ms since 1970), the snapshot's point
//     count, its checksum, the pid, and the header's own checksum;
//   snapshot: the points, 8 bytes each (x, y as int32);
//   records (16 bytes each): kind, 3 zero bytes, x, y, and a checksum that
//     chains from the record before it (the first from the header's).
//
// The snapshot's checksum chains from piece to piece of kChunkBytes, so that
// a writer and a reader need never hold the whole figure in one buffer.

#include "view/point_change.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace kav::journal {

constexpr std::size_t kHeaderBytes = 64;
constexpr std::size_t kRecordBytes = 16;
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
constexpr std::uint64_t kMaxPoints = std::uint64_t{1} << 30;
// A log is folded into its snapshot long before it grows this much past it;
// records beyond are not read, so that no file can hold up the start.
constexpr std::uint64_t kMaxLogBeyondSnapshot = std::uint64_t{64} << 20;

// Record kinds as stored; never renumbered.
enum RecordKind : std::uint8_t { kAppend = 1, kRemoveLast = 2, kClear = 3, kRecovered = 4 };

static_assert(sizeof(Point) == 8, "points are stored as two int32");

// A 64-bit checksum over 8-byte words (the tail padded with zeros): enough
// to tell a torn or damaged write, and a few GB/s on one core.
std::uint64_t Checksum(std::uint64_t seed, const void* data, std::size_t bytes);

struct Header {
    std::uint64_t started = 0;
    std::uint64_t count = 0;
    std::uint64_t pointsChecksum = 0;
    std::uint32_t pid = 0;
};

// The header's bytes; `checksum` is the header's own, which seeds the
// records' chain.
std::array<unsigned char, kHeaderBytes> EncodeHeader(const Header& header, std::uint64_t* checksum);
std::optional<Header> DecodeHeader(const unsigned char* bytes, std::uint64_t* checksum);

// How a small change is stored; nothing for a change that the log does not
// hold (the big ones, which are written as a new snapshot).
std::optional<RecordKind> StoredKind(PointChange::Kind kind);

// A record's bytes, chained on from `chain`, which it advances.
std::array<unsigned char, kRecordBytes> EncodeRecord(RecordKind kind, Point point, std::uint64_t& chain);

} // namespace kav::journal
