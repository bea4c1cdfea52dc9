#include "exchange/point_journal.h"

#include "exchange/journal_format.h"
#include "exchange/system_calls.h"

#include <algorithm>
#include <array>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace kav {

using namespace journal;

namespace {

// The log is folded into a new snapshot once it outgrows both.
constexpr std::uint64_t kMinLogBytes = 4096;

std::uint64_t NowMs()
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

FileResult PwriteAll(int fd, const void* data, std::size_t bytes, off_t at)
{
    const ssize_t written = sys::Pwrite(fd, data, bytes, at);
    if (written < 0)
        return FileResult::FromErrno(FileStep::Write);
    if (static_cast<std::size_t>(written) != bytes)
        return FileResult::Failed(FileStep::Write, EIO);
    return {};
}

} // namespace

PointJournal::PointJournal() = default;

PointJournal::~PointJournal()
{
    if (m_removal.joinable())
        m_removal.join();
    if (m_thread.joinable()) {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    if (m_fd >= 0)
        sys::Close(m_fd);
    if (m_lockFd >= 0)
        sys::Close(m_lockFd);
}

std::string PointJournal::JournalPath() const
{
    return JournalName(m_folder, m_id);
}

bool PointJournal::IsOpen() const
{
    const std::lock_guard lock(m_mutex);
    return m_fd >= 0;
}

FileResult PointJournal::Open(const std::string& folder)
{
    if (const FileResult made = sys::MakeFolders(folder, 0700); !made.Ok())
        return made;
    m_folder = folder;
    m_id = NewId();
    int lockFd = -1;
    if (const FileResult locked = TakeOwnLock(folder, m_id, lockFd); !locked.Ok())
        return locked;
    sys::Fd lock(lockFd);
    const std::string path = JournalPath();
    sys::Fd journal(sys::Open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    FileResult result;
    if (!journal.IsOpen())
        result = FileResult::FromErrno(FileStep::OpenForWriting);
    std::uint64_t chain = 0;
    if (result.Ok()) {
        m_started = NowMs();
        Header header;
        header.started = m_started;
        header.pid = static_cast<std::uint32_t>(::getpid());
        const auto bytes = EncodeHeader(header, &chain);
        result = sys::WriteAll(journal.Get(), bytes.data(), bytes.size());
    }
    if (result.Ok() && sys::Fdatasync(journal.Get()) != 0)
        result = FileResult::FromErrno(FileStep::Sync);
    // The lock's and the journal's entries, or a power cut may leave neither.
    if (result.Ok())
        result = sys::SyncFolder(folder);
    if (!result.Ok()) {
        if (journal.IsOpen())
            sys::Unlink(path.c_str());
        sys::Unlink(LockName(folder, m_id).c_str());
        return result;
    }
    const std::lock_guard guard(m_mutex);
    m_lockFd = lock.Release();
    m_fd = journal.Release();
    m_chain = chain;
    m_recording = true;
    m_thread = std::thread([this] { Run(); });
    return {};
}

void PointJournal::Fail(FileResult failure, bool stops)
{
    if (stops)
        m_recording = false;
    if (!m_failure.Ok())
        return;
    m_failure = failure;
    if (m_onFailure)
        m_onFailure(failure);
}

FileResult PointJournal::Failure() const
{
    const std::lock_guard lock(m_mutex);
    return m_failure;
}

bool PointJournal::Recording() const
{
    const std::lock_guard lock(m_mutex);
    return m_recording;
}

std::uint64_t PointJournal::FileBytes() const
{
    const std::lock_guard lock(m_mutex);
    return kHeaderBytes + m_snapshotBytes + m_logBytes;
}

FileResult PointJournal::WriteRecord(RecordKind kind, Point point)
{
    const auto bytes = EncodeRecord(kind, point, m_chain);
    const FileResult written = sys::WriteAll(m_fd, bytes.data(), bytes.size());
    if (!written.Ok())
        return written;
    m_logBytes += kRecordBytes;
    m_dirty = true;
    return {};
}

void PointJournal::Record(const PointChange& change, std::span<const Point> after)
{
    const std::lock_guard lock(m_mutex);
    if (m_fd < 0 || !m_recording || change.kind == PointChange::Kind::Recovered) // Adopt records that
        return;
    const std::optional<RecordKind> kind = StoredKind(change.kind);
    if (!kind) {
        // Whatever was asked for before and is not yet written gives way:
        // this snapshot holds it.
        m_next = Rewrite{after, true};
        m_lease = after;
        m_queued.clear();
        m_bigPending = true;
        m_retryAt = {};
        m_wake.notify_one();
        return;
    }
    // Records after a big change that is not yet written follow its
    // snapshot; after a compaction's request they go to both files.
    const bool bigAhead = (m_next && m_next->big) || (m_queueing && !m_oldStaysValid);
    if (m_next || m_queueing)
        m_queued.push_back({*kind, change.point});
    if (!bigAhead) {
        if (const FileResult written = WriteRecord(*kind, change.point); !written.Ok()) {
            Fail(written, true);
            return;
        }
        if (!m_rewriting && !m_next && m_logBytes > std::max(m_snapshotBytes, kMinLogBytes)
            && Clock::now() >= m_retryAt) {
            m_next = Rewrite{after, false};
            m_lease = after;
        }
    }
    m_wake.notify_one();
}

bool PointJournal::Writing() const
{
    const std::lock_guard lock(m_mutex);
    return m_bigPending;
}

void PointJournal::WaitUntilWritten()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_bigPending; });
}

