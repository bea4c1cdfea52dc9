#include "exchange/parallel_scan.h"

#include "exchange/mapped_file.h"
#include "exchange/scan_kernels.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace kav {

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Scanned bytes of a mapped part are released in steps of this many.
constexpr std::uint64_t kReleaseStep = std::uint64_t{8} << 20;

// Where the text's bytes come from: copies, or the mapping itself.
struct Source {
    std::uint64_t size = 0;
    TextReader copy;
    // Runs use(bytes) on text[at, at + n), followed by KernelScanner::kPadding
    // readable bytes; `buffer` holds blockSize + kPadding bytes. False when
    // the bytes could not be had.
    std::function<bool(std::uint64_t at, std::size_t n, std::vector<char>& buffer,
                       const std::function<void(const unsigned char*)>& use)>
        view;
    // text[at, at + n) will not be read again.
    std::function<void(std::uint64_t at, std::uint64_t n)> release;
};

// Where each part starts: 0, then the first separator at or after each
// cut. A cut inside the part before, or with no separator after it, cuts
// nothing. Ends with `size`.
bool PartStarts(std::uint64_t size, const TextReader& read, std::span<const std::uint64_t> cuts,
                std::vector<std::uint64_t>& starts)
{
    std::vector<std::uint64_t> sorted(cuts.begin(), cuts.end());
    std::sort(sorted.begin(), sorted.end());
    starts.assign(1, 0);
    std::vector<char> window(4096);
    std::uint64_t searched = 0; // no separator in [starts.back(), searched)
    for (const std::uint64_t cut : sorted) {
        std::uint64_t at = std::max({cut, searched, starts.back() + 1});
        bool found = false;
        while (!found && at < size) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(window.size(), size - at));
            if (!read(at, {window.data(), n}))
                return false;
            const auto separator = std::find_if(window.begin(), window.begin() + n, [](char c) { return !IsDigit(c); });
            at += static_cast<std::uint64_t>(separator - window.begin());
            found = separator != window.begin() + n;
        }
        searched = at;
        if (!found)
            break;
        starts.push_back(at);
    }
    starts.push_back(size);
    return true;
}

// Runs part(index, buffer) for every part on `threads` threads, the
// caller's among them; the first result other than Finished ends the work.
template <class Part>
ParallelScanResult ForEachPart(std::size_t parts, const ParallelScanOptions& options, const Part& part)
{
    std::atomic<std::size_t> next = 0;
    std::atomic<int> failure = static_cast<int>(ParallelScanResult::Finished);
    auto work = [&] {
        std::vector<char> buffer(options.blockSize + KernelScanner::kPadding);
        for (std::size_t i; failure == static_cast<int>(ParallelScanResult::Finished) && (i = next++) < parts;) {
            const ParallelScanResult result = part(i, buffer);
            if (result != ParallelScanResult::Finished)
                failure = static_cast<int>(result);
        }
    };
    std::vector<std::thread> helpers;
    const std::size_t threads = std::clamp<std::size_t>(options.threads, 1, parts);
    for (std::size_t t = 1; t < threads; ++t)
        helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers)
        helper.join();
    return static_cast<ParallelScanResult>(failure.load());
}

ParallelScanResult Scan(const Source& source, std::span<const std::uint64_t> cuts, const PairPlace& place,
                        const ParallelScanOptions& options);

} // namespace

bool CanScanInParallel()
{
    return KernelScanner::Make(ScanKernel::Best) != nullptr;
}

ParallelScanResult ScanInParallel(std::uint64_t size, const TextReader& read, std::span<const std::uint64_t> cuts,
                                  const PairPlace& place, const ParallelScanOptions& options)
{
    Source source;
    source.size = size;
    source.copy = read;
    source.view = [&](std::uint64_t at, std::size_t n, std::vector<char>& buffer,
                      const std::function<void(const unsigned char*)>& use) {
        if (!read(at, {buffer.data(), n}))
            return false;
        use(reinterpret_cast<const unsigned char*>(buffer.data()));
        return true;
    };
    return Scan(source, cuts, place, options);
}

ParallelScanResult ScanInParallel(const MappedFile& text, std::span<const std::uint64_t> cuts, const PairPlace& place,
                                  const ParallelScanOptions& options)
{
    Source source;
    source.size = text.Size();
    source.copy = [&](std::uint64_t at, std::span<char> into) {
        return text.Guarded([&] { std::copy_n(text.Bytes() + at, into.size(), into.data()); });
    };
    source.view
        = [&](std::uint64_t at, std::size_t, std::vector<char>&, const std::function<void(const unsigned char*)>& use) {
              return text.Guarded([&] { use(text.Bytes() + at); });
          };
    source.release = [&](std::uint64_t at, std::uint64_t n) { text.Release(at, n); };
    return Scan(source, cuts, place, options);
}

