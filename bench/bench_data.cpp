#include "bench_data.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

namespace kav::bench {

std::string TempPath(const std::string& name)
{
    return (std::filesystem::temp_directory_path() / name).string();
}

std::size_t FileSize(const std::string& path)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<std::size_t>(size);
}

std::string ScanInputFile(std::size_t bytes)
{
    const std::string path = TempPath("kav_bench_scan_" + std::to_string(bytes) + ".txt");
    if (FileSize(path) >= bytes)
        return path;
    std::mt19937 random(42);
    std::string text;
    text.reserve(bytes + 32);
    static const char* const kSeparators[] = {" ", ",", "\r\n", ", ", " "};
    while (text.size() < bytes) {
        text += std::to_string(random() % 4000);
        text += kSeparators[random() % 5];
    }
    std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
    return path;
}

std::vector<Point> RandomPoints(std::size_t count, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<Point> points(count);
    for (Point& p : points)
        p = {static_cast<std::int32_t>(random() % 4000), static_cast<std::int32_t>(random() % 4000)};
    return points;
}

std::vector<Point> RandomWalk(std::size_t count, int width, int height, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<Point> points(count);
    Point at{width / 2, height / 2};
    for (Point& p : points) {
        at.x = std::clamp(at.x + static_cast<std::int32_t>(random() % 11) - 5, 0, width - 1);
        at.y = std::clamp(at.y + static_cast<std::int32_t>(random() % 11) - 5, 0, height - 1);
        p = at;
    }
    return points;
}

} // namespace kav::bench
