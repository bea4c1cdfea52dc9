#pragma once

// Makes one of the program's file system calls fail: the calls that go
// through the system-call table are counted from 0 in the order they come,
// and the one at `failAt` fails with `error` instead of running. With
// failAt < 0 nothing fails and the calls are only counted, so that a test
// can first learn how many calls a step makes and then fail each in turn.

#include "exchange/system_calls.h"

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

class FailingCalls {
public:
    FailingCalls(int failAt, int error)
    {
        s_count = 0;
        s_failAt = failAt;
        s_error = error;
        s_names.clear();
        kav::sys::Table& t = kav::sys::Calls();
        t.open = [](const char* p, int f, mode_t m) { return Fails("open") ? -1 : ::open(p, f, m); };
        t.write = [](int fd, const void* d, std::size_t n) -> ssize_t { return Fails("write") ? -1 : ::write(fd, d, n); };
        t.pwrite = [](int fd, const void* d, std::size_t n, off_t at) -> ssize_t {
            return Fails("pwrite") ? -1 : ::pwrite(fd, d, n, at);
        };
        t.fsync = [](int fd) { return Fails("fsync") ? -1 : ::fsync(fd); };
        t.fdatasync = [](int fd) { return Fails("fdatasync") ? -1 : ::fdatasync(fd); };
        t.rename = [](const char* a, const char* b) { return Fails("rename") ? -1 : ::rename(a, b); };
        t.unlink = [](const char* p) { return Fails("unlink") ? -1 : ::unlink(p); };
        t.ftruncate = [](int fd, off_t n) { return Fails("ftruncate") ? -1 : ::ftruncate(fd, n); };
        t.fchmod = [](int fd, mode_t m) { return Fails("fchmod") ? -1 : ::fchmod(fd, m); };
        t.mkdir = [](const char* p, mode_t m) { return Fails("mkdir") ? -1 : ::mkdir(p, m); };
        t.mkostemp = [](char* p, int f) { return Fails("mkostemp") ? -1 : ::mkostemp(p, f); };
    }
    ~FailingCalls() { kav::sys::ResetCalls(); }
    FailingCalls(const FailingCalls&) = delete;
    FailingCalls& operator=(const FailingCalls&) = delete;

    static int Count() { return s_count; }
    // The calls made so far, by name.
    static std::vector<std::string> Names()
    {
        const std::lock_guard lock(s_mutex);
        return s_names;
    }
    // What failed, or empty when nothing did.
    static std::string Failed()
    {
        const std::lock_guard lock(s_mutex);
        return s_failAt >= 0 && s_failAt < static_cast<int>(s_names.size()) ? s_names[s_failAt] : std::string();
    }

private:
    static bool Fails(const char* name)
    {
        {
            const std::lock_guard lock(s_mutex);
            s_names.emplace_back(name);
        }
        if (s_count++ != s_failAt)
            return false;
        errno = s_error;
        return true;
    }

    static inline std::atomic<int> s_count = 0;
    static inline std::atomic<int> s_failAt = -1;
    static inline std::atomic<int> s_error = 0;
    static inline std::mutex s_mutex;
    static inline std::vector<std::string> s_names;
};