std::span<const Point> PointJournal::Leased() const
{
    const std::lock_guard lock(m_mutex);
    return m_lease;
}

void PointJournal::EndLease()
{
    std::unique_lock lock(m_mutex);
    if (m_lease.empty())
        return;
    if (m_next && !m_next->big) {
        // Not started: nothing to wait for.
        m_next.reset();
        m_lease = {};
        m_queued.clear();
        return;
    }
    if (m_rewriting && m_oldStaysValid)
        m_abandon = true; // it looks between megabytes
    m_idle.wait(lock, [this] { return m_lease.empty(); });
}

void PointJournal::WaitForThread()
{
    if (m_removal.joinable())
        m_removal.join();
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_thread.joinable() || m_stop || (!m_rewriting && !m_next); });
}

void PointJournal::WaitForSync(std::unique_lock<std::mutex>& lock)
{
    m_idle.wait(lock, [this] { return !m_syncing; });
}

void PointJournal::Run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_next || m_dirty; });
        // A fault ends without Discard: what was asked for is still written.
        if (m_next && !m_discarding) {
            DoRewrite(lock);
            continue;
        }
        if (m_dirty && m_fd >= 0) {
            // Changes that come close together share one sync.
            if (!m_stop)
                m_wake.wait_for(lock, kSyncDelay, [this] { return m_stop || m_next.has_value(); });
            m_dirty = false;
            m_syncing = true;
            const int fd = m_fd;
            lock.unlock();
            const bool synced = sys::Fdatasync(fd) == 0;
            const FileResult failed = synced ? FileResult{} : FileResult::FromErrno(FileStep::Sync);
            lock.lock();
            m_syncing = false;
            if (!synced)
                Fail(failed, true);
            m_idle.notify_all();
            continue;
        }
        m_dirty = false;
        if (m_stop) {
            m_next.reset();
            m_lease = {};
            m_idle.notify_all();
            return;
        }
    }
}

