#pragma once

#include "view/point_store.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kav {

// Any part of FormatListing's text, written on demand without the whole
// text: with lines of `columns` characters, line k is Read(k * columns, ...).
//
// It must give exactly FormatListing's characters. To find where a pair
// starts it keeps the start of every Stride()-th pair, in a table of at most
// `maxBlocks` + 1 offsets whatever the number of points, and walks at most
// one block of pairs from there. Build fills the table; it may run on
// another thread while Read serves the part already filled. The points must
// not change while the index reads them.
class ListingIndex {
public:
    static constexpr std::size_t kMaxBlocks = std::size_t{1} << 16;
    static constexpr std::size_t kMinStride = 64;

    ListingIndex(std::span<const Point> points, std::int32_t cx, std::int32_t cy, std::size_t maxBlocks = kMaxBlocks);

    // Fills the table from where it stands; returns false when `stop` ended
    // it early. One Build at a time.
    bool Build(const std::atomic<bool>* stop = nullptr);
    bool Complete() const { return m_filled.load(std::memory_order_acquire) == m_starts.size(); }
    // The length of the text: exact once Complete, before that a guess from
    // a sample of the points.
    std::uint64_t Size() const;
    // Writes the characters from `from` on, `room` of them or up to the end,
    // and returns how many; nothing when the table does not reach `from` yet.
    std::optional<std::size_t> Read(std::uint64_t from, char16_t* out, std::size_t room) const;

    std::size_t Stride() const { return m_stride; }

private:
    std::uint64_t PairLength(std::size_t i) const;

    std::span<const Point> m_points;
    std::int32_t m_cx;
    std::int32_t m_cy;
    std::size_t m_stride;
    // Where the pair of point b * m_stride starts, comma included, and one
    // past the last pair at the end; [0, m_filled) are known.
    std::vector<std::uint64_t> m_starts;
    std::atomic<std::size_t> m_filled{1};
    std::uint64_t m_guess = 0;
};

} // namespace kav
