#include "exchange/journal_folder.h"

#include "exchange/system_calls.h"

#include <algorithm>
#include <random>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kav::journal {

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

std::string JournalName(const std::string& folder, const std::string& id)
{
    return folder + '/' + id + ".journal";
}

std::string TemporaryName(const std::string& folder, const std::string& id)
{
    return TemporaryOf(JournalName(folder, id));
}

std::string TemporaryOf(const std::string& journalPath)
{
    return journalPath + ".tmp";
}

std::string LockName(const std::string& folder, const std::string& id)
{
    return folder + '/' + id + ".lock";
}

namespace {

std::string UnnamedLockName(const std::string& folder, const std::string& id)
{
    return folder + "/new-" + id + ".lock";
}

std::string DamagedName(const std::string& folder, const std::string& id)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return folder + "/damaged-" + stamp + '-' + id;
}

} // namespace

FileResult TakeOwnLock(const std::string& folder, const std::string& id, int& fd)
{
    const std::string unnamed = UnnamedLockName(folder, id);
    sys::Fd lock(sys::Open(unnamed.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!lock.IsOpen())
        return FileResult::FromErrno(FileStep::OpenForWriting);
    if (::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0 || sys::Rename(unnamed.c_str(), LockName(folder, id).c_str()) != 0) {
        const FileResult failed = FileResult::FromErrno(FileStep::Lock);
        sys::Unlink(unnamed.c_str());
        return failed;
    }
    fd = lock.Release();
    return {};
}

} // namespace kav::journal

namespace kav {

using namespace journal;

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
    return JournalName(m_folder, m_id);
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
        sys::Unlink(LockName(m_folder, m_id).c_str());
    sys::Close(std::exchange(m_lockFd, -1));
}

void FoundJournal::Remove()
{
    sys::Unlink(JournalPath().c_str());
    sys::Unlink(TemporaryName(m_folder, m_id).c_str());
    ReleaseLock(true);
}

void FoundJournal::MoveAside()
{
    sys::Rename(JournalPath().c_str(), DamagedName(m_folder, m_id).c_str());
    sys::Unlink(TemporaryName(m_folder, m_id).c_str());
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
        sys::Fd lock(::openat(::dirfd(dir), name.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        if (!lock.IsOpen() || ::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0)
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

} // namespace kav
