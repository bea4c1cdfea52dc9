#include "view/point_journal.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kav {

namespace {

constexpr char kMagic[8] = {'K', 'A', 'V', 'J', 'R', 'N', 'L', '\n'};
constexpr std::uint32_t kVersion = 1;
constexpr std::uint32_t kByteOrder = 0x01020304;
constexpr std::size_t kHeaderBytes = 64;
constexpr std::size_t kRecordBytes = 16;
constexpr std::uint64_t kMaxPoints = std::uint64_t{1} << 30;
// The log is folded into a new snapshot once it outgrows both.
constexpr std::uint64_t kMinLogBytes = 4096;
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
// A log is folded into its snapshot long before it grows this much past it;
// records beyond are not read, so that no file can hold up the start.
constexpr std::uint64_t kMaxLogBeyondSnapshot = std::uint64_t{64} << 20;

// Record kinds as stored; never renumbered.
enum RecordKind : std::uint8_t { kAppend = 1, kRemoveLast = 2, kClear = 3, kRecovered = 4 };

static_assert(sizeof(Point) == 8, "points are stored as two int32");

// A 64-bit checksum over 8-byte words (the tail padded with zeros): enough
// to tell a torn or damaged write, and a few GB/s on one core.
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

struct Header {
    std::uint64_t started = 0;
    std::uint64_t count = 0;
    std::uint64_t pointsChecksum = 0;
    std::uint32_t pid = 0;
};

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

// How a small change is stored; a recovery is stored when a journal is
// adopted.
RecordKind StoredKind(PointChange::Kind kind)
{
    switch (kind) {
    case PointChange::Kind::Append:
        return kAppend;
    case PointChange::Kind::RemoveLast:
        return kRemoveLast;
    case PointChange::Kind::Clear:
        return kClear;
    default:
        return kRecovered;
    }
}

// A record's bytes, chained on from `chain`, which it advances.
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

bool WriteAll(int fd, const void* data, std::size_t bytes)
{
    const auto* at = static_cast<const unsigned char*>(data);
    while (bytes > 0) {
        const ssize_t written = ::write(fd, at, bytes);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        at += written;
        bytes -= static_cast<std::size_t>(written);
    }
    return true;
}

// Reads up to `bytes`; fewer only at the end of the file.
ssize_t ReadFull(int fd, void* data, std::size_t bytes)
{
    auto* at = static_cast<unsigned char*>(data);
    std::size_t got = 0;
    while (got < bytes) {
        const ssize_t n = ::read(fd, at + got, bytes - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

class Fd {
public:
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_fd; }
    int Release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

std::string NewId()
{
    std::random_device random;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string id;
    for (int i = 0; i < 4; ++i) {
        std::uint32_t word = random();
        for (int j = 0; j < 4; ++j, word >>= 4)
            id += kHex[word & 15];
    }
    return id;
}

bool IsId(const std::string& text)
{
    return text.size() == 16 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// Like mkdir -p, each new folder private to the user.
bool MakeFolders(const std::string& folder)
{
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/')
            continue;
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat info { };
    if (::stat(folder.c_str(), &info) != 0)
        return false;
    if (!S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

std::uint64_t NowMs()
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

void SyncFolder(const std::string& folder)
{
    const Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0)
        ::fsync(dir.Get());
}

} // namespace

// --- Reading -----------------------------------------------------------------

JournalRead ReadJournal(const std::string& path, PointStore& points, const FileJobControl& control)
{
    JournalRead read;
    // After each megabyte: false, and the read Cancelled, once asked to stop.
    const auto onward = [&](std::uint64_t bytes) {
        if (control.bytes != nullptr)
            *control.bytes += static_cast<std::int64_t>(bytes);
        if (control.points != nullptr)
            *control.points = static_cast<std::int64_t>(points.ActivePoints().size());
        if (!control.Cancelled())
            return true;
        read.state = JournalRead::Cancelled;
        return false;
    };
    const Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat info { };
    if (file.Get() < 0 || ::fstat(file.Get(), &info) != 0)
        return read;
    read.state = JournalRead::Damaged;
    if (!S_ISREG(info.st_mode))
        return read;
    const auto size = static_cast<std::uint64_t>(info.st_size);

    unsigned char headerBytes[kHeaderBytes];
    std::uint64_t chain = 0;
    if (ReadFull(file.Get(), headerBytes, kHeaderBytes) != static_cast<ssize_t>(kHeaderBytes))
        return read;
    const std::optional<Header> header = DecodeHeader(headerBytes, &chain);
    if (!header || header->count > kMaxPoints || kHeaderBytes + header->count * sizeof(Point) > size)
        return read;

    std::vector<Point> chunk(kChunkBytes / sizeof(Point));
    std::uint64_t checksum = 0;
    // The snapshot goes straight into the store, which is thrown away when
    // it does not check out.
    const std::span<Point> snapshot = points.AppendRoom(static_cast<std::size_t>(header->count));
    if (snapshot.size() != header->count) {
        read.state = JournalRead::NoMemory;
        return read;
    }
    for (std::size_t at = 0; at < snapshot.size();) {
        const std::size_t n = std::min(snapshot.size() - at, chunk.size());
        if (ReadFull(file.Get(), snapshot.data() + at, n * sizeof(Point)) != static_cast<ssize_t>(n * sizeof(Point)))
            return read;
        checksum = Checksum(checksum, snapshot.data() + at, n * sizeof(Point));
        at += n;
        if (!onward(n * sizeof(Point)))
            return read;
    }
    if (checksum != header->pointsChecksum)
        return read;
    read.snapshotBytes = header->count * sizeof(Point);
    read.end = kHeaderBytes + read.snapshotBytes;

    // The records, up to the first that does not check out: a torn write or
    // damage loses what follows it, never what comes before.
    auto* bytes = reinterpret_cast<unsigned char*>(chunk.data());
    const std::size_t chunkRecords = kChunkBytes / kRecordBytes;
    const std::uint64_t logEnd = read.end + read.snapshotBytes + kMaxLogBeyondSnapshot;
    for (bool more = true; more && read.end < logEnd;) {
        const ssize_t got = ReadFull(file.Get(), bytes, chunkRecords * kRecordBytes);
        const std::size_t records = got > 0 ? static_cast<std::size_t>(got) / kRecordBytes : 0;
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
                read.state = JournalRead::NoMemory;
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
    read.state = points.HasPoints() ? JournalRead::Recovered : JournalRead::Empty;
    return read;
}

// --- Journals of other instances ---------------------------------------------

FoundJournal::FoundJournal(std::string folder, std::string id, int lockFd)
    : m_folder(std::move(folder))
    , m_id(std::move(id))
    , m_lockFd(lockFd)
{
}

FoundJournal::FoundJournal(FoundJournal&& other) noexcept
    : m_folder(std::move(other.m_folder))
    , m_id(std::move(other.m_id))
    , m_lockFd(std::exchange(other.m_lockFd, -1))
{
}

FoundJournal::~FoundJournal()
{
    ReleaseLock(false);
}

std::string FoundJournal::JournalPath() const
{
    return m_folder + '/' + m_id + ".journal";
}

std::time_t FoundJournal::Modified() const
{
    struct stat info { };
    return ::stat(JournalPath().c_str(), &info) == 0 ? info.st_mtime : 0;
}

void FoundJournal::ReleaseLock(bool unlink)
{
    if (m_lockFd < 0)
        return;
    if (unlink)
        ::unlink((m_folder + '/' + m_id + ".lock").c_str());
    ::close(std::exchange(m_lockFd, -1));
}

void FoundJournal::Remove()
{
    ::unlink(JournalPath().c_str());
    ::unlink((JournalPath() + ".tmp").c_str());
    ReleaseLock(true);
}

void FoundJournal::MoveAside()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    ::rename(JournalPath().c_str(), (m_folder + "/damaged-" + stamp + '-' + m_id).c_str());
    ::unlink((JournalPath() + ".tmp").c_str());
    ReleaseLock(true);
}

std::vector<FoundJournal> FindDeadJournals(const std::string& folder, const std::string& ownId)
{
    std::vector<FoundJournal> found;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() != 21 || !name.ends_with(".lock"))
            continue;
        const std::string id = name.substr(0, 16);
        if (!IsId(id) || id == ownId)
            continue;
        Fd lock(::openat(::dirfd(dir), name.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        if (lock.Get() < 0 || ::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0)
            continue; // its instance still runs
        found.emplace_back(folder, id, lock.Release());
    }
    ::closedir(dir);
    std::vector<std::pair<std::time_t, std::size_t>> order;
    for (std::size_t i = 0; i < found.size(); ++i)
        order.emplace_back(found[i].Modified(), i);
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<FoundJournal> sorted;
    sorted.reserve(found.size());
    for (const auto& [time, i] : order)
        sorted.push_back(std::move(found[i]));
    return sorted;
}

// --- This instance's journal ---------------------------------------------------

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
        ::close(m_fd);
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

std::string PointJournal::JournalPath() const
{
    return m_folder + '/' + m_id + ".journal";
}

FileResult PointJournal::Open(const std::string& folder)
{
    if (!MakeFolders(folder))
        return FileResult::FromErrno(FileStep::CreateFolder);
    m_folder = folder;
    m_id = NewId();
    // Locked before it has its name, so that no one ever sees it unlocked.
    const std::string lockPath = folder + '/' + m_id + ".lock";
    const std::string unnamed = folder + "/new-" + m_id + ".lock";
    Fd lock(::open(unnamed.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (lock.Get() < 0)
        return FileResult::FromErrno(FileStep::OpenForWriting);
    if (::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0 || ::rename(unnamed.c_str(), lockPath.c_str()) != 0) {
        const FileResult failed = FileResult::FromErrno(FileStep::Lock);
        ::unlink(unnamed.c_str());
        return failed;
    }
    Fd journal(::open(JournalPath().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (journal.Get() < 0) {
        const FileResult failed = FileResult::FromErrno(FileStep::OpenForWriting);
        ::unlink(lockPath.c_str());
        return failed;
    }
    m_started = NowMs();
    Header header;
    header.started = m_started;
    header.pid = static_cast<std::uint32_t>(::getpid());
    const auto bytes = EncodeHeader(header, &m_chain);
    if (!WriteAll(journal.Get(), bytes.data(), bytes.size())) {
        const FileResult failed = FileResult::FromErrno(FileStep::Write);
        ::unlink(JournalPath().c_str());
        ::unlink(lockPath.c_str());
        return failed;
    }
    m_lockFd = lock.Release();
    m_fd = journal.Release();
    m_dirty = true;
    m_thread = std::thread([this] { Run(); });
    return {};
}

void PointJournal::Fail(FileResult failure)
{
    if (m_failure.Ok())
        m_failure = failure;
}

FileResult PointJournal::Failure() const
{
    const std::lock_guard lock(m_mutex);
    return m_failure;
}

std::uint64_t PointJournal::FileBytes() const
{
    const std::lock_guard lock(m_mutex);
    return kHeaderBytes + m_snapshotBytes + m_logBytes;
}

bool PointJournal::WriteRecord(PointChange::Kind kind, Point point)
{
    const auto bytes = EncodeRecord(StoredKind(kind), point, m_chain);
    if (!WriteAll(m_fd, bytes.data(), bytes.size())) {
        Fail(FileResult::FromErrno(FileStep::Write));
        return false;
    }
    m_logBytes += kRecordBytes;
    return true;
}

void PointJournal::Record(const PointChange& change, std::span<const Point> after)
{
    if (m_fd < 0 || change.kind == PointChange::Kind::Recovered) // Adopt records that
        return;
    std::unique_lock lock(m_mutex);
    if (!m_failure.Ok())
        return;
    if (change.Big()) {
        // One rewrite at a time; the view waits for the pin before a big
        // change, so this wait is short.
        m_idle.wait(lock, [this] { return !m_rewrite; });
        StartRewrite(after, false);
        return;
    }
    if (m_rewrite) {
        m_queued.push_back({change.kind, change.point});
        if (!m_oldStaysValid)
            return;
    }
    if (WriteRecord(change.kind, change.point))
        m_dirty = true;
    if (!m_rewrite && m_logBytes > std::max(m_snapshotBytes, kMinLogBytes))
        StartRewrite(after, true);
    m_wake.notify_one();
}

void PointJournal::StartRewrite(std::span<const Point> after, bool oldStaysValid)
{
    m_rewrite = true;
    m_oldStaysValid = oldStaysValid;
    m_pinned = after;
    m_queued.clear();
    m_wake.notify_one();
}

std::span<const Point> PointJournal::Pinned() const
{
    const std::lock_guard lock(m_mutex);
    return m_pinned;
}

void PointJournal::WaitForPin()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_pinned.empty(); });
}

void PointJournal::WaitForThread()
{
    if (m_removal.joinable())
        m_removal.join();
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_rewrite; });
}

void PointJournal::Run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_rewrite || m_dirty; });
        if (m_rewrite) {
            Rewrite(lock);
            continue;
        }
        if (m_dirty) {
            // Changes that come close together share one sync.
            if (!m_stop)
                m_wake.wait_for(lock, kSyncDelay, [this] { return m_stop || m_rewrite; });
            m_dirty = false;
            const int fd = m_fd; // closed only on this thread, or after it ends
            lock.unlock();
            ::fdatasync(fd);
            lock.lock();
            continue;
        }
        if (m_stop)
            return;
    }
}

