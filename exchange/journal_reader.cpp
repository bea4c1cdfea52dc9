#include "exchange/journal_reader.h"

#include "exchange/journal_folder.h"
#include "exchange/journal_format.h"
#include "exchange/system_calls.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

namespace kav {

using namespace journal;

namespace {

JournalRead ReadOne(const std::string& path, PointStore& points, const FileJobControl& control)
{
    JournalRead read;
    const auto damaged = [&] {
        read.result = FileResult::Failed(FileStep::Read, EBADMSG);
        return read;
    };
    // After each megabyte: false, and the read cancelled, once asked to stop.
    const auto onward = [&](std::uint64_t bytes) {
        if (control.bytes != nullptr)
            *control.bytes += static_cast<std::int64_t>(bytes);
        if (control.points != nullptr)
            *control.points = static_cast<std::int64_t>(points.ActivePoints().size());
        if (!control.Cancelled())
            return true;
        read.result = FileResult::Cancel(FileStep::Read);
        return false;
    };
    const sys::Fd file(sys::Open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat info { };
    if (!file.IsOpen() || ::fstat(file.Get(), &info) != 0) {
        read.result = FileResult::FromErrno(FileStep::OpenForReading);
        return read;
    }
    if (!S_ISREG(info.st_mode))
        return damaged();
    const auto size = static_cast<std::uint64_t>(info.st_size);
    const auto readFailed = [&] {
        read.result = FileResult::FromErrno(FileStep::Read);
        return read;
    };

    unsigned char headerBytes[kHeaderBytes];
    std::uint64_t chain = 0;
    const ssize_t headerGot = sys::ReadFull(file.Get(), headerBytes, kHeaderBytes);
    if (headerGot < 0)
        return readFailed();
    if (headerGot != static_cast<ssize_t>(kHeaderBytes))
        return damaged();
    const std::optional<Header> header = DecodeHeader(headerBytes, &chain);
    if (!header || header->count > kMaxPoints || kHeaderBytes + header->count * sizeof(Point) > size)
        return damaged();

    std::vector<Point> chunk(kChunkBytes / sizeof(Point));
    std::uint64_t checksum = 0;
    // The snapshot goes straight into the store, which is thrown away when
    // it does not check out.
    const std::span<Point> snapshot = points.AppendRoom(static_cast<std::size_t>(header->count));
    if (snapshot.size() != header->count) {
        read.result = FileResult::Failed(FileStep::Store, ENOMEM);
        return read;
    }
    for (std::size_t at = 0; at < snapshot.size();) {
        const std::size_t n = std::min(snapshot.size() - at, chunk.size());
        const ssize_t got = sys::ReadFull(file.Get(), snapshot.data() + at, n * sizeof(Point));
        if (got < 0)
            return readFailed();
        if (got != static_cast<ssize_t>(n * sizeof(Point)))
            return damaged();
        checksum = Checksum(checksum, snapshot.data() + at, n * sizeof(Point));
        at += n;
        if (!onward(n * sizeof(Point)))
            return read;
    }
    if (checksum != header->pointsChecksum)
        return damaged();
    read.snapshotBytes = header->count * sizeof(Point);
    read.end = kHeaderBytes + read.snapshotBytes;

    // The records, up to the first that does not check out: a torn write or
    // damage loses what follows it, never what comes before.
    auto* bytes = reinterpret_cast<unsigned char*>(chunk.data());
    const std::size_t chunkRecords = kChunkBytes / kRecordBytes;
    const std::uint64_t logEnd = read.end + read.snapshotBytes + kMaxLogBeyondSnapshot;
    for (bool more = true; more && read.end < logEnd;) {
        const ssize_t got = sys::ReadFull(file.Get(), bytes, chunkRecords * kRecordBytes);
        if (got < 0)
            return readFailed();
        const std::size_t records = static_cast<std::size_t>(got) / kRecordBytes;
        more = records == chunkRecords;
        if (!onward(records * kRecordBytes))
            return read;
        for (std::size_t i = 0; i < records; ++i) {
            const unsigned char* record = bytes + i * kRecordBytes;
            const std::uint64_t next = Checksum(chain, record, 12);
            std::uint32_t check = 0;
            std::memcpy(&check, record + 12, 4);
            const bool known = record[0] >= kAppend && record[0] <= kRecovered;
            if (check != static_cast<std::uint32_t>(next) || !known || record[1] != 0 || record[2] != 0
                || record[3] != 0) {
                more = false;
                break;
            }
            Point p;
            std::memcpy(&p.x, record + 4, 4);
            std::memcpy(&p.y, record + 8, 4);
            if (record[0] == kAppend && !points.AppendPoint(p)) {
                read.result = FileResult::Failed(FileStep::Store, ENOMEM);
                return read;
            }
            if (record[0] == kRemoveLast)
                points.RemoveLastPoint();
            if (record[0] == kClear)
                points.ClearPoints();
            chain = next;
            read.end += kRecordBytes;
        }
    }
    read.chain = chain;
    read.result = {};
    return read;
}

} // namespace

JournalRead ReadJournal(const std::string& path, PointStore& points, const FileJobControl& control)
{
    // A rewrite becomes valid only once its snapshot is whole, and from then
    // on it is the one written to.
    JournalRead newer = ReadOne(TemporaryOf(path), points, control);
    if (newer.result.Ok() || newer.result.Cancelled() || newer.result.NoRoom()) {
        newer.temporary = true;
        return newer;
    }
    points.ClearPoints();
    if (control.bytes != nullptr)
        *control.bytes = 0;
    return ReadOne(path, points, control);
}

} // namespace kav
