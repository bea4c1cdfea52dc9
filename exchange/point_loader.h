#pragma once

#include "exchange/file_worker.h"
#include "exchange/point_file.h"
#include "view/point_store.h"

#include <atomic>
#include <cstdint>
#include <memory>


namespace kav {

// Reads every pair of an opened file into a store of its own, on a thread of
// its own, so that nothing waits on the file: not a pipe that no one writes
// to, nor a device that never ends.
class PointLoader final : public FileWorker {
public:
    // Starts at once. `reallocate` grows the loader's store.
    PointLoader(FileHandle file, PointReallocator reallocate);
    // Cancels a load still running and waits for its thread.
    ~PointLoader() override;


    // Once it has ended: Ok, or why the file failed part way, NoRoom() for
    // more points than a store can hold or the memory can, Cancelled().
    FileResult Result() const { return m_result; }
    PointStore& Points() { return m_points; }

private:
    void Run();
    // A large regular file, on `threads` threads, read from a mapping (or
    // with positioned reads where it cannot be mapped).
    void RunParallel(std::uint64_t size, unsigned threads);
    // Anything else, a block at a time as it comes.
    void RunStreaming();

    FileHandle m_file;
    PointStore m_points;
    FileResult m_result;
};

} // namespace kav