void PointJournal::Rewrite(std::unique_lock<std::mutex>& lock)
{
    const std::span<const Point> points = m_pinned;
    const std::string temporary = JournalPath() + ".tmp";
    lock.unlock();

    FileResult result;
    Fd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    std::uint64_t checksum = 0;
    if (file.Get() < 0) {
        result = FileResult::FromErrno(FileStep::OpenForWriting);
    } else {
        const std::array<unsigned char, kHeaderBytes> placeholder{};
        bool written = WriteAll(file.Get(), placeholder.data(), placeholder.size());
        for (std::size_t at = 0; written && at < points.size() && !m_discarding;) {
            // The same pieces as the reader's: the checksum chains from piece to piece.
            const std::size_t n = std::min(points.size() - at, kChunkBytes / sizeof(Point));
            checksum = Checksum(checksum, points.data() + at, n * sizeof(Point));
            written = WriteAll(file.Get(), points.data() + at, n * sizeof(Point));
            at += n;
        }
        if (!written)
            result = FileResult::FromErrno(FileStep::Write);
        else if (m_discarding)
            result = FileResult::Failed(FileStep::Write, ECANCELED);
    }
    // The points are in the file's pages now: the figure may change again.
    lock.lock();
    m_pinned = {};
    m_idle.notify_all();
    lock.unlock();

    std::uint64_t chain = 0;
    if (result.Ok()) {
        Header header;
        header.started = m_started;
        header.count = points.size();
        header.pointsChecksum = checksum;
        header.pid = static_cast<std::uint32_t>(::getpid());
        const auto bytes = EncodeHeader(header, &chain);
        if (::pwrite(file.Get(), bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
            result = FileResult::FromErrno(FileStep::Write);
        else if (m_discarding)
            result = FileResult::Failed(FileStep::Sync, ECANCELED);
        else if (::fsync(file.Get()) != 0)
            result = FileResult::FromErrno(FileStep::Sync);
    }

    lock.lock();
    int old = -1;
    if (result.Ok()) {
        // What was recorded meanwhile follows the new snapshot.
        std::uint64_t logBytes = 0;
        for (const Pending& pending : m_queued) {
            const auto bytes = EncodeRecord(StoredKind(pending.kind), pending.point, chain);
            if (!WriteAll(file.Get(), bytes.data(), bytes.size())) {
                result = FileResult::FromErrno(FileStep::Write);
                break;
            }
            logBytes += kRecordBytes;
        }
        if (result.Ok() && ::rename(temporary.c_str(), JournalPath().c_str()) != 0)
            result = FileResult::FromErrno(FileStep::Rename);
        if (result.Ok()) {
            old = std::exchange(m_fd, file.Release());
            m_chain = chain;
            m_snapshotBytes = points.size() * sizeof(Point);
            m_logBytes = logBytes;
            m_dirty = true; // the records written since, and the rename
        }
    }
    if (!result.Ok()) {
        ::unlink(temporary.c_str());
        // A compaction that failed leaves the old file whole and current.
        if (!m_oldStaysValid)
            Fail(result);
    }
    m_queued.clear();
    m_rewrite = false;
    m_idle.notify_all();
    lock.unlock();
    if (old >= 0)
        ::close(old);
    SyncFolder(m_folder);
    lock.lock();
}

FileResult PointJournal::Adopt(FoundJournal& found, const JournalRead& read, std::span<const Point> recovered)
{
    WaitForThread();
    std::unique_lock lock(m_mutex);
    if (m_fd < 0)
        return FileResult::Failed(FileStep::OpenForWriting, EBADF);
    Fd file(::open(found.JournalPath().c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
    FileResult result;
    if (file.Get() < 0)
        result = FileResult::FromErrno(FileStep::OpenForWriting);
    // A torn tail would stop every record written after it.
    else if (::ftruncate(file.Get(), static_cast<off_t>(read.end)) != 0
             || ::lseek(file.Get(), static_cast<off_t>(read.end), SEEK_SET) < 0)
        result = FileResult::FromErrno(FileStep::Write);
    else if (::rename(found.JournalPath().c_str(), JournalPath().c_str()) != 0)
        result = FileResult::FromErrno(FileStep::Rename);
    if (!result.Ok()) {
        // Then this instance's journal takes the figure anew, and the old
        // one goes only once that is on disk.
        StartRewrite(recovered, false);
        lock.unlock();
        WaitForThread();
        if (Failure().Ok())
            found.Remove();
        return result;
    }
    ::close(std::exchange(m_fd, file.Release()));
    m_chain = read.chain;
    m_snapshotBytes = read.snapshotBytes;
    m_logBytes = read.end - kHeaderBytes - read.snapshotBytes;
    ::unlink((found.JournalPath() + ".tmp").c_str());
    found.ReleaseLock(true);
    WriteRecord(PointChange::Kind::Recovered, {});
    m_dirty = true;
    m_wake.notify_one();
    lock.unlock();
    SyncFolder(m_folder);
    return {};
}

void PointJournal::Sync()
{
    std::unique_lock lock(m_mutex);
    if (m_fd >= 0)
        ::fdatasync(m_fd);
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
    if (m_fd < 0)
        return;
    ::close(std::exchange(m_fd, -1));
    // Removing the journal of a large figure frees its pages, a tenth of a
    // second at 100M points: done aside, so that the window closes at once.
    // The lock is held until the journal is gone, so that no other start
    // finds it meanwhile.
    m_removal = std::thread([journal = JournalPath(), lock = m_folder + '/' + m_id + ".lock",
                             lockFd = std::exchange(m_lockFd, -1)] {
        ::unlink(journal.c_str());
        ::unlink((journal + ".tmp").c_str());
        ::unlink(lock.c_str());
        ::close(lockFd);
    });
}

} // namespace kav
