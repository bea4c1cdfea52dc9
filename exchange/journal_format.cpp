#include "exchange/journal_format.h"

#include <cstring>

namespace kav::journal {

namespace {

constexpr char kMagic[8] = {'K', 'A', 'V', 'J', 'R', 'N', 'L', '\n'};
constexpr std::uint32_t kVersion = 1;
constexpr std::uint32_t kByteOrder = 0x01020304;

} // namespace

std::uint64_t Checksum(std::uint64_t seed, const void* data, std::size_t bytes)
{
    constexpr std::uint64_t kPrime = 0x9E3779B97F4A7C15ULL;
    const auto* at = static_cast<const unsigned char*>(data);
    std::uint64_t h = seed ^ (bytes * kPrime);
    for (; bytes >= 8; at += 8, bytes -= 8) {
        std::uint64_t word;
        std::memcpy(&word, at, 8);
        h = (h ^ word) * kPrime;
        h = (h << 31) | (h >> 33);
    }
    if (bytes > 0) {
        std::uint64_t word = 0;
        std::memcpy(&word, at, bytes);
        h = (h ^ word) * kPrime;
    }
    h ^= h >> 32;
    return h * kPrime;
}

std::array<unsigned char, kHeaderBytes> EncodeHeader(const Header& header, std::uint64_t* checksum)
{
    std::array<unsigned char, kHeaderBytes> bytes{};
    std::memcpy(bytes.data(), kMagic, 8);
    std::memcpy(bytes.data() + 8, &kVersion, 4);
    std::memcpy(bytes.data() + 12, &kByteOrder, 4);
    std::memcpy(bytes.data() + 16, &header.started, 8);
    std::memcpy(bytes.data() + 24, &header.count, 8);
    std::memcpy(bytes.data() + 32, &header.pointsChecksum, 8);
    std::memcpy(bytes.data() + 40, &header.pid, 4);
    *checksum = Checksum(0, bytes.data(), 56);
    std::memcpy(bytes.data() + 56, checksum, 8);
    return bytes;
}

std::optional<Header> DecodeHeader(const unsigned char* bytes, std::uint64_t* checksum)
{
    std::uint32_t version = 0;
    std::uint32_t order = 0;
    std::memcpy(&version, bytes + 8, 4);
    std::memcpy(&order, bytes + 12, 4);
    std::memcpy(checksum, bytes + 56, 8);
    if (std::memcmp(bytes, kMagic, 8) != 0 || version != kVersion || order != kByteOrder
        || *checksum != Checksum(0, bytes, 56))
        return std::nullopt;
    Header header;
    std::memcpy(&header.started, bytes + 16, 8);
    std::memcpy(&header.count, bytes + 24, 8);
    std::memcpy(&header.pointsChecksum, bytes + 32, 8);
    std::memcpy(&header.pid, bytes + 40, 4);
    return header;
}

// No default: a new kind of change must be given its place here.
std::optional<RecordKind> StoredKind(PointChange::Kind kind)
{
    switch (kind) {
    case PointChange::Kind::Append:
    case PointChange::Kind::Redo: // the undone point comes back at the end
        return kAppend;
    case PointChange::Kind::RemoveLast:
        return kRemoveLast;
    case PointChange::Kind::Clear:
        return kClear;
    case PointChange::Kind::Recovered:
        return kRecovered;
    case PointChange::Kind::ReplaceAll:
    case PointChange::Kind::AppendAll:
        return std::nullopt;
    }
    return std::nullopt;
}

std::array<unsigned char, kRecordBytes> EncodeRecord(RecordKind kind, Point point, std::uint64_t& chain)
{
    std::array<unsigned char, kRecordBytes> bytes{};
    bytes[0] = kind;
    std::memcpy(bytes.data() + 4, &point.x, 4);
    std::memcpy(bytes.data() + 8, &point.y, 4);
    chain = Checksum(chain, bytes.data(), 12);
    const auto check = static_cast<std::uint32_t>(chain);
    std::memcpy(bytes.data() + 12, &check, 4);
    return bytes;
}

} // namespace kav::journal
