#include "exchange/coordinate_format.h"
#include "exchange/scan_kernels.h"
#include "support/scan_cases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using kav::Point;
using kav::PointScanner;
using kav::SaveFormat;
using kav::ScanKernel;
using kav::ScanResult;

namespace {

std::string Write(const Points& points, SaveFormat format)
{
    std::ostringstream out;
    EXPECT_TRUE(kav::WritePoints(out, points, format));
    return out.str();
}

Points Scan(const std::string& text, ScanKernel kernel = ScanKernel::Best)
{
    Points found;
    std::istringstream in(text);
    const ScanResult result = kav::ScanPoints(
        in,
        [&](std::span<const Point> batch) {
            found.insert(found.end(), batch.begin(), batch.end());
            return true;
        },
        kernel);
    EXPECT_EQ(result, ScanResult::Finished);
    return found;
}

std::string KernelName(ScanKernel kernel)
{
    switch (kernel) {
    case ScanKernel::Best:
        return "Best";
    case ScanKernel::Sse2:
        return "Sse2";
    case ScanKernel::Plain:
        return "Plain";
    }
    return "?";
}

} // namespace

namespace kav {
void PrintTo(ScanKernel kernel, std::ostream* out)
{
    *out << KernelName(kernel);
}
} // namespace kav

namespace {

const Points kThree = {{10, 20}, {30, 40}, {50, 60}};

} // namespace

TEST(Writer, WritesEveryFormatInBothOrders)
{
    EXPECT_EQ(Write(kThree, {' ', ' ', 1}), "10 20 30 40 50 60");
    EXPECT_EQ(Write(kThree, {',', ',', 1}), "10,20,30,40,50,60");
    EXPECT_EQ(Write(kThree, {';', '|', 1}), "10;20|30;40|50;60");
    EXPECT_EQ(Write(kThree, {',', ',', 2}), "50,60,30,40,10,20");
    EXPECT_EQ(Write(kThree, {';', '|', 7}), "50;60|30;40|10;20"); // any order but 1 is reverse
    EXPECT_EQ(Write({{7, 9}}, {' ', ' ', 2}), "7 9");
    EXPECT_EQ(Write({}, {' ', ' ', 1}), "");
}

TEST(Writer, WritesSignedNumbersAndZeroBytesAsTheyAre)
{
    const Points extremes = {{-2147483647 - 1, 2147483647}, {0, -5}};
    EXPECT_EQ(Write(extremes, {' ', ' ', 1}), "-2147483648 2147483647 0 -5");
    EXPECT_EQ(Write({{1, 2}, {3, 4}}, {'\0', '\0', 1}),
              std::string("1\0"
                          "2\0"
                          "3\0"
                          "4",
                          7));
}

TEST(Writer, ReportsAFailedStream)
{
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    EXPECT_FALSE(kav::WritePoints(out, kThree, {' ', ' ', 1}));
}

TEST(Writer, LargeOutputCrossesItsBufferIntact)
{
    Points many;
    for (int i = 0; i < 50000; ++i)
        many.push_back({i * 7919 - 100000, -i});
    for (const SaveFormat format : {SaveFormat{' ', '\n', 1}, SaveFormat{',', ';', 2}}) {
        Points back = Scan(Write(many, format));
        // signs are separators: only the magnitudes come back
        ASSERT_EQ(back.size(), many.size());
        for (std::size_t i = 0; i < many.size(); ++i) {
            const Point& p = many[format.m_order == 1 ? i : many.size() - 1 - i];
            ASSERT_EQ(back[i], (Point{std::abs(p.x), std::abs(p.y)})) << i;
        }
    }
}

class ScanRule : public testing::TestWithParam<std::tuple<ScanCase, ScanKernel>> { };

