#pragma once

// The reading rule's cases, shared by every scanner's tests.

#include "exchange/coordinate_format.h"

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

using Points = std::vector<kav::Point>;

// What the rule itself finds, fed in one piece.
inline Points Plain(const std::string& text)
{
    kav::PlainScanner scanner;
    Points pairs;
    scanner.Scan(text, pairs);
    scanner.Finish(pairs);
    return pairs;
}

struct ScanCase {
    std::string name;
    std::string text;
    Points expected;
};

inline void PrintTo(const ScanCase& c, std::ostream* out)
{
    *out << c.name;
}

inline std::string Spaces(std::size_t n)
{
    return std::string(n, ' ');
}

inline std::vector<ScanCase> ScanCases()
{
    const Points both = {{10, 20}, {30, 40}};
    const std::size_t block = kav::PointScanner::kBlockSize;
    std::vector<ScanCase> cases = {
        {"Spaces", "10 20 30 40", both},
        {"MixedSeparators", "10,20;30|40", both},
        {"Words", "x=10 y=20 / x=30 y=40", both},
        {"TrailingLf", "10 20 30 40\n", both},
        {"TrailingCrLf", "10 20 30 40\r\n", both},
        {"CrLfBetween", "10\r\n20\r\n30\r\n40", both},
        {"SignsSeparate", "-5,-7", {{5, 7}}},
        {"PointsSeparate", "1.5 2.5", {{1, 5}, {2, 5}}},
        {"ZeroByte",
         std::string("1\0"
                     "2",
                     3),
         {{1, 2}}},
        {"LoneLastNumber", "10 20 30", {{10, 20}, {30, 0}}},
        {"LoneLastNumberThenSpaces", "10 20 30     ", {{10, 20}, {30, 0}}},
        {"OneNumber", "7", {{7, 0}}},
        {"TwoLineEndsAfterAPair", "10 20\n\n", {{10, 20}}},
        {"TrailingMix", "10 20\r\n\r\n   \t", {{10, 20}}},
        {"Empty", "", {}},
        {"NoDigits", "abc", {}},
        {"OnlyALineEnd", "\n", {}},
        {"FFSeparates",
         "10\xff"
         "20 30",
         {{10, 20}, {30, 0}}},
        {"FFRuns",
         "\xff\xff"
         "1\xff"
         "2\xff",
         {{1, 2}}},
        {"Wraps32Bits", "2147483648 4294967296", {{-2147483647 - 1, 0}}},
        {"WrapsPastOne", "4294967297 2147483647", {{1, 2147483647}}},
        {"LeadingZeros", "00000000000000000000000000000042 9", {{42, 9}}},
        {"ThousandNines", std::string(1000, '9') + " 1", Plain(std::string(1000, '9') + " 1")},
        {"RunLongerThanABlock", std::string(block + 100, '1') + " 2 3", Plain(std::string(block + 100, '1') + " 2 3")},
        {"OddCountAtBlockEnd", Spaces(block - 2) + "77 88 99", {{77, 88}, {99, 0}}},
    };
    // A number, then a CR LF, split by the block's end.
    for (const std::size_t at : {block - 3, block - 2, block - 1, block, block + 1}) {
        const std::string offset = std::to_string(static_cast<long long>(at) - static_cast<long long>(block));
        cases.push_back({"NumberAtBlockEnd" + offset, Spaces(at - 2) + "12345 678\r\n9", {{12345, 678}, {9, 0}}});
        cases.push_back({"CrLfAtBlockEnd" + offset, Spaces(at - 1) + "\r\n5 6", {{5, 6}}});
    }
    for (ScanCase& c : cases)
        std::replace(c.name.begin(), c.name.end(), '-', 'm');
    return cases;
}
