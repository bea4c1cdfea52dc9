#pragma once

// How every file routine reports how it went: the system's error number and
// the step that gave it. The Polish reason is made from it only where the
// user is told (file_errors.h).

#include <atomic>
#include <cerrno>
#include <cstdint>

namespace kav {

enum class FileStep : std::uint8_t {
    None,
    OpenForReading,
    Read,
    OpenForWriting,
    Write,
    Sync,
    Close,
    Rename,
    CreateFolder,
    Lock,
    Store, // the points did not fit into the store, or into memory
};

struct [[nodiscard]] FileResult {
    int error = 0; // 0: it went well
    FileStep step = FileStep::None;

    static FileResult Failed(FileStep step, int error) { return {error, step}; }
    // The step failed with the error number the system has just set; a
    // call that failed without setting one still failed.
    static FileResult FromErrno(FileStep step) { return {errno != 0 ? errno : EIO, step}; }

    // The job stopped because it was asked to; nothing to tell.
    static FileResult Cancel(FileStep step) { return {ECANCELED, step}; }

    bool Ok() const { return error == 0; }
    bool Cancelled() const { return error == ECANCELED; }
    // The figure was too large for the store or for the memory there is.
    bool NoRoom() const { return step == FileStep::Store; }
    // Whether the file was being read, which decides how a permission
    // problem is put.
    bool Reading() const { return step == FileStep::OpenForReading || step == FileStep::Read; }
};

// What a file job on another thread shares with its owner: a cancel, looked
// at between blocks, and the bytes and points done so far. Any may be null.
struct FileJobControl {
    const std::atomic<bool>* cancelled = nullptr;
    std::atomic<std::int64_t>* bytes = nullptr;
    std::atomic<std::int64_t>* points = nullptr;
    // Readable once cancelled, so that a wait on a pipe ends at the cancel;
    // -1 when there is none.
    int cancelFd = -1;

    bool Cancelled() const { return cancelled != nullptr && cancelled->load(std::memory_order_relaxed); }
};

} // namespace kav
