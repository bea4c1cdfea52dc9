#include "exchange/point_loader.h"

#include "exchange/mapped_file.h"
#include "exchange/parallel_scan.h"
#include "exchange/system_calls.h"

#include <cerrno>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kav {

namespace {

// How often a load that waits for data looks whether it was cancelled,
// when the job has no cancel descriptor.
constexpr int kPollMs = 50;
// Regular files from this size on are scanned on every core; a smaller one
// is read faster in one pass. Pipes and devices are always streamed.
constexpr qint64 kParallelFrom = qint64{1} << 20;
// Parts per thread, so that one slow part does not hold up the rest.
constexpr unsigned kPartsPerThread = 4;
// More points than a store can hold, or than the memory can.
const FileResult kTooMany = FileResult::Failed(FileStep::Store, ENOMEM);

// Whether the file still has the size that the load was planned for; one
// that changed under the load may have given points that it never held.
bool StillOfSize(int fd, std::uint64_t size)
{
    struct stat now = {};
    return ::fstat(fd, &now) == 0 && static_cast<std::uint64_t>(now.st_size) == size;
}

} // namespace

PointLoader::PointLoader(FileHandle file, PointReallocator reallocate)
    : m_file(std::move(file))
    , m_points(reallocate)
{
    Start([this] { Run(); });
}

PointLoader::~PointLoader()
{
    Finish();
}

void PointLoader::Run()
{
    const qint64 size = m_file.KnownSize();
    const unsigned threads = std::thread::hardware_concurrency();
    if (size >= kParallelFrom && threads > 1 && CanScanInParallel())
        RunParallel(static_cast<std::uint64_t>(size), threads);
    else
        RunStreaming();
}

void PointLoader::RunParallel(std::uint64_t size, unsigned threads)
{
    const int fd = m_file.Get();
    std::atomic<int> readError = 0;
    const TextReader read = [&](std::uint64_t offset, std::span<char> into) {
        for (std::size_t done = 0; done < into.size();) {
            const ssize_t got = ::pread(fd, into.data() + done, into.size() - done, static_cast<off_t>(offset + done));
            if (got > 0)
                done += static_cast<std::size_t>(got);
            else if (got == 0 || errno != EINTR) {
                readError = got == 0 ? EIO : errno; // none: the file shrank under us
                return false;
            }
        }
        return true;
    };
    const PairPlace place = [this](std::size_t count) {
        const std::span<Point> room = m_points.AppendRoom(count);
        return room.empty() ? nullptr : room.data();
    };
    std::vector<std::uint64_t> cuts;
    const std::uint64_t parts = std::uint64_t{threads} * kPartsPerThread;
    for (std::uint64_t k = 1; k < parts; ++k)
        cuts.push_back(size / parts * k);
    ParallelScanOptions options;
    options.threads = threads;
    const FileJobControl control = Control();
    options.cancelled = control.cancelled;
    options.progress = control.bytes;
    options.pairsDone = control.points;
    // Read where it lies in the page cache; a file system that cannot map
    // is read with copies.
    MappedFile mapped;
    ParallelScanResult result;
    if (mapped.Map(fd, size).Ok()) {
        result = ScanInParallel(mapped, cuts, place, options);
        readError = EIO; // a mapped read fails only when the file was cut short
    } else {
        result = ScanInParallel(size, read, cuts, place, options);
    }
    if (result == ParallelScanResult::Finished && !StillOfSize(fd, size))
        result = ParallelScanResult::Changed;
    switch (result) {
    case ParallelScanResult::Finished:
        m_result = {};
        break;
    case ParallelScanResult::ReadFailed:
        m_result = FileResult::Failed(FileStep::Read, readError);
        break;
    case ParallelScanResult::Changed:
        m_result = FileResult::Failed(FileStep::Read, EIO);
        break;
    case ParallelScanResult::Refused:
        m_result = kTooMany;
        break;
    case ParallelScanResult::Cancelled:
        m_result = FileResult::Cancel(FileStep::Read);
        break;
    }
}

void PointLoader::RunStreaming()
{
    PointScanner scanner([this](std::span<const Point> pairs) {
        if (!m_points.AppendPoints(pairs))
            return false;
        *Control().points += static_cast<std::int64_t>(pairs.size());
        return true;
    });
    const std::span<char> buffer = scanner.Buffer();
    for (;;) {
        if (Control().Cancelled()) {
            m_result = FileResult::Cancel(FileStep::Read);
            return;
        }
        // A pipe that stays silent can still be cancelled: the wait ends at
        // the cancel, or in steps where the job has no cancel descriptor.
        const int cancelFd = Control().cancelFd;
        const sys::Waited waited = sys::WaitForFd(m_file.Get(), POLLIN, cancelFd, cancelFd >= 0 ? -1 : kPollMs);
        if (waited == sys::Waited::Cancelled || waited == sys::Waited::TimedOut)
            continue;
        const ssize_t got = waited == sys::Waited::Failed ? -1 : ::read(m_file.Get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            m_result = FileResult::FromErrno(FileStep::Read);
            return;
        }
        if (got == 0)
            break;
        *Control().bytes += got;
        if (!scanner.Feed(static_cast<std::size_t>(got))) {
            m_result = kTooMany;
            return;
        }
    }
    m_result = scanner.Finish() ? FileResult{} : kTooMany;
}

} // namespace kav
