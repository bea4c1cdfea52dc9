#pragma once

#include "view/point_store.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <span>
#include <vector>

namespace kav {

// How one save writes the points: the byte after every x, the byte between
// two points, and the order.
struct SaveFormat {
    static constexpr std::int32_t kClickOrder = 1;
    static constexpr std::int32_t kReverseOrder = 2;

    char m_sepX = ' ';
    char m_sepY = ' ';
    std::int32_t m_order = kClickOrder; // anything but 1 means reverse

    friend bool operator==(const SaveFormat&, const SaveFormat&) = default;
};

// Writes "x<sepX>y" per point, with sepY between two points and nothing
// else: no header, no trailing separator, no line end. Returns the stream's
// state afterwards (false after a write error).
bool WritePoints(std::ostream& out, std::span<const Point> points, const SaveFormat& format);

// How any text reads back, one byte at a time. Every maximal run of ASCII
// digits is one number (signs, points and all other bytes separate them),
// accumulated modulo 2^32 and read as signed 32-bit; the numbers pair up in
// order, and a lone last number pairs with 0. This is the rule; the
// scanner's fast kernels must find exactly the pairs that this finds.
class PlainScanner {
public:
    // Appends to `pairs` every pair that `text` completes.
    void Scan(std::span<const char> text, std::vector<Point>& pairs);
    // The input has ended: an open number ends, and a lone x pairs with 0.
    void Finish(std::vector<Point>& pairs);

private:
    void EndNumber(std::vector<Point>& pairs);

    bool m_inNumber = false;
    std::uint32_t m_number = 0;
    bool m_haveX = false;
    std::uint32_t m_x = 0;
};

// Receives the pairs that the scanner found, in file order, a batch at a
// time. Returning false stops the scan.
using PointSink = std::function<bool(std::span<const Point>)>;

enum class ScanResult {
    Finished, // the input ended
    ReadError, // the stream failed before its end
    Stopped, // the sink asked to stop
};

// Which code reads the bytes; the pairs are the same.
enum class ScanKernel {
    Best, // the widest SIMD kernel that the CPU has; PlainScanner where there is none
    Sse2, // the 16-byte SIMD kernel (PlainScanner where there is none)
    Plain, // PlainScanner
};

class KernelScanner;

// Scans text handed over a block at a time, for readers that are not
// std::istream. Read up to Buffer().size() bytes into Buffer(), then Feed()
// them; Finish() once the input has ended.
class PointScanner {
public:
    static constexpr std::size_t kBlockSize = std::size_t{1} << 17;

    explicit PointScanner(PointSink sink, ScanKernel kernel = ScanKernel::Best);
    ~PointScanner();
    PointScanner(const PointScanner&) = delete;
    PointScanner& operator=(const PointScanner&) = delete;

    std::span<char> Buffer();
    // Scans the first `size` bytes of Buffer(). False when the sink stopped.
    bool Feed(std::size_t size);
    // Hands over what the last block left open. False when the sink stopped.
    bool Finish();

private:
    bool Hand(std::span<const Point> pairs);

    PointSink m_sink;
    std::unique_ptr<KernelScanner> m_kernel; // none: PlainScanner reads
    PlainScanner m_plain;
    std::vector<char> m_block;
    std::vector<Point> m_pairs; // what the last block completed
};

// Reads every pair of `in` (see PlainScanner) and hands them to `sink`.
ScanResult ScanPoints(std::istream& in, const PointSink& sink, ScanKernel kernel = ScanKernel::Best);

} // namespace kav