namespace {

ParallelScanResult Scan(const Source& source, std::span<const std::uint64_t> cuts, const PairPlace& place,
                        const ParallelScanOptions& options)
{
    const std::uint64_t size = source.size;
    std::vector<std::uint64_t> starts;
    if (!PartStarts(size, source.copy, cuts, starts))
        return ParallelScanResult::ReadFailed;
    const std::size_t parts = starts.size() - 1;
    const std::size_t block = std::max<std::size_t>(options.blockSize, 1);
    auto cancelled = [&] { return options.cancelled != nullptr && options.cancelled->load(); };
    auto advance = [](std::atomic<std::int64_t>* counter, std::int64_t by) {
        if (counter != nullptr)
            *counter += by;
    };
    // Reads part i a block at a time: each(bytes, count) per block, false
    // when the text is not what the first pass found. Within the source's
    // guard, so each owns nothing that needs destroying.
    auto blocks = [&](std::size_t i, std::vector<char>& buffer, auto each, bool release) {
        std::uint64_t kept = starts[i]; // not yet released
        for (std::uint64_t at = starts[i]; at < starts[i + 1];) {
            if (cancelled())
                return ParallelScanResult::Cancelled;
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block, starts[i + 1] - at));
            bool same = true;
            if (!source.view(at, n, buffer, [&](const unsigned char* bytes) { same = each(bytes, n); }))
                return ParallelScanResult::ReadFailed;
            if (!same)
                return ParallelScanResult::Changed;
            at += n;
            if (release && source.release && (at - kept >= kReleaseStep || at == starts[i + 1])) {
                source.release(kept, at - kept);
                kept = at;
            }
        }
        return ParallelScanResult::Finished;
    };

    // Every part begins at a separator, so no number runs into the next.
    std::vector<std::uint64_t> numbers(parts);
    ParallelScanResult result = ForEachPart(parts, options, [&](std::size_t i, std::vector<char>& buffer) {
        bool inRun = false;
        return blocks(
            i, buffer,
            [&](const unsigned char* bytes, std::size_t n) {
                numbers[i] += KernelScanner::CountRuns(bytes, n, inRun);
                inRun = IsDigit(static_cast<char>(bytes[n - 1]));
                advance(options.progress, static_cast<std::int64_t>(n / 2));
                return true;
            },
            false);
    });
    if (result != ParallelScanResult::Finished)
        return result;
    std::vector<std::uint64_t> before(parts + 1, 0); // numbers before each part
    for (std::size_t i = 0; i < parts; ++i)
        before[i + 1] = before[i] + numbers[i];
    const std::uint64_t total = (before[parts] + 1) / 2; // a lone last number pairs with 0
    if (total == 0)
        return ParallelScanResult::Finished;
    Point* const out = place(static_cast<std::size_t>(total));
    if (out == nullptr)
        return ParallelScanResult::Refused;

    // A part's last number, when it is an x: the next numbers complete it.
    std::vector<std::optional<std::uint32_t>> openX(parts);
    result = ForEachPart(parts, options, [&](std::size_t i, std::vector<char>& buffer) {
        const bool last = i + 1 == parts;
        const std::uint64_t end = before[i + 1];
        Point* to = out + before[i] / 2;
        Point* const limit = out + end / 2 + (last ? end % 2 : 0);
        std::unique_ptr<KernelScanner> scanner = KernelScanner::Make(ScanKernel::Best);
        if (before[i] % 2 != 0)
            scanner->StartMidPair();
        std::vector<Point> found(KernelScanner::PairRoom(block));
        // The pairs go to this part's own places, and no further.
        auto keep = [&](const Point* pairs, std::size_t count) {
            if (count > static_cast<std::size_t>(limit - to))
                return false;
            to = pairs == to ? to + count : std::copy_n(pairs, count, to);
            advance(options.pairsDone, static_cast<std::int64_t>(count));
            return true;
        };
        const ParallelScanResult scanned = blocks(
            i, buffer,
            [&](const unsigned char* bytes, std::size_t n) {
                advance(options.progress, static_cast<std::int64_t>(n - n / 2));
                // Straight into place where the room is sure, with no copy.
                const bool room = static_cast<std::size_t>(limit - to) >= KernelScanner::PairRoom(n);
                Point* const into = room ? to : found.data();
                return keep(into, scanner->ScanInPlace(bytes, n, into));
            },
            true);
        if (scanned != ParallelScanResult::Finished)
            return scanned;
        if (!keep(found.data(), last ? scanner->Finish(found.data()) : scanner->EndPart(found.data())) || to != limit)
            return ParallelScanResult::Changed;
        if (!last && numbers[i] > 0 && end % 2 != 0)
            openX[i] = scanner->OpenX();
        return ParallelScanResult::Finished;
    });
    if (result != ParallelScanResult::Finished)
        return result;
    // The pair a part's open x begins was written by a part after it.
    for (std::size_t i = 0; i < parts; ++i) {
        if (openX[i])
            out[before[i + 1] / 2].x = static_cast<std::int32_t>(*openX[i]);
    }
    return ParallelScanResult::Finished;
}

} // namespace

} // namespace kav
