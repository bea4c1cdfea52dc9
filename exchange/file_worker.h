#pragma once

#include "exchange/file_result.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QThread;

namespace kav {

class CProgress;

// A file job on a thread of its own, which the owner waits for in short
// steps and may cancel at any time: the loader and the saver.
class FileWorker {
public:
    FileWorker(const FileWorker&) = delete;
    FileWorker& operator=(const FileWorker&) = delete;

    // True once the job has ended; waits up to `milliseconds` for that.
    bool Wait(int milliseconds);
    void Cancel() { m_cancelled = true; }

    // The bytes and the points done so far, while it runs.
    std::int64_t DoneBytes() const { return m_doneBytes; }
    std::int64_t DonePoints() const { return m_donePoints; }

    // Waits for the job's end in short steps, the window repainting
    // meanwhile. After each step `progress`, when there is one, shows the
    // counts; its Anuluj, or `stop()` turning true, cancels the job, whose
    // end is still waited for. True when it was cancelled.
    bool WaitShowing(std::unique_ptr<CProgress> progress, const std::function<bool()>& stop = {});

protected:
    FileWorker();
    ~FileWorker();
    // Starts the job at once; the last step of a derived constructor.
    void Start(std::function<void()> job);
    // Cancels a job still running and waits for it. The first step of a
    // derived destructor, since the job uses the derived members.
    void Finish();

    // For the job: its cancel and its counts.
    FileJobControl Control() { return {&m_cancelled, &m_doneBytes, &m_donePoints}; }

    std::atomic<bool> m_cancelled = false;
    std::atomic<std::int64_t> m_doneBytes = 0;
    std::atomic<std::int64_t> m_donePoints = 0;

private:
    std::unique_ptr<QThread> m_thread;
};

} // namespace kav
