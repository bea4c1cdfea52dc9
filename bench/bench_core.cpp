// The point store and the coordinate text format.

#include "bench_data.h"
#include "exchange/coordinate_format.h"
#include "exchange/listing_index.h"
#include "view/join_index.h"
#include "exchange/point_journal.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

using kav::Point;
using kav::PointStore;

constexpr std::size_t kScanBytes = 100'000'000;
constexpr std::size_t kWritePoints = 10'000'000;
constexpr int kAppendPoints = 10'000'000;

// The plain scanner, fed by one istream::get per character.
void ScanNaive(std::istream& in, PointStore& store)
{
    kav::PlainScanner scanner;
    std::vector<Point> pairs;
    char chunk[4096];
    for (bool more = true; more;) {
        std::size_t size = 0;
        for (int c; size < sizeof chunk && (c = in.get()) != std::char_traits<char>::eof();)
            chunk[size++] = static_cast<char>(c);
        more = size == sizeof chunk;
        scanner.Scan({chunk, size}, pairs);
        if (!more)
            scanner.Finish(pairs);
        if (!store.AppendPoints(pairs))
            return;
        pairs.clear();
    }
}

void BM_ScanNaiveGet(benchmark::State& state)
{
    const std::string path = kav::bench::ScanInputFile(kScanBytes);
    for (auto _ : state) {
        PointStore store;
        std::ifstream in(path, std::ios::binary);
        ScanNaive(in, store);
        benchmark::DoNotOptimize(store.ActivePoints().size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kav::bench::FileSize(path)));
}
BENCHMARK(BM_ScanNaiveGet)->Unit(benchmark::kMillisecond);

void BM_Scan(benchmark::State& state)
{
    const std::string path = kav::bench::ScanInputFile(kScanBytes);
    for (auto _ : state) {
        PointStore store;
        std::ifstream in(path, std::ios::binary);
        kav::ScanPoints(in, [&](std::span<const Point> batch) { return store.AppendPoints(batch); });
        benchmark::DoNotOptimize(store.ActivePoints().size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kav::bench::FileSize(path)));
}
BENCHMARK(BM_Scan)->Unit(benchmark::kMillisecond);

void BM_WriteNaive(benchmark::State& state)
{
    const std::vector<Point> points = kav::bench::RandomPoints(kWritePoints);
    const std::string path = kav::bench::TempPath("kav_bench_write_naive.txt");
    for (auto _ : state) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (std::size_t i = 0; i < points.size(); ++i) {
            out << points[i].x << ',' << points[i].y;
            if (i + 1 < points.size())
                out << ',';
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kav::bench::FileSize(path)));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * points.size()));
    std::remove(path.c_str());
}
BENCHMARK(BM_WriteNaive)->Unit(benchmark::kMillisecond);

void BM_Write(benchmark::State& state)
{
    const std::vector<Point> points = kav::bench::RandomPoints(kWritePoints);
    const std::string path = kav::bench::TempPath("kav_bench_write.txt");
    for (auto _ : state) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        kav::WritePoints(out, points, {',', ',', kav::SaveFormat::kClickOrder});
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kav::bench::FileSize(path)));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * points.size()));
    std::remove(path.c_str());
}
BENCHMARK(BM_Write)->Unit(benchmark::kMillisecond);

void BM_Append(benchmark::State& state)
{
    for (auto _ : state) {
        PointStore store;
        for (int i = 0; i < kAppendPoints; ++i) {
            if (!store.AppendPoint({i, -i}))
                state.SkipWithError("store refused a point");
        }
        benchmark::DoNotOptimize(store.ActivePoints().data());
    }
    state.SetItemsProcessed(state.iterations() * kAppendPoints);
}
BENCHMARK(BM_Append)->Unit(benchmark::kMillisecond);

void BM_AppendVector(benchmark::State& state)
{
    for (auto _ : state) {
        std::vector<Point> points;
        for (int i = 0; i < kAppendPoints; ++i)
            points.push_back({i, -i});
        benchmark::DoNotOptimize(points.data());
    }
    state.SetItemsProcessed(state.iterations() * kAppendPoints);
}
BENCHMARK(BM_AppendVector)->Unit(benchmark::kMillisecond);

// One change recorded, its write() included; the sync is the journal
// thread's.
void BM_JournalAppend(benchmark::State& state)
{
    const std::string folder = kav::bench::TempPath("kav_bench_journal_append");
    std::filesystem::remove_all(folder);
    {
        kav::PointJournal journal;
        // As the app wires it: the change through the document, which
        // looks at the journal's lease first.
        kav::PointDocument points;
        points.SetObserver(kav::PointDocument::Slot::Journal, &journal);
        points.AddReader(&journal);
        if (!journal.Open(folder).Ok())
            state.SkipWithError("no journal folder");
        int i = 0;
        for (auto _ : state) {
            const Point p{i % 800, ++i % 600};
            (void)points.Apply(kav::PointChange::Append(p));
        }
        points.EndLeases();
        journal.Discard();
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_JournalAppend)->Unit(benchmark::kMicrosecond);

} // namespace

// The whole listing index, as the listing's thread builds it: how long
// moving to the end, Ctrl+A or a first edit may wait just after opening.
void BM_ListingIndex(benchmark::State& state)
{
    const auto points = kav::bench::RandomPoints(static_cast<std::size_t>(state.range(0)), 5);
    for (auto _ : state) {
        kav::ListingIndex index(points, 400, 300);
        index.Build();
        benchmark::DoNotOptimize(index.Size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ListingIndex)->Apply(kav::bench::AtEverySize)->Unit(benchmark::kMillisecond);

// The blocks' bounds of a whole figure, the first thing the index worker
// does after a load: how long a click may wait for them.
void BM_BoundMore(benchmark::State& state)
{
    const auto points = kav::bench::RandomWalk(static_cast<std::size_t>(state.range(0)), 1280, 960);
    for (auto _ : state) {
        kav::JoinIndex index;
        benchmark::DoNotOptimize(index.BoundMore(points));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) * static_cast<std::int64_t>(sizeof(kav::Point)));
}
BENCHMARK(BM_BoundMore)->Arg(10'000'000)->Arg(100'000'000)->UseRealTime()->Unit(benchmark::kMillisecond);