TEST_P(ScanRule, FindsThePairs)
{
    const auto& [scanCase, kernel] = GetParam();
    EXPECT_EQ(Scan(scanCase.text, kernel), scanCase.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ScanRule,
                         testing::Combine(testing::ValuesIn(ScanCases()),
                                          testing::Values(ScanKernel::Best, ScanKernel::Sse2, ScanKernel::Plain)),
                         [](const auto& info) {
                             return std::get<0>(info.param).name + "_" + KernelName(std::get<1>(info.param));
                         });

TEST(Scanner, ADigitSeparatorMergesNumbers)
{
    const std::string text = Write({{1, 2}}, {'5', '5', 1});
    EXPECT_EQ(text, "152");
    EXPECT_EQ(Scan(text), (Points{{152, 0}}));
}

// The kernels against the rule, on text that mixes digit runs of every
// length with every kind of separator, short and past a block's end.
struct GeneratedText {
    std::string name;
    std::size_t rounds;
    std::size_t minLength, extraLength;
};

void PrintTo(const GeneratedText& shape, std::ostream* out)
{
    *out << shape.name;
}

// Scanned where it lies, in blocks of random sizes, each followed by the
// text's next bytes and the last by digits: what follows must not count.
Points InPlace(const std::string& text, ScanKernel kernel, std::uint32_t seed)
{
    std::mt19937 random(seed);
    const std::string padded = text + std::string(kav::KernelScanner::kPadding, '9');
    const auto* bytes = reinterpret_cast<const unsigned char*>(padded.data());
    const std::unique_ptr<kav::KernelScanner> scanner = kav::KernelScanner::Make(kernel);
    Points found(text.size() + 4);
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = std::min<std::size_t>(1 + random() % 300, text.size() - at);
        count += scanner->ScanInPlace(bytes + at, n, found.data() + count);
        at += n;
    }
    found.resize(count + scanner->Finish(found.data() + count));
    return found;
}

class KernelMatchesPlain : public testing::TestWithParam<std::tuple<GeneratedText, ScanKernel>> { };

TEST_P(KernelMatchesPlain, OnGeneratedText)
{
    const auto& [shape, kernel] = GetParam();
    std::mt19937 random(20261207);
    static const char kAlphabet[] = "0123456789012345678901234567890123456789 ,;\r\n\r\n.-+\xff\x00\x7f\x80xyz";
    const std::string alphabet(kAlphabet, sizeof kAlphabet - 1);
    for (std::size_t round = 0; round < shape.rounds; ++round) {
        const std::size_t length = shape.minLength + random() % shape.extraLength;
        std::string text(length, ' ');
        const std::size_t maxRun = 1 + random() % 24; // some rounds with long runs
        for (std::size_t i = 0; i < length;) {
            if (random() % 2 == 0) {
                const std::size_t run = 1 + random() % maxRun;
                for (std::size_t k = 0; k < run && i < length; ++k)
                    text[i++] = static_cast<char>('0' + random() % 10);
            } else {
                text[i++] = alphabet[random() % alphabet.size()];
            }
        }
        ASSERT_EQ(Scan(text, kernel), Plain(text)) << "round " << round;
        ASSERT_EQ(InPlace(text, kernel, static_cast<std::uint32_t>(round)), Plain(text)) << "in place, round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kernels, KernelMatchesPlain,
    testing::Combine(testing::Values(GeneratedText{"Short", 350, 0, 300},
                                     GeneratedText{"PastABlock", 50, PointScanner::kBlockSize, 5000}),
                     testing::Values(ScanKernel::Best, ScanKernel::Sse2)),
    [](const auto& info) { return std::get<0>(info.param).name + "_" + KernelName(std::get<1>(info.param)); });

TEST(Scanner, StopsWhenTheSinkSaysSo)
{
    std::istringstream in("1 2 3 4");
    int calls = 0;
    EXPECT_EQ(kav::ScanPoints(in,
                              [&](std::span<const Point>) {
                                  ++calls;
                                  return false;
                              }),
              ScanResult::Stopped);
    EXPECT_EQ(calls, 1);
}

TEST(Scanner, ReportsAStreamThatFails)
{
    struct FailingBuffer : std::streambuf {
        int_type underflow() override { throw std::runtime_error("disk gone"); }
    } failing;
    std::istream in(&failing);
    EXPECT_EQ(kav::ScanPoints(in, [](std::span<const Point>) { return true; }), ScanResult::ReadError);
}

class RoundTrip : public testing::TestWithParam<std::tuple<char, char, std::int32_t>> { };

TEST_P(RoundTrip, ReadsBackWhatWasWritten)
{
    const auto [sepX, sepY, order] = GetParam();
    Points figure;
    for (int i = 0; i < 1000; ++i)
        figure.push_back({(i * 37) % 801, (i * 91) % 613});
    Points back = Scan(Write(figure, {sepX, sepY, order}));
    if (order == 2)
        std::reverse(back.begin(), back.end());
    EXPECT_EQ(back, figure);
}

// Every separator but a digit reads back.
INSTANTIATE_TEST_SUITE_P(Separators, RoundTrip,
                         testing::Combine(testing::Values(' ', ',', ';', '\0', '\t', 'a'),
                                          testing::Values(' ', ',', '|', '\0', '\n'), testing::Values(1, 2)));
