#include "exchange/coordinate_format.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <istream>
#include <ostream>
#include <utility>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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
//
// Only the runs of digits matter: a run is a number, numbers pair up in
// order. So each block is classified 64 bytes at a time into a bit mask of
// digits, the positions where the mask changes (run starts and ends, which
// alternate) are listed, and each run is then parsed without a branch per
// digit. A CR before an LF needs no special care: both are separators.

namespace {

constexpr std::size_t kPadding = 64; // readable bytes after a block's end

std::uint64_t DigitMaskPortable(const unsigned char* p)
{
    std::uint64_t mask = 0;
    for (int i = 0; i < 64; ++i)
        mask |= std::uint64_t{static_cast<unsigned char>(p[i] - '0') < 10} << i;
    return mask;
}

// Appends the positions of the set bits of `bits`, counted from `base`.
// Inlined into each boundary lister, so that it takes their instruction set.
[[gnu::always_inline]] inline void Flatten(std::uint32_t* out, std::size_t& count, std::uint32_t base,
                                           std::uint64_t bits)
{
    const int total = std::popcount(bits);
    std::uint32_t* o = out + count;
    // Whole batches of eight keep the loop's exit predictable; short
    // numbers give about 24 changes per 64 bytes, hence three up front.
    // The slots past `total` are scratch.
    auto batch = [&](int from) {
        for (int i = from; i < from + 8; ++i) {
            o[i] = base + static_cast<std::uint32_t>(std::countr_zero(bits));
            bits &= bits - 1;
        }
    };
    batch(0);
    batch(8);
    batch(16);
    for (int from = 24; from < total; from += 8)
        batch(from);
    count += static_cast<std::size_t>(total);
}

// Lists the positions in data[0, size) where a digit run starts or ends;
// they alternate. `inRun` says whether the byte before data[0] was a digit.
// `out` needs room for size + 128 entries.
using BoundaryLister = std::size_t (*)(const unsigned char* data, std::size_t size, bool inRun, std::uint32_t* out);

// One 64-byte step of every lister. Bits past the block's end are dropped,
// so a run still open there gets no end.
[[gnu::always_inline]] inline void AddChanges(std::uint64_t digits, std::size_t offset, std::size_t size,
                                              std::uint64_t& carry, std::uint32_t* out, std::size_t& count)
{
    std::uint64_t changes = digits ^ ((digits << 1) | carry);
    carry = digits >> 63;
    if (size - offset < 64)
        changes &= (std::uint64_t{1} << (size - offset)) - 1;
    Flatten(out, count, static_cast<std::uint32_t>(offset), changes);
}

std::size_t ListBoundariesPortable(const unsigned char* data, std::size_t size, bool inRun, std::uint32_t* out)
{
    std::size_t count = 0;
    std::uint64_t carry = inRun ? 1 : 0;
    for (std::size_t offset = 0; offset < size; offset += 64)
        AddChanges(DigitMaskPortable(data + offset), offset, size, carry, out, count);
    return count;
}

#if defined(__x86_64__)
#define KAV_X86 1

std::size_t ListBoundariesSse2(const unsigned char* data, std::size_t size, bool inRun, std::uint32_t* out)
{
    const __m128i zero = _mm_set1_epi8('0');
    const __m128i nine = _mm_set1_epi8(9);
    std::size_t count = 0;
    std::uint64_t carry = inRun ? 1 : 0;
    for (std::size_t offset = 0; offset < size; offset += 64) {
        std::uint64_t digits = 0;
        for (int k = 0; k < 4; ++k) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + offset + 16 * k));
            const __m128i value = _mm_sub_epi8(bytes, zero);
            const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(value, nine), value);
            digits |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(isDigit))} << (16 * k);
        }
        AddChanges(digits, offset, size, carry, out, count);
    }
    return count;
}

// The same with 32-byte compares and the bit-counting instructions, which
// the x86-64 baseline lacks (std::popcount is a library call there).
[[gnu::target("avx2,bmi,popcnt")]] std::size_t ListBoundariesAvx2(const unsigned char* data, std::size_t size,
                                                                  bool inRun, std::uint32_t* out)
{
    const __m256i zero = _mm256_set1_epi8('0');
    const __m256i nine = _mm256_set1_epi8(9);
    std::size_t count = 0;
    std::uint64_t carry = inRun ? 1 : 0;
    for (std::size_t offset = 0; offset < size; offset += 64) {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + offset));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + offset + 32));
        const __m256i lowValue = _mm256_sub_epi8(low, zero);
        const __m256i highValue = _mm256_sub_epi8(high, zero);
        const auto lowMask = static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_min_epu8(lowValue, nine), lowValue)));
        const auto highMask = static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_min_epu8(highValue, nine), highValue)));
        AddChanges(std::uint64_t{lowMask} | (std::uint64_t{highMask} << 32), offset, size, carry, out, count);
    }
    return count;
}
#endif

BoundaryLister PickLister(ScanKernel kernel)
{
#if defined(KAV_X86)
    if (kernel == ScanKernel::Best) {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("popcnt"))
            return &ListBoundariesAvx2;
    }
    if (kernel == ScanKernel::Best || kernel == ScanKernel::Sse2)
        return &ListBoundariesSse2;
