#pragma once

#include "view/point_store.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kav::bench {

// A text file of about `bytes` bytes of random pairs below 4000, separated by
// a mix of spaces, commas and CR LF; made once and reused, so that it sits in
// the page cache.
std::string ScanInputFile(std::size_t bytes);

// Random pairs below 4000.
std::vector<Point> RandomPoints(std::size_t count, std::uint32_t seed = 1);

// A random walk with steps of at most 5 pixels, kept inside width x height.
std::vector<Point> RandomWalk(std::size_t count, int width, int height, std::uint32_t seed = 7);

std::size_t FileSize(const std::string& path);

std::string TempPath(const std::string& name);

// The sizes a benchmark of the figure runs at: 1M, 10M and 100M points,
// the last in `make bench-large`. For Benchmark::Apply.
inline void AtEverySize(benchmark::internal::Benchmark* b)
{
    b->Arg(1'000'000)->Arg(10'000'000)->Arg(100'000'000);
}

} // namespace kav::bench
