#include "exchange/scan_kernels.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kav {

namespace {

#if defined(__x86_64__)

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

// One 64-byte step of every lister: the digit mask becomes the positions
// where it changes. Bits past the block's end are dropped, so a run still
// open there gets no end.
[[gnu::always_inline]] inline void AddChanges(std::uint64_t digits, std::size_t offset, std::size_t size,
                                              std::uint64_t& carry, std::uint32_t* out, std::size_t& count)
{
    std::uint64_t changes = digits ^ ((digits << 1) | carry);
    carry = digits >> 63;
    if (size - offset < 64)
        changes &= (std::uint64_t{1} << (size - offset)) - 1;
    Flatten(out, count, static_cast<std::uint32_t>(offset), changes);
}

// The digits among 64 bytes, one bit each, the first byte lowest.
[[gnu::always_inline]] inline std::uint64_t DigitsSse2(const unsigned char* data)
{
    const __m128i zero = _mm_set1_epi8('0');
    const __m128i nine = _mm_set1_epi8(9);
    std::uint64_t digits = 0;
    for (int k = 0; k < 4; ++k) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * k));
        const __m128i value = _mm_sub_epi8(bytes, zero);
        const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(value, nine), value);
        digits |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(isDigit))} << (16 * k);
    }
    return digits;
}

[[gnu::target("avx2,bmi,popcnt")]] [[gnu::always_inline]] inline std::uint64_t DigitsAvx2(const unsigned char* data)
{
    const __m256i zero = _mm256_set1_epi8('0');
    const __m256i nine = _mm256_set1_epi8(9);
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + 32));
    const __m256i lowValue = _mm256_sub_epi8(low, zero);
    const __m256i highValue = _mm256_sub_epi8(high, zero);
    const auto lowMask = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_min_epu8(lowValue, nine), lowValue)));
    const auto highMask = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_min_epu8(highValue, nine), highValue)));
    return std::uint64_t{lowMask} | (std::uint64_t{highMask} << 32);
}

std::size_t ListBoundariesSse2(const unsigned char* data, std::size_t size, bool inRun, std::uint32_t* out)
{
    std::size_t count = 0;
    std::uint64_t carry = inRun ? 1 : 0;
    for (std::size_t offset = 0; offset < size; offset += 64)
        AddChanges(DigitsSse2(data + offset), offset, size, carry, out, count);
    return count;
}

// The same with 32-byte compares and the bit-counting instructions, which
// the x86-64 baseline lacks (std::popcount is a library call there).
[[gnu::target("avx2,bmi,popcnt")]] std::size_t ListBoundariesAvx2(const unsigned char* data, std::size_t size,
                                                                  bool inRun, std::uint32_t* out)
{
    std::size_t count = 0;
    std::uint64_t carry = inRun ? 1 : 0;
    for (std::size_t offset = 0; offset < size; offset += 64)
        AddChanges(DigitsAvx2(data + offset), offset, size, carry, out, count);
    return count;
}

// One 64-byte step of counting: a run starts at a digit whose byte before
// is none. Bits past the block's end are dropped.
[[gnu::always_inline]] inline std::size_t CountStarts(std::uint64_t digits, std::size_t offset, std::size_t size,
                                                      std::uint64_t& carry)
{
    std::uint64_t starts = digits & ~((digits << 1) | carry);
    carry = digits >> 63;
    if (size - offset < 64)
        starts &= (std::uint64_t{1} << (size - offset)) - 1;
    return static_cast<std::size_t>(std::popcount(starts));
}

std::size_t CountRunsSse2(const unsigned char* data, std::size_t size, bool inRun)
{
    std::size_t count = 0;
    std::uint64_t carry = inRun ? 1 : 0;
    for (std::size_t offset = 0; offset < size; offset += 64)
        count += CountStarts(DigitsSse2(data + offset), offset, size, carry);
    return count;
}

[[gnu::target("avx2,bmi,popcnt")]] std::size_t CountRunsAvx2(const unsigned char* data, std::size_t size, bool inRun)
{
    std::size_t count = 0;
    std::uint64_t carry = inRun ? 1 : 0;
    for (std::size_t offset = 0; offset < size; offset += 64)
        count += CountStarts(DigitsAvx2(data + offset), offset, size, carry);
    return count;
}

#endif

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

std::size_t ParsePairsScalar(const unsigned char* data, const std::uint32_t* bounds, std::size_t& i,
                             std::size_t boundCount, Point* pairs)
{
    auto runAt = [&](std::size_t k) { return ParseRun(data + bounds[k], bounds[k + 1] - bounds[k]); };
    std::size_t count = 0;
    for (; i + 3 < boundCount; i += 4)
        pairs[count++] = Point{static_cast<std::int32_t>(runAt(i)), static_cast<std::int32_t>(runAt(i + 2))};
    return count;
}

#if defined(__x86_64__)

