#include "exchange/coordinate_format.h"

#include "exchange/scan_kernels.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <istream>
#include <ostream>
#include <vector>

namespace kav {

// ---------------------------------------------------------------- writer

namespace {

// "00" to "99", for writing two digits at a time.
constexpr auto kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// v < 10000 as four ASCII digits, the first in the lowest byte.
std::uint64_t FourDigits(std::uint32_t v)
{
    const char* high = &kDigitPairs[2 * (v / 100)];
    const char* low = &kDigitPairs[2 * (v % 100)];
    return std::uint64_t(high[0]) | std::uint64_t(high[1]) << 8 | std::uint64_t(low[0]) << 16
        | std::uint64_t(low[1]) << 24;
}

// Stores `value` with its lowest byte first in memory, on any CPU.
template <class Word> void StoreLowFirst(char* out, Word value)
{
    if constexpr (std::endian::native == std::endian::big)
        value = sizeof(Word) == 8 ? Word(__builtin_bswap64(value)) : Word(__builtin_bswap32(std::uint32_t(value)));
    std::memcpy(out, &value, sizeof value);
}

// Writes v in decimal as the stream would and returns the end. Numbers of up
// to eight digits, which is every clicked coordinate, take no branch per
// digit: all digits are made, and the leading zeros are shifted away. Needs
// 11 bytes of room, and 8 more past the number's end.
char* WriteNumber(char* out, std::int32_t v)
{
    if (v < 0 || v >= 100000000)
        return std::to_chars(out, out + 11, v).ptr;
    const auto u = static_cast<std::uint32_t>(v);
    if (u < 10000) { // screen coordinates: half the work
        const int length = 1 + (u >= 10) + (u >= 100) + (u >= 1000);
        StoreLowFirst(out, static_cast<std::uint32_t>(FourDigits(u) >> (8 * (4 - length))));
        return out + length;
    }
    const int length
        = 1 + (u >= 10) + (u >= 100) + (u >= 1000) + (u >= 10000) + (u >= 100000) + (u >= 1000000) + (u >= 10000000);
    const std::uint64_t digits = FourDigits(u / 10000) | (FourDigits(u % 10000) << 32);
    StoreLowFirst(out, digits >> (8 * (8 - length)));
    return out + length;
}

} // namespace

bool WritePoints(std::ostream& out, std::span<const Point> points, const SaveFormat& format)
{
    constexpr std::size_t kBufferSize = std::size_t{1} << 18;
    constexpr std::size_t kRoom = 2 * 11 + 2 + 8; // a point's longest text, and WriteNumber's overrun
    std::vector<char> buffer(kBufferSize);
    char* const begin = buffer.data();
    char* const flushAt = begin + kBufferSize - kRoom;
    char* cursor = begin;

    const std::size_t n = points.size();
    const bool reverse = format.m_order != SaveFormat::kClickOrder;
    for (std::size_t i = 0; i < n; ++i) {
        const Point& p = points[reverse ? n - 1 - i : i];
        cursor = WriteNumber(cursor, p.x);
        *cursor++ = format.m_sepX;
        cursor = WriteNumber(cursor, p.y);
        *cursor = format.m_sepY;
        cursor += i + 1 < n; // no separator after the last point
        if (cursor >= flushAt) {
            if (!out.write(begin, cursor - begin))
                return false;
            cursor = begin;
        }
    }
    out.write(begin, cursor - begin);
    out.flush();
    return static_cast<bool>(out);
}

// ---------------------------------------------------------------- scanner

void PlainScanner::Scan(std::span<const char> text, std::vector<Point>& pairs)
{
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            m_number = (m_inNumber ? m_number * 10 : 0) + static_cast<std::uint32_t>(c - '0');
            m_inNumber = true;
        } else if (m_inNumber) {
            EndNumber(pairs);
        }
    }
}

void PlainScanner::Finish(std::vector<Point>& pairs)
{
    if (m_inNumber)
        EndNumber(pairs);
    if (m_haveX) {
        m_number = 0;
        EndNumber(pairs);
    }
}

void PlainScanner::EndNumber(std::vector<Point>& pairs)
{
    if (m_haveX)
        pairs.push_back({static_cast<std::int32_t>(m_x), static_cast<std::int32_t>(m_number)});
    else
        m_x = m_number;
    m_haveX = !m_haveX;
    m_inNumber = false;
}

PointScanner::PointScanner(PointSink sink, ScanKernel kernel)
    : m_sink(std::move(sink))
    , m_kernel(KernelScanner::Make(kernel))
    , m_block(kBlockSize + KernelScanner::kPadding)
{
}

PointScanner::~PointScanner() = default;

std::span<char> PointScanner::Buffer()
{
    return {m_block.data(), kBlockSize};
}

bool PointScanner::Feed(std::size_t size)
{
    size = std::min(size, kBlockSize);
    if (!m_kernel) {
        m_pairs.clear();
        m_plain.Scan({m_block.data(), size}, m_pairs);
        return Hand(m_pairs);
    }
    // Sized for the largest block so far, so that small inputs stay cheap.
    if (m_pairs.size() < KernelScanner::PairRoom(size))
        m_pairs.resize(KernelScanner::PairRoom(size));
    const std::size_t count = m_kernel->Scan(reinterpret_cast<unsigned char*>(m_block.data()), size, m_pairs.data());
    return Hand({m_pairs.data(), count});
}

bool PointScanner::Finish()
{
    if (!m_kernel) {
        m_pairs.clear();
        m_plain.Finish(m_pairs);
        return Hand(m_pairs);
    }
    if (m_pairs.empty())
        m_pairs.resize(1);
    return Hand({m_pairs.data(), m_kernel->Finish(m_pairs.data())});
}

bool PointScanner::Hand(std::span<const Point> pairs)
{
    return pairs.empty() || m_sink(pairs);
}

ScanResult ScanPoints(std::istream& in, const PointSink& sink, ScanKernel kernel)
{
    PointScanner scanner(sink, kernel);
    const std::span<char> buffer = scanner.Buffer();
    for (;;) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (!scanner.Feed(got))
            return ScanResult::Stopped;
        if (in.bad())
            return ScanResult::ReadError;
        if (got < buffer.size())
            break;
    }
    return scanner.Finish() ? ScanResult::Finished : ScanResult::Stopped;
}

} // namespace kav
