#include "exchange/mapped_file.h"
#include "exchange/parallel_scan.h"
#include "support/scan_cases.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <numeric>

#include <unistd.h>

using kav::ParallelScanOptions;
using kav::ParallelScanResult;
using kav::Point;

namespace {

struct Scanned {
    ParallelScanResult result;
    Points pairs;
};

// `text` in a file of its own, mapped; the file is gone once unmapped.
struct MappedText {
    explicit MappedText(const std::string& text)
    {
        std::string name = testing::TempDir() + "kav_scan_XXXXXX";
        fd = ::mkstemp(name.data());
        ::unlink(name.c_str());
        if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())
            || !file.Map(fd, text.size()).Ok())
            std::abort();
    }
    ~MappedText() { ::close(fd); }
    int fd = -1;
    kav::MappedFile file;
};

// Scans `text` cut at `cuts`, from memory, in blocks of `block` bytes;
// through `mapped` when given, which holds the same text.
Scanned ScanCut(const std::string& text, std::span<const std::uint64_t> cuts, std::size_t block = 7,
                unsigned threads = 2, const kav::MappedFile* mapped = nullptr)
{
    Scanned scanned{ParallelScanResult::Finished, {}};
    ParallelScanOptions options;
    options.threads = threads;
    options.blockSize = block;
    const auto read = [&](std::uint64_t offset, std::span<char> into) {
        if (offset + into.size() > text.size())
            return false;
        std::memcpy(into.data(), text.data() + offset, into.size());
        return true;
    };
    const auto place = [&](std::size_t count) {
        scanned.pairs.assign(count, Point{-1, -1});
        return scanned.pairs.data();
    };
    scanned.result = mapped != nullptr ? kav::ScanInParallel(*mapped, cuts, place, options)
                                       : kav::ScanInParallel(text.size(), read, cuts, place, options);
    return scanned;
}

class ParallelScan : public testing::TestWithParam<ScanCase> {
protected:
    void SetUp() override
    {
        if (!kav::CanScanInParallel())
            GTEST_SKIP() << "no kernel on this machine";
    }
};

// Sanitized builds run each scan ten to thirty times slower: of the long
// cases they cut fewer bytes near the ends and take the middle in wider steps.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::uint64_t kNearEnd = 40;
constexpr std::uint64_t kMiddleStep = 9973;
constexpr std::uint64_t kEveryByteTail = 12;
#else
constexpr std::uint64_t kNearEnd = 300;
constexpr std::uint64_t kMiddleStep = 997;
constexpr std::uint64_t kEveryByteTail = 64;
#endif

// Every split point of the short cases, and of the long ones the points
// near their ends and every kMiddleStep-th between: one cut, then one cut
// at every byte from there on.
TEST_P(ParallelScan, EverySplitFindsWhatTheRuleFinds)
{
    const ScanCase& c = GetParam();
    const Points rule = Plain(c.text);
    ASSERT_EQ(rule, c.expected);
    const MappedText mapped(c.text);
    for (std::uint64_t at = 0; at <= c.text.size(); ++at) {
        const bool near = c.text.size() < 2048 || at < kNearEnd || c.text.size() - at < kNearEnd;
        if (!near && at % kMiddleStep != 0)
            continue;
        const std::uint64_t one[] = {at};
        const std::size_t block = near && c.text.size() > 2048 ? 4096 : 7;
        const Scanned cut = ScanCut(c.text, one, block);
        ASSERT_EQ(cut.result, ParallelScanResult::Finished) << "cut at " << at;
        ASSERT_EQ(cut.pairs, rule) << "cut at " << at;
        // Read where it lies, with the file's next bytes after each block;
        // of a long case, near its end.
        if (c.text.size() < 2048 || c.text.size() - at <= kEveryByteTail) {
            const Scanned inPlace = ScanCut(c.text, one, block, 2, &mapped.file);
            ASSERT_EQ(inPlace.result, ParallelScanResult::Finished) << "mapped, cut at " << at;
            ASSERT_EQ(inPlace.pairs, rule) << "mapped, cut at " << at;
        }
        if (c.text.size() - at > kEveryByteTail)
            continue;
        std::vector<std::uint64_t> many(c.text.size() - at);
        std::iota(many.begin(), many.end(), at);
        const Scanned everywhere = ScanCut(c.text, many, 5, 3);
        ASSERT_EQ(everywhere.pairs, rule) << "cut at every byte from " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ParallelScan, testing::ValuesIn(ScanCases()),
                         [](const auto& info) { return info.param.name; });

TEST(ParallelScanFailures, AReadThatFailsOrTextThatChangesIsReported)
{
    if (!kav::CanScanInParallel())
        GTEST_SKIP() << "no kernel on this machine";
    const std::string text = "1 2 3 4 5 6 7 8 9 10";
    const std::string wider = "123 4 5 6"; // 4 numbers, 5 when read again
    ParallelScanOptions options;
    options.blockSize = 4;
    int reads = 0;
    const auto place = [](std::size_t count) { return new Point[count]; };
    // Fails on its fifth read, in the first pass.
    const auto failing = [&](std::uint64_t offset, std::span<char> into) {
        std::memcpy(into.data(), text.data() + offset, into.size());
        return ++reads < 5;
    };
    std::unique_ptr<Point[]> kept;
    const auto keep = [&](std::size_t count) { return (kept = std::unique_ptr<Point[]>(place(count))).get(); };
    EXPECT_EQ(kav::ScanInParallel(text.size(), failing, {}, keep, options), ParallelScanResult::ReadFailed);
    // More numbers the second time than the first: caught, nothing overrun.
    int pass = 0;
    const auto growing = [&](std::uint64_t offset, std::span<char> into) {
        std::memcpy(into.data(), wider.data() + offset, into.size());
        if (offset == 0 && ++pass == 2)
            into[1] = ' '; // "123" becomes "1 3"
        return true;
    };
    EXPECT_EQ(kav::ScanInParallel(wider.size(), growing, {}, keep, options), ParallelScanResult::Changed);
    const auto refuse = [](std::size_t) { return static_cast<Point*>(nullptr); };
    const auto plain = [&](std::uint64_t offset, std::span<char> into) {
        std::memcpy(into.data(), text.data() + offset, into.size());
        return true;
    };
    EXPECT_EQ(kav::ScanInParallel(text.size(), plain, {}, refuse, options), ParallelScanResult::Refused);
    // A mapped file that another process cuts short: a failed read.
    const MappedText mapped(text);
    mapped.file.Release(0, text.size());
    ASSERT_EQ(::ftruncate(mapped.fd, 0), 0);
    EXPECT_EQ(kav::ScanInParallel(mapped.file, {}, keep, options), ParallelScanResult::ReadFailed);
    std::atomic<bool> cancelled = true;
    options.cancelled = &cancelled;
    EXPECT_EQ(kav::ScanInParallel(text.size(), plain, {}, keep, options), ParallelScanResult::Cancelled);
}

} // namespace