#endif
    (void)kernel;
    return &ListBoundariesPortable;
}

std::uint64_t Load64(const unsigned char* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap64(v);
    return v;
}

// Eight digits, the first in the lowest byte; zero bytes act as leading zeros.
std::uint32_t Swar8(std::uint64_t v)
{
    v = ((v & 0x0F0F0F0F0F0F0F0FULL) * 2561) >> 8;
    v = ((v & 0x00FF00FF00FF00FFULL) * 6553601) >> 16;
    return static_cast<std::uint32_t>(((v & 0x0000FFFF0000FFFFULL) * 42949672960001ULL) >> 32);
}

constexpr std::uint32_t kPow10[9] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// acc followed by the `len` digits at p, modulo 2^32. May read up to 8 bytes
// past the run.
std::uint32_t ParseDigits(std::uint32_t acc, const unsigned char* p, std::size_t len)
{
    while (len > 8) {
        acc = acc * kPow10[8] + Swar8(Load64(p));
        p += 8;
        len -= 8;
    }
    // Shift the run to the top bytes; in two steps, so that len 0 is no
    // shift by 64.
    const unsigned shift = 4 * static_cast<unsigned>(8 - len);
    return acc * kPow10[len] + Swar8((Load64(p) << shift) << shift);
}

// A whole run of 1 to 8 digits takes one shift; longer ones the loop.
std::uint32_t ParseRun(const unsigned char* p, std::size_t len)
{
    if (len <= 8) [[likely]]
        return Swar8(Load64(p) << (8 * (8 - len)));
    return ParseDigits(0, p, len);
}

} // namespace

struct PointScanner::State {
    PointSink sink;
    BoundaryLister listBoundaries;
    std::vector<unsigned char> block = std::vector<unsigned char>(kBlockSize + kPadding, 0);
    // Sized for the largest block fed so far, so small inputs stay cheap.
    std::vector<std::uint32_t> bounds;
    std::vector<Point> pairs = std::vector<Point>(1);
    std::size_t pairCount = 0;
    bool inRun = false; // the last byte seen was a digit
    std::uint32_t run = 0; // the value of that open run so far
    bool havePendingX = false;
    std::uint32_t pendingX = 0;

    void Push(std::uint32_t number)
    {
        if (havePendingX)
            pairs[pairCount++] = Point{static_cast<std::int32_t>(pendingX), static_cast<std::int32_t>(number)};
        else
            pendingX = number;
        havePendingX = !havePendingX;
    }
    bool Hand()
    {
        const std::size_t count = std::exchange(pairCount, 0);
        return count == 0 || sink(std::span<const Point>(pairs.data(), count));
    }
};

PointScanner::PointScanner(PointSink sink, ScanKernel kernel)
    : m_state(std::make_unique<State>())
{
    m_state->sink = std::move(sink);
    m_state->listBoundaries = PickLister(kernel);
}

PointScanner::~PointScanner() = default;

std::span<char> PointScanner::Buffer()
{
    return {reinterpret_cast<char*>(m_state->block.data()), kBlockSize};
}

bool PointScanner::Feed(std::size_t size)
{
    State& s = *m_state;
    if (size == 0)
        return true;
    if (size > kBlockSize)
        size = kBlockSize;
    if (s.bounds.size() < size + 128) {
        s.bounds.resize(size + 128); // every byte may start or end a run, plus Flatten's scratch
        s.pairs.resize(size / 4 + 2);
    }
    const unsigned char* data = s.block.data();
    // Zero padding: a partial last chunk sees no stale digits.
    std::memset(s.block.data() + size, 0, kPadding);

    const std::size_t boundCount = s.listBoundaries(data, size, s.inRun, s.bounds.data());
    const std::uint32_t* bounds = s.bounds.data();
    auto runAt = [&](std::size_t k) { return ParseRun(data + bounds[k], bounds[k + 1] - bounds[k]); };

    std::size_t i = 0;
    if (s.inRun) {
        if (boundCount == 0) {
            s.run = ParseDigits(s.run, data, size);
            return true;
        }
        s.Push(ParseDigits(s.run, data, bounds[0]));
        i = 1;
    }
    if (s.havePendingX && i + 1 < boundCount) {
        s.Push(runAt(i));
        i += 2;
    }
    // The bulk: two whole runs make one pair.
    Point* pairs = s.pairs.data();
    std::size_t pairCount = s.pairCount;
    for (; i + 3 < boundCount; i += 4)
        pairs[pairCount++] = Point{static_cast<std::int32_t>(runAt(i)), static_cast<std::int32_t>(runAt(i + 2))};
    s.pairCount = pairCount;
    if (i + 1 < boundCount) {
        s.Push(runAt(i));
        i += 2;
    }
    s.inRun = i < boundCount;
    if (s.inRun)
        s.run = ParseDigits(0, data + bounds[i], size - bounds[i]);
    return s.Hand();
}

bool PointScanner::Finish()
{
    State& s = *m_state;
    if (s.inRun)
        s.Push(s.run);
    if (s.havePendingX)
        s.Push(0); // a lone last number pairs with 0
    s.inRun = false;
    return s.Hand();
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
