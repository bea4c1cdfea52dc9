#include "exchange/coordinate_format.h"

#include <gtest/gtest.h>

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

using Points = std::vector<Point>;

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

// The rule the scanner implements, written the plain way: every maximal run
// of digits is a number (mod 2^32), numbers pair up, a lone one pairs with 0.
Points Reference(const std::string& text)
{
    std::vector<std::uint32_t> numbers;
    bool inRun = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            if (!inRun)
                numbers.push_back(0);
            numbers.back() = numbers.back() * 10u + static_cast<std::uint32_t>(c - '0');
            inRun = true;
        } else {
            inRun = false;
        }
    }
    if (numbers.size() % 2 != 0)
        numbers.push_back(0);
    Points pairs;
    for (std::size_t i = 0; i < numbers.size(); i += 2)
        pairs.push_back({static_cast<std::int32_t>(numbers[i]), static_cast<std::int32_t>(numbers[i + 1])});
    return pairs;
}

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

TEST(Scanner, TakesAnyNonDigitAsSeparator)
{
    const Points expected = {{10, 20}, {30, 40}};
    EXPECT_EQ(Scan("10 20 30 40"), expected);
    EXPECT_EQ(Scan("10,20;30|40"), expected);
    EXPECT_EQ(Scan("x=10 y=20 / x=30 y=40"), expected);
    EXPECT_EQ(Scan("10 20 30 40\n"), expected);
    EXPECT_EQ(Scan("10 20 30 40\r\n"), expected);
    EXPECT_EQ(Scan("10\r\n20\r\n30\r\n40"), expected);
    EXPECT_EQ(Scan("-5,-7"), (Points{{5, 7}}));
    EXPECT_EQ(Scan("1.5 2.5"), (Points{{1, 5}, {2, 5}}));
    EXPECT_EQ(Scan(std::string("1\0"
                               "2",
                               3)),
              (Points{{1, 2}}));
}

TEST(Scanner, PairsALoneLastNumberWithZero)
{
    EXPECT_EQ(Scan("10 20 30"), (Points{{10, 20}, {30, 0}}));
    EXPECT_EQ(Scan("10 20 30     "), (Points{{10, 20}, {30, 0}}));
    EXPECT_EQ(Scan("7"), (Points{{7, 0}}));
}

TEST(Scanner, TrailingSeparatorsAddNoPhantomPair)
{
    EXPECT_EQ(Scan("10 20\n\n"), (Points{{10, 20}}));
    EXPECT_EQ(Scan("10 20\r\n\r\n   \t"), (Points{{10, 20}}));
    EXPECT_EQ(Scan(""), Points{});
    EXPECT_EQ(Scan("abc"), Points{});
    EXPECT_EQ(Scan("\n"), Points{});
}

TEST(Scanner, Byte0xFFIsAnOrdinarySeparator)
{
    EXPECT_EQ(Scan("10\xff"
                   "20 30"),
              (Points{{10, 20}, {30, 0}}));
    EXPECT_EQ(Scan("\xff\xff"
                   "1\xff"
                   "2\xff"),
              (Points{{1, 2}}));
}

TEST(Scanner, ADigitSeparatorMergesNumbers)
{
    const std::string text = Write({{1, 2}}, {'5', '5', 1});
    EXPECT_EQ(text, "152");
    EXPECT_EQ(Scan(text), (Points{{152, 0}}));
}

TEST(Scanner, LongNumbersWrapAround32Bits)
{
    EXPECT_EQ(Scan("2147483648 4294967296"), (Points{{-2147483647 - 1, 0}}));
    EXPECT_EQ(Scan("4294967297 2147483647"), (Points{{1, 2147483647}}));
    EXPECT_EQ(Scan("00000000000000000000000000000042 9"), (Points{{42, 9}}));
    const std::string huge(1000, '9'); // 10^1000 - 1 mod 2^32
    EXPECT_EQ(Scan(huge + " 1"), Reference(huge + " 1"));
}

TEST(Scanner, ReadsAcrossBlockBoundaries)
{
    const std::size_t block = PointScanner::kBlockSize;
    for (const std::size_t at : {block - 3, block - 2, block - 1, block, block + 1}) {
        // A number split by the block's end, then a CR LF split by it.
        std::string text(at - 2, ' ');
        text += "12345 678\r\n9";
        EXPECT_EQ(Scan(text), (Points{{12345, 678}, {9, 0}})) << at;
        std::string crlf(at - 1, ' ');
        crlf += "\r\n5 6";
        EXPECT_EQ(Scan(crlf), (Points{{5, 6}})) << at;
    }
    // A run of digits longer than a whole block.
    std::string digits(block + 100, '1');
    digits += " 2 3";
    EXPECT_EQ(Scan(digits), Reference(digits));
    EXPECT_EQ(Scan(digits, ScanKernel::Sse2), Reference(digits));
    EXPECT_EQ(Scan(digits, ScanKernel::Portable), Reference(digits));
    // An odd count of numbers whose x stands at the end of a block.
    std::string odd(block - 2, ' ');
    odd += "77 88 99";
    EXPECT_EQ(Scan(odd), (Points{{77, 88}, {99, 0}}));
}

TEST(Scanner, BothKernelsMatchTheReferenceOnGeneratedText)
{
    std::mt19937 random(20261207);
    static const char kAlphabet[] = "0123456789012345678901234567890123456789 ,;\r\n\r\n.-+\xff\x00\x7f\x80xyz";
    const std::string alphabet(kAlphabet, sizeof kAlphabet - 1);
    for (int round = 0; round < 400; ++round) {
        const std::size_t length = round < 350 ? random() % 300 : PointScanner::kBlockSize + random() % 5000;
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
        const Points expected = Reference(text);
        for (const ScanKernel kernel : {ScanKernel::Best, ScanKernel::Sse2, ScanKernel::Portable})
            ASSERT_EQ(Scan(text, kernel), expected) << "round " << round << " kernel " << int(kernel);
    }
}

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

TEST(RoundTrip, EveryFormatReadsBackUnlessASeparatorIsADigit)
{
    Points figure;
    for (int i = 0; i < 1000; ++i)
        figure.push_back({(i * 37) % 801, (i * 91) % 613});
    for (const char sepX : {' ', ',', ';', '\0', '\t', 'a'}) {
        for (const char sepY : {' ', ',', '|', '\0', '\n'}) {
            for (const std::int32_t order : {1, 2}) {
                Points back = Scan(Write(figure, {sepX, sepY, order}));
                if (order == 2)
                    std::reverse(back.begin(), back.end());
                ASSERT_EQ(back, figure) << int(sepX) << ' ' << int(sepY) << ' ' << order;
            }
        }
    }
}
