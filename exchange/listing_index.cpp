#include "exchange/listing_index.h"

#include "exchange/coord_listing.h"

#include <algorithm>
#include <array>
#include <bit>

namespace kav {

namespace {

constexpr auto kPowersOf10 = [] {
    std::array<std::uint64_t, 20> powers{};
    std::uint64_t power = 1;
    for (std::uint64_t& p : powers) {
        p = power;
        power *= 10;
    }
    return powers;
}();

// The characters of std::to_chars(value), without a branch on the digits.
std::uint64_t DecimalLength(std::int64_t value)
{
    // Zero has one digit, as one has.
    const std::uint64_t magnitude = (value < 0 ? 0 - static_cast<std::uint64_t>(value) : value) | 1;
    const int guess = std::bit_width(magnitude) * 1233 >> 12; // log10 from log2, maybe one short
    return static_cast<std::uint64_t>(guess + (magnitude >= kPowersOf10[guess]) + (value < 0));
}

} // namespace

ListingIndex::ListingIndex(std::span<const Point> points, std::int32_t cx, std::int32_t cy, std::size_t maxBlocks)
    : m_points(points)
    , m_cx(cx)
    , m_cy(cy)
    , m_stride(std::max(kMinStride, (points.size() + maxBlocks - 1) / std::max<std::size_t>(maxBlocks, 1)))
    , m_starts((points.size() + m_stride - 1) / m_stride + 1)
{
    m_starts[0] = 0;
    if (points.empty())
        return;
    // An even sample, for the scroll bar until the table is full.
    constexpr std::size_t kSample = 1024;
    const std::size_t step = std::max<std::size_t>(1, points.size() / kSample);
    std::uint64_t sampled = 0;
    std::uint64_t length = 0;
    for (std::size_t i = 0; i < points.size(); i += step, ++sampled)
        length += PairLength(i) + 1;
    m_guess = length * points.size() / sampled - 1;
}

std::uint64_t ListingIndex::PairLength(std::size_t i) const
{
    return DecimalLength(std::int64_t{m_points[i].x} - m_cx) + 1 + DecimalLength(std::int64_t{m_points[i].y} - m_cy);
}

bool ListingIndex::Build(const std::atomic<bool>* stop)
{
    for (std::size_t block = m_filled.load(std::memory_order_relaxed) - 1; block + 1 < m_starts.size(); ++block) {
        if (stop && stop->load(std::memory_order_relaxed))
            return false;
        const std::size_t end = std::min(m_points.size(), (block + 1) * m_stride);
        std::uint64_t length = 0;
        for (std::size_t i = block * m_stride; i < end; ++i)
            length += PairLength(i) + 1;
        m_starts[block + 1] = m_starts[block] + length;
        m_filled.store(block + 2, std::memory_order_release);
    }
    return true;
}

std::uint64_t ListingIndex::Size() const
{
    if (!Complete())
        return m_guess;
    return m_points.empty() ? 0 : m_starts.back() - 1; // no comma after the last pair
}

std::optional<std::size_t> ListingIndex::Read(std::uint64_t from, char16_t* out, std::size_t room) const
{
    const std::size_t filled = m_filled.load(std::memory_order_acquire);
    if (filled == m_starts.size() && from >= Size())
        return 0;
    // The last block known to start at or before `from`; its pairs are
    // walked even when the table does not yet say where the block ends.
    const auto known = m_starts.begin() + static_cast<std::ptrdiff_t>(filled);
    const std::size_t block
        = static_cast<std::size_t>(std::upper_bound(m_starts.begin(), known, from) - m_starts.begin()) - 1;
    std::uint64_t at = m_starts[block];
    std::size_t i = block * m_stride;
    const std::size_t end = std::min(m_points.size(), i + m_stride);
    for (; i < end && at + PairLength(i) + 1 <= from; ++i)
        at += PairLength(i) + 1;
    if (i == end)
        return std::nullopt;
    ListingWriter writer(m_points.subspan(i), m_cx, m_cy);
    char16_t skipped[48];
    writer.Write(skipped, static_cast<std::size_t>(from - at));
    return writer.Write(out, room);
}

} // namespace kav
