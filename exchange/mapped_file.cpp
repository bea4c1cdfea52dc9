#include "exchange/mapped_file.h"

#include "exchange/system_calls.h"

#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <limits>
#include <mutex>

#include <sys/mman.h>
#include <unistd.h>

namespace kav {

namespace {

// What the thread is reading now, and where to go back to if it faults.
struct Guard {
    const unsigned char* begin = nullptr;
    const unsigned char* end = nullptr;
    volatile std::sig_atomic_t armed = 0;
    sigjmp_buf back;
};
thread_local Guard t_guard;
struct sigaction g_previous;

void OnBusError(int number, siginfo_t* info, void* context)
{
    Guard& guard = t_guard;
    const auto* at = static_cast<const unsigned char*>(info->si_addr);
    if (guard.armed != 0 && info->si_code == BUS_ADRERR && at >= guard.begin && at < guard.end) {
        guard.armed = 0;
        siglongjmp(guard.back, 1);
    }
    // Not a read of ours: what would have happened without this handler.
    if ((g_previous.sa_flags & SA_SIGINFO) != 0) {
        g_previous.sa_sigaction(number, info, context);
    } else if (g_previous.sa_handler == SIG_DFL || g_previous.sa_handler == SIG_IGN) {
        // The fault comes back on return and ends the program as it would.
        struct sigaction fallback = {};
        fallback.sa_handler = SIG_DFL;
        sigaction(number, &fallback, nullptr);
    } else {
        g_previous.sa_handler(number);
    }
}

void InstallHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action = {};
        action.sa_sigaction = &OnBusError;
        // SA_NODEFER: the jump back leaves SIGBUS unblocked without the
        // system call that restoring the mask would cost on every guard.
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &g_previous);
    });
}

} // namespace

MappedFile::~MappedFile()
{
    if (m_bytes != nullptr)
        munmap(const_cast<unsigned char*>(m_bytes), m_reserved);
}

FileResult MappedFile::Map(int fd, std::uint64_t size)
{
    InstallHandler();
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    if (m_bytes != nullptr || size > std::numeric_limits<std::size_t>::max() - 2 * (page + kTail))
        return FileResult::Failed(FileStep::Read, m_bytes != nullptr ? EBUSY : EFBIG);
    // The tail is anonymous memory after the file's pages, so that a file
    // that ends on a page boundary still has bytes after it to read.
    const std::size_t pages = (static_cast<std::size_t>(size) + page - 1) / page * page;
    const std::size_t reserved = pages + (kTail + page - 1) / page * page;
    void* area = mmap(nullptr, reserved, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED)
        return FileResult::FromErrno(FileStep::Read);
    if (size > 0
        && sys::Mmap(area, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0) == MAP_FAILED) {
        const FileResult failed = FileResult::FromErrno(FileStep::Read);
        munmap(area, reserved);
        return failed;
    }
    madvise(area, static_cast<std::size_t>(size), MADV_SEQUENTIAL);
    madvise(area, static_cast<std::size_t>(size), MADV_WILLNEED);
    m_bytes = static_cast<const unsigned char*>(area);
    m_size = size;
    m_reserved = reserved;
    return {};
}

bool MappedFile::Guarded(const std::function<void()>& read) const
{
    Guard& guard = t_guard;
    guard.begin = m_bytes;
    guard.end = m_bytes + m_reserved;
    if (sigsetjmp(guard.back, 0) != 0)
        return false;
    guard.armed = 1;
    read();
    guard.armed = 0;
    return true;
}

void MappedFile::Release(std::uint64_t offset, std::uint64_t size) const
{
    const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    const std::uint64_t from = (offset + page - 1) / page * page;
    const std::uint64_t to = (offset + size) / page * page;
    if (m_bytes != nullptr && from < to && to <= m_size)
        madvise(const_cast<unsigned char*>(m_bytes) + from, static_cast<std::size_t>(to - from), MADV_DONTNEED);
}

} // namespace kav
