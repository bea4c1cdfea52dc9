#pragma once

// A regular file's bytes read straight from the page cache, without the
// copies that read() makes. Another process may cut the file short while it
// is mapped; touching a page that the file no longer has raises SIGBUS, so
// every read of the mapping goes through Guarded, which turns that into a
// failed read instead of the end of the program.

#include "exchange/file_result.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace kav {

class MappedFile {
public:
    // Bytes after the file's end that may be read; they are not the file's.
    static constexpr std::size_t kTail = 4096;

    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps the first `size` bytes of the open file `fd` read-only; a
    // failure when the system refuses (some file systems cannot).
    FileResult Map(int fd, std::uint64_t size);
    const unsigned char* Bytes() const { return m_bytes; }
    std::uint64_t Size() const { return m_size; }

    // Runs `read`, which may read Bytes() and the tail after them. False
    // when it touched a page that the file no longer has: `read` is then
    // left part way, so it must hold nothing that needs destroying.
    bool Guarded(const std::function<void()>& read) const;

    // The pages wholly inside [offset, offset + size) will not be read
    // again: they leave this process's memory (the page cache keeps them).
    void Release(std::uint64_t offset, std::uint64_t size) const;

private:
    const unsigned char* m_bytes = nullptr;
    std::uint64_t m_size = 0;
    std::size_t m_reserved = 0; // the file's pages and the tail
};

} // namespace kav