void PointJournal::DoRewrite(std::unique_lock<std::mutex>& lock)
{
    const Rewrite rewrite = *std::exchange(m_next, std::nullopt);
    const std::span<const Point> points = rewrite.points;
    m_rewriting = true;
    m_queueing = true;
    m_oldStaysValid = !rewrite.big;
    m_abandon = false;
    const std::string temporary = TemporaryName(m_folder, m_id);
    lock.unlock();

    // Step 1: the snapshot, behind a header that does not check out yet.
    const auto givingUp = [&] {
        if (m_discarding)
            return true;
        const std::lock_guard guard(m_mutex);
        return m_abandon || Superseded();
    };
    FileResult result;
    sys::Fd file(sys::Open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    std::uint64_t checksum = 0;
    if (!file.IsOpen()) {
        result = FileResult::FromErrno(FileStep::OpenForWriting);
    } else {
        const std::array<unsigned char, kHeaderBytes> placeholder{};
        result = sys::WriteAll(file.Get(), placeholder.data(), placeholder.size());
        for (std::size_t at = 0; result.Ok() && at < points.size();) {
            if (givingUp()) {
                result = FileResult::Cancel(FileStep::Write);
                break;
            }
            // The same pieces as the reader's: the checksum chains from piece to piece.
            const std::size_t n = std::min(points.size() - at, kChunkBytes / sizeof(Point));
            checksum = Checksum(checksum, points.data() + at, n * sizeof(Point));
            result = sys::WriteAll(file.Get(), points.data() + at, n * sizeof(Point));
            at += n;
        }
    }
    lock.lock();
    m_lease = m_next ? m_next->points : std::span<const Point>();
    m_idle.notify_all();
    lock.unlock();

    // Step 2.
    if (result.Ok() && m_oldStaysValid && sys::Fdatasync(file.Get()) != 0)
        result = FileResult::FromErrno(FileStep::Sync);
    if (result.Ok() && givingUp())
        result = FileResult::Cancel(FileStep::Write);

    // Step 3: the queued records, then the header; records from now on go
    // to the new file.
    lock.lock();
    // A big change recorded meanwhile holds the figure and the queue now.
    const bool superseded = Superseded();
    if (result.Ok() && superseded)
        result = FileResult::Cancel(FileStep::Write);
    if (result.Ok()) {
        Header header;
        header.started = m_started;
        header.count = points.size();
        header.pointsChecksum = checksum;
        header.pid = static_cast<std::uint32_t>(::getpid());
        std::uint64_t chain = 0;
        const auto headerBytes = EncodeHeader(header, &chain);
        std::uint64_t logBytes = 0;
        for (const Pending& pending : m_queued) {
            const auto bytes = EncodeRecord(pending.kind, pending.point, chain);
            result = sys::WriteAll(file.Get(), bytes.data(), bytes.size());
            if (!result.Ok())
                break;
            logBytes += kRecordBytes;
        }
        if (result.Ok())
            result = PwriteAll(file.Get(), headerBytes.data(), headerBytes.size(), 0);
        if (result.Ok()) {
            WaitForSync(lock);
            file.Reset(std::exchange(m_fd, file.Release())); // the old one closes
            m_chain = chain;
            m_snapshotBytes = points.size() * sizeof(Point);
            m_logBytes = logBytes;
            m_dirty = true;
        }
    }
    if (!superseded)
        m_queued.clear();
    m_queueing = false;
    const bool written = !m_oldStaysValid && !Superseded();
    if (!m_oldStaysValid)
        m_bigPending = Superseded();
    if (!result.Ok()) {
        sys::Unlink(temporary.c_str());
        if (result.Cancelled()) {
            // Given up for a change or a close: the old file holds everything.
        } else if (m_oldStaysValid) {
            m_retryAt = Clock::now() + kRetryDelay;
            Fail(result, false);
        } else {
            Fail(result, true);
        }
    }
    const int fd = m_fd;
    m_syncing = result.Ok();
    m_idle.notify_all();
    lock.unlock();
    file.Reset();
    if (written && m_onWritten)
        m_onWritten();

    // Step 4: the whole new file on disk before its name moves over the old.
    FileResult renamed;
    if (result.Ok()) {
        if (sys::Fdatasync(fd) != 0)
            renamed = FileResult::FromErrno(FileStep::Sync);
        else if (sys::Rename(temporary.c_str(), JournalPath().c_str()) != 0)
            renamed = FileResult::FromErrno(FileStep::Rename);
        else
            renamed = sys::SyncFolder(m_folder);
    }
    lock.lock();
    m_syncing = false;
    if (!renamed.Ok())
        Fail(renamed, true); // the new file is current: it cannot be given up now
    m_rewriting = false;
    m_idle.notify_all();
}

FileResult PointJournal::Adopt(FoundJournal& found, const JournalRead& read, std::span<const Point> recovered)
{
    WaitForThread();
    std::unique_lock lock(m_mutex);
    if (m_fd < 0)
        return FileResult::Failed(FileStep::OpenForWriting, EBADF);
    const std::string source = read.temporary ? TemporaryOf(found.JournalPath()) : found.JournalPath();
    sys::Fd file(sys::Open(source.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
    FileResult result;
    if (!file.IsOpen())
        result = FileResult::FromErrno(FileStep::OpenForWriting);
    // A torn tail would stop every record written after it.
    else if (sys::Ftruncate(file.Get(), static_cast<off_t>(read.end)) != 0
             || ::lseek(file.Get(), static_cast<off_t>(read.end), SEEK_SET) < 0)
        result = FileResult::FromErrno(FileStep::Write);
    else if (sys::Rename(source.c_str(), JournalPath().c_str()) != 0)
        result = FileResult::FromErrno(FileStep::Rename);
    if (!result.Ok()) {
        // This instance's journal takes the figure anew, and the old one
        // goes only once that is on disk.
        m_next = Rewrite{recovered, true};
        m_lease = recovered;
        m_bigPending = true;
        m_wake.notify_one();
        lock.unlock();
        WaitForThread();
        const FileResult written = Failure();
        if (written.Ok())
            found.Remove();
        return written;
    }
    WaitForSync(lock);
    file.Reset(std::exchange(m_fd, file.Release()));
    m_chain = read.chain;
    m_snapshotBytes = read.snapshotBytes;
    m_logBytes = read.end - kHeaderBytes - read.snapshotBytes;
    // What is left of the dead instance: the journal the rewrite was to
    // replace, or a rewrite that never became valid.
    sys::Unlink((read.temporary ? found.JournalPath() : TemporaryOf(found.JournalPath())).c_str());
    found.ReleaseLock(true);
    result = WriteRecord(kRecovered, {});
    if (!result.Ok())
        Fail(result, true);
    m_wake.notify_one();
    lock.unlock();
    file.Reset();
    if (result.Ok())
        result = sys::SyncFolder(m_folder);
    return result;
}

FileResult PointJournal::Sync()
{
    std::unique_lock lock(m_mutex);
    if (m_fd < 0)
        return {};
    if (sys::Fdatasync(m_fd) != 0)
        return FileResult::FromErrno(FileStep::Sync);
    return {};
}

void PointJournal::Discard()
{
    m_discarding = true; // a rewrite under way gives up at its next megabyte
    if (m_thread.joinable()) {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
            m_dirty = false;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    const std::lock_guard lock(m_mutex);
    m_recording = false;
    m_lease = {};
    m_next.reset();
    m_bigPending = false;
    if (m_fd < 0)
        return;
    sys::Close(std::exchange(m_fd, -1));
    // Removing the journal of a large figure frees its pages, a tenth of a
    // second at 100M points: done on a thread, so that the window closes at
    // once. The lock is held until the journal is gone, so that no other
    // start finds it meanwhile.
    m_removal = std::thread([journal = JournalPath(), temporary = TemporaryName(m_folder, m_id),
                             lockPath = LockName(m_folder, m_id), lockFd = std::exchange(m_lockFd, -1)] {
        sys::Unlink(journal.c_str());
        sys::Unlink(temporary.c_str());
        sys::Unlink(lockPath.c_str());
        sys::Close(lockFd);
    });
}

} // namespace kav
