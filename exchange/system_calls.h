#pragma once

// Every file system call that the program's file code makes goes through
// this table, so that a test can make any one of them fail: replace an
// entry, run the code, put the entry back. The entries start as the
// system's own functions. The POSIX helpers that the journal, the point
// file and the loader share live here too.

#include "exchange/file_result.h"

#include <atomic>
#include <cstddef>
#include <string>
#include <utility>

#include <sys/types.h>

namespace kav::sys {

// One entry per call; a test swaps them while no file job runs, the code
// reads them from any thread.
struct Table {
    std::atomic<int (*)(const char* path, int flags, mode_t mode)> open;
    std::atomic<ssize_t (*)(int fd, const void* data, std::size_t bytes)> write;
    std::atomic<ssize_t (*)(int fd, const void* data, std::size_t bytes, off_t at)> pwrite;
    std::atomic<int (*)(int fd)> fsync;
    std::atomic<int (*)(int fd)> fdatasync;
    std::atomic<int (*)(const char* from, const char* to)> rename;
    std::atomic<int (*)(const char* path)> unlink;
    std::atomic<int (*)(int fd, off_t size)> ftruncate;
    std::atomic<void* (*)(void* at, std::size_t bytes, int protection, int flags, int fd, off_t offset)> mmap;
    std::atomic<int (*)(int fd, mode_t mode)> fchmod;
    std::atomic<int (*)(const char* path, mode_t mode)> mkdir;
    std::atomic<int (*)(char* pattern, int flags)> mkostemp;
    std::atomic<int (*)(int fd)> close;
};

Table& Calls();
// Puts every entry back to the system's own function.
void ResetCalls();

inline int Open(const char* path, int flags, mode_t mode = 0)
{
    return Calls().open.load(std::memory_order_relaxed)(path, flags, mode);
}
inline ssize_t Write(int fd, const void* data, std::size_t bytes)
{
    return Calls().write.load(std::memory_order_relaxed)(fd, data, bytes);
}
inline ssize_t Pwrite(int fd, const void* data, std::size_t bytes, off_t at)
{
    return Calls().pwrite.load(std::memory_order_relaxed)(fd, data, bytes, at);
}
inline int Fsync(int fd) { return Calls().fsync.load(std::memory_order_relaxed)(fd); }
inline int Fdatasync(int fd) { return Calls().fdatasync.load(std::memory_order_relaxed)(fd); }
inline int Rename(const char* from, const char* to) { return Calls().rename.load(std::memory_order_relaxed)(from, to); }
inline int Unlink(const char* path) { return Calls().unlink.load(std::memory_order_relaxed)(path); }
inline int Ftruncate(int fd, off_t size) { return Calls().ftruncate.load(std::memory_order_relaxed)(fd, size); }
inline void* Mmap(void* at, std::size_t bytes, int protection, int flags, int fd, off_t offset)
{
    return Calls().mmap.load(std::memory_order_relaxed)(at, bytes, protection, flags, fd, offset);
}
inline int Fchmod(int fd, mode_t mode) { return Calls().fchmod.load(std::memory_order_relaxed)(fd, mode); }
inline int Mkdir(const char* path, mode_t mode) { return Calls().mkdir.load(std::memory_order_relaxed)(path, mode); }
inline int Mkostemp(char* pattern, int flags) { return Calls().mkostemp.load(std::memory_order_relaxed)(pattern, flags); }
inline int Close(int fd) { return Calls().close.load(std::memory_order_relaxed)(fd); }

// An open descriptor, closed with the object.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    Fd(Fd&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    ~Fd() { Reset(); }

    int Get() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    int Release() { return std::exchange(m_fd, -1); }
    // Closes what it holds (nobody is told of a failure) and takes `fd`.
    void Reset(int fd = -1)
    {
        if (m_fd >= 0)
            (void)Close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

// Writes all of `bytes`, again after a signal; a write that writes nothing
// is a failure (EIO), never an endless loop or a success.
FileResult WriteAll(int fd, const void* data, std::size_t bytes, FileStep step = FileStep::Write);
// Reads up to `bytes`, fewer only at the end of the file; -1 with errno.
ssize_t ReadFull(int fd, void* data, std::size_t bytes);
// The folder's entries are on disk: after a file is made in it or renamed
// into it.
FileResult SyncFolder(const std::string& folder);
// Like mkdir -p, each new folder made with `mode`.
FileResult MakeFolders(const std::string& folder, mode_t mode);
// Waits until `fd` is ready for `events` (POLLIN, POLLOUT), until
// `cancelFd` becomes readable (a job's cancel; -1: none), or until
// `timeoutMs` have passed (-1: no limit). Failed leaves errno set.
enum class Waited { Ready, Cancelled, TimedOut, Failed };
Waited WaitForFd(int fd, short events, int cancelFd, int timeoutMs);
// The process's umask, read once at start-up: asking for it means setting
// it, which would change it for every thread for a moment.
mode_t StartUmask();

} // namespace kav::sys
