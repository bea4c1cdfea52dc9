#include "exchange/system_calls.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kav::sys {

namespace {

int RealOpen(const char* path, int flags, mode_t mode)
{
    return ::open(path, flags, mode);
}

void SetReal(Table& table)
{
    table.open = &RealOpen;
    table.write = &::write;
    table.pwrite = &::pwrite;
    table.fsync = &::fsync;
    table.fdatasync = &::fdatasync;
    table.rename = &::rename;
    table.unlink = &::unlink;
    table.ftruncate = &::ftruncate;
    table.mmap = &::mmap;
    table.fchmod = &::fchmod;
    table.mkdir = &::mkdir;
    table.mkostemp = &::mkostemp;
    table.close = &::close;
}

struct RealTable : Table {
    RealTable() { SetReal(*this); }
};

mode_t ReadUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Before main, while there is one thread.
const mode_t g_startUmask = ReadUmask();

} // namespace

Table& Calls()
{
    static RealTable table;
    return table;
}

void ResetCalls()
{
    SetReal(Calls());
}

mode_t StartUmask()
{
    return g_startUmask;
}

FileResult WriteAll(int fd, const void* data, std::size_t bytes, FileStep step)
{
    const auto* at = static_cast<const unsigned char*>(data);
    while (bytes > 0) {
        const ssize_t written = Write(fd, at, bytes);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return FileResult::FromErrno(step);
        if (written == 0)
            return FileResult::Failed(step, EIO);
        at += written;
        bytes -= static_cast<std::size_t>(written);
    }
    return {};
}

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

FileResult SyncFolder(const std::string& folder)
{
    const Fd dir(Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.IsOpen())
        return FileResult::FromErrno(FileStep::Sync);
    if (Fsync(dir.Get()) != 0)
        return FileResult::FromErrno(FileStep::Sync);
    return {};
}

FileResult MakeFolders(const std::string& folder, mode_t mode)
{
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/')
            continue;
        const std::string part = folder.substr(0, at);
        if (Mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
            return FileResult::FromErrno(FileStep::CreateFolder);
    }
    struct stat info { };
    if (::stat(folder.c_str(), &info) != 0)
        return FileResult::FromErrno(FileStep::CreateFolder);
    if (!S_ISDIR(info.st_mode))
        return FileResult::Failed(FileStep::CreateFolder, ENOTDIR);
    return {};
}

Waited WaitForFd(int fd, short events, int cancelFd, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int left = -1;
        if (timeoutMs >= 0)
            left = static_cast<int>(std::max<std::int64_t>(
                0, std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count()));
        pollfd waits[2] = {{fd, events, 0}, {cancelFd, POLLIN, 0}};
        const int ready = ::poll(waits, cancelFd >= 0 ? 2 : 1, left);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Waited::Failed;
        if (ready == 0)
            return Waited::TimedOut;
        if (cancelFd >= 0 && waits[1].revents != 0)
            return Waited::Cancelled;
        return Waited::Ready; // an error or a hang-up too: the next call tells which
    }
}

} // namespace kav::sys