// Both runs of a pair at once: each, shifted to the top of its eight bytes
// as ParseRun does, is folded digit pairs, then fours, then eights by
// multiply-adds, and the two sums land side by side as the pair itself.
[[gnu::target("avx2,bmi,popcnt")]] std::size_t ParsePairsAvx2(const unsigned char* data, const std::uint32_t* bounds,
                                                              std::size_t& i, std::size_t boundCount, Point* pairs)
{
    const __m128i low = _mm_set1_epi8(0x0F);
    const __m128i tens = _mm_set1_epi16(0x010A); // the first byte of two is worth 10
    const __m128i hundreds = _mm_set1_epi32(0x00010064);
    const __m128i tenThousands = _mm_set1_epi32(0x00012710);
    std::size_t count = 0;
    for (; i + 3 < boundCount; i += 4) {
        const std::uint32_t xLength = bounds[i + 1] - bounds[i];
        const std::uint32_t yLength = bounds[i + 3] - bounds[i + 2];
        if (xLength > 8 || yLength > 8) [[unlikely]] {
            pairs[count++] = Point{static_cast<std::int32_t>(ParseRun(data + bounds[i], xLength)),
                                   static_cast<std::int32_t>(ParseRun(data + bounds[i + 2], yLength))};
            continue;
        }
        const std::uint64_t x = Load64(data + bounds[i]) << (8 * (8 - xLength));
        const std::uint64_t y = Load64(data + bounds[i + 2]) << (8 * (8 - yLength));
        const __m128i digits = _mm_and_si128(_mm_set_epi64x(static_cast<long long>(y), static_cast<long long>(x)), low);
        const __m128i twos = _mm_maddubs_epi16(digits, tens);
        const __m128i fours = _mm_madd_epi16(twos, hundreds);
        const __m128i eights = _mm_madd_epi16(_mm_packus_epi32(fours, fours), tenThousands);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(pairs + count), eights);
        ++count;
    }
    return count;
}

#endif

} // namespace

std::unique_ptr<KernelScanner> KernelScanner::Make(ScanKernel kernel)
{
#if defined(__x86_64__)
    if (kernel == ScanKernel::Best) {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("popcnt"))
            return std::unique_ptr<KernelScanner>(new KernelScanner(&ListBoundariesAvx2, &ParsePairsAvx2));
    }
    if (kernel == ScanKernel::Best || kernel == ScanKernel::Sse2)
        return std::unique_ptr<KernelScanner>(new KernelScanner(&ListBoundariesSse2, &ParsePairsScalar));
#endif
    (void)kernel;
    return nullptr;
}

std::size_t KernelScanner::CountRuns(const unsigned char* data, std::size_t size, bool inRun)
{
#if defined(__x86_64__)
    static const auto count = [] {
        __builtin_cpu_init();
        const bool avx2
            = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("popcnt");
        return avx2 ? &CountRunsAvx2 : &CountRunsSse2;
    }();
    return count(data, size, inRun);
#else
    std::size_t runs = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const bool digit = data[i] >= '0' && data[i] <= '9';
        runs += digit && !inRun;
        inRun = digit;
    }
    return runs;
#endif
}

KernelScanner::KernelScanner(BoundaryLister lister, PairParser parser)
    : m_listBoundaries(lister)
    , m_parsePairs(parser)
{
}

void KernelScanner::Push(std::uint32_t number, Point* pairs, std::size_t& count)
{
    if (m_havePendingX)
        pairs[count++] = Point{static_cast<std::int32_t>(m_pendingX), static_cast<std::int32_t>(number)};
    else
        m_pendingX = number;
    m_havePendingX = !m_havePendingX;
}

std::size_t KernelScanner::Scan(unsigned char* data, std::size_t size, Point* pairs)
{
    // Zero padding keeps reads past the block defined, whatever was there.
    std::memset(data + size, 0, kPadding);
    return ScanInPlace(data, size, pairs);
}

// The listers drop the bits past the block, and the digit parsers shift out
// the bytes past each run, so the padding's contents never count.
std::size_t KernelScanner::ScanInPlace(const unsigned char* data, std::size_t size, Point* pairs)
{
    if (size == 0)
        return 0;
    if (m_bounds.size() < size + 128)
        m_bounds.resize(size + 128); // every byte may start or end a run, plus Flatten's scratch

    const std::size_t boundCount = m_listBoundaries(data, size, m_inRun, m_bounds.data());
    const std::uint32_t* bounds = m_bounds.data();
    auto runAt = [&](std::size_t k) { return ParseRun(data + bounds[k], bounds[k + 1] - bounds[k]); };

    std::size_t count = 0;
    std::size_t i = 0;
    if (m_inRun) {
        if (boundCount == 0) {
            m_run = ParseDigits(m_run, data, size);
            return 0;
        }
        Push(ParseDigits(m_run, data, bounds[0]), pairs, count);
        i = 1;
    }
    if (m_havePendingX && i + 1 < boundCount) {
        Push(runAt(i), pairs, count);
        i += 2;
    }
    // The bulk: two whole runs make one pair.
    count += m_parsePairs(data, bounds, i, boundCount, pairs + count);
    if (i + 1 < boundCount) {
        Push(runAt(i), pairs, count);
        i += 2;
    }
    m_inRun = i < boundCount;
    if (m_inRun)
        m_run = ParseDigits(0, data + bounds[i], size - bounds[i]);
    return count;
}

void KernelScanner::StartMidPair()
{
    m_havePendingX = true;
    m_pendingX = 0;
}

std::size_t KernelScanner::EndPart(Point* pairs)
{
    std::size_t count = 0;
    if (m_inRun)
        Push(m_run, pairs, count);
    m_inRun = false;
    return count;
}

std::size_t KernelScanner::Finish(Point* pairs)
{
    std::size_t count = 0;
    if (m_inRun)
        Push(m_run, pairs, count);
    if (m_havePendingX)
        Push(0, pairs, count); // a lone last number pairs with 0
    m_inRun = false;
    return count;
}

} // namespace kav
